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

QMessageBox* messageBox(QWidget* modal)
{
    return qobject_cast<QMessageBox*>(modal);
}

QAbstractButton* buttonTitled(QMessageBox* box, const QString& title)
{
    for (QAbstractButton* button : box->buttons()) {
        if (button->text() == title)
            return button;
    }
    return nullptr;
}

} // namespace

class TestZTWindow : public QObject {
    Q_OBJECT
private slots:
    void titleSuffix_data();
    void titleSuffix();
    void titleFollowsEachChange();

    void promptReturnCodes_data();
    void promptReturnCodes();
    void promptWithoutAlternateIgnoresEscape();
    void messageSheetHasOneOkayButton();
    void messageTextIsShownLiterally();
    void alertAlreadyUpAnswersMinusOneAndShowsNothing();

    void customPanelEndsWithTag_data();
    void customPanelEndsWithTag();
    void customPanelCanBeRunAgain();
    void customPanelEscapeAndAccept();

    void zoomKeepsToolbarState_data();
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
    QTest::newRow("empty suffix") << true << "Velluma" << QString("") << "Velluma";
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

    ZTWindow window;
    if (hasTitle)
        window.setTitle(title);
    window.setTitleSuffix(suffix.isEmpty() ? QString() : suffix);
    QCOMPARE(window.windowTitle(), shown);
    QCOMPARE(ZTWindow::composedTitle(hasTitle ? title : QString(), suffix), shown);
}

void TestZTWindow::titleFollowsEachChange()
{
    ZTWindow window;
    window.setTitle("Velluma");
    window.setTitleSuffix("(640 x 480 pixels)");
    QCOMPARE(window.windowTitle(), QString("Velluma (640 x 480 pixels)"));
    window.setTitle("Other");
    QCOMPARE(window.windowTitle(), QString("Other (640 x 480 pixels)"));
    QCOMPARE(window.title(), QString("Other"));
    QCOMPARE(window.titleSuffix(), QString("(640 x 480 pixels)"));
    window.setTitleSuffix(QString());
    QCOMPARE(window.windowTitle(), QString("Other"));
    QVERIFY(window.titleSuffix().isNull());
}

void TestZTWindow::promptReturnCodes_data()
{
    QTest::addColumn<QString>("other");
    QTest::addColumn<QString>("action"); // a key name or the title of the button to click
    QTest::addColumn<int>("expected");

    QTest::newRow("Return") << QString() << "Return" << 1;
    QTest::newRow("Escape") << QString() << "Escape" << 0;
    QTest::newRow("click default") << QString() << "Remove" << 1;
    QTest::newRow("click alternate") << QString() << "Don't Remove" << 0;
    QTest::newRow("Return with other") << "Later"
                                       << "Return" << 1;
    QTest::newRow("Escape with other") << "Later"
                                       << "Escape" << 0;
    QTest::newRow("click other") << "Later"
                                 << "Later" << -1;
}

void TestZTWindow::promptReturnCodes()
{
    QFETCH(QString, other);
    QFETCH(QString, action);
    QFETCH(int, expected);

    ZTWindow window;
    window.setTitle("Velluma");
    window.show();

    bool checked = false;
    whenModalShown([&](QWidget* modal) {
        QMessageBox* box = messageBox(modal);
        QVERIFY(box);
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        QCOMPARE(box->parentWidget(), &window);
        QVERIFY(window.isAlertShown());
        QCOMPARE(box->buttons().size(), other.isEmpty() ? 2 : 3);
        checked = true;
        if (action == "Return")
            QTest::keyClick(box, Qt::Key_Return);
        else if (action == "Escape")
            QTest::keyClick(box, Qt::Key_Escape);
        else
            buttonTitled(box, action)->click();
    });
    const int code = window.runPromptSheetWithTitle("Remove the collection?", "It goes away.",
                                                    "Remove", "Don't Remove", other);
    QVERIFY(checked);
    QCOMPARE(code, expected);
    QVERIFY(!window.isAlertShown());
    QVERIFY(!window.findChild<QMessageBox*>());
}

void TestZTWindow::promptWithoutAlternateIgnoresEscape()
{
    ZTWindow window;
    window.show();
    bool stayed = false;
    whenModalShown([&](QWidget* modal) {
        QMessageBox* box = messageBox(modal);
        QTest::keyClick(box, Qt::Key_Escape);
        stayed = box->isVisible();
        buttonTitled(box, "Other")->click();
    });
    QCOMPARE(window.runPromptSheetWithTitle("Title", "Message", "Default", QString(), "Other"), -1);
    QVERIFY(stayed);
}

