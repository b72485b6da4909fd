#include "tests/support/handheld_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace nuva::testing {
namespace {

std::vector<char*> Argv(std::vector<std::string>& args) {
    std::vector<char*> out;
    for (auto& a : args)
        out.push_back(a.data());
    out.push_back(nullptr);
    return out;
}

// The calling process's environment with `extra` set over it.
std::vector<std::string> Environment(const std::map<std::string, std::string>& extra) {
    std::vector<std::string> out;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        if (extra.count(name) == 0)
            out.push_back(entry);
    }
    for (const auto& [name, value] : extra)
        out.push_back(name + "=" + value);
    return out;
}

// Reads what `fd` gives until it closes or `until` appears; false when time
// ran out first.
bool ReadUntil(int fd, const std::string& until, std::string& text, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    char buffer[4096];
    while (until.empty() || text.find(until) == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return until.empty();
        text.append(buffer, static_cast<size_t>(got));
    }
    return true;
}

}  // namespace

CtlResult RunProgram(const std::string& program, const std::vector<std::string>& args) {
    CtlResult result;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    auto argv = Argv(all);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned == 0) {
        ReadUntil(pipeFds[0], "", result.out, std::chrono::minutes(5));
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ::close(pipeFds[0]);
    return result;
}

HandheldProcess::HandheldProcess(std::string program, std::string folder)
    : program_(std::move(program)), folder_(std::move(folder)) {
    std::filesystem::create_directories(folder_);
    state_ = folder_ + "/state";
    endpoint_ = "unix:" + folder_ + "/link";
}

HandheldProcess::~HandheldProcess() {
    Stop();
}

bool HandheldProcess::Start(const std::string& romImage, const std::vector<std::string>& options,
                            const std::map<std::string, std::string>& environment, std::string& error) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = "no pipe";
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const std::string logPath = folder_ + "/handheld.log";
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);

    std::vector<std::string> args{program_, "--state", state_, "--rom", romImage};
    args.insert(args.end(), options.begin(), options.end());
    auto argv = Argv(args);
    std::map<std::string, std::string> env = environment;
    env["NUVA_LINK"] = endpoint_;
    std::vector<std::string> envStrings = Environment(env);
    auto envp = Argv(envStrings);

    const int spawned = posix_spawn(&pid_, program_.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        pid_ = -1;
        error = "cannot start " + program_ + ": " + std::strerror(spawned);
        return false;
    }
    std::string said;
    const bool up = ReadUntil(pipeFds[0], "running;", said, std::chrono::seconds(60));
    ::close(pipeFds[0]);
    if (!up) {
        error = "the handheld did not come up: " + said + Log();
        Stop();
        return false;
    }
    return true;
}

CtlResult HandheldProcess::Ctl(const std::vector<std::string>& args) const {
    std::vector<std::string> all{"ctl", "--state", state_};
    all.insert(all.end(), args.begin(), args.end());
    return RunProgram(program_, all);
}

void HandheldProcess::Stop() {
    if (pid_ <= 0)
        return;
    Ctl({"quit"});
    int status = 0;
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

void HandheldProcess::Discard() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

std::string HandheldProcess::Log() const {
    std::ifstream in(folder_ + "/handheld.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace nuva::testing
