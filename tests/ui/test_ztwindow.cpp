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
        QTest::addColumn<bool>("panel"); // else a prompt with default, alternate and other
        QTest::addColumn<QString>("alternate");
        QTest::addColumn<QString>("other");
        QTest::addColumn<QStringList>("actions"); // the sheet stays up until the last
        QTest::addColumn<int>("expected");

        const auto row = [](const char* name, bool panel, const char* alternate, const char* other,
                            const QStringList& actions, int expected) {
            QTest::newRow(name) << panel << QString(alternate) << QString(other) << actions
                                << expected;
        };
        const char* alt = "Don't Remove";
        row("Return", false, alt, "", {"Return"}, 1);
        row("click alternate", false, alt, "", {alt}, 0);
        row("Escape with other", false, alt, "Later", {"Escape"}, 0);
        row("click other", false, alt, "Later", {"Later"}, -1);
        row("no alternate ignores Escape", false, "", "Later", {"Escape", "Later"}, -1);
        row("panel: cancel button", true, "", "", {"Cancel"}, 0);
        row("panel: in a button box", true, "", "", {"Apply"}, 5);
        row("panel: check box, toggle and own action do not end it", true, "", "",
            {"Keep", "Toggle", "Revert", "Rename"}, 7);
        row("panel: Return presses the default", true, "", "", {"Return"}, 7);
        row("panel: ended from elsewhere", true, "", "", {"done42"}, 42);
    }
    void sheetReturnCodes()
    {
        QFETCH(bool, panel);
        QFETCH(QString, alternate);
        QFETCH(QString, other);
        QFETCH(QStringList, actions);
        QFETCH(int, expected);

        ZTWindow window;
        window.show();
        Panel custom;
        // A panel twice: it stays the caller's and is not left with the window's connections.
        for (int run = 1; run <= (panel ? 2 : 1); ++run) {
            int acted = 0;
            whenModalShown([&](QWidget* modal) {
                QVERIFY(window.isAlertShown() || !qobject_cast<QMessageBox*>(modal));
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
        const QString title = "Unable to Open '<b>%@</b>.jpg'";
        const QString message = "<i>100%</i> %@ %d";
        bool titlePlain = false, messagePlain = false;
        int nestedPrompt = 99;
        int boxesDuringNested = 0;
        QWidget* modalAfterNested = nullptr;
        QWidget* firstSheet = nullptr;
        whenModalShown([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(firstSheet = modal);
            titlePlain = box->text() == title && box->textFormat() == Qt::PlainText;
            for (QLabel* label : box->findChildren<QLabel*>())
                messagePlain |= label->text() == message && label->textFormat() == Qt::PlainText;
            // Asked while the sheet is up: -1 at once, nothing shown.
            nestedPrompt = window.runPromptSheetWithTitle("Second", "Asked meanwhile", "Yes", "No");
            window.runMessageSheetWithTitle("Third", "Also meanwhile");
            boxesDuringNested = window.findChildren<QMessageBox*>().size();
            modalAfterNested = QApplication::activeModalWidget();
            QTest::keyClick(box, Qt::Key_Return);
        });
        window.runMessageSheetWithTitle(title, message);
        QVERIFY(titlePlain && messagePlain);
        QCOMPARE(std::pair(nestedPrompt, boxesDuringNested), std::pair(-1, 1));
        QCOMPARE(modalAfterNested, firstSheet);
        QVERIFY(!window.isAlertShown());

        // Once the first sheet is gone, prompts are shown again.
        whenModalShown([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); });
        QCOMPARE(window.runPromptSheetWithTitle("Again", "", "Yes", "No"), 1);
    }
};

QTEST_MAIN(TestZTWindow)
#include "test_ztwindow.moc"
