#include "tools/flash/flash_user.h"

#include <filesystem>
#include <system_error>

#include "platform/clock/clock.h"
#include "setup/link/link_monitor.h"
#include "setup/resources/dialog_ids.h"
#include "setup/resources/dialog_templates.h"
#include "setup/resources/string_ids.h"
#include "setup/resources/string_table.h"

namespace nuva {
namespace {

namespace d = dialog_id;

// Buttons of the pages, by their templates' identifiers.
constexpr uint32_t kOk = 1;
constexpr uint32_t kCancel = 2;
constexpr uint32_t kMenuUpdate = 1025;
constexpr uint32_t kMenuBackupRestore = 1024;
constexpr uint32_t kNoticeBack = 1025;
constexpr uint32_t kNoticeNext = 1026;
constexpr uint32_t kInfoNext = 1003;
constexpr uint32_t kBackupOption = 1039;
constexpr uint32_t kRestoreCancel = 1065;
constexpr uint32_t kRestoreGo = 1066;
constexpr uint32_t kSave = 1037;
constexpr uint32_t kRestoreRom = 1038;
constexpr uint32_t kFileCancel = 1035;
constexpr uint32_t kNoticeContinue = 1036;
constexpr uint32_t kFinalButton = 1000;
constexpr uint32_t kReasonList = 1023;
constexpr uint32_t kPicture2002 = 1073;
constexpr uint32_t kCautionQuestion = 2000;

// A commit button whose question the handheld did not answer is pressed
// again after this many user ticks (500 ms), this many times in all.
constexpr uint32_t kPressAgainTicks = 5;
constexpr int kCommitPresses = 3;
// After an AC refusal with --yes, how often the handheld is asked whether
// the adapter is back, and how many unanswered questions end the caution.
constexpr uint32_t kTicksPerPowerPoll = 5;
constexpr int kUnansweredQueriesLimit = 20;

bool IsProgressPage(uint32_t templateId) {
    return templateId == d::kUpdateProgress || templateId == d::kBackupProgress;
}

}  // namespace

FlashUser::FlashUser(const FlashOptions& options, Answers& answers, HandheldPort& port)
    : options_(options), answers_(answers), port_(port) {}

void FlashUser::Record(int exitCode) {
    if (!failure_ && !settled_) {
        failure_ = exitCode;
    }
}

void FlashUser::Decline() {
    declined_ = true;
    Record(flash_exit::kRefused);
}

void FlashUser::Cancelled(TerminalPage& page) {
    page.Out().Line("Cancelled.");
    State(page).userCancelled = true;
    Decline();
}

void FlashUser::Leave(TerminalPage& page) {
    PageState& state = State(page);
    if (state.left || page.Ended()) {
        return;
    }
    state.left = true;
    switch (page.TemplateId()) {
        case d::kBackupNotice:
            page.Press(kNoticeBack);
            break;
        case d::kRestoreInfo:
            page.Press(kRestoreCancel);
            break;
        case d::kBackupRequired:
        case d::kBackupRestoreChoice:
        case d::kBackupConfirm:
        case d::kOsChangeNotice:
            page.Press(kFileCancel);
            break;
        case d::kEraseCaution:
            page.Press(kCancel);
            break;
        default:
            page.PressEscape();
            break;
    }
}

void FlashUser::Ask(TerminalPage& page, const std::string& question) {
    if (answers_.AutoYes()) {
        page.Out().Line(question + " [y/N] y  (--yes)");
        page.Events().Question(question, "--yes");
    } else {
        page.Out().Prompt(question + " [y/N] ");
        page.Events().Question(question, std::nullopt);
    }
}

int FlashUser::AskYesNo(TerminalPage& page, const std::string& question, int lostMode) {
    // The question is a dialog of its own over the page: the loop keeps
    // serving every window while the user thinks, and a pulled cable ends
    // the question as the page's watch would.
    CallbackHandler handler;
    ConsoleWindow window(page.Loop(), handler);
    constexpr uint32_t kWatch = 100;
    handler.timer = [&](uint32_t id) {
        if (id == kWatch) {
            if (!port_.IsConnected()) {
                window.KillTimer(kWatch);
                page.Out().KeepStatus();
                page.Out().Line("[" + LoadString(string_id::kCaution) + "]");
                page.Out().Line(LoadString(lostMode == 2 ? string_id::kConnectionLostHeading2
                                                         : string_id::kConnectionLostHeading0));
                page.Out().Line(DialogText(d::kConnectionLost, 1021));
                Record(flash_exit::kConnectionLost);
                window.EndModal(4);
            }
            return;
        }
        if (std::optional<bool> answer = answers_.Poll()) {
            page.Events().Answer(*answer, "typed");
            window.EndModal(*answer ? 1 : 2);
        }
    };
    Ask(page, question);
    window.ArmTimer(kWatch, 500);
    window.ArmTimer(TerminalPage::kUserTimer, TerminalPage::kUserTimerMs);
    return page.Loop().RunModal(window);
}

void FlashUser::Opening(TerminalPage* page, uint32_t templateId) {
    if (templateId == d::kConnectionLost) {
        Record(flash_exit::kConnectionLost);
    } else if (templateId == d::kWrongModel) {
        Record(flash_exit::kCheckFailed);
    } else if (templateId == d::kReason && page != nullptr) {
        State(*page).reasonShown = true;
        if (options_.command == FlashCommand::kInfo && page->TemplateId() == d::kUpdateInfo) {
            page->Out().Line("An update would be refused:");
            page->Events().Check("update", false, "An update would be refused.");
            infoAnswered_ = true;
        }
    }
}

void FlashUser::Boxed(TerminalPage* page, const std::string& text) {
    if (page == nullptr) {
        // The program's own boxes: no handheld, or no image installed. The
        // box about the initialisation thread is followed by one of them.
        if (text == LoadString(string_id::kConnectHint)) {
            Record(flash_exit::kConnectionLost);
        } else if (text != DialogText(d::kLooseTexts, d::loose_text::kRapiInitFailed)) {
            Record(flash_exit::kCheckFailed);
        }
        return;
    }
    for (TerminalPage* open : open_) {
        if (IsProgressPage(open->TemplateId())) {
            Record(flash_exit::kRunFailed);
            return;
        }
    }
    Record(flash_exit::kCheckFailed);
}

void FlashUser::Opened(TerminalPage& page) {
    open_.push_back(&page);
    PageState& state = State(page);
    state = PageState{};
    switch (page.TemplateId()) {
        case d::kMainMenu:
            // Shown again: the command is done.
            if (menuUsed_ || declined_) {
                page.PressEscape();
            }
            break;
        case d::kBackupNotice:
        case d::kUpdateInfo:
        case d::kRestoreInfo:
        case d::kOsChangeNotice:
        case d::kBackupRequired:
            if (declined_) {
                Leave(page);
            } else if (page.TemplateId() == d::kOsChangeNotice) {
                state.caution = PageState::Caution::kAsking;
                Ask(page, "Continue");
            } else if (page.TemplateId() == d::kBackupRequired) {
                page.Press(kSave);
            }
            break;
        case d::kBackupRestoreChoice:
            // Shown again after a plain backup: the command is done.
            if (choiceUsed_ || declined_) {
                Leave(page);
            } else {
                choiceUsed_ = true;
                page.Press(options_.command == FlashCommand::kRestore ? kRestoreRom : kSave);
            }
            break;
        case d::kBackupConfirm:
            if (declined_) {
                Leave(page);
            } else if (!page.Enabled(kSave)) {
                // Save stays disabled: only Cancel leaves the page.
                page.Out().Line(
                    "The handheld could not be read through the agent library: Save stays disabled.");
                Record(flash_exit::kCheckFailed);
                declined_ = true;
                Leave(page);
            } else {
                page.Press(kSave);
            }
            break;
        case d::kEraseCaution:
            if (declined_) {
                Leave(page);
            }
            break;
        case d::kBackupComplete:
            page.Out().Status("(the handheld restarts; waiting for it to answer again)");
            state.deadline = std::chrono::steady_clock::now() + RestartTimeout(options_);
            break;
        case d::kCompletionNotice:
            page.Out().Line(page.Shown(kPicture2002) ? "(the handheld now runs Pocket PC 2002)"
                                                     : "(the handheld now runs Pocket PC 2003)");
            page.Out().Line("[" + WithoutMnemonic(page.Text(kCancel)) + "]");
            page.Press(kCancel);
            break;
        case d::kReason:
            page.Press(kCancel);  // its OK has the Cancel identifier
            break;
        case d::kConnectionLost:
        case d::kWrongModel:
        case d::kAbout:
            page.Press(kOk);
            break;
        default:
            break;
    }
}

void FlashUser::Enabled(TerminalPage& page, uint32_t control) {
    if (declined_ && page.TemplateId() != d::kBackupComplete && !IsProgressPage(page.TemplateId())) {
        Leave(page);
        return;
    }
    switch (page.TemplateId()) {
        case d::kMainMenu:
            if (!menuUsed_ && page.Enabled(kMenuUpdate) && page.Enabled(kMenuBackupRestore)) {
                menuUsed_ = true;
                bool update =
                    options_.command == FlashCommand::kUpdate || options_.command == FlashCommand::kInfo;
                page.Press(update ? kMenuUpdate : kMenuBackupRestore);
            }
            break;
        case d::kBackupNotice:
            if (control == kNoticeNext) {
                page.Press(kNoticeNext);
            }
            break;
        case d::kUpdateInfo:
            if (control != kInfoNext) {
                break;
            }
            page.PrintColumns();
            page.Events().Check("update", true, "An update would be accepted.");
            if (options_.command == FlashCommand::kInfo) {
                page.Out().Line("An update would be accepted.");
                infoAnswered_ = true;
                Leave(page);
                break;
            }
            {
                // The ROM backup option: ticked only when the command line
                // names a file for it, and never again once a backup exists.
                bool wanted = !options_.backupFile.empty() && page.Enabled(kBackupOption);
                if (page.IsChecked(kBackupOption) != wanted) {
                    page.SetChecked(kBackupOption, wanted);
                    page.Press(kBackupOption);
                }
                page.Out().Line(std::string(wanted ? "[x] " : "[ ] ") +
                                WithoutMnemonic(page.Text(kBackupOption)));
            }
            PressCommit(page, kInfoNext);
            break;
        case d::kRestoreInfo:
            if (control == kRestoreGo) {
                page.PrintColumns();
                PressCommit(page, kRestoreGo);
            }
            break;
        case d::kUpdateProgress:
            if (control == kFinalButton) {
                page.Out().Line("[" + WithoutMnemonic(page.Text(kFinalButton)) + "]");
                page.Press(kFinalButton);
            }
            break;
        case d::kBackupComplete:
            if (control == kOk) {
                page.Press(kOk);
            }
            break;
        default:
            break;
    }
}

void FlashUser::PressCommit(TerminalPage& page, uint32_t button) {
    PageState& state = State(page);
    ++state.presses;
    page.Press(button);
}

void FlashUser::Beeped(TerminalPage& page) {
    PageState& state = State(page);
    if (page.TemplateId() == d::kEraseCaution) {
        page.Out().Line("(beep: the handheld did not answer; press Continue again)");
        return;
    }
    page.Out().Line("(beep: the handheld did not answer)");
    if (state.presses >= kCommitPresses) {
        page.Out().Line("The handheld does not answer.");
        Record(flash_exit::kCheckFailed);
        declined_ = true;
        Leave(page);
        return;
    }
    state.pressAgainAt = state.ticks + kPressAgainTicks;
}

void FlashUser::Tick(TerminalPage& page) {
    PageState& state = State(page);
    ++state.ticks;
    if (page.Ended()) {
        return;
    }
    switch (page.TemplateId()) {
        case d::kUpdateInfo:
        case d::kRestoreInfo:
            if (declined_) {
                Leave(page);
            } else if (state.pressAgainAt != 0 && state.ticks >= state.pressAgainAt) {
                state.pressAgainAt = 0;
                PressCommit(page, page.TemplateId() == d::kUpdateInfo ? kInfoNext : kRestoreGo);
            }
            break;
        case d::kBackupRestoreChoice:
            if (declined_) {
                Leave(page);
            }
            break;
        case d::kOsChangeNotice:
            if (state.caution == PageState::Caution::kAsking) {
                if (std::optional<bool> answer = answers_.Poll()) {
                    page.Events().Answer(*answer, "typed");
                    state.caution = PageState::Caution::kWatching;
                    if (*answer) {
                        page.Press(kNoticeContinue);
                    } else {
                        Cancelled(page);
                        Leave(page);
                    }
                }
            }
            break;
        case d::kEraseCaution:
            CautionTick(page, state);
            break;
        case d::kUpdateProgress:
            if (takeNotes_) {
                for (const std::string& note : takeNotes_()) {
                    page.Out().Line(note);
                }
            }
            break;
        case d::kBackupComplete:
            if (!page.Enabled(kOk) && std::chrono::steady_clock::now() >= state.deadline) {
                page.Out().KeepStatus();
                page.Out().Line("The handheld has not answered again since its restart.");
                backupRestartLost_ = true;
                page.PressEscape();
            }
            break;
        default:
            break;
    }
}

void FlashUser::PressContinue(TerminalPage& page) {
    PageState& state = State(page);
    state.reasonShown = false;
    page.Press(kOk);
}

void FlashUser::CautionTick(TerminalPage& page, PageState& state) {
    using Caution = PageState::Caution;
    const std::string question = page.Text(kCautionQuestion);
    // After a press the caution either ended, or stayed: with the AC reason
    // shown, or after a beep (the handheld did not answer).
    switch (state.caution) {
        case Caution::kWatching:
            if (page.Enabled(kOk)) {
                if (answers_.AutoYes()) {
                    Ask(page, question);
                    state.caution = Caution::kWaitingForAc;
                    PressContinue(page);
                } else {
                    state.caution = Caution::kAsking;
                    Ask(page, question);
                }
            } else if (state.ticks > 5 && !state.saidWaiting) {
                state.saidWaiting = true;
                page.Out().Status(
                    "Waiting for the AC adapter to be connected (Continue is enabled once it is)...");
            }
            break;
        case Caution::kAsking:
            if (std::optional<bool> answer = answers_.Poll()) {
                page.Events().Answer(*answer, "typed");
                if (!*answer) {
                    Cancelled(page);
                    Leave(page);
                } else if (page.Enabled(kOk)) {
                    state.caution = Caution::kWaitingForAc;
                    PressContinue(page);
                } else {
                    page.Out().Line("Continue is not enabled: the handheld runs on battery.");
                    state.caution = Caution::kWatching;
                    state.saidWaiting = false;
                }
            }
            break;
        case Caution::kWaitingForAc:
            // Continue was pressed and the caution is still open: the
            // adapter was pulled since the last tick, or the handheld did not
            // answer. As a user would, wait for the adapter and press again;
            // without --yes, ask again.
            if (!answers_.AutoYes()) {
                if (state.reasonShown) {
                    page.Out().Line("Connect the AC adapter, then answer again.");
                }
                state.caution = Caution::kAsking;
                Ask(page, question);
                break;
            }
            if (state.ticks % kTicksPerPowerPoll != 0) {
                break;
            }
            if (!port_.IsConnected()) {
                Leave(page);  // as its tick would: the page shown next reports the lost link
                state.userCancelled = false;
                break;
            }
            DeviceInfo info;
            if (port_.QueryDeviceInfo(&info) != 0) {
                if (++state.unanswered >= kUnansweredQueriesLimit) {
                    page.Out().Line("The handheld does not answer; the caution is cancelled.");
                    Cancelled(page);
                    Leave(page);
                }
            } else if (info.AcOnline != 0) {
                if (state.reasonShown) {
                    Ask(page, question);
                }
                PressContinue(page);
            } else if (state.reasonShown && !state.saidWaiting) {
                state.saidWaiting = true;
                page.Out().Status("Waiting for the AC adapter to be connected...");
            }
            break;
    }
}

void FlashUser::Ended(TerminalPage& page, int result) {
    if (!open_.empty()) {
        open_.pop_back();
    }
    PageState state = State(page);
    states_.erase(&page);
    TerminalPage* owner = open_.empty() ? nullptr : open_.back();
    switch (page.TemplateId()) {
        case d::kReason: {
            // The AC reason over the caution is not final: the user connects
            // the adapter and presses Continue again.
            bool acOverCaution = owner != nullptr && owner->TemplateId() == d::kEraseCaution &&
                                 page.Text(kReasonList) == LoadString(string_id::kReasonNoAcPower);
            if (options_.command == FlashCommand::kInfo) {
                break;
            }
            if (!acOverCaution) {
                Decline();
            }
            break;
        }
        case d::kEraseCaution:
            if (result != 1 && !state.reasonShown && !state.userCancelled && !declined_) {
                // The caution ended by its own tick: the handheld stopped
                // answering. The caution leaves the news to the page shown
                // next; give the connection monitor its probe and retry
                // first, so that the page reports a lost link as such rather
                // than as a copy that failed.
                constexpr uint32_t kPollMs = 100;
                for (uint32_t waited = 0; port_.IsConnected() && waited < kProbePeriodMs + 2 * kProbeRetryMs;
                     waited += kPollMs) {
                    ScaledSleepMs(kPollMs);
                }
            }
            break;
        case d::kUpdateProgress:
        case d::kBackupProgress:
            if (takeNotes_) {
                for (const std::string& note : takeNotes_()) {
                    page.Out().Line(note);
                }
            }
            if (result == 1) {
                settled_ = true;
            } else if (result == 4) {
                Record(flash_exit::kConnectionLost);
            } else {
                Record(flash_exit::kRunFailed);
            }
            break;
        default:
            break;
    }
}

std::optional<std::string> FlashUser::ChooseFile(TerminalPage& page, const FileQuestion& question) {
    if (question.save) {
        const std::string& file =
            page.TemplateId() == d::kBackupRequired ? options_.backupFile : options_.file;
        return ChooseSaveFile(page, file, page.TemplateId() == d::kBackupConfirm ? 2 : 0);
    }
    // The Open dialog offers only files that exist.
    std::error_code error;
    if (!std::filesystem::is_regular_file(options_.file, error)) {
        page.Out().Line(options_.file + ": no such backup file");
        Record(flash_exit::kUsage);
        declined_ = true;
        return std::nullopt;
    }
    std::filesystem::path chosen = std::filesystem::absolute(options_.file, error);
    return error ? options_.file : chosen.string();
}

std::optional<std::string> FlashUser::ChooseSaveFile(TerminalPage& page, const std::string& file,
                                                     int lostMode) {
    int save = AskYesNo(page, "Save the current ROM to " + file + "?", lostMode);
    if (save == 4) {
        declined_ = true;
        return std::nullopt;
    }
    if (save != 1) {
        Cancelled(page);
        return std::nullopt;
    }
    std::error_code error;
    std::filesystem::path chosen = std::filesystem::absolute(file, error);
    if (error || chosen.filename().empty()) {
        page.Out().Line(file + ": not a file name");
        Record(flash_exit::kUsage);
        declined_ = true;
        return std::nullopt;
    }
    if (std::filesystem::is_directory(chosen, error)) {
        page.Out().Line(file + ": is a folder, not a file");
        Record(flash_exit::kUsage);
        declined_ = true;
        return std::nullopt;
    }
    // The Save As dialog's own question before it replaces a file.
    if (std::filesystem::exists(chosen, error)) {
        int replace = AskYesNo(page, chosen.string() + " already exists. Replace it?", lostMode);
        if (replace == 4) {
            declined_ = true;
            return std::nullopt;
        }
        if (replace != 1) {
            Cancelled(page);
            return std::nullopt;
        }
    }
    return chosen.string();
}

}  // namespace nuva
