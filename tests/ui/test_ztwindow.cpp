#include "ui/ZTWindow.h"

#include "ui/ModalAnswer.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

// Presses a key on the modal or clicks the button of that title; "done42" ends it from
// elsewhere with that result.
void act(QWidget* modal, const QString& action)
{
    if (action == "Return" || action == "Escape") {
        QTest::keyClick(modal, action == "Return" ? Qt::Key_Return : Qt::Key_Escape);
    } else if (action == "done42") {
        static_cast<QDialog*>(modal)->done(42);
    } else {
        for (QAbstractButton* button : modal->findChildren<QAbstractButton*>()) {
            if (button->text() == action)
                button->click();
        }
    }
}

// A panel like the ones the frame library and destinations build: tagged push buttons
// that end it, plus controls that must not.
struct Panel {
    QDialog dialog;
    int reverts = 0;

    QPushButton* add(QWidget* parent, QLayout* layout, const char* title, QVariant tag)
    {
        auto* button = new QPushButton(title, parent);
        button->setProperty("tag", tag);
        layout->addWidget(button);
        return button;
    }

    Panel()
    {
        auto* layout = new QVBoxLayout(&dialog);
        layout->addWidget(new QCheckBox("Keep", &dialog));
        QObject::connect(add(&dialog, layout, "Revert", {}), &QPushButton::clicked,
                         [this] { ++reverts; });
        add(&dialog, layout, "Toggle", 8)->setCheckable(true);
        auto* group = new QGroupBox("Group", &dialog);
        add(group, new QVBoxLayout(group), "Boxed", 3);
        layout->addWidget(group);
        auto* buttonBox = new QDialogButtonBox(&dialog);
        buttonBox->addButton("Apply", QDialogButtonBox::ApplyRole)->setProperty("tag", 5);
        layout->addWidget(buttonBox);
        add(&dialog, layout, "Cancel", 0);
        add(&dialog, layout, "Rename", 7)->setDefault(true);
    }
};

} // namespace

class TestZTWindow : public QObject {
    Q_OBJECT
private slots:
    void titleSuffix_data();
    void titleSuffix();
    void promptReturnCodes_data();
    void promptReturnCodes();
    void messageSheetAndAlertAlreadyUp();
    void customPanelEndsWithTag_data();
    void customPanelEndsWithTag();
    void zoomKeepsToolbarState();
};

void TestZTWindow::titleSuffix_data()
{
    QTest::addColumn<bool>("hasTitle");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("shown");

    const QString pixels = QStringLiteral("(%1 x %2 pixels)").arg(640).arg(480);
    QTest::newRow("title and suffix")
        << true << "Velluma" << pixels << "Velluma (640 x 480 pixels)";
    QTest::newRow("no suffix") << true << "Velluma" << QString() << "Velluma";
    QTest::newRow("no title") << false << QString() << pixels << "null (640 x 480 pixels)";
    QTest::newRow("nothing") << false << QString() << QString() << "null";
    QTest::newRow("empty title") << true << "" << pixels << " (640 x 480 pixels)";
}

void TestZTWindow::titleSuffix()
{
    QFETCH(bool, hasTitle);
    QFETCH(QString, title);
    QFETCH(QString, suffix);
    QFETCH(QString, shown);

    // Suffix first, so that a later title change has to keep it.
    ZTWindow window;
    window.setTitleSuffix(suffix);
    if (hasTitle)
        window.setTitle(title);
    QCOMPARE(window.windowTitle(), shown);
    QCOMPARE(ZTWindow::composedTitle(hasTitle ? title : QString(), suffix), shown);
}

void TestZTWindow::promptReturnCodes_data()
{
    QTest::addColumn<QString>("alternate");
    QTest::addColumn<QString>("other");
    QTest::addColumn<QStringList>("actions"); // the sheet stays up until the last
    QTest::addColumn<int>("expected");

    const QString alt = "Don't Remove";
    QTest::newRow("Return") << alt << QString() << QStringList{"Return"} << 1;
    QTest::newRow("Escape") << alt << QString() << QStringList{"Escape"} << 0;
    QTest::newRow("click default") << alt << QString() << QStringList{"Remove"} << 1;
    QTest::newRow("click alternate") << alt << QString() << QStringList{alt} << 0;
    QTest::newRow("Escape with other") << alt << "Later" << QStringList{"Escape"} << 0;
    QTest::newRow("click other") << alt << "Later" << QStringList{"Later"} << -1;
    QTest::newRow("no alternate ignores Escape")
        << QString() << "Later" << QStringList{"Escape", "Later"} << -1;
}

