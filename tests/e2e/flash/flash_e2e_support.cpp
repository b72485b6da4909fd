#include "tests/e2e/flash/flash_e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>

#include "formats/image_header.h"
#include "formats/update_handoff.h"
#include "handheld-sim/machine/psm_storage.h"

extern char** environ;

namespace flash_e2e {

using namespace nuva;
namespace fs = std::filesystem;

bool WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string JsonField(const std::string& json, const std::string& key) {
    const std::string tag = "\"" + key + "\":";
    size_t at = json.find(tag);
    if (at == std::string::npos) {
        return "";
    }
    at += tag.size();
    if (at < json.size() && json[at] == '"') {
        size_t end = json.find('"', at + 1);
        return end == std::string::npos ? "" : json.substr(at + 1, end - at - 1);
    }
    size_t end = json.find_first_of(",}", at);
    return json.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

imagegen::ImageSpec Rom(imagegen::OsFamily os, const char* date, const char* name, const char* language,
                        imagegen::ModelClass modelClass) {
    imagegen::ImageSpec spec;
    spec.os = os;
    spec.dateCode = date;
    spec.romName = name;
    spec.language = language;
    spec.modelClass = modelClass;
    return spec;
}

FlashRun::FlashRun(const std::string& program, const std::vector<std::string>& args,
                   const std::string& cableEndpoint, const std::string& typed) {
    int out[2];
    int in[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "no pipes";
        closed_ = true;
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "NUVA_LINK=", 10) != 0)
            env.emplace_back(*e);
    }
    env.push_back("NUVA_LINK=" + cableEndpoint);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    int spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(in[0]);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(spawned);
        pid_ = -1;
        ::close(out[0]);
        ::close(in[1]);
        closed_ = true;
        return;
    }
    // What was typed, then the end of input: nobody is at the keyboard.
    if (!typed.empty() && ::write(in[1], typed.data(), typed.size()) != static_cast<ssize_t>(typed.size())) {
        ADD_FAILURE() << "cannot type into nuva-flash";
    }
    ::close(in[1]);
    reader_ = std::thread([this, fd = out[0]] { Collect(fd); });
}

void FlashRun::Collect(int fd) {
    char buffer[4096];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        std::lock_guard lock(mutex_);
        if (got <= 0) {
            closed_ = true;
            changed_.notify_all();
            break;
        }
        output_.append(buffer, static_cast<size_t>(got));
        changed_.notify_all();
    }
    ::close(fd);
}

FlashRun::~FlashRun() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    if (reader_.joinable())
        reader_.join();
}

bool FlashRun::WaitFor(const std::string& text, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
        return output_.find(text) != std::string::npos || closed_;
    }) && output_.find(text) != std::string::npos;
}

