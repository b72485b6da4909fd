// nuva-handheld as a process: made factory-new in a temporary folder, served
// on a temporary unix endpoint, driven by `ctl` and by the desktop's RAPI
// library, ended and started again from its saved state.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "formats/le.h"
#include "platform/clock/clock.h"
#include "platform/rapi/rapi.h"
#include "tests/support/temp_folder.h"
#include "tools/imagegen/imagegen.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& outPath, const std::string& errPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int WaitExit(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class HandheldProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        nuva::SetTimeScale(0.01);
        state_ = dir_.Join("state");
        link_ = "unix:" + dir_.Join("link");
        setenv("NUVA_LINK", link_.c_str(), 1);
        setenv("NUVA_TIME_SCALE", "0.01", 1);
        nuva::imagegen::ImageSpec spec;
        std::string detail;
        ASSERT_EQ(nuva::imagegen::WriteImageFile(spec, dir_.Join("rom.bin"), &detail),
                  nuva::imagegen::ImageGenError::kNone)
            << detail;
    }
    void TearDown() override {
        CeRapiUninit();
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            WaitExit(pid_);
        }
    }

    pid_t Start(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {NUVA_HANDHELD_PROGRAM, "--state", state_, "--boot-time", "1"};
        args.insert(args.end(), extra.begin(), extra.end());
        return Spawn(args, dir_.Join("program.out"), dir_.Join("program.err"));
    }
    RunResult Ctl(std::vector<std::string> command, const std::string& state = "") {
        std::vector<std::string> args = {NUVA_HANDHELD_PROGRAM, "ctl", "--state",
                                         state.empty() ? state_ : state};
        args.insert(args.end(), command.begin(), command.end());
        RunResult run;
        pid_t pid = Spawn(args, dir_.Join("ctl.out"), dir_.Join("ctl.err"));
        run.exitCode = WaitExit(pid);
        run.out = ReadFile(dir_.Join("ctl.out"));
        run.err = ReadFile(dir_.Join("ctl.err"));
        return run;
    }
    // Waits for the program to answer and its handheld to have started.
    bool WaitStarted() {
        for (int i = 0; i < 2000; ++i) {
            RunResult status = Ctl({"status", "--json"});
            if (status.exitCode == 0 && status.out.find("\"started\":true") != std::string::npos &&
                status.out.find("\"link\":true") != std::string::npos) {
                return true;
            }
            nuva::ScaledSleepMs(500);
        }
        return false;
    }

    nuva::testing::TempFolder dir_{"nuva-program"};
    std::string state_;
    std::string link_;
    pid_t pid_ = -1;
};