void TestZTWindow::promptReturnCodes()
{
    QFETCH(QString, alternate);
    QFETCH(QString, other);
    QFETCH(QStringList, actions);
    QFETCH(int, expected);

    ZTWindow window;
    window.show();
    bool checked = false;
    whenModalShown([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        QCOMPARE(box->parentWidget(), &window);
        QVERIFY(window.isAlertShown());
        QCOMPARE(box->buttons().size(), 1 + !alternate.isEmpty() + !other.isEmpty());
        for (const QString& action : actions) {
            QVERIFY(box->isVisible());
            act(box, action);
        }
        checked = true;
    });
    const int code =
        window.runPromptSheetWithTitle("Remove?", "It goes away.", "Remove", alternate, other);
    QVERIFY(checked);
    QCOMPARE(code, expected);
    QVERIFY(!window.isAlertShown());
    QVERIFY(!window.findChild<QMessageBox*>());
}

void TestZTWindow::messageSheetAndAlertAlreadyUp()
{
    ZTWindow window;
    window.show();
    const QString title = "Unable to Open '<b>%@</b>.jpg'";
    const QString message = "<i>100%</i> %@ %d";
    QStringList buttons;
    bool titlePlain = false, messagePlain = false;
    int nestedPrompt = 99;
    int boxesDuringNested = 0;
    QWidget* modalAfterNested = nullptr;
    QWidget* firstSheet = nullptr;
    whenModalShown([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        firstSheet = box;
        for (QAbstractButton* button : box->buttons())
            buttons << button->text();
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
    QCOMPARE(buttons, QStringList{"Okay"});
    QVERIFY(titlePlain);
    QVERIFY(messagePlain);
    QCOMPARE(nestedPrompt, -1);
    QCOMPARE(boxesDuringNested, 1);
    QCOMPARE(modalAfterNested, firstSheet);
    QVERIFY(!window.isAlertShown());

    // Once the first sheet is gone, prompts are shown again.
    whenModalShown([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); });
    QCOMPARE(window.runPromptSheetWithTitle("Again", "", "Yes", "No"), 1);
}

void TestZTWindow::customPanelEndsWithTag_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("ends"); // else Rename ends it afterwards
    QTest::addColumn<int>("expected");

    QTest::newRow("push button") << "Rename" << true << 7;
    QTest::newRow("cancel button") << "Cancel" << true << 0;
    QTest::newRow("inside a group box") << "Boxed" << true << 3;
    QTest::newRow("inside a button box") << "Apply" << true << 5;
    QTest::newRow("check box") << "Keep" << false << 7;
    QTest::newRow("own action") << "Revert" << false << 7;
    QTest::newRow("toggle button") << "Toggle" << false << 7;
    QTest::newRow("Escape") << "Escape" << true << 0;
    QTest::newRow("Return presses the default") << "Return" << true << 7;
    QTest::newRow("ended from elsewhere") << "done42" << true << 42;
}

void TestZTWindow::customPanelEndsWithTag()
{
    QFETCH(QString, action);
    QFETCH(bool, ends);
    QFETCH(int, expected);

    ZTWindow window;
    window.show();
    Panel panel;
    // Twice: the panel stays the caller's and is not left with the window's connections.
    for (int run = 1; run <= 2; ++run) {
        bool stillShown = false;
        QWidget* parentDuringRun = nullptr;
        Qt::WindowModality modality = Qt::NonModal;
        whenModalShown([&](QWidget* modal) {
            modality = modal->windowModality();
            parentDuringRun = modal->parentWidget();
            act(modal, action);
            stillShown = panel.dialog.isVisible();
            if (stillShown)
                act(modal, "Rename");
        });
        QCOMPARE(window.runPromptSheet(&panel.dialog), expected);
        QCOMPARE(stillShown, !ends);
        QCOMPARE(modality, Qt::WindowModal);
        QCOMPARE(parentDuringRun, &window);
        QVERIFY(!panel.dialog.isVisible());
        QVERIFY(!panel.dialog.parentWidget());
        QCOMPARE(panel.reverts, action == "Revert" ? run : 0);
    }
}

void TestZTWindow::zoomKeepsToolbarState()
{
    for (bool toolbarShown : {true, false}) {
        ZTWindow window;
        QToolBar* toolBar = window.addToolBar("Tools");
        toolBar->addAction("Save");
        window.setCentralWidget(new QWidget);
        window.resize(400, 300);
        toolBar->setVisible(toolbarShown);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (bool maximized : {true, false}) {
            window.zoom();
            QCOMPARE(bool(window.windowState() & Qt::WindowMaximized), maximized);
            QCOMPARE(toolBar->isVisible(), toolbarShown);
        }
    }
}

QTEST_MAIN(TestZTWindow)
#include "test_ztwindow.moc"
