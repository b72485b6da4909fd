#include "tests/e2e/fault_matrix/fault_trials.h"

#include <algorithm>

namespace fault_matrix {

std::vector<int64_t> PullMoments(int64_t totalBytes, int count) {
    std::vector<int64_t> moments;
    if (count <= 0 || totalBytes <= 0) {
        return moments;
    }
    // The greeting and the first calls are a few hundred bytes; the agent
    // library follows. Three moments there, the rest over the whole run.
    const int early = std::min(count, 3);
    for (int64_t bytes : {int64_t{40}, int64_t{600}, int64_t{24 * 1024}}) {
        if (static_cast<int>(moments.size()) < early && bytes < totalBytes) {
            moments.push_back(bytes);
        }
    }
    const int spread = count - static_cast<int>(moments.size());
    for (int i = 1; i <= spread; ++i) {
        // Evenly between 1/(spread+1) and spread/(spread+1) of the run.
        moments.push_back(totalBytes * i / (spread + 1));
    }
    std::sort(moments.begin(), moments.end());
    moments.erase(std::unique(moments.begin(), moments.end()), moments.end());
    return moments;
}

std::vector<Trial> CablePullTrials(int64_t totalBytes, int count,
                                   const std::vector<std::string>& progressTexts, int copyConnection) {
    std::vector<Trial> trials;
    const std::vector<int64_t> moments = PullMoments(totalBytes, count);
    for (size_t i = 0; i < moments.size(); ++i) {
        // The first moments lie in the greeting and the checks.
        const bool early = i < 3 || copyConnection <= 1;
        const std::string where = early ? "" : " of the copying connection";
        trials.push_back({"cable pulled after " + std::to_string(moments[i]) + " bytes" + where,
                          {"fault", "cable-drop", std::to_string(moments[i])},
                          "",
                          early ? 0 : copyConnection});
    }
    for (const std::string& text : progressTexts) {
        trials.push_back({"cable pulled at \"" + text + "\"", {}, text});
    }
    return trials;
}

std::vector<Trial> InjectedFaultTrials(bool writesFlash, const std::string& partPath) {
    std::vector<Trial> trials = {
        {"a device file write fails", {"fault", "write-fail"}, ""},
        {"a copied part is changed on the handheld", {"fault", "corrupt", partPath, "100", "0x5A"}, ""},
        {"one agent call fails", {"fault", "agent-fail", "1"}, ""},
        {"six agent calls fail", {"fault", "agent-fail", "6"}, ""},
        {"two version queries fail", {"fault", "version-fail", "2"}, ""},
    };
    if (!writesFlash) {
        return trials;
    }
    // The flash faults strike only the flasher: the desktop's part of a run
    // reads the flash in read-array mode. Each clears after a few operations,
    // as a marginal part recovers. A chip that stays busy is left out: it
    // holds the flasher for ever with interrupts masked, and nothing but a
    // restart ends that, which leaves a half-erased block behind.
    const std::vector<Trial> flash = {
        {"two erases fail", {"fault", "flash", "erase-error", "--ops", "2"}, ""},
        {"two programs fail", {"fault", "flash", "program-error", "--ops", "2"}, ""},
        {"a locked block", {"fault", "flash", "locked", "--block", "20", "--ops", "1"}, ""},
        {"slow erases", {"fault", "flash", "slow-erase", "--reads", "2000"}, ""},
        {"slow programs", {"fault", "flash", "slow-program", "--reads", "200"}, ""},
        // Past the ROM image, in cells nobody writes or checks.
        {"stuck bits outside the image",
         {"fault", "flash", "stuck", "--offset", "0x19E0000", "--mask", "0x1"},
         ""},
    };
    trials.insert(trials.end(), flash.begin(), flash.end());
    return trials;
}

std::string SummaryLine(const std::string& operation, const Figures& f) {
    return "fault matrix " + operation + ": " + std::to_string(f.trials) + " trials (" +
           std::to_string(f.pullsArmed) + " cable pulls, " + std::to_string(f.pullsEndingTheRun) +
           " of which ended the run; " + std::to_string(f.faults) +
           " injected faults), first attempts done " + std::to_string(f.firstSucceeded) +
           ", false successes " + std::to_string(f.falseSuccesses) + ", partial backups that look complete " +
           std::to_string(f.partialBackupsLookingComplete) + ", bricked handhelds " +
           std::to_string(f.bricked) + ", second attempts that succeeded " +
           std::to_string(f.secondSucceeded) + "/" + std::to_string(f.secondAttempts);
}

}  // namespace fault_matrix