void TestZTWindow::messageSheetHasOneOkayButton()
{
    ZTWindow window;
    window.show();
    QStringList titles;
    whenModalShown([&](QWidget* modal) {
        QMessageBox* box = messageBox(modal);
        for (QAbstractButton* button : box->buttons())
            titles << button->text();
        QTest::keyClick(box, Qt::Key_Return);
    });
    window.runMessageSheetWithTitle("Unable to Open 'x.txt'",
                                    "This is probably because it is not an image file.");
    QCOMPARE(titles, QStringList{"Okay"});
    QVERIFY(!window.isAlertShown());
}

void TestZTWindow::messageTextIsShownLiterally()
{
    ZTWindow window;
    window.show();
    const QString title = "Unable to Open '<b>%@</b>.jpg'";
    const QString message = "<i>100%</i> %@ %d";
    QString shownTitle, shownMessage;
    bool plain = false;
    whenModalShown([&](QWidget* modal) {
        QMessageBox* box = messageBox(modal);
        shownTitle = box->text();
        plain = box->textFormat() == Qt::PlainText;
        for (QLabel* label : box->findChildren<QLabel*>()) {
            if (label->text() == message && label->textFormat() == Qt::PlainText)
                shownMessage = label->text();
        }
        QTest::keyClick(box, Qt::Key_Escape);
    });
    window.runMessageSheetWithTitle(title, message);
    QCOMPARE(shownTitle, title);
    QVERIFY(plain);
    QCOMPARE(shownMessage, message);
}

void TestZTWindow::alertAlreadyUpAnswersMinusOneAndShowsNothing()
{
    ZTWindow window;
    window.show();
    int nestedPrompt = 99;
    int boxesDuringNested = 0;
    QWidget* modalAfterNested = nullptr;
    QWidget* firstSheet = nullptr;
    whenModalShown([&](QWidget* modal) {
        firstSheet = modal;
        nestedPrompt = window.runPromptSheetWithTitle("Second", "Asked meanwhile", "Yes", "No");
        window.runMessageSheetWithTitle("Third", "Also meanwhile");
        boxesDuringNested = window.findChildren<QMessageBox*>().size();
        modalAfterNested = QApplication::activeModalWidget();
        QTest::keyClick(modal, Qt::Key_Return);
    });
    window.runMessageSheetWithTitle("First", "Shown first");
    QCOMPARE(nestedPrompt, -1);
    QCOMPARE(boxesDuringNested, 1);
    QCOMPARE(modalAfterNested, firstSheet);
    QVERIFY(!window.isAlertShown());

    // Once the first sheet is gone, prompts are shown again.
    whenModalShown([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); });
    QCOMPARE(window.runPromptSheetWithTitle("Again", "", "Yes", "No"), 1);
}

namespace {

// A panel like the ones the frame library and destinations build: a text field's
// confirm and cancel buttons plus controls that must not end it.
struct Panel {
    QDialog dialog;
    QPushButton* rename;
    QPushButton* cancel;
    QCheckBox* checkBox;
    QPushButton* revert;
    QPushButton* toggle;
    QPushButton* boxed;
    QPushButton* inButtonBox;
    int reverts = 0;

    Panel()
    {
        auto* layout = new QVBoxLayout(&dialog);
        checkBox = new QCheckBox("Keep", &dialog);
        layout->addWidget(checkBox);
        revert = new QPushButton("Revert", &dialog);
        QObject::connect(revert, &QPushButton::clicked, [this] { ++reverts; });
        layout->addWidget(revert);
        toggle = new QPushButton("Toggle", &dialog);
        toggle->setCheckable(true);
        toggle->setProperty("tag", 8);
        layout->addWidget(toggle);
        auto* group = new QGroupBox("Group", &dialog);
        auto* groupLayout = new QVBoxLayout(group);
        boxed = new QPushButton("Boxed", group);
        boxed->setProperty("tag", 3);
        groupLayout->addWidget(boxed);
        layout->addWidget(group);
        auto* buttonBox = new QDialogButtonBox(&dialog);
        inButtonBox = buttonBox->addButton("Apply", QDialogButtonBox::ApplyRole);
        inButtonBox->setProperty("tag", 5);
        layout->addWidget(buttonBox);
        cancel = new QPushButton("Cancel", &dialog);
        cancel->setProperty("tag", 0);
        layout->addWidget(cancel);
        rename = new QPushButton("Rename", &dialog);
        rename->setProperty("tag", 7);
        rename->setDefault(true);
        layout->addWidget(rename);
    }
};

} // namespace

