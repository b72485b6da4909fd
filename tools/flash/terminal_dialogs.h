// The shared dialogs of Setup on the terminal: the controllers of
// setup/frame/dialog_kit driven by the console loop, with their texts written
// to the terminal and their buttons pressed by the user's answers (or by
// --yes, as the forward button).
#pragma once

#include <string>

#include "setup/frame/dialog_kit.h"
#include "tools/flash/answers.h"
#include "tools/flash/console_loop.h"
#include "tools/flash/terminal.h"

namespace nuva {

// ReasonDialog: the heading by reason mode and the reason lines.
void PrintReason(Terminal& terminal, int reasonMode, const ReasonFlags& reasons,
                 const std::string& downgradeLine = {});

// A yes/no question while the loop keeps serving timers. With `watched`, the
// link is watched on timer 100 (500 ms) as the question's dialog would, and
// its loss ends the question with 4 after ConnectionLostDialog in
// `lostMode`. Returns 1 (yes), 2 (no) or 4.
int AskYesNo(ConsoleLoop& loop, Terminal& terminal, Answers& answers, const std::string& question,
             DialogDevice* watched = nullptr, int lostMode = 0);

// How the erase caution ended.
enum class CautionEnd {
    kContinued,  // Continue accepted (result 1)
    kRefused,    // the battery reason ended it (result 2)
    kCancelled,  // the user said no, or gave up on a handheld that does not answer (result 2)
    kByItsTick,  // its timer found no link or no answer (result 2, nothing shown)
};

// EraseCautionDialog. It says that it waits while the handheld runs on
// battery, and asks once Continue is enabled. When the adapter has been
// pulled between the last tick and Continue, the dialog shows the AC reason
// and stays: with --yes the user then waits for the adapter (asking the
// handheld every 500 ms) and presses Continue again; without, the question
// is asked again. Returns 1 or 2, and how it ended.
int ShowEraseCaution(ConsoleLoop& loop, Terminal& terminal, Answers& answers, DialogDevice& device,
                     EraseCautionController::Mode mode, CautionEnd& end);

// OsChangeNoticeDialog: 1 (Continue), 2 (Cancel) or 4 (link lost).
int ShowOsChangeNotice(ConsoleLoop& loop, Terminal& terminal, Answers& answers, DialogDevice& device);

}  // namespace nuva
