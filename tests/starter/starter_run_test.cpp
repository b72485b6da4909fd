// The built Starter, run from a laid-out installation folder: a recorder,
// under the program name its setup.ini gives, writes down how it was started.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "setup/resources/settings.h"
#include "tests/support/temp_folder.h"

extern char** environ;

namespace nuva {
namespace {

using nuva::testing::TempFolder;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Generous, for a loaded machine; a passing run takes milliseconds.
constexpr auto kStartBound = std::chrono::seconds(20);
// How long a start that should not happen is given to show up anyway.
constexpr auto kNothingBound = std::chrono::milliseconds(500);
constexpr auto kPoll = std::chrono::milliseconds(5);

bool WaitUntil(const fs::path& file, Clock::duration bound) {
    const auto deadline = Clock::now() + bound;
    while (!fs::exists(file)) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

std::vector<std::string> ReadLines(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// An installation folder holding a copy of Starter (a link would make it
// find the build folder as its own).
class Installation {
  public:
    explicit Installation(const std::string& below = "") : folder_(temp_.path() + below) {
        fs::create_directories(folder_);
        fs::copy_file(NUVA_STARTER_PROGRAM, folder_ + "Starter");
    }

    const std::string& folder() const { return folder_; }
    std::string Starter() const { return folder_ + "Starter"; }

    // Puts the recorder at `relative` ('/' separated); returns its folder.
    std::string PlaceRecorder(const std::string& relative) const {
        fs::path path = fs::path(folder_) / relative;
        fs::create_directories(path.parent_path());
        fs::copy_file(NUVA_STARTER_RECORDER, path, fs::copy_options::overwrite_existing);
        return path.parent_path().string() + "/";
    }
    void WriteSettings(const std::string& contents) const {
        std::ofstream(folder_ + "setup.ini", std::ios::binary | std::ios::trunc) << contents;
    }

  private:
    TempFolder temp_;
    std::string folder_;
};

struct StarterExit {
    bool ended = false;  // within the bound, by itself
    int status = 0;
};

// Runs `program` with no arguments from `currentFolder`, with `extraEnv`
// ("NAME=value") added to this process's environment, and waits a bounded
// time for it to end.
StarterExit RunStarter(const std::string& program, const std::string& currentFolder,
                       const std::vector<std::string>& extraEnv = {}) {
    std::vector<std::string> envText(extraEnv);
    for (char** e = environ; *e != nullptr; ++e) {
        envText.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (std::string& entry : envText) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string programCopy = program;
    char* argv[] = {programCopy.data(), nullptr};

    StarterExit result;
    pid_t pid = fork();
    if (pid < 0) {
        return result;
    }
    if (pid == 0) {
        if (chdir(currentFolder.c_str()) == 0) {
            execve(argv[0], argv, envp.data());
        }
        _exit(127);
    }
    const auto deadline = Clock::now() + kStartBound;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return result;
        }
        std::this_thread::sleep_for(kPoll);
    }
    result.ended = true;
    result.status = status;
    return result;
}

void ExpectEndedWithZero(const StarterExit& exit) {
    ASSERT_TRUE(exit.ended) << "Starter did not end by itself";
    ASSERT_TRUE(WIFEXITED(exit.status)) << "status " << exit.status;
    EXPECT_EQ(WEXITSTATUS(exit.status), 0);
}

TEST(StarterRun, StartsTheMainProgramOfItsOwnFolderWithTheLanguage) {
    Installation install("Brel Nuva/Q7  Tools/");
    const std::string recorded = install.PlaceRecorder("Setup");
    install.WriteSettings("[Setting]\r\nMainProgram=Setup\r\nLanguage=FR\r\n");
    // The current folder has settings of its own, which are not Starter's.
    TempFolder elsewhere;
    elsewhere.Write("setup.ini", "[Setting]\nMainProgram=Setup\nLanguage=IT\n");
    // A descriptor open without close-on-exec reaches Starter...
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);

    StarterExit exit = RunStarter(install.Starter(), elsewhere.path());
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    ExpectEndedWithZero(exit);

    ASSERT_TRUE(WaitUntil(recorded + "arguments.txt", kStartBound));
    std::vector<std::string> arguments = ReadLines(recorded + "arguments.txt");
    EXPECT_EQ(arguments, (std::vector<std::string>{install.folder() + "Setup", "/language:FR"}));
    // ...but not the program it starts, which runs in the caller's folder.
    std::vector<std::string> surroundings = ReadLines(recorded + "surroundings.txt");
    ASSERT_EQ(surroundings.size(), 2u);
    EXPECT_EQ(surroundings[0] + "/", "folder=" + elsewhere.path());
    std::istringstream descriptors(surroundings[1].substr(surroundings[1].find('=') + 1));
    for (int fd; descriptors >> fd;) {
        EXPECT_LE(fd, STDERR_FILENO) << "handed descriptor " << fd;
    }

    // Setup, reading that command line, chooses French and may downgrade.
    std::vector<const char*> argv;
    for (const std::string& a : arguments) {
        argv.push_back(a.c_str());
    }
    CommandLineOptions options = ParseOptions(JoinCommandLine(static_cast<int>(argv.size()), argv.data()));
    EXPECT_EQ(options.languageId, 0x040C);
    EXPECT_EQ(options.force, 1);
}

TEST(StarterRun, MainProgramInASubfolderWrittenWithBackslashes) {
    Installation install;
    const std::string recorded = install.PlaceRecorder("programs/nuva setup/Setup");
    install.WriteSettings("[Setting]\nMainProgram=programs\\nuva setup\\Setup\nLanguage=EN\n");

    ExpectEndedWithZero(RunStarter(install.Starter(), install.folder()));
    ASSERT_TRUE(WaitUntil(recorded + "arguments.txt", kStartBound));
    EXPECT_EQ(ReadLines(recorded + "arguments.txt"),
              (std::vector<std::string>{install.folder() + "programs/nuva setup/Setup", "/language:EN"}));
}

TEST(StarterRun, EndsWithoutWaitingForTheProgram) {
    Installation install;
    const std::string recorded = install.PlaceRecorder("Setup");
    install.WriteSettings("[Setting]\nMainProgram=Setup\nLanguage=SC\n");
    const std::string release = install.folder() + "release";

    // The recorder stays until released, far longer than Starter may take.
    ExpectEndedWithZero(RunStarter(install.Starter(), install.folder(), {"NUVA_RECORDER_HOLD=" + release}));
    ASSERT_TRUE(WaitUntil(recorded + "arguments.txt", kStartBound));
    EXPECT_FALSE(fs::exists(recorded + "released.txt"));
    std::ofstream(release) << "go\n";
    EXPECT_TRUE(WaitUntil(recorded + "released.txt", kStartBound));
}

TEST(StarterRun, StartsNothingWithoutBothSettingsAndAlwaysEndsWithZero) {
    Installation install;
    const std::string recorded = install.PlaceRecorder("Setup");
    const fs::path arguments = recorded + "arguments.txt";
    struct Case {
        const char* what;
        std::string settings;  // "" for no setup.ini at all
    };
    const std::vector<Case> cases = {
        {"no setup.ini", ""},
        {"no Language", "[Setting]\nMainProgram=Setup\n"},
        {"empty Language", "[Setting]\nMainProgram=Setup\nLanguage=\n"},
        {"no MainProgram", "[Setting]\nLanguage=FR\n"},
        {"empty MainProgram", "[Setting]\nMainProgram=\nLanguage=FR\n"},
        {"garbage", std::string("\xff\xfe\0[Setting\x1a\nMainProgram=\nLanguage", 34)},
        {"missing program", "[Setting]\nMainProgram=Missing\nLanguage=FR\n"},
        {"not a program", "[Setting]\nMainProgram=setup.ini\nLanguage=FR\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(install.folder() + "setup.ini");
        if (!c.settings.empty()) {
            install.WriteSettings(c.settings);
        }
        ExpectEndedWithZero(RunStarter(install.Starter(), install.folder()));
        EXPECT_FALSE(WaitUntil(arguments, kNothingBound));
    }
    // The same installation with both keys does start, so nothing above was
    // missed for want of time.
    install.WriteSettings("[Setting]\nMainProgram=Setup\nLanguage=IT\n");
    ExpectEndedWithZero(RunStarter(install.Starter(), install.folder()));
    ASSERT_TRUE(WaitUntil(arguments, kStartBound));
    EXPECT_EQ(ReadLines(arguments), (std::vector<std::string>{install.folder() + "Setup", "/language:IT"}));
}

}  // namespace
}  // namespace nuva
