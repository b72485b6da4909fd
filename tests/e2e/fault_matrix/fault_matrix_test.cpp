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
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>

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
        handheld_.reset();
        if (!current_.empty()) {
            fs::remove_all(Path(current_));
        }
        current_ = "hh-" + std::to_string(++started_);
        handheld_ = std::make_unique<nuva::testing::HandheldProcess>(NUVA_HANDHELD_PROGRAM, Path(current_));
        std::string error;
        ASSERT_TRUE(handheld_->Start(rom, {}, {{"NUVA_TIME_SCALE", kScale}}, error)) << error;
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
            90s, 20ms);
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
    // shows (and put back once the program ended). The exit code; the
    // output in `output`.
    int Attempt(const std::string& installation, const std::vector<std::string>& args,
                const std::string& unplugAt, std::string& output) {
        std::unique_ptr<flash_e2e::FlashRun> run = Flash(installation, args);
        bool unplugged = false;
        if (!unplugAt.empty() && run->WaitFor(unplugAt)) {
            Ctl({"unplug"});
            unplugged = true;
        }
        const int code = run->Finish(std::chrono::seconds(180));
        output = run->Output();
        if (unplugged) {
            Ctl({"plug"});
        }
        return code;
    }

    void Record(const std::string& operation, const Figures& figures) {
        const std::string line = SummaryLine(operation, figures);
        std::cout << line << std::endl;
        RecordProperty("figures", line);
        std::ofstream(std::string(NUVA_FIGURES_DIR) + "/fault_matrix_" + operation + ".txt") << line << "\n";
    }

    // Runs every trial of `operation` and returns the figures.
    Figures RunTrials(Operation operation, const std::vector<Trial>& trials, int pulls);

    std::string older_;  // an installation with the A02 images
    std::string ris02_;  // backups of this model's handheld (all trials share its identity)
    std::string ris03_;
    std::string current_;
    int started_ = 0;
    Bytes contents02_;
    Bytes contents03_;
};

Figures FaultMatrix::RunTrials(Operation operation, const std::vector<Trial>& trials, int pulls) {
    Figures figures;
    figures.pullsArmed = pulls;
    const std::string demo = DemoInstallation();
    // Whether the flash holds the ROM is checked here, byte for byte, rather
    // than by nuva-flash's own read-back, which a backup does not take.
    std::vector<std::string> tail = {"--yes", "--restart-timeout", kRestartTimeout};
    if (operation != Operation::kBackup) {
        tail.push_back("--no-verify");
    }
    int index = 0;
    for (const Trial& trial : trials) {
        SCOPED_TRACE(trial.name);
        ++index;
        ++figures.trials;
        const bool isPull = index <= pulls;
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
        if (!trial.armed.empty()) {
            Ctl(trial.armed);
        }
        std::string output;
        const int first = Attempt(installation, args, trial.unplugAt, output);
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
        fs::remove_all(saved);
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
    std::vector<Trial> trials =
        CablePullTrials(k2003Bytes + CarriedBesidesTheRom(writes), kPulls, {progressText});
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
    EXPECT_GE(figures.pullsArmed, kPulls + 1);
    EXPECT_EQ(figures.falseSuccesses, 0);
    EXPECT_EQ(figures.partialBackupsLookingComplete, 0);
    EXPECT_EQ(figures.bricked, 0);
    EXPECT_EQ(figures.secondSucceeded, figures.trials);
    // Most pulls must have ended a run, or they missed it.
    EXPECT_GE(figures.pullsEndingTheRun, kPulls * 3 / 4);
}

TEST_F(FaultMatrix, Update) {
    older_ = MakeInstallation("older", kA02, kA02Basic);
    int pulls = 0;
    const std::vector<Trial> trials = Matrix(true, "Copying files...", pulls);
    const Figures figures = RunTrials(Operation::kUpdate, trials, pulls);
    Record("update", figures);
    ExpectClean(figures);
}

TEST_F(FaultMatrix, Backup) {
    int pulls = 0;
    const std::vector<Trial> trials = Matrix(false, "Copying files and saving ROM image", pulls);
    const Figures figures = RunTrials(Operation::kBackup, trials, pulls);
    Record("backup", figures);
    ExpectClean(figures);
}

TEST_F(FaultMatrix, Restore) {
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
    int pulls = 0;
    const std::vector<Trial> trials = Matrix(true, "ROM Restore process in progress...", pulls);
    const Figures figures = RunTrials(Operation::kRestore, trials, pulls);
    Record("restore", figures);
    ExpectClean(figures);
}

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
}

}  // namespace
}  // namespace fault_matrix
