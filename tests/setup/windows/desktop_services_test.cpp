// The desktop's services as a page uses them: texts in Qt's forms, the Save
// As and Open dialogs answered by the test, the browser, and the trace.
#include "setup/windows/desktop_services.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "setup/resources/dialog_ids.h"
#include "setup/windows/qt_desktop.h"
#include "setup/windows/qt_texts.h"
#include "tests/setup/windows/window_test_support.h"

namespace nuva {
namespace {

using namespace test;

TEST(QtTexts, MnemonicMarksGoAndADoubledOneStays) {
    EXPECT_EQ(StripMnemonics("< &Back"), "< Back");
    EXPECT_EQ(StripMnemonics("Con&tinue"), "Continue");
    EXPECT_EQ(StripMnemonics("Save && Exit"), "Save & Exit");
    EXPECT_EQ(StripMnemonics("&&&x&"), "&x");
    EXPECT_EQ(StripMnemonics("NOTICE :"), "NOTICE :");
}

TEST(QtTexts, FileDialogFiltersBecomeQtNameFilters) {
    EXPECT_EQ(QtNameFilters("ROM Image Saved File(*.RIS)|*.RIS||"),
              QStringList{"ROM Image Saved File(*.RIS) (*.RIS)"});
    EXPECT_EQ(QtNameFilters("Images|*.RIS;*.NB0|All files|*.*||"),
              (QStringList{"Images (*.RIS *.NB0)", "All files (*.*)"}));
    EXPECT_TRUE(QtNameFilters("").isEmpty());
    EXPECT_TRUE(QtNameFilters("No patterns||").isEmpty());
}

class FileQuestions : public WindowTest {
  protected:
    // Asks `question` from a page; `answer` acts on the open file dialog.
    std::optional<std::string> Ask(const FileQuestion& question, std::function<void(QFileDialog&)> answer) {
        QtDesktop desktop;
        PageLog log;
        std::optional<std::string> chosen;
        PageScript script;
        script.up = [&](TemplateDialog& window) {
            When([] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()) != nullptr; },
                 [&] {
                     auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                     EXPECT_EQ(dialog->objectName(), kFileQuestionName);
                     EXPECT_EQ(dialog->parentWidget(), &window);
                     EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
                     EXPECT_EQ(QDir(dialog->directory()).canonicalPath(),
                               QDir(folder_.path()).canonicalPath());
                     answer(*dialog);
                 });
            chosen = window.AskFileName(question);
            window.EndDialog(1);
        };
        desktop.OpenDialog(dialog_id::kBackupConfirm, LoggedPage(log, script));
        return chosen;
    }

    static void TypeAndAccept(QFileDialog& dialog, const QString& name) {
        auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(edit, nullptr);
        edit->setText(name);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    std::string InFolder(const char* name) const { return QDir(folder_.path()).filePath(name).toStdString(); }

    QTemporaryDir folder_;
};

TEST_F(FileQuestions, SaveAsTakesTheTypedNameWithTheDefaultSuffix) {
    FileQuestion question;
    question.title = "Save Current ROM As:";
    question.filter = "ROM Image Saved File(*.RIS)|*.RIS||";
    question.defaultSuffix = "RIS";
    question.proposedName = "NuvaQ7";
    question.initialFolder = folder_.path().toStdString();
    std::optional<std::string> chosen = Ask(question, [](QFileDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Save Current ROM As:");
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_EQ(dialog.nameFilters(), QStringList{"ROM Image Saved File(*.RIS) (*.RIS)"});
        EXPECT_EQ(dialog.findChild<QLineEdit*>("fileNameEdit")->text(), "NuvaQ7");
        TypeAndAccept(dialog, "backup");
    });
    EXPECT_EQ(chosen, InFolder("backup.RIS"));

    // Replacing a file is asked only when the page wants it.
    question.overwritePrompt = false;
    chosen = Ask(question, [](QFileDialog& dialog) {
        EXPECT_TRUE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
        TypeAndAccept(dialog, "other");
    });
    EXPECT_EQ(chosen, InFolder("other.RIS"));
}

TEST_F(FileQuestions, OpenTakesAnExistingFileAndCancelGivesNothing) {
    QFile existing(folder_.filePath("saved.RIS"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    FileQuestion question;
    question.save = false;
    question.filter = "ROM Image Saved File(*.RIS)|*.RIS||";
    question.initialFolder = folder_.path().toStdString();
    std::optional<std::string> chosen = Ask(question, [](QFileDialog& dialog) {
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
        TypeAndAccept(dialog, "saved.RIS");
    });
    EXPECT_EQ(chosen, InFolder("saved.RIS"));
    EXPECT_FALSE(Ask(question, [](QFileDialog& dialog) { dialog.reject(); }).has_value());
}

// Stands for the desktop's browser.
class Browser final : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> opened;
  public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

TEST(Browser, WebAddressesOpenAsTheyAreAndAnythingElseAsALocalFile) {
    Browser browser;
    for (const char* scheme : {"http", "https", "file"}) {
        QDesktopServices::setUrlHandler(scheme, &browser, "open");
    }
    EXPECT_EQ(OpenInBrowser("https://support.brel.example/nuva"), 0u);
    EXPECT_EQ(OpenInBrowser("HTTP://support.brel.example/fr"), 0u);
    EXPECT_EQ(OpenInBrowser("/opt/nuva/help/index.htm"), 0u);
    EXPECT_EQ(OpenInBrowser(""), kBrowserFailed);
    for (const char* scheme : {"http", "https", "file"}) {
        QDesktopServices::unsetUrlHandler(scheme);
    }
    EXPECT_EQ(browser.opened,
              (QList<QUrl>{QUrl("https://support.brel.example/nuva"), QUrl("http://support.brel.example/fr"),
                           QUrl::fromLocalFile("/opt/nuva/help/index.htm")}));
}

QStringList traced;
void KeepTrace(QtMsgType, const QMessageLogContext& context, const QString& text) {
    if (QLatin1String(context.category) == QLatin1String("nuva.setup.trace")) {
        traced << text;
    }
}

TEST(Trace, IsOffUntilTheLoggingRulesTurnItOn) {
    EXPECT_FALSE(SetupTrace().isDebugEnabled());
    QtMessageHandler previous = qInstallMessageHandler(KeepTrace);
    WriteTrace("0x00000401 ,1025\r\n");
    EXPECT_TRUE(traced.isEmpty());
    QLoggingCategory::setFilterRules("nuva.setup.trace.debug=true");
    WriteTrace("0x00000428 ,1064\r\n");
    QLoggingCategory::setFilterRules("");
    WriteTrace("0x00000000 ,0\r\n");
    qInstallMessageHandler(previous);
    EXPECT_EQ(traced, QStringList{"0x00000428 ,1064"});
}

}  // namespace
}  // namespace nuva

#include "desktop_services_test.moc"
