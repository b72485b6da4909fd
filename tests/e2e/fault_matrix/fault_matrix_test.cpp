// The fault matrix: update, backup and restore as nuva-flash does them,
// against a fresh emulated handheld per trial, with the cable pulled at many
// moments of the run and with every fault the handheld can be given. After
// each first attempt the cable is put back in and the same operation is
// tried again. Whatever the first attempt met, it may fail but never claim
// what did not happen; no backup it leaves may look complete; the handheld
// is never bricked by it; and the second attempt succeeds.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "formats/image_header.h"
#include "setup/device/image_catalogue.h"
#include "setup/link/handover.h"
#include "tests/e2e/fault_matrix/fault_trials.h"
#include "tests/e2e/flash/flash_e2e_support.h"
#include "tests/support/eventually.h"

namespace fault_matrix {
namespace {

using flash_e2e::Bytes;
using flash_e2e::JsonField;
using flash_e2e::Rom;
using nuva::imagegen::ImageSpec;
using nuva::imagegen::ModelClass;
using nuva::imagegen::OsFamily;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Small enough that the flasher's minute of waiting screens and the flash's
// busy times cost milliseconds, not zero, so that polling loops still pause.
constexpr const char* kScale = "0.001";
constexpr int kPulls = 20;
// Each operation's trials are dealt out over this many test cases, so that
// ctest runs them side by side with each other and with the rest of the
// suite; dealt in turn, so that every case has pulls from the whole run and
// some injected faults (a backup has five: no more cases than that).
constexpr int kChunks = 5;
constexpr uint32_t k2003Bytes = 0x1980000;
constexpr const char* kRestartTimeout = "60";

const ImageSpec kA02 = Rom(OsFamily::k2003, "03050300", "A02");
const ImageSpec kA02Basic = Rom(OsFamily::k2003, "03050300", "A02", "EN", ModelClass::kBasic);
const ImageSpec kA03 = Rom(OsFamily::k2003, "04100300", "A03");  // the demo installation's

enum class Operation { kUpdate, kBackup, kRestore };

class FaultMatrix : public flash_e2e::FlashE2E {
  protected:
    void SetUp() override {
        ::setenv("NUVA_TIME_SCALE", kScale, 1);
        FlashE2E::SetUp();
    }

    // A factory-new handheld whose flash holds `rom`; the previous trial's
    // handheld ends and its state goes.
    void FreshHandheld(const std::string& rom) {
        // Its state is thrown away next: no orderly end that saves it.
        if (handheld_) {
            handheld_->Discard();
        }
        handheld_.reset();
        if (!current_.empty()) {
            fs::remove_all(Path(current_));
        }
        current_ = "hh-" + std::to_string(++started_);
        handheld_ = std::make_unique<nuva::testing::HandheldProcess>(NUVA_HANDHELD_PROGRAM, Path(current_));
        std::string error;
        ASSERT_TRUE(handheld_->Start(rom, {}, {{"NUVA_TIME_SCALE", kScale}}, error)) << error;
        // The first attempt meets a handheld that has started: on a busy
        // machine its boot can outlast nuva-flash's wait for the cable,
        // which would end trials before their fault is met.
        const std::string status = Settle();
        ASSERT_EQ(JsonField(status, "started"), "true") << status;
    }

    // The factory ROM file of `spec`, made once.
    std::string FactoryRomOf(const ImageSpec& spec) {
        const std::string name = "factory-" + spec.romName + ".nb0";
        return fs::exists(Path(name)) ? Path(name) : FactoryRom(name, spec);
    }

    std::string QuietStatus() { return handheld_->Ctl({"status", "--json"}).out; }

    // Waits until the handheld has finished what the run set going: started,
    // not restarting, no program running. A message box that is up is
    // answered with OK, as the user at the handheld would. Returns the last
    // status; a bricked or crashed handheld ends the wait at once.
    std::string Settle() {
        std::string json;
        const bool settled = nuva::testing::Eventually(
            [&] {
                json = QuietStatus();
                if (JsonField(json, "bricked") != "null" || JsonField(json, "crashed") != "null") {
                    return true;
                }
                if (JsonField(json, "message_box") != "null") {
                    handheld_->Ctl({"press-ok"});
                    return false;
                }
                return JsonField(json, "started") == "true" && JsonField(json, "restarting") == "false" &&
                       JsonField(json, "running") == "null";
            },
            90s, 40ms);
        EXPECT_TRUE(settled) << "the handheld did not settle: " << json;
        return json;
    }