int FlashRun::Finish(std::chrono::milliseconds limit) {
    if (pid_ > 0) {
        const auto end = std::chrono::steady_clock::now() + limit;
        int status = 0;
        pid_t ended = 0;
        while ((ended = ::waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (ended != pid_) {
            ADD_FAILURE() << "nuva-flash did not end in time:\n" << Output();
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            exitCode_ = -1;
        } else {
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        pid_ = -1;
    }
    if (reader_.joinable())
        reader_.join();
    return exitCode_;
}

bool FlashRun::Running() const {
    if (pid_ <= 0)
        return false;
    siginfo_t info{};
    // Looks without collecting: the exit code stays for Finish.
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

std::string FlashRun::Output() const {
    std::lock_guard lock(mutex_);
    return output_;
}

void FlashE2E::SetUp() {
    // ctest sets the scale; a run by hand gets the same.
    ::setenv("NUVA_TIME_SCALE", "0.01", 0);
    folder_ = std::make_unique<nuva::testing::TempFolder>("nuva-flash-e2e");
}

void FlashE2E::TearDown() {
    handheld_.reset();
    folder_.reset();
}

std::string FlashE2E::DemoInstallation() {
    return NUVA_DEMO_INSTALL_DIR;
}

std::string FlashE2E::MakeInstallation(const std::string& name, const imagegen::ImageSpec& high,
                                       const imagegen::ImageSpec& low, const std::string& extraIni) {
    const std::string dir = Path(name);
    fs::create_directories(dir + "/images");
    for (const char* file : {"nuva-flash", "NUVA7INVOKE.DLL", "Reflash.exe"}) {
        fs::copy_file(DemoInstallation() + "/" + file, dir + "/" + file,
                      fs::copy_options::overwrite_existing);
    }
    std::string detail;
    EXPECT_EQ(imagegen::WriteImageFile(high, dir + "/images/high.nb0", &detail),
              imagegen::ImageGenError::kNone)
        << detail;
    EXPECT_EQ(imagegen::WriteImageFile(low, dir + "/images/low.nb0", &detail), imagegen::ImageGenError::kNone)
        << detail;
    std::ofstream ini(dir + "/setup.ini");
    ini << "[Image]\r\nHIMODEL=images\\high.nb0\r\nLOWMODEL=images\\low.nb0\r\n" << extraIni;
    return dir;
}

std::string FlashE2E::FactoryRom(const std::string& name, const imagegen::ImageSpec& spec,
                                 const std::vector<StorageFile>& storage) {
    Bytes bytes;
    EXPECT_EQ(imagegen::MakeImageFile(spec, bytes), imagegen::ImageGenError::kNone);
    if (!storage.empty()) {
        // The flash behind the image is erased up to the built-in storage,
        // whose first cells hold the files.
        constexpr uint32_t kRegionBytes = 64 * 1024;
        const size_t regionAt = kImageHeaderSize + (sim::kPsmFlashOffset - kImageFlashOffset);
        EXPECT_LE(bytes.size(), regionAt);
        bytes.resize(regionAt + kRegionBytes, 0xFF);
        std::span<uint8_t> region(bytes.data() + regionAt, kRegionBytes);
        for (const StorageFile& file : storage) {
            EXPECT_EQ(sim::WritePsm(region, file.name, file.data), sim::PsmError::kNone);
        }
    }
    const std::string path = Path(name);
    EXPECT_TRUE(WriteFile(path, bytes));
    return path;
}

void FlashE2E::StartHandheld(const std::string& rom, const std::vector<std::string>& options) {
    handheld_ = std::make_unique<nuva::testing::HandheldProcess>(NUVA_HANDHELD_PROGRAM, Path("hh"));
    std::string error;
    ASSERT_TRUE(handheld_->Start(rom, options, {{"NUVA_TIME_SCALE", ::getenv("NUVA_TIME_SCALE")}}, error))
        << error;
}

std::unique_ptr<FlashRun> FlashE2E::Flash(const std::string& installation,
                                          const std::vector<std::string>& args, const std::string& typed) {
    return std::make_unique<FlashRun>(installation + "/nuva-flash", args,
                                      handheld_ ? handheld_->CableEndpoint() : "unix:" + Path("no-handheld"),
                                      typed);
}

int FlashE2E::RunFlash(const std::string& installation, const std::vector<std::string>& args,
                       std::string& output, const std::string& typed) {
    std::unique_ptr<FlashRun> run = Flash(installation, args, typed);
    int code = run->Finish();
    output = run->Output();
    return code;
}

nuva::testing::CtlResult FlashE2E::Ctl(const std::vector<std::string>& args) {
    nuva::testing::CtlResult result = handheld_->Ctl(args);
    EXPECT_EQ(result.exitCode, 0) << "ctl " << args.front() << ": " << result.out;
    return result;
}

std::string FlashE2E::Status() {
    return Ctl({"status", "--json"}).out;
}

std::string FlashE2E::RomIdentity() {
    std::string json = Status();
    return JsonField(json, "date_code") + " " + JsonField(json, "version") + " " +
           JsonField(json, "os_major");
}

std::string FlashE2E::Identity(const imagegen::ImageSpec& spec) {
    return spec.dateCode + " " + spec.romName + " " + std::to_string(imagegen::OsMajor(spec.os));
}

Bytes FlashE2E::DumpFlash(uint32_t offset, uint32_t length) {
    const std::string target = Path("flash.dump");
    fs::remove(target);
    Ctl({"dump-flash", target, "--offset", std::to_string(offset), "--length", std::to_string(length)});
    return ReadFile(target);
}

Bytes FlashE2E::Contents(const imagegen::ImageSpec& spec) {
    Bytes contents;
    EXPECT_EQ(imagegen::MakeContents(spec, contents), imagegen::ImageGenError::kNone);
    return contents;
}

std::vector<StorageFile> FlashE2E::StorageFiles(uint32_t flashBytes, bool& readable) {
    const Bytes region = DumpFlash(sim::kPsmFlashOffset, flashBytes - sim::kPsmFlashOffset);
    std::vector<sim::PsmFile> files;
    readable = sim::ReadPsm(region, files) == sim::PsmError::kNone;
    std::vector<StorageFile> out;
    for (sim::PsmFile& file : files)
        out.push_back({file.name, file.data});
    return out;
}

}  // namespace flash_e2e
