// The user nuva-flash stands for: on every page of Setup it reads what the
// page shows and presses what a person running the command would press. The
// command line says which operation and which files; --yes answers every
// confirmation as the forward button would, otherwise the person at the
// terminal types the answers. It also keeps what the run came to, for the
// program's exit code.
//
// A page shown again after the user declined, or after a reason refused the
// operation, is left at once the way its Cancel would leave it, so that the
// wizard leads back out instead of waiting for another choice.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "setup/link/handheld_port.h"
#include "tools/flash/answers.h"
#include "tools/flash/options.h"
#include "tools/flash/terminal_pages.h"

namespace nuva {

class FlashUser final : public TerminalUser {
  public:
    FlashUser(const FlashOptions& options, Answers& answers, HandheldPort& port);

    void Opened(TerminalPage& page) override;
    void Enabled(TerminalPage& page, uint32_t control) override;
    void Tick(TerminalPage& page) override;
    void Beeped(TerminalPage& page) override;
    void Opening(TerminalPage* page, uint32_t templateId) override;
    void Ended(TerminalPage& page, int result) override;
    void Boxed(TerminalPage* page, const std::string& text) override;
    std::optional<std::string> ChooseFile(TerminalPage& page, const FileQuestion& question) override;

    // The first decisive event's exit code (refused, check failed, link
    // lost, run failed), if any.
    std::optional<int> Failure() const { return failure_; }
    // `info` only: the update information page gave its verdict.
    bool InfoAnswered() const { return infoAnswered_; }
    // The handheld did not answer again after the restart that ends a backup.
    bool BackupRestartLost() const { return backupRestartLost_; }
    // Where the notes of a run's transfer come from; they are shown on the
    // progress page as they come.
    void TakeNotesFrom(std::function<std::vector<std::string>()> take) { takeNotes_ = std::move(take); }

  private:
    // What the user is doing on one open page.
    struct PageState {
        enum class Caution { kWatching, kAsking, kWaitingForAc } caution = Caution::kWatching;
        bool left = false;     // Cancel or Esc pressed
        bool sawTick = false;  // the caution's timer has ticked once
        bool saidWaiting = false;
        bool reasonShown = false;  // a reason dialog opened over the page
        bool userCancelled = false;
        uint32_t ticks = 0;
        int presses = 0;            // presses of a commit button the handheld did not answer
        uint32_t pressAgainAt = 0;  // tick at which to press it again; 0: none pending
        int unanswered = 0;         // power queries the handheld did not answer
        std::chrono::steady_clock::time_point deadline{};
    };

    void Record(int exitCode);
    void Decline();
    void Cancelled(TerminalPage& page);
    // Leaves the page the way its Cancel would.
    void Leave(TerminalPage& page);
    void Ask(TerminalPage& page, const std::string& question);
    int AskYesNo(TerminalPage& page, const std::string& question, int lostMode);
    void PressContinue(TerminalPage& page);
    // Presses an information page's commit button, counting the presses the
    // handheld has not answered.
    void PressCommit(TerminalPage& page, uint32_t button);
    void CautionTick(TerminalPage& page, PageState& state);
    std::optional<std::string> ChooseSaveFile(TerminalPage& page, const std::string& file, int lostMode);
    PageState& State(TerminalPage& page) { return states_[&page]; }

    FlashOptions options_;
    Answers& answers_;
    HandheldPort& port_;
    std::map<TerminalPage*, PageState> states_;
    std::vector<TerminalPage*> open_;
    std::optional<int> failure_;
    bool declined_ = false;
    bool settled_ = false;  // a run completed: what follows does not change the outcome
    bool menuUsed_ = false;
    bool choiceUsed_ = false;
    bool infoAnswered_ = false;
    bool backupRestartLost_ = false;
    std::function<std::vector<std::string>()> takeNotes_;
};

}  // namespace nuva