void TestZTWindow::customPanelEndsWithTag_data()
{
    QTest::addColumn<QString>("click");
    QTest::addColumn<bool>("ends");
    QTest::addColumn<int>("expected");

    QTest::newRow("push button") << "Rename" << true << 7;
    QTest::newRow("cancel button") << "Cancel" << true << 0;
    QTest::newRow("inside a group box") << "Boxed" << true << 3;
    QTest::newRow("inside a button box") << "Apply" << true << 5;
    QTest::newRow("check box") << "Keep" << false << 7;
    QTest::newRow("own action") << "Revert" << false << 7;
    QTest::newRow("toggle button") << "Toggle" << false << 7;
}

void TestZTWindow::customPanelEndsWithTag()
{
    QFETCH(QString, click);
    QFETCH(bool, ends);
    QFETCH(int, expected);

    ZTWindow window;
    window.show();
    Panel panel;
    bool stillShown = false;
    Qt::WindowModality modality = Qt::NonModal;
    whenModalShown([&](QWidget* modal) {
        modality = modal->windowModality();
        for (QAbstractButton* button : modal->findChildren<QAbstractButton*>()) {
            if (button->text() == click)
                button->click();
        }
        stillShown = panel.dialog.isVisible();
        if (stillShown)
            panel.rename->click();
    });
    const int code = window.runPromptSheet(&panel.dialog);
    QCOMPARE(code, expected);
    QCOMPARE(stillShown, !ends);
    QCOMPARE(modality, Qt::WindowModal);
    QVERIFY(!panel.dialog.isVisible());
    if (click == "Revert")
        QCOMPARE(panel.reverts, 1);
    if (click == "Keep")
        QVERIFY(panel.checkBox->isChecked());
}

void TestZTWindow::customPanelCanBeRunAgain()
{
    ZTWindow window;
    window.show();
    Panel panel;
    QVERIFY(!panel.dialog.parentWidget());
    for (int run = 0; run < 2; ++run) {
        QWidget* parentDuringRun = nullptr;
        whenModalShown([&](QWidget* modal) {
            parentDuringRun = modal->parentWidget();
            panel.revert->click();
            panel.boxed->click();
        });
        QCOMPARE(window.runPromptSheet(&panel.dialog), 3);
        QCOMPARE(parentDuringRun, &window);
        // The panel stays the caller's and is not left with the window's connections.
        QVERIFY(!panel.dialog.parentWidget());
    }
    QCOMPARE(panel.reverts, 2);
}

void TestZTWindow::customPanelEscapeAndAccept()
{
    ZTWindow window;
    window.show();
    Panel panel;
    whenModalShown([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    QCOMPARE(window.runPromptSheet(&panel.dialog), 0);

    // Return presses the default button, which carries its own tag.
    whenModalShown([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); });
    QCOMPARE(window.runPromptSheet(&panel.dialog), 7);

    // A panel ended from elsewhere answers its own result.
    whenModalShown([](QWidget* modal) { static_cast<QDialog*>(modal)->done(42); });
    QCOMPARE(window.runPromptSheet(&panel.dialog), 42);
}

void TestZTWindow::zoomKeepsToolbarState_data()
{
    QTest::addColumn<bool>("toolbarShown");
    QTest::newRow("toolbar shown") << true;
    QTest::newRow("toolbar hidden") << false;
}

void TestZTWindow::zoomKeepsToolbarState()
{
    QFETCH(bool, toolbarShown);

    ZTWindow window;
    QToolBar* toolBar = window.addToolBar("Tools");
    toolBar->addAction("Save");
    window.setCentralWidget(new QWidget);
    window.resize(400, 300);
    toolBar->setVisible(toolbarShown);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.isMaximized());

    window.zoom();
    QVERIFY(window.windowState() & Qt::WindowMaximized);
    QCOMPARE(toolBar->isVisible(), toolbarShown);

    window.zoom();
    QVERIFY(!(window.windowState() & Qt::WindowMaximized));
    QCOMPARE(toolBar->isVisible(), toolbarShown);
}

QTEST_MAIN(TestZTWindow)
#include "test_ztwindow.moc"