    void Replug() {
        Ctl({"unplug"});
        Ctl({"plug"});
    }

    const Bytes& ContentsOf(const ImageSpec& spec) {
        Bytes& cached = spec.romName == "A02" ? contents02_ : contents03_;
        if (cached.empty()) {
            cached = Contents(spec);
        }
        return cached;
    }

    // Whether the handheld reports `spec` and its flash holds its contents.
    bool RunsRom(const ImageSpec& spec) {
        return RomIdentity() == Identity(spec) && DumpFlash(0x40000, k2003Bytes) == ContentsOf(spec);
    }

    // Whether `file` is a whole backup of `spec`.
    bool WholeBackupOf(const std::string& file, const ImageSpec& spec) {
        const Bytes saved = flash_e2e::ReadFile(file);
        nuva::ImageHeader header;
        return saved.size() == 512u + k2003Bytes &&
               Bytes(saved.begin() + 512, saved.end()) == ContentsOf(spec) &&
               nuva::CheckImageFile(file, header) == saved.size() && header.RomName() == spec.romName;
    }

    // nuva-flash `args` of `installation`; the cable unplugged when `unplugAt`
    // shows (and put back after at most five seconds). The exit code; the
    // output in `output`.
    int Attempt(const std::string& installation, const std::vector<std::string>& args,
                const std::string& unplugAt, std::string& output, const Trial* armLater = nullptr) {
        std::unique_ptr<flash_e2e::FlashRun> run = Flash(installation, args);
        if (armLater != nullptr) {
            ArmOnConnection(*armLater, *run);
        }
        if (!unplugAt.empty() && run->WaitFor(unplugAt)) {
            Ctl({"unplug"});
            // A run that waits for the cable to come back is given it, as
            // the user would plug it in again, rather than held until it is
            // killed.
            nuva::testing::Eventually([&] { return !run->Running(); }, 5s, 20ms);
            Ctl({"plug"});
        }
        const int code = run->Finish(std::chrono::seconds(180));
        output = run->Output();
        return code;
    }

    // Arms the trial's fault as soon as the run's connection numbered
    // `trial.connection` is up. A run that ends first fails the trial, as
    // its fault was never met.
    void ArmOnConnection(const Trial& trial, const flash_e2e::FlashRun& run) {
        std::string json;
        const bool up = nuva::testing::Eventually(
            [&] {
                json = QuietStatus();
                const std::string served = JsonField(json, "desktops_served");
                return !run.Running() || (JsonField(json, "desktop_connected") == "true" &&
                                          std::atoi(served.c_str()) >= trial.connection);
            },
            60s, 10ms);
        if (!up || !run.Running()) {
            ADD_FAILURE() << "the run's connection " << trial.connection << " never came: " << json << "\n"
                          << run.Output();
            return;
        }
        Ctl(trial.armed);
    }

    void Record(const std::string& operation, const Figures& figures) {
        const std::string line = SummaryLine(operation, figures);
        std::cout << line << std::endl;
        RecordProperty("figures", line);
        std::ofstream(std::string(NUVA_FIGURES_DIR) + "/fault_matrix_" + operation + ".txt") << line << "\n";
    }

    // Runs the trials of `operation` that fall to `chunk` (every kChunks-th,
    // from the chunk'th) and returns their figures. The first `pulls` trials
    // are cable pulls.
    Figures RunTrials(Operation operation, const std::vector<Trial>& trials, int pulls, int chunk);

