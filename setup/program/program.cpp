#include "setup/program/program.h"

#include <thread>

#include "setup/device/page_results.h"
#include "setup/frame/dialog_kit.h"
#include "setup/frame/wizards.h"
#include "setup/link/link_monitor.h"
#include "setup/program/wizard_pages.h"
#include "setup/resources/dialog_ids.h"
#include "setup/resources/dialog_templates.h"
#include "setup/resources/settings.h"
#include "setup/resources/string_table.h"

namespace nuva {
namespace {

// M1 tests the flag before each of at most ten pauses of 100 ms.
constexpr int kConnectionPauses = 10;
constexpr uint32_t kConnectionPauseMs = 100;

}  // namespace

struct MonitorLink::Watch {
    std::jthread thread;
};

MonitorLink::MonitorLink() : watch_(std::make_unique<Watch>()) {}

// The watcher only ever stops with the process in Setup; a front end that
// goes on after the program (nuva-flash following a restart) keeps the
// object, and tests let it go, which stops and joins the thread.
MonitorLink::~MonitorLink() = default;

uint32_t MonitorLink::StartInit() {
    return StartLinkInit();
}

bool MonitorLink::StartWatch() {
    try {
        watch_->thread = StartLinkWatch();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void MonitorLink::StopInit() {
    StopLinkInit();
}

SetupProgram::SetupProgram(ProgramHost& host, HandheldPort& port, ImageFiles& images, ProgramLink& link)
    : host_(host), port_(port), images_(images), link_(link) {}

SetupProgram::~SetupProgram() = default;

bool SetupProgram::StartUp(const ProgramStart& start) {
    if (link_.StartInit() != 0) {
        host_.MessageBox(DialogText(dialog_id::kLooseTexts, dialog_id::loose_text::kRapiInitFailed), "");
    }
    if (!link_.StartWatch()) {
        return false;
    }
    g_installDir = InstallDirOf(start.programPath);
    ParseCommandLine(start.commandLine);
    std::string module;
    if (FindLanguageModule(g_installDir, module, g_languageId) == 1) {
        // A module that cannot be used leaves the built-in texts in place;
        // Setup says nothing about it, a front end may.
        ModuleLoadResult loaded = LoadLanguageModule(module);
        if (!loaded.ok) {
            moduleRefusal_ = module + ": " + loaded.message;
        }
    }
    return true;
}

void SetupProgram::CleanUp() {
    UnloadLanguageModule();
    link_.StopInit();
}

int SetupProgram::Run(const ProgramStart& start) {
    if (!StartUp(start)) {
        return 0;
    }
    MainLoop();
    CleanUp();
    return 0;
}

bool SetupProgram::WaitForConnection() {
    for (int pause = 0; pause < kConnectionPauses; ++pause) {
        if (port_.IsConnected()) {
            return true;
        }
        host_.Wait(kConnectionPauseMs);
    }
    return port_.IsConnected();
}

bool SetupProgram::CheckImageConfigured() {
    if (images_.LocateImage(true).status == ImageLookup::kFound ||
        images_.LocateImage(false).status == ImageLookup::kFound) {
        return true;
    }
    ShowMessage(host_, MessageBoxKind::kImageMissing);
    return false;
}

void SetupProgram::MainLoop() {
    using namespace page_result;
    enum class State { kConnection, kImage, kMenu };
    State state = State::kConnection;
    for (;;) {
        switch (state) {
            case State::kConnection:
                if (!WaitForConnection()) {
                    ShowMessage(host_, MessageBoxKind::kConnectHint);
                    return;
                }
                state = State::kImage;
                break;
            case State::kImage:
                if (!CheckImageConfigured()) {
                    return;
                }
                state = State::kMenu;
                break;
            case State::kMenu: {
                int menu = ShowMainMenu(host_, port_, images_);
                if (menu == kMenuUpdate) {
                    ControllerWizardPages pages(host_, port_, images_, updateWorker_, backupWorker_,
                                                lastRun_);
                    int wizard = RunUpdateWizard(pages);
                    if (wizard == 1) {
                        state = State::kMenu;
                    } else if (wizard == kConnectionLost) {
                        state = State::kConnection;
                    } else {
                        return;
                    }
                } else if (menu == kMenuBackupRestore) {
                    ControllerWizardPages pages(host_, port_, images_, updateWorker_, backupWorker_,
                                                lastRun_);
                    if (RunBackupRestoreWizard(pages) == 0) {
                        return;
                    }
                    state = State::kConnection;
                } else if (menu == kConnectionLost) {
                    state = State::kConnection;
                } else {
                    return;
                }
                break;
            }
        }
    }
}

}  // namespace nuva
