// Every page of the wizards in its window with its real controller, against
// a scripted handheld and scripted image files: its forward button is
// enabled once its checks pass, and a pulled cable is noticed by the page's
// own watch: the connection-lost dialog over it, the forward button
// disabled, the page ended with 4. Esc cancels each of them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <functional>
#include <optional>
#include <string>

#include "setup/frame/wizards.h"
#include "setup/program/wizard_pages.h"
#include "setup/resources/dialog_ids.h"
#include "setup/windows/qt_desktop.h"
#include "setup/windows/template_dialog.h"
#include "tests/setup/device/scripted_image_files.h"
#include "tests/setup/support/fake_handheld_port.h"
#include "tests/setup/windows/window_test_support.h"

namespace nuva {
namespace {

using namespace test;
namespace id = dialog_id;

struct PageCase {
    const char* name;
    uint32_t templateId;
    uint32_t forward;  // the button the checks enable (or that is enabled from the start)
    // Shows the page through the program's pages; its result.
    std::function<int(ControllerWizardPages&)> show;
};

class PagesWindows : public WindowTest {
  protected:
    int Show(const PageCase& page) {
        ControllerWizardPages pages(desktop_, port_, images_, updateWorker_, backupWorker_, lastRun_);
        return page.show(pages);
    }
    TemplateDialog* Window(uint32_t templateId) { return desktop_.Window(templateId); }
    static bool IsOpen(const char* windowName) {
        QWidget* modal = QApplication::activeModalWidget();
        return modal != nullptr && modal->objectName() == windowName && modal->isVisible();
    }

    QtDesktop desktop_;
    FakeHandheldPort port_;
    ScriptedImageFiles images_{port_};
    WorkerSlot updateWorker_;
    WorkerSlot backupWorker_;
    std::optional<RunRecord> lastRun_;
    UpdateInfoPageFields fields_;
    std::string path_;
    DeviceInfo info_;
};

std::vector<PageCase> Cases(UpdateInfoPageFields& fields, std::string& path, DeviceInfo& info,
                            ScriptedImageFiles& images) {
    return {
        {"main menu", id::kMainMenu, 1025,
         [](ControllerWizardPages&) { return -1; }},  // shown through ShowMainMenu below
        {"backup notice", id::kBackupNotice, 1026,
         [](ControllerWizardPages& p) { return p.ShowBackupNoticePage(); }},
        {"update information", id::kUpdateInfo, 1003,
         [&](ControllerWizardPages& p) { return p.ShowUpdateInfoPage(fields); }},
        {"backup required", id::kBackupRequired, 1037,
         [&](ControllerWizardPages& p) { return p.ShowBackupRequired(info, path); }},
        {"backup/restore choice", id::kBackupRestoreChoice, 1037,
         [&](ControllerWizardPages& p) { return p.ShowBackupRestoreChoice(path); }},
        {"backup confirmation", id::kBackupConfirm, 1037,
         [&](ControllerWizardPages& p) { return p.ShowBackupConfirm(path); }},
        // Last: the files now hold an older backup of this very handheld.
        {"restore information", id::kRestoreInfo, 1066,
         [&](ControllerWizardPages& p) {
             images.SetBackupOfThisHandheld("12160200", kOsCode2003);
             return p.ShowRestoreInfoPage("/backups/A00H-12160200EN.RIS", info);
         }},
    };
}

TEST_F(PagesWindows, EveryPageNoticesAPulledCableWithItsOwnWatch) {
    for (const PageCase& page : Cases(fields_, path_, info_, images_)) {
        SCOPED_TRACE(page.name);
        port_.connected = 1;
        bool sawLost = false;
        bool forwardWasEnabled = false;
        When(
            [this, &page] {
                return Window(page.templateId) != nullptr && Window(page.templateId)->isVisible() &&
                       Window(page.templateId)->Control(page.forward)->isEnabled();
            },
            [this, &page, &sawLost, &forwardWasEnabled] {
                forwardWasEnabled = true;
                SavePicture(*Window(page.templateId), QStringLiteral("page-%1.png").arg(page.templateId));
                port_.connected = 0;
                When([] { return IsOpen("ConnectionLostWindow"); },
                     [this, &page, &sawLost] {
                         sawLost = true;
                         // The page went past its forward button before it
                         // told the user.
                         EXPECT_FALSE(Window(page.templateId)->Control(page.forward)->isEnabled());
                         auto* lost = QApplication::activeModalWidget();
                         QTest::mouseClick(lost->findChild<QWidget*>(QStringLiteral("control-1")),
                                           Qt::LeftButton);
                     });
            });
        int result = page.templateId == id::kMainMenu ? ShowMainMenu(desktop_, port_, images_) : Show(page);
        EXPECT_TRUE(forwardWasEnabled);
        EXPECT_TRUE(sawLost);
        EXPECT_EQ(result, 4);
    }
}

TEST_F(PagesWindows, EscCancelsEveryPageOfTheWizards) {
    std::vector<PageCase> cases = Cases(fields_, path_, info_, images_);
    for (const PageCase& page : cases) {
        SCOPED_TRACE(page.name);
        When(
            [this, &page] {
                return Window(page.templateId) != nullptr && Window(page.templateId)->isVisible() &&
                       Window(page.templateId)->Control(page.forward)->isEnabled();
            },
            [this, &page] { QTest::keyClick(Window(page.templateId), Qt::Key_Escape); });
        int result = page.templateId == id::kMainMenu ? ShowMainMenu(desktop_, port_, images_) : Show(page);
        // Esc stands for Cancel on every page of the wizards.
        EXPECT_EQ(result, 2);
    }
}

}  // namespace
}  // namespace nuva