HANDLE OpenDevice(const char16_t* path, DWORD disposition) {
    return CeCreateFile(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
}

TEST_F(HandheldProgram, ServesTheCableAndObeysCtl) {
    // Without an image there is nothing to make a handheld from.
    EXPECT_EQ(WaitExit(Start()), 2);
    EXPECT_NE(ReadFile(dir_.Join("program.err")).find("--rom IMAGE is needed"), std::string::npos);
    EXPECT_EQ(Ctl({"status"}).exitCode, 3) << "no handheld runs there";

    pid_ = Start({"--rom", dir_.Join("rom.bin")});
    ASSERT_GT(pid_, 0);
    ASSERT_TRUE(WaitStarted()) << ReadFile(dir_.Join("program.err"));
    RunResult status = Ctl({"status", "--json"});
    for (const char* key : {"\"started\":", "\"plugged\":true", "\"ac\":", "\"battery\":",
                            "\"rom\":{\"date_code\":\"04100300\"", "\"version\":\"A03\"", "\"os_major\":4",
                            "\"language_id\":", "\"memory_config\":33554944", "\"message_box\":null",
                            "\"crashed\":null", "\"running\":", "\"bricked\":null"}) {
        EXPECT_NE(status.out.find(key), std::string::npos) << key << " in " << status.out;
    }
    // A second program on the same handheld is refused.
    EXPECT_EQ(WaitExit(Start()), 1);
    EXPECT_NE(ReadFile(dir_.Join("program.err")).find("already served"), std::string::npos);

    // The desktop's side: the link, a version probe, the agent installed as
    // Setup installs it, and one of its exports called.
    ASSERT_EQ(std::async(std::launch::async, [] { return CeRapiInit(); }).get(), S_OK);
    CEOSVERSIONINFO version{};
    ASSERT_TRUE(CeGetVersionEx(&version));
    EXPECT_EQ(version.dwMajorVersion, 4u);
    std::string agent = ReadFile(NUVA_AGENT_LIBRARY);
    ASSERT_FALSE(agent.empty());
    CeDeleteFile(u"\\Windows\\NUVA7INVOKE.DLL");
    HANDLE h = OpenDevice(u"\\Windows\\NUVA7INVOKE.DLL", CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << CeGetLastError();
    for (size_t done = 0; done < agent.size(); done += 16384) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(16384, agent.size() - done)), written = 0;
        ASSERT_TRUE(CeWriteFile(h, agent.data() + done, chunk, &written, nullptr));
        ASSERT_EQ(written, chunk);
    }
    ASSERT_TRUE(CeSetEndOfFile(h));
    ASSERT_TRUE(CeCloseHandle(h));
    auto* input = static_cast<BYTE*>(LocalAlloc(LPTR, 16));
    std::memcpy(input, u"ALL", 8);
    DWORD outSize = 0;
    BYTE* out = nullptr;
    ASSERT_EQ(CeRapiInvoke(u"NUVA7INVOKE", u"FnNUVAInfo", 8, input, &outSize, &out, nullptr, 0), S_OK);
    ASSERT_EQ(outSize, 124u);
    EXPECT_EQ(nuva::LoadLe32(out), 1u) << "Supported";
    EXPECT_EQ(nuva::LoadLe32(out + 28), 0x02000200u) << "MemoryConfig";
    EXPECT_EQ(nuva::LoadLe32(out + 32), 0x04100300u) << "PlatformInfo";
    LocalFree(LocalHandle(out));

    // Files between the desktop, ctl and the cable.
    WriteFile(dir_.Join("hello.txt"), "hello, handheld");
    EXPECT_EQ(Ctl({"push", dir_.Join("hello.txt"), "\\TEMP\\hello.txt"}).exitCode, 0);
    RunResult ls = Ctl({"ls", "\\TEMP"});
    EXPECT_EQ(ls.exitCode, 0);
    EXPECT_NE(ls.out.find("15\thello.txt"), std::string::npos) << ls.out;
    h = OpenDevice(u"\\TEMP\\hello.txt", OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buffer[64] = {};
    DWORD n = 0;
    ASSERT_TRUE(CeReadFile(h, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(std::string(buffer, n), "hello, handheld");
    ASSERT_EQ(CeSetFilePointer(h, 0, nullptr, FILE_END), 15u);
    ASSERT_TRUE(CeWriteFile(h, "!", 1, &n, nullptr));
    ASSERT_TRUE(CeCloseHandle(h));
    EXPECT_EQ(Ctl({"pull", "\\TEMP\\hello.txt", dir_.Join("back.txt")}).exitCode, 0);
    EXPECT_EQ(ReadFile(dir_.Join("back.txt")), "hello, handheld!");
    RunResult missing = Ctl({"pull", "\\TEMP\\nothing", dir_.Join("nothing")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("file not found"), std::string::npos) << missing.err;
    EXPECT_FALSE(std::filesystem::exists(dir_.Join("nothing")));
    EXPECT_EQ(Ctl({"dump-flash", dir_.Join("flash.bin"), "--offset", "0x40000", "--length", "4096"}).exitCode,
              0);
    EXPECT_EQ(std::filesystem::file_size(dir_.Join("flash.bin")), 4096u);
    EXPECT_EQ(Ctl({"dump-flash", dir_.Join("flash.bin"), "--offset", "0x4000000"}).exitCode, 2);
    EXPECT_EQ(Ctl({"battery", "101"}).exitCode, 2);
    EXPECT_EQ(Ctl({"battery", "37"}).exitCode, 0);
    EXPECT_NE(Ctl({"status", "--json"}).out.find("\"battery\":37"), std::string::npos);
    EXPECT_EQ(Ctl({"fault", "corrupt", "\\TEMP\\x"}).exitCode, 2);
    EXPECT_EQ(Ctl({"fault", "flash", "stuck", "--offset", "3", "--mask", "1"}).exitCode, 2);
    EXPECT_EQ(Ctl({"fault", "flash", "busy", "--chip", "1", "--block", "5", "--ops", "1"}).exitCode, 0);
    EXPECT_EQ(Ctl({"fault", "clear"}).exitCode, 0);
    // A failed version query through ctl: the desktop sees the call fail on
    // a link that stays up.
    EXPECT_EQ(Ctl({"fault", "version-fail", "0"}).exitCode, 2);
    EXPECT_EQ(Ctl({"fault", "version-fail"}).exitCode, 2);
    EXPECT_EQ(Ctl({"fault", "version-fail", "1"}).exitCode, 0);
    EXPECT_NE(Ctl({"status", "--json"}).out.find("\"version_fail\":1}"), std::string::npos);
    EXPECT_NE(Ctl({"status"}).out.find("pending faults: version-fail 1\n"), std::string::npos);
    EXPECT_FALSE(CeGetVersionEx(&version));
    EXPECT_EQ(CeRapiGetError(), S_OK);
    EXPECT_NE(Ctl({"status", "--json"}).out.find("\"version_fail\":0}"), std::string::npos);
    EXPECT_TRUE(CeGetVersionEx(&version));
    EXPECT_EQ(Ctl({"press-ok"}).exitCode, 1) << "no message box is up";
    EXPECT_EQ(Ctl({"frobnicate"}).exitCode, 2);

    // Unplugged, the desktop's calls fail at once; plugged again, it connects.
    EXPECT_EQ(Ctl({"unplug"}).exitCode, 0);
    EXPECT_FALSE(CeGetVersionEx(&version));
    EXPECT_EQ(CeRapiGetError(), RAPI_E_LINK_DOWN);
    EXPECT_NE(Ctl({"status", "--json"}).out.find("\"plugged\":false"), std::string::npos);
    auto init = std::async(std::launch::async, [] { return CeRapiInit(); });
    EXPECT_EQ(init.wait_for(300ms), std::future_status::timeout);
    EXPECT_EQ(Ctl({"plug"}).exitCode, 0);
    ASSERT_EQ(init.wait_for(30s), std::future_status::ready);
    EXPECT_EQ(init.get(), S_OK);
    EXPECT_TRUE(CeGetVersionEx(&version));

    // A warm restart drops the link; the desktop gets it back after the boot.
    EXPECT_EQ(Ctl({"reset", "warm"}).exitCode, 0);
    auto again = std::async(std::launch::async, [] { return CeRapiInit(); });
    ASSERT_EQ(again.wait_for(30s), std::future_status::ready);
    EXPECT_EQ(again.get(), S_OK);
    EXPECT_TRUE(CeGetVersionEx(&version));

    // quit saves the handheld; started again, it still holds the files.
    EXPECT_EQ(Ctl({"quit"}).exitCode, 0);
    EXPECT_EQ(WaitExit(pid_), 0) << ReadFile(dir_.Join("program.err"));
    pid_ = Start();
    ASSERT_TRUE(WaitStarted()) << ReadFile(dir_.Join("program.err"));
    EXPECT_NE(Ctl({"ls", "\\TEMP"}).out.find("16\thello.txt"), std::string::npos);
    // and SIGTERM ends it cleanly too.
    kill(pid_, SIGTERM);
    EXPECT_EQ(WaitExit(pid_), 0);
    pid_ = -1;
}

}  // namespace
