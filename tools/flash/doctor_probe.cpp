#include "tools/flash/doctor_probe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "formats/device_info.h"
#include "formats/text_encoding.h"
#include "platform/cable/endpoint.h"
#include "platform/cable/socket.h"
#include "setup/device/backup_space.h"
#include "setup/device/device_texts.h"
#include "setup/device/image_catalogue.h"
#include "setup/device/image_files.h"
#include "setup/device/info_texts.h"
#include "setup/link/link_monitor.h"
#include "setup/resources/profile.h"
#include "setup/resources/settings.h"

extern char** environ;

namespace nuva {
namespace {

// The control program's status is a few hundred bytes; anything much
// longer is not one.
constexpr size_t kMaxStatusBytes = 64 * 1024;
constexpr std::chrono::seconds kCtlTimeLimit{10};

std::string ClassName(uint32_t memoryConfig) {
    return memoryConfig == kMemoryConfigAdvanced ? "Advanced" : "Basic";
}

// Runs `program args...` and collects its standard output, within the time
// limit. False with `error` when it cannot be run or does not end in time.
bool RunAndRead(const std::string& program, const std::vector<std::string>& args, std::string& out,
                int& exitCode, std::string& error) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    int spawned = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        error = "cannot run " + program + ": " + std::strerror(spawned);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kCtlTimeLimit;
    bool complete = false;
    char buffer[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd p{pipeFds[0], POLLIN, 0};
        int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            break;
        }
        ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            complete = true;
            break;
        }
        if (out.size() + static_cast<size_t>(got) > kMaxStatusBytes) {
            break;
        }
        out.append(buffer, static_cast<size_t>(got));
    }
    ::close(pipeFds[0]);
    if (!complete) {
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!complete) {
        error = program + " did not answer within " + std::to_string(kCtlTimeLimit.count()) + " s";
        return false;
    }
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

ImageFacts ProbeImage(const std::string& folder, bool highModel) {
    ImageFacts image;
    image.className = highModel ? "Advanced" : "Basic";
    image.key = highModel ? "HIMODEL" : "LOWMODEL";
    image.named = ReadProfileString(folder + "setup.ini", "Image", image.key);
    if (image.named.empty()) {
        return image;
    }
    image.path = InstallationFile(folder, image.named);
    std::error_code ec;
    image.present = std::filesystem::is_regular_file(image.path, ec);
    if (!image.present) {
        return image;
    }
    ImageHeader header;
    image.headerAccepted = CheckImageFile(image.path, header) != 0;
    if (!image.headerAccepted) {
        return image;
    }
    image.rom = header.RomName() + " (" + std::string(header.DateCode()) + ")";
    InstalledImageFiles files;
    const ContentsSum what{image.path, header.ByteCount(), header.ByteSumField(), true};
    const SumOutcome outcome = SumContents(files, what);
    image.sumRight = SumMatches(what, outcome);
    if (outcome.result != kResultOk) {
        image.sumProblem = "its contents cannot be read whole";
    } else if (what.count != 0 && outcome.sum != what.expected) {
        image.sumProblem = "its contents do not add up to the sum its header records";
    } else if (outcome.identity != RomIdentityError::kNone) {
        image.sumProblem = "its contents do not match the ROM identity block they carry";
    }
    return image;
}

}  // namespace

