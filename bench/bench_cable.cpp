// The cable's cost: 26 MB (an update image's size) copied raw over a unix
// socket, against the same bytes written to a file on the emulated handheld
// with CeWriteFile in 16 KB chunks, as the desktop copies image parts (the
// 100 ms pause after each chunk is the desktop's own and not measured here).
//
// The handheld is nuva-handheld run as a child process (the desktop's RAPI
// library and the handheld do not share a process), found beside this
// program in the build tree or named by NUVA_HANDHELD. The clock runs at
// scale 0, so the handheld models no waiting.
// RAPI's result macros (S_OK, INVALID_HANDLE_VALUE ...) are C casts by nature.
#pragma GCC diagnostic ignored "-Wold-style-cast"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "bench/raw_copy.h"
#include "platform/cable/socket.h"
#include "platform/clock/clock.h"
#include "platform/rapi/rapi.h"
#include "tests/support/temp_folder.h"
#include "tools/imagegen/imagegen.h"

extern char** environ;

namespace {

constexpr size_t kImageBytes = 26u * 1024 * 1024;
constexpr size_t kChunk = 16384;

std::vector<uint8_t> Payload() {
    std::vector<uint8_t> bytes(kImageBytes);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 10));
    }
    return bytes;
}

// One folder for the sockets of the whole run, removed when the run ends.
std::string Dir() {
    static const nuva::testing::TempFolder folder("nuva-bench-cable");
    return folder.path();
}

void BM_RawSocketCopy(benchmark::State& state) {
    static const std::vector<uint8_t> bytes = Payload();
    nuva::cable::Endpoint endpoint;
    std::string error;
    nuva::cable::ParseEndpoint("unix:" + Dir() + "/raw", true, endpoint, error);
    auto listener = nuva::cable::Listener::Open(endpoint, error);
    if (!listener) {
        state.SkipWithError(error.c_str());
        return;
    }
    for (auto _ : state) {
        auto sink = std::async(std::launch::async, [&] {
            std::string refused;
            nuva::cable::UniqueFd peer = listener->Accept(refused);
            std::vector<uint8_t> buffer(65536);
            size_t total = 0;
            ssize_t n;
            while ((n = recv(peer.Get(), buffer.data(), buffer.size(), 0)) > 0) {
                total += static_cast<size_t>(n);
            }
            return total;
        });
        nuva::cable::UniqueFd fd = nuva::cable::ConnectTo(endpoint, error);
        for (size_t done = 0; done < bytes.size(); done += kChunk) {
            size_t length = std::min(kChunk, bytes.size() - done);
            for (size_t sent = 0; sent < length;) {
                ssize_t n = send(fd.Get(), bytes.data() + done + sent, length - sent, MSG_NOSIGNAL);
                if (n <= 0) {
                    state.SkipWithError("the raw copy broke");
                    return;
                }
                sent += static_cast<size_t>(n);
            }
        }
        shutdown(fd.Get(), SHUT_WR);
        if (sink.get() != bytes.size()) {
            state.SkipWithError("the raw copy lost bytes");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_RawSocketCopy)->Unit(benchmark::kMillisecond)->UseRealTime();

// The handheld program for the whole run.
class Handheld {
  public:
    bool Start(std::string& error) {
        std::string program;
        if (const char* named = std::getenv("NUVA_HANDHELD")) {
            program = named;
        } else {
            program = (std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() /
                       "handheld-sim/app/nuva-handheld")
                          .string();
        }
        if (!std::filesystem::exists(program)) {
            error = "nuva-handheld not found at " + program + " (build it, or set NUVA_HANDHELD)";
            return false;
        }
        std::string detail;
        if (nuva::imagegen::WriteImageFile(nuva::imagegen::ImageSpec{}, Dir() + "/rom.bin", &detail) !=
            nuva::imagegen::ImageGenError::kNone) {
            error = "cannot make the ROM image: " + detail;
            return false;
        }
        setenv("NUVA_LINK", ("unix:" + Dir() + "/link").c_str(), 1);
        setenv("NUVA_TIME_SCALE", "0", 1);
        nuva::SetTimeScale(0);
        std::vector<std::string> args = {
            program, "--state", Dir() + "/state", "--rom", Dir() + "/rom.bin", "--boot-time", "0"};
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        // The program's own lines would interleave with the figures.
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
        int spawned = posix_spawn(&pid_, program.c_str(), &quiet, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&quiet);
        if (spawned != 0) {
            error = "cannot start " + program;
            return false;
        }
        auto init = std::async(std::launch::async, [] { return CeRapiInit(); });
        if (init.wait_for(std::chrono::seconds(60)) != std::future_status::ready || init.get() != S_OK) {
            error = "the handheld did not answer on the cable";
            return false;
        }
        return true;
    }
    ~Handheld() {
        CeRapiUninit();
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove_all(Dir());
    }

  private:
    pid_t pid_ = -1;
};

// The bytes in 16 KB chunks through the raw socket copy; its time, negative
// when it broke.
std::chrono::duration<double> RawCopy(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& kept) {
    size_t done = 0;
    return nuva::bench::RawSocketCopy(
        bytes.size(),
        [&]() -> std::optional<std::span<const uint8_t>> {
            const size_t length = std::min(kChunk, bytes.size() - done);
            std::span<const uint8_t> chunk(bytes.data() + done, length);
            done += length;
            return chunk;
        },
        kept);
}

// Each run beside a raw copy of the same bytes (not timed): `raw_copy_ms`
// is the copy's time, `times_raw` the writes' time over it.
void BM_CeWriteFileToHandheld(benchmark::State& state) {
    static const std::vector<uint8_t> bytes = Payload();
    static Handheld handheld;
    static std::string startError;
    static bool started = handheld.Start(startError);
    if (!started) {
        state.SkipWithError(startError.c_str());
        return;
    }
    std::vector<uint8_t> kept;
    std::chrono::duration<double> raw{0};
    std::chrono::duration<double> timed{0};
    for (auto _ : state) {
        if (!nuva::bench::UntimedRawCopy(
                state, [&] { return RawCopy(bytes, kept); }, raw)) {
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        HANDLE h = CeCreateFile(u"\\TEMP\\bench.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            state.SkipWithError("CeCreateFile failed");
            return;
        }
        for (size_t done = 0; done < bytes.size(); done += kChunk) {
            DWORD length = static_cast<DWORD>(std::min(kChunk, bytes.size() - done));
            DWORD written = 0;
            if (!CeWriteFile(h, bytes.data() + done, length, &written, nullptr) || written != length) {
                state.SkipWithError("CeWriteFile failed");
                return;
            }
        }
        CeSetEndOfFile(h);
        CeCloseHandle(h);
        timed += std::chrono::steady_clock::now() - start;
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["raw_copy_ms"] = 1000.0 * raw.count() / iterations;
    state.counters["times_raw"] = timed.count() / raw.count();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_CeWriteFileToHandheld)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