    std::string older_;  // an installation with the A02 images
    std::string ris02_;  // backups of this model's handheld (all trials share its identity)
    std::string ris03_;
    std::string current_;
    int started_ = 0;
    Bytes contents02_;
    Bytes contents03_;
};

// Whether trial `index` (from 1) falls to test case `chunk`: dealt in turn.
bool InChunk(int index, int chunk) {
    return (index - 1) % kChunks == chunk;
}

// NUVA_FAULT_TRIALS="13,14" runs only those trials (numbered as printed),
// to chase one trial's failure in a loop.
const char* ChosenTrials() {
    const char* chosen = ::getenv("NUVA_FAULT_TRIALS");
    return chosen != nullptr && *chosen != 0 ? chosen : nullptr;
}

bool Chosen(int index) {
    const char* chosen = ChosenTrials();
    if (chosen == nullptr) {
        return true;
    }
    std::stringstream list(chosen);
    for (std::string item; std::getline(list, item, ',');) {
        if (std::atoi(item.c_str()) == index) {
            return true;
        }
    }
    return false;
}

Figures FaultMatrix::RunTrials(Operation operation, const std::vector<Trial>& trials, int pulls, int chunk) {
    Figures figures;
    const std::string demo = DemoInstallation();
    // Whether the flash holds the ROM is checked here, byte for byte, rather
    // than by nuva-flash's own read-back, which a backup does not take.
    std::vector<std::string> tail = {"--yes", "--restart-timeout", kRestartTimeout};
    if (operation != Operation::kBackup) {
        tail.push_back("--no-verify");
    }
    int index = 0;
    for (const Trial& trial : trials) {
        ++index;
        if (!InChunk(index, chunk) || !Chosen(index)) {
            continue;
        }
        SCOPED_TRACE(trial.name);
        const auto started = std::chrono::steady_clock::now();
        ++figures.trials;
        const bool isPull = index <= pulls;
        figures.pullsArmed += isPull ? 1 : 0;
        figures.faults += isPull ? 0 : 1;

        // The first attempt, from a handheld that runs A02 (update, backup)
        // or A03 (restore of the A02 backup).
        const ImageSpec& factory = operation == Operation::kRestore ? kA03 : kA02;
        FreshHandheld(FactoryRomOf(factory));
        if (HasFatalFailure()) {
            return figures;
        }
        const std::string saved = Path("saved-" + std::to_string(index));
        fs::create_directories(saved);
        std::vector<std::string> args;
        std::string installation = demo;
        switch (operation) {
            case Operation::kUpdate:
                args = {"update"};
                break;
            case Operation::kBackup:
                args = {"backup", saved + "/rom.ris"};
                break;
            case Operation::kRestore:
                args = {"restore", ris02_};
                break;
        }
        args.insert(args.end(), tail.begin(), tail.end());
        if (!trial.armed.empty() && trial.connection == 0) {
            Ctl(trial.armed);
        }
        std::string output;
        const int first =
            Attempt(installation, args, trial.unplugAt, output, trial.connection > 0 ? &trial : nullptr);
        Ctl({"fault", "clear"});
        Ctl({"fault", "flash", "clear"});

        const std::string status = Settle();
        if (JsonField(status, "bricked") != "null" || JsonField(status, "crashed") != "null") {
            ++figures.bricked;
            ADD_FAILURE() << "the handheld is out of order after the first attempt: " << status << "\n"
                          << output;
            continue;
        }
        if (first == 0) {
            ++figures.firstSucceeded;
            const bool holds = operation == Operation::kBackup
                                   ? WholeBackupOf(saved + "/rom.ris", kA02)
                                   : RunsRom(operation == Operation::kUpdate ? kA03 : kA02);
            if (!holds) {
                ++figures.falseSuccesses;
                ADD_FAILURE() << "nuva-flash said done, but it was not:\n" << output;
            }
        } else if (isPull) {
            ++figures.pullsEndingTheRun;
        }
        if (operation == Operation::kBackup && first != 0 && !fs::is_empty(saved)) {
            ++figures.partialBackupsLookingComplete;
            ADD_FAILURE() << "a failed backup left " << fs::directory_iterator(saved)->path() << "\n"
                          << output;
        }

        const std::string firstOutput = output;
        // The cable back in, and the operation again: towards the ROM the
        // handheld does not run now, so that a first attempt that did its
        // work does not make the second one a refusal.
        Replug();
        ++figures.secondAttempts;
        std::vector<std::string> again;
        ImageSpec expected = kA02;
        const bool runsA03 = RomIdentity() == Identity(kA03);
        switch (operation) {
            case Operation::kUpdate:
                again = runsA03 ? std::vector<std::string>{"update", "--force"}
                                : std::vector<std::string>{"update"};
                installation = runsA03 ? older_ : demo;
                expected = runsA03 ? kA02 : kA03;
                break;
            case Operation::kBackup:
                again = {"backup", saved + "/again.ris"};
                break;
            case Operation::kRestore:
                again = {"restore", runsA03 ? ris02_ : ris03_};
                expected = runsA03 ? kA02 : kA03;
                break;
        }
        again.insert(again.end(), tail.begin(), tail.end());
        const int second = Attempt(installation, again, "", output);
        Settle();
        const bool holds =
            operation == Operation::kBackup ? WholeBackupOf(saved + "/again.ris", kA02) : RunsRom(expected);
        if (second == 0 && holds) {
            ++figures.secondSucceeded;
        } else {
            ADD_FAILURE() << "the second attempt failed (" << second << "):\n" << output << handheld_->Log();
        }
        // NUVA_FAULT_VERBOSE: what both attempts said and the handheld's
        // log, for a trial chased on its own.
        if (::getenv("NUVA_FAULT_VERBOSE") != nullptr) {
            std::cout << "first:\n" << firstOutput << "second:\n" << output << handheld_->Log();
        }
        fs::remove_all(saved);
        // Where a slow or failing matrix spends its time, trial by trial.
        std::cout << "trial " << index << " (" << trial.name << "): first " << first << ", second " << second
                  << ", "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                           started)
                         .count()
                  << " ms" << std::endl;
    }
    return figures;
}

int64_t FileBytes(const std::string& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? 0 : static_cast<int64_t>(size);
}

// What one run carries over the cable besides the ROM: the agent library
// (and for runs that write, the flasher and the "Advanced" filler).
int64_t CarriedBesidesTheRom(bool writes) {
    const std::string demo = NUVA_DEMO_INSTALL_DIR;
    int64_t bytes = FileBytes(demo + "/NUVA7INVOKE.DLL");
    if (writes) {
        bytes += FileBytes(demo + "/Reflash.exe") + nuva::kFillerBytes;
    }
    return bytes;
}

std::vector<Trial> Matrix(bool writes, const std::string& progressText, int& pulls) {
    // An update and a restore check the handheld on a connection of their
    // own and copy on a second one; a backup does all on one.
    std::vector<Trial> trials =
        CablePullTrials(k2003Bytes + CarriedBesidesTheRom(writes), kPulls, {progressText}, writes ? 2 : 1);
    pulls = static_cast<int>(trials.size());
    // A file the run copies, changed on the handheld once copied: a part
    // (each is confirmed by the handheld's sum), or for a backup the agent
    // library itself.
    const std::vector<Trial> faults =
        InjectedFaultTrials(writes, writes ? "\\TEMP\\1" : "\\Windows\\NUVA7INVOKE.DLL");
    trials.insert(trials.end(), faults.begin(), faults.end());
    return trials;
}

void ExpectClean(const Figures& figures) {
    EXPECT_EQ(figures.falseSuccesses, 0);
    EXPECT_EQ(figures.partialBackupsLookingComplete, 0);
    EXPECT_EQ(figures.bricked, 0);
    EXPECT_EQ(figures.secondSucceeded, figures.trials);
    if (ChosenTrials() != nullptr) {
        return;  // a few trials chosen by hand: no share of the plan to check
    }
    EXPECT_GT(figures.pullsArmed, 0);
    EXPECT_GT(figures.faults, 0);
    // Most pulls must have ended a run, or they missed it.
    EXPECT_GE(figures.pullsEndingTheRun, figures.pullsArmed * 3 / 4);
}

// The chunk's number is the test's parameter.
class FaultMatrixChunk : public FaultMatrix, public ::testing::WithParamInterface<int> {
  protected:
    void Run(Operation operation, const std::string& name, bool writes, const std::string& progressText) {
        int pulls = 0;
        const std::vector<Trial> trials = Matrix(writes, progressText, pulls);
        ASSERT_GE(pulls, kPulls + 1);
        const Figures figures = RunTrials(operation, trials, pulls, GetParam());
        Record(name + "_" + std::to_string(GetParam()), figures);
        ExpectClean(figures);
    }
};

TEST_P(FaultMatrixChunk, Update) {
    older_ = MakeInstallation("older", kA02, kA02Basic);
    Run(Operation::kUpdate, "update", true, "Copying files...");
}

TEST_P(FaultMatrixChunk, Backup) {
    Run(Operation::kBackup, "backup", false, "Copying files and saving ROM image");
}

TEST_P(FaultMatrixChunk, Restore) {
    // Backups of both ROMs, from handhelds of the same identity as every
    // trial's.
    std::string output;
    fs::create_directories(Path("backups"));
    ris02_ = Path("backups/A02.RIS");
    ris03_ = Path("backups/A03.RIS");
    for (const auto& [spec, file] : {std::pair{kA02, ris02_}, std::pair{kA03, ris03_}}) {
        FreshHandheld(FactoryRomOf(spec));
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_EQ(RunFlash(DemoInstallation(), {"backup", file, "--yes"}, output), 0) << output;
        ASSERT_TRUE(WholeBackupOf(file, spec));
    }
    Run(Operation::kRestore, "restore", true, "ROM Restore process in progress...");
}

INSTANTIATE_TEST_SUITE_P(Chunk, FaultMatrixChunk, ::testing::Range(0, kChunks));

TEST(FaultPlan, PullsAreSpreadOverTheWholeRunAndTheFaultsCoverEveryKind) {
    constexpr int64_t kTotal = 32 * 1024 * 1024;
    const std::vector<int64_t> moments = PullMoments(kTotal, kPulls);
    ASSERT_EQ(moments.size(), static_cast<size_t>(kPulls));
    EXPECT_TRUE(std::is_sorted(moments.begin(), moments.end()));
    EXPECT_EQ(std::adjacent_find(moments.begin(), moments.end()), moments.end());
    EXPECT_GT(moments.front(), 0);
    EXPECT_LT(moments.front(), 1024);            // in the greeting
    EXPECT_LT(moments.back(), kTotal);           // before the run's end
    EXPECT_GT(moments.back(), kTotal * 9 / 10);  // and near it
    // No gap wider than a twelfth of the run.
    for (size_t i = 1; i < moments.size(); ++i) {
        EXPECT_LE(moments[i] - moments[i - 1], kTotal / 12) << i;
    }
    // A short run still gets distinct moments inside it.
    for (int64_t moment : PullMoments(100, kPulls)) {
        EXPECT_GT(moment, 0);
        EXPECT_LT(moment, 100);
    }

    // A run that copies on its second connection gets the greeting's
    // moments up front and the rest on the copying connection.
    const std::vector<Trial> pulls = CablePullTrials(kTotal, kPulls, {"Copying files..."}, 2);
    ASSERT_EQ(pulls.size(), static_cast<size_t>(kPulls + 1));
    for (size_t i = 0; i < pulls.size(); ++i) {
        EXPECT_EQ(pulls[i].connection, i < 3 || i == pulls.size() - 1 ? 0 : 2) << pulls[i].name;
    }
    for (const Trial& trial : CablePullTrials(kTotal, kPulls, {}, 1)) {
        EXPECT_EQ(trial.connection, 0) << trial.name;
    }

    std::set<std::string> kinds;
    for (const Trial& trial : InjectedFaultTrials(true, "\\TEMP\\1")) {
        ASSERT_GE(trial.armed.size(), 2u);
        kinds.insert(trial.armed[1] == "flash" ? trial.armed[2] : trial.armed[1]);
    }
    for (const char* kind : {"write-fail", "corrupt", "agent-fail", "version-fail", "erase-error",
                             "program-error", "locked", "stuck", "slow-erase", "slow-program"}) {
        EXPECT_EQ(kinds.count(kind), 1u) << kind;
    }
    for (const Trial& trial : InjectedFaultTrials(false, "\\TEMP\\1")) {
        EXPECT_NE(trial.armed[1], "flash") << "a backup writes no flash: " << trial.name;
    }

    // Every test case of every operation gets cable pulls and injected
    // faults, whatever the number of cases.
    for (bool writes : {true, false}) {
        int pullTrials = 0;
        const std::vector<Trial> trials = Matrix(writes, "Copying files...", pullTrials);
        for (int chunk = 0; chunk < kChunks; ++chunk) {
            int pullsDealt = 0;
            int faultsDealt = 0;
            for (int index = 1; index <= static_cast<int>(trials.size()); ++index) {
                if (InChunk(index, chunk)) {
                    ++(index <= pullTrials ? pullsDealt : faultsDealt);
                }
            }
            EXPECT_GT(pullsDealt, 0) << "case " << chunk
                                     << (writes ? " of a run that writes" : " of a backup");
            EXPECT_GT(faultsDealt, 0)
                << "case " << chunk << (writes ? " of a run that writes" : " of a backup");
        }
    }
}

}  // namespace
}  // namespace fault_matrix
