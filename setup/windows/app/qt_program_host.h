// Where the program's dialogs open in the Qt program: Setup's windows on the
// desktop, and pauses that keep the windows' events flowing.
//
// Make it after the QApplication and let it go before: it owns the windows.
#pragma once

#include <cstdint>
#include <string>

#include "setup/program/program.h"
#include "setup/windows/qt_desktop.h"

namespace nuva {

class QtProgramHost final : public ProgramHost {
  public:
    int OpenDialog(uint32_t templateId, const PageMaker& make) override;
    void MessageBox(const std::string& text, const std::string& caption) override;
    // Runs the event loop for `milliseconds` of real time.
    void Wait(uint32_t milliseconds) override;

    QtDesktop& Desktop() { return desktop_; }

  private:
    QtDesktop desktop_;
};

// What the program needs of Qt before its first window: the application is
// not ended when the last window closes (the program closes one page before
// it shows the next), and its icon.
void PrepareApplication();

}  // namespace nuva