void ProbeFolder(const std::string& folder, bool& exists, bool& writable) {
    std::error_code ec;
    exists = std::filesystem::is_directory(folder, ec);
    writable = exists && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

EndpointFacts ProbeEndpoint() {
    EndpointFacts facts;
    if (const char* variable = std::getenv("NUVA_LINK")) {
        facts.variable = variable;
    }
    cable::Endpoint endpoint;
    std::string error;
    if (!cable::EndpointFromEnvironment(false, endpoint, error)) {
        facts.parseError = error;
        return facts;
    }
    facts.parsed = true;
    facts.endpoint = endpoint.ToString();
    facts.isUnix = endpoint.kind == cable::Endpoint::Kind::kUnix;
    if (facts.isUnix) {
        struct stat info {};
        if (::lstat(endpoint.path.c_str(), &info) != 0) {
            return facts;
        }
        facts.exists = true;
        facts.isSocket = S_ISSOCK(info.st_mode);
        facts.ownedByUser = info.st_uid == ::getuid();
        facts.mode = info.st_mode & 07777u;
        // The handheld makes its socket 0600; without the owner's read and
        // write bits it is unusable for its owner even where a privileged
        // user could still get through.
        facts.reachable = ::access(endpoint.path.c_str(), R_OK | W_OK) == 0 && (facts.mode & 0600u) == 0600u;
        if (!facts.isSocket || !facts.ownedByUser || !facts.reachable) {
            return facts;
        }
    }
    bool foreign = false;
    errno = 0;
    cable::UniqueFd fd = cable::ConnectTo(endpoint, error, &foreign);
    const int connectError = errno;
    if (fd.Valid()) {
        facts.listen = EndpointFacts::Listen::kListening;
    } else if (foreign) {
        facts.listen = EndpointFacts::Listen::kForeign;
    } else if (connectError == EACCES || connectError == EPERM) {
        facts.listen = EndpointFacts::Listen::kDenied;
    } else {
        facts.listen = EndpointFacts::Listen::kNobody;
    }
    facts.listenError = error;
    return facts;
}

HandheldFacts ProbeHandheld(HandheldPort& port, std::chrono::nanoseconds wait) {
    HandheldFacts facts;
    if (StartLinkInit() != 0) {
        return facts;
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!port.IsConnected() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    facts.answered = port.IsConnected();
    if (facts.answered) {
        facts.agentInstalled = port.InstallAgent() == 0;
        DeviceInfo info;
        if (facts.agentInstalled && port.QueryDeviceInfo(&info) == 0) {
            facts.infoRead = true;
            facts.supported = info.Supported != 0;
            facts.acOnline = info.AcOnline != 0;
            if (info.BatteryPercent <= 100) {
                facts.batteryPercent = info.BatteryPercent;
            }
            facts.rom =
                Utf8FromUtf16(FieldText(info.RomVersion)) + " (" + RomDateCode(info.PlatformInfo) + ")";
            facts.memoryClass = ClassName(info.MemoryConfig);
        }
    }
    StopLinkInit();
    return facts;
}

EmulatorFacts ProbeEmulator(const std::string& stateDir, const std::string& installFolder) {
    EmulatorFacts facts;
    facts.stateDir = stateDir;
    if (stateDir.empty()) {
        return facts;
    }
    std::string program = installFolder + "nuva-handheld";
    if (::access(program.c_str(), X_OK) != 0) {
        program = "nuva-handheld";  // from PATH
    }
    std::string out;
    int exitCode = -1;
    if (!RunAndRead(program, {"ctl", "--state", stateDir, "status", "--json"}, out, exitCode, facts.error)) {
        return facts;
    }
    if (exitCode != 0) {
        facts.error = "its control socket does not answer";
        return facts;
    }
    std::string error;
    if (!EmulatorFactsFromStatus(out, facts, error)) {
        facts.reached = false;
        facts.error = "its status cannot be read: " + error;
    }
    return facts;
}

InstallationFacts ProbeInstallation(const std::string& folder) {
    InstallationFacts facts;
    facts.folder = folder;
    facts.iniReadable = ::access((folder + "setup.ini").c_str(), R_OK) == 0;
    facts.images.push_back(ProbeImage(folder, true));
    facts.images.push_back(ProbeImage(folder, false));
    std::error_code ec;
    facts.agentPath = folder + "NUVA7INVOKE.DLL";
    facts.agentPresent = std::filesystem::is_regular_file(facts.agentPath, ec);
    facts.flasherPath = folder + "Reflash.exe";
    facts.flasherPresent = std::filesystem::is_regular_file(facts.flasherPath, ec);
    return facts;
}

SpaceFacts ProbeSpace(const std::string& folder) {
    SpaceFacts facts;
    facts.folder = folder;
    ProbeFolder(folder, facts.exists, facts.writable);
    facts.enough = facts.exists && EnoughSpaceForBackupAt(folder);
    return facts;
}

}  // namespace nuva
