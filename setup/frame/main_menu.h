// The main menu, the first window the user sees and the one the program
// returns to between operations, and the About box of its system menu.
//
// MainMenuDialog (template 102) offers "Update ROM" and "Backup/Restore ROM"
// once its start checks have found a supported handheld with an update image
// for its class, and watches the link while it is open. It ends with 1025
// (Update ROM), 1024 (Backup/Restore ROM), 2 (Exit, Esc, the close box, or a
// failed check) or 4 (the link was lost).
#pragma once

#include <cstdint>

#include "setup/device/image_files.h"
#include "setup/frame/page.h"
#include "setup/frame/page_checks.h"
#include "setup/link/handheld_port.h"

namespace nuva {

class MainMenuDialog final : public PageController {
  public:
    static constexpr uint32_t kUpdateButton = 1025;
    static constexpr uint32_t kBackupRestoreButton = 1024;
    static constexpr uint32_t kExitButton = kIdCancel;
    // The system menu's "&About Vantor..." item.
    static constexpr uint32_t kAboutCommand = 16;

    MainMenuDialog(PageView& view, HandheldPort& port, ImageFiles& files);

    // Adds the About item when its text is not empty and posts
    // WM_APP_STARTCHECK, so the checks run once the menu is visible.
    void Init() override;
    void OnTimer(uint32_t id) override;
    void OnMessage(uint32_t message, uint32_t wParam, uint32_t lParam) override;
    void OnCommand(uint32_t control) override;
    void Destroy() override;

  private:
    void StartCheck();
    void EnableButtons(bool enabled);
    void End(int result);

    PageView& view_;
    HandheldPort& port_;
    ImageFiles& files_;
    WatchTimer timer_;
    bool buttonsEnabled_ = false;
};

// AboutDialog (template 100): OK (1) ends it with 1, Esc and the close box
// with 2.
class AboutDialog final : public PageController {
  public:
    explicit AboutDialog(PageView& view) : view_(view) {}
    void Init() override {}
    void OnCommand(uint32_t control) override;

  private:
    PageView& view_;
};

int ShowAbout(DialogHost& owner);

}  // namespace nuva
