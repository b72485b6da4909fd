// The fault matrix's plan and its figures, apart from the processes that
// carry the trials out: which moments of a run the cable is pulled at, which
// faults the handheld is given, and what the trials came to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fault_matrix {

// One trial: what is done to the handheld before (or while) the first
// attempt runs.
struct Trial {
    std::string name;
    // `nuva-handheld ctl` arguments armed before the first attempt starts
    // (empty: none).
    std::vector<std::string> armed;
    // Output of nuva-flash at which the cable is unplugged (empty: none).
    std::string unplugAt;
    // The desktop connection of the run that `armed` is meant for, armed
    // once that connection is up (0: armed before the run starts, so the
    // first connection meets it). A drop armed then counts the bytes from
    // there.
    int connection = 0;
};

// `count` cable pulls, by the number of bytes the cable has carried, spread
// over a run that carries about `totalBytes`: a few in the greeting and the
// agent's installation, the rest evenly over the whole run, so that every
// phase (checks, copy, sums, hand-over, restart) is hit. Distinct and rising.
std::vector<int64_t> PullMoments(int64_t totalBytes, int count);

// A trial of each: `fault cable-drop N` for the moments, and one unplug when
// each of `progressTexts` shows. A run whose checks take a connection of
// their own before the connection that copies (`copyConnection` > 1) has
// the moments past the greeting armed on the copying connection, as a drop
// armed up front would spend itself on the checks' short one.
std::vector<Trial> CablePullTrials(int64_t totalBytes, int count,
                                   const std::vector<std::string>& progressTexts, int copyConnection = 1);

// Every fault the handheld's control interface can inject that a run of
// `writesFlash` (update and restore) or not (backup) meets: the cable
// service's faults, and for runs that write, the flash chips' faults.
// `partPath` names a part file the run copies.
std::vector<Trial> InjectedFaultTrials(bool writesFlash, const std::string& partPath);

struct Figures {
    int trials = 0;
    int pullsArmed = 0;
    int pullsEndingTheRun = 0;  // pulls after which the first attempt was not done
    int faults = 0;
    int firstSucceeded = 0;
    int falseSuccesses = 0;  // "done", but the handheld or the file says otherwise
    int partialBackupsLookingComplete = 0;
    int bricked = 0;  // bricked or crashed before the flasher's final restart
    int secondAttempts = 0;
    int secondSucceeded = 0;
};

// "fault matrix <operation>: N trials (...), false successes 0, ..."
std::string SummaryLine(const std::string& operation, const Figures& figures);

}  // namespace fault_matrix
