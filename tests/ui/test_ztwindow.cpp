#include "ui/ZTWindow.h"

#include "ui/ModalAnswer.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

namespace {

// Presses a key on the modal or clicks the button of that title; "done42" ends it from
// elsewhere with that result.
void act(QWidget* modal, const QString& action)
{
    if (action == "Return" || action == "Escape")
        QTest::keyClick(modal, action == "Return" ? Qt::Key_Return : Qt::Key_Escape);
    else if (action == "done42")
        static_cast<QDialog*>(modal)->done(42);
    for (QAbstractButton* button : modal->findChildren<QAbstractButton*>())
        if (button->text() == action)
            button->click();
}

// A panel like the ones the frame library and destinations build: tagged push buttons
// that end it, plus controls that must not.
struct Panel {
    QDialog dialog;
    int reverts = 0;

    QPushButton* add(const char* title, QVariant tag)
    {
        auto* button = new QPushButton(title, &dialog);
        button->setProperty("tag", tag);
        dialog.layout()->addWidget(button);
        return button;
    }

    Panel()
    {
        new QVBoxLayout(&dialog);
        dialog.layout()->addWidget(new QCheckBox("Keep", &dialog));
        QObject::connect(add("Revert", {}), &QPushButton::clicked, [this] { ++reverts; });
        add("Toggle", 8)->setCheckable(true);
        auto* buttonBox = new QDialogButtonBox(&dialog);
        buttonBox->addButton("Apply", QDialogButtonBox::ApplyRole)->setProperty("tag", 5);
        dialog.layout()->addWidget(buttonBox);
        add("Cancel", 0);
        add("Rename", 7)->setDefault(true);
    }
};

} // namespace

class TestZTWindow : public QObject {
    Q_OBJECT
private slots:
    void sheetReturnCodes_data()
    {
        // A prompt with default, alternate and other buttons; with neither of the last two, the
        // panel.
        QTest::addColumn<QString>("alternate");
        QTest::addColumn<QString>("other");
        QTest::addColumn<QStringList>("actions"); // the sheet stays up until the last
        QTest::addColumn<int>("expected");
        const auto row = [](const char* name, const char* alternate, const char* other,
                            const QStringList& actions, int expected) {
            QTest::newRow(name) << QString(alternate) << QString(other) << actions << expected;
        };
        const char* alt = "Don't Remove";
        row("Return", alt, "", {"Return"}, 1);
        row("click alternate", alt, "", {alt}, 0);
        row("Escape with other", alt, "Later", {"Escape"}, 0);
        row("click other", alt, "Later", {"Later"}, -1);
        row("no alternate ignores Escape", "", "Later", {"Escape", "Later"}, -1);
        row("panel: cancel button", "", "", {"Cancel"}, 0);
        row("panel: in a button box", "", "", {"Apply"}, 5);
        row("panel: check box, toggle and own action do not end it", "", "",
            {"Keep", "Toggle", "Revert", "Rename"}, 7);
        row("panel: Return presses the default", "", "", {"Return"}, 7);
        row("panel: ended from elsewhere", "", "", {"done42"}, 42);
    }
    void sheetReturnCodes()
    {
        QFETCH(QString, alternate);
        QFETCH(QString, other);
        QFETCH(QStringList, actions);
        QFETCH(int, expected);
        const bool panel = alternate.isEmpty() && other.isEmpty();

        ZTWindow window;
        window.show();
        Panel custom;
        // A panel twice: it stays the caller's and is not left with the window's connections.
        for (int run = 1; run <= (panel ? 2 : 1); ++run) {
            int acted = 0;
            whenModalShown([&](QWidget* modal) {
                for (const QString& action : actions) {
                    QVERIFY(modal->isVisible());
                    act(modal, action);
                    ++acted;
                }
            });
            const int code = panel ? window.runPromptSheet(&custom.dialog)
                                   : window.runPromptSheetWithTitle("Remove?", "It goes away.",
                                                                    "Remove", alternate, other);
            QCOMPARE(acted, actions.size());
            QCOMPARE(code, expected);
            QVERIFY(!window.isAlertShown() && !window.findChild<QMessageBox*>());
            QVERIFY(!custom.dialog.isVisible() && !custom.dialog.parentWidget());
            QCOMPARE(custom.reverts, actions.contains("Revert") ? run : 0);
        }
    }
    void messageSheetAndAlertAlreadyUp()
    {
        ZTWindow window;
        window.show();
        const QString title = "Unable to Open '<b>%@</b>.jpg'", message = "<i>100%</i> %@ %d";
        QStringList seen;
        whenModalShown([&](QWidget* modal) {
            for (QLabel* label : modal->findChildren<QLabel*>())
                if (label->text() == title || label->text() == message)
                    seen << (label->textFormat() == Qt::PlainText ? "plain" : "rich");
            // Asked while the sheet is up: -1 at once, nothing shown.
            seen << QString::number(window.runPromptSheetWithTitle("Second", "", "Yes", "No"));
            window.runMessageSheetWithTitle("Third", "Also meanwhile");
            seen << QString::number(window.findChildren<QMessageBox*>().size())
                 << QString::number(QApplication::activeModalWidget() == modal);
            QTest::keyClick(modal, Qt::Key_Return);
        });
        window.runMessageSheetWithTitle(title, message);
        QCOMPARE(seen, QStringList({"plain", "plain", "-1", "1", "1"}));
        QVERIFY(!window.isAlertShown());

        // Once the first sheet is gone, prompts are shown again.
        whenModalShown([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); });
        QCOMPARE(window.runPromptSheetWithTitle("Again", "", "Yes", "No"), 1);
    }
};

QTEST_MAIN(TestZTWindow)
#include "test_ztwindow.moc"
