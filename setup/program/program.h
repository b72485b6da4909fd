// Setup itself, without a widget: the start-up, the main loop and the
// clean-up of the desktop program. A front end (the Qt windows, the terminal
// pages of nuva-flash) gives it a ProgramHost, where its dialogs open, and
// the program decides everything else: which page shows when, what happens
// with each page's result.
//
// Start-up: the connection monitor's threads, the installation folder, the
// command line, the language module. Main loop: M1 waits about a second for
// the handheld, M2 makes sure an update image is installed, M3 shows the
// main menu and runs the wizard it asks for; a lost connection goes back to
// M1. Clean-up: the language module, the initialisation thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "setup/device/image_files.h"
#include "setup/frame/page.h"
#include "setup/link/handheld_port.h"
#include "setup/runs/worker_slot.h"

namespace nuva {

// Where the program's dialogs open, and how it waits while none is open
// (the front end keeps serving its events meanwhile).
class ProgramHost : public DialogHost {
  public:
    // Waits `milliseconds` of real time. The program waits only for the
    // cable to greet a handheld, which happens in real time whatever the
    // clock's scale: a scaled pause would send the user away from a
    // handheld that is connected but has not been greeted yet.
    virtual void Wait(uint32_t milliseconds) = 0;
};

// The connection monitor as the program starts and stops it: its threads
// in the program, a test's stand-in elsewhere.
class ProgramLink {
  public:
    virtual ~ProgramLink() = default;
    // StartLinkInit: 0, or a failure code.
    virtual uint32_t StartInit() = 0;
    // LinkWatchThread: false when the thread cannot be made.
    virtual bool StartWatch() = 0;
    // StopLinkInit.
    virtual void StopInit() = 0;
};

// The connection monitor's own threads (setup/link/link_monitor.h).
class MonitorLink final : public ProgramLink {
  public:
    MonitorLink();
    ~MonitorLink() override;
    uint32_t StartInit() override;
    bool StartWatch() override;
    void StopInit() override;

  private:
    struct Watch;
    std::unique_ptr<Watch> watch_;
};

// How the program was started.
struct ProgramStart {
    std::string programPath;  // the running program's full path
    std::string commandLine;  // its arguments as one command line
};

// The last progress page the program showed: an update or a restore (the
// handheld then restarts into the flasher), or a backup.
struct RunRecord {
    enum class Kind { kUpdate, kRestore, kBackup } kind = Kind::kUpdate;
    std::string path;  // the image, backup file or target file
    int result = 0;    // what the page ended with
};

class SetupProgram {
  public:
    SetupProgram(ProgramHost& host, HandheldPort& port, ImageFiles& images, ProgramLink& link);
    ~SetupProgram();

    // Start-up, main loop, clean-up. Returns 0 (end the program), as the
    // start-up routine of a dialog program does.
    int Run(const ProgramStart& start);

    // The three phases of Run, for a front end that has something to say
    // between them. StartUp is false when the program must end at once (the
    // watch thread could not be made).
    bool StartUp(const ProgramStart& start);
    void CleanUp();
    // Why the language module named in setup.ini was not used, when it was
    // refused (Setup itself stays silent about it).
    const std::optional<std::string>& LanguageModuleRefusal() const { return moduleRefusal_; }

    // M1: true once the handheld is connected, waiting up to about a second.
    bool WaitForConnection();
    // M2: true when setup.ini names an existing update image for either
    // class; otherwise the user is told (string 134) and it is false.
    bool CheckImageConfigured();
    // M1 to M3 until the program ends.
    void MainLoop();

    const std::optional<RunRecord>& LastRun() const { return lastRun_; }

  private:
    ProgramHost& host_;
    HandheldPort& port_;
    ImageFiles& images_;
    ProgramLink& link_;
    WorkerSlot updateWorker_;
    WorkerSlot backupWorker_;
    std::optional<RunRecord> lastRun_;
    std::optional<std::string> moduleRefusal_;
};

}  // namespace nuva
