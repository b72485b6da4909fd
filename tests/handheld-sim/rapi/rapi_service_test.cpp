// The RAPI service and the desktop's RAPI library together, over a real
// socket, with a scripted handheld behind the service.
#include "handheld-sim/rapi/rapi_service.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <thread>

#include "platform/clock/clock.h"
#include "platform/rapi/rapi.h"
#include "tests/handheld-sim/rapi/scripted_device.h"
#include "tests/support/temp_folder.h"

namespace nuva::sim {
namespace {

using testing::Eventually;
using testing::ScriptedHandheld;
using testing::Within;
using namespace std::chrono_literals;

constexpr DWORD kErrorFileNotFound = 2;
constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorSharingViolation = 32;
constexpr DWORD kErrorFileExists = 80;
constexpr DWORD kErrorInsufficientBuffer = 122;
constexpr DWORD kErrorNegativeSeek = 131;
constexpr DWORD kErrorAlreadyExists = 183;
constexpr DWORD kErrorWriteFault = 29;

class RapiOverCable : public ::testing::Test {
  protected:
    void SetUp() override {
        SetTimeScale(0.01);
        std::string error;
        ASSERT_TRUE(cable::ParseEndpoint("unix:" + dir_.Join("link"), true, endpoint_, error)) << error;
        setenv("NUVA_LINK", endpoint_.ToString().c_str(), 1);
        ASSERT_EQ(device_.Files().CreateDirectory(u"\\TEMP"), 0u);
        ASSERT_EQ(device_.Files().CreateDirectory(u"\\Windows"), 0u);
        service_ = std::make_unique<RapiService>(device_.Device(), [this](const std::string& line) {
            std::lock_guard lock(logMutex_);
            log_.push_back(line);
        });
        ASSERT_TRUE(service_->Start(endpoint_, error)) << error;
    }
    void TearDown() override {
        CeRapiUninit();
        service_->Stop();
    }
    bool Logged(const std::string& words) {
        std::lock_guard lock(logMutex_);
        for (const std::string& line : log_) {
            if (line.find(words) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    void Connect() {
        ASSERT_EQ(Within(10s, [] { return CeRapiInit(); }), S_OK);
    }

    ScriptedHandheld device_;
    nuva::testing::TempFolder dir_{"nuva-rapi"};
    cable::Endpoint endpoint_;
    std::unique_ptr<RapiService> service_;
    std::mutex logMutex_;
    std::vector<std::string> log_;
};

RapiFaults Faults(void (*set)(RapiFaults&)) {
    RapiFaults faults;
    set(faults);
    return faults;
}

HANDLE Open(const char16_t* path, DWORD disposition, DWORD access = GENERIC_READ | GENERIC_WRITE,
            DWORD share = 0) {
    return CeCreateFile(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST_F(RapiOverCable, DeviceFilesBehaveAsWin32Files) {
    EXPECT_EQ(Open(u"\\TEMP\\a", CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CeRapiGetError(), RAPI_E_NOT_INITIALIZED);
    Connect();

    HANDLE h = Open(u"\\TEMP\\0", CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CeRapiGetError(), S_OK);
    const char text[] = "0123456789";
    DWORD n = 0;
    ASSERT_TRUE(CeWriteFile(h, text, 10, &n, nullptr));
    EXPECT_EQ(n, 10u);
    EXPECT_EQ(CeSetFilePointer(h, 2, nullptr, FILE_BEGIN), 2u);
    char got[16] = {};
    ASSERT_TRUE(CeReadFile(h, got, 3, &n, nullptr));
    EXPECT_EQ(std::string(got, n), "234");
    EXPECT_EQ(CeSetFilePointer(h, -1, nullptr, FILE_CURRENT), 4u);
    EXPECT_EQ(CeSetFilePointer(h, -3, nullptr, FILE_END), 7u);
    EXPECT_EQ(CeSetFilePointer(h, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(CeGetLastError(), kErrorNegativeSeek);
    LONG high = 0;
    EXPECT_EQ(CeSetFilePointer(h, 20, &high, FILE_BEGIN), 20u);
    EXPECT_EQ(high, 0);
    ASSERT_TRUE(CeReadFile(h, got, 4, &n, nullptr));
    EXPECT_EQ(n, 0u) << "reading past the end is success with nothing read";
    EXPECT_EQ(CeSetFilePointer(h, 6, nullptr, FILE_BEGIN), 6u);
    ASSERT_TRUE(CeSetEndOfFile(h));
    DWORD sizeHigh = 99;
    EXPECT_EQ(CeGetFileSize(h, &sizeHigh), 6u);
    EXPECT_EQ(sizeHigh, 0u);

    // Open files are protected; CREATE_NEW refuses an existing file and
    // CREATE_ALWAYS truncates it, saying it existed.
    EXPECT_FALSE(CeDeleteFile(u"\\TEMP\\0"));
    EXPECT_EQ(CeGetLastError(), kErrorSharingViolation);
    EXPECT_EQ(Open(u"\\temp\\0", OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CeGetLastError(), kErrorSharingViolation);
    ASSERT_TRUE(CeCloseHandle(h));
    EXPECT_FALSE(CeCloseHandle(h));
    EXPECT_EQ(CeGetLastError(), kErrorInvalidHandle);
    EXPECT_FALSE(CeWriteFile(h, text, 1, &n, nullptr));
    EXPECT_EQ(CeGetLastError(), kErrorInvalidHandle);
    EXPECT_EQ(Open(u"\\TEMP\\0", CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CeGetLastError(), kErrorFileExists);
    h = Open(u"\\TEMP\\0", CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CeGetLastError(), kErrorAlreadyExists);
    EXPECT_EQ(CeGetFileSize(h, nullptr), 0u);
    ASSERT_TRUE(CeCloseHandle(h));
    ASSERT_TRUE(CeDeleteFile(u"\\TEMP\\0"));
    EXPECT_FALSE(CeDeleteFile(u"\\TEMP\\0"));
    EXPECT_EQ(CeGetLastError(), kErrorFileNotFound);
    EXPECT_EQ(Open(u"\\TEMP\\0", OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CeGetLastError(), kErrorFileNotFound);

    // A transfer larger than one frame is split and arrives whole.
    std::vector<uint8_t> big(5 * 1024 * 1024 + 123);
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
    }
    h = Open(u"\\TEMP\\big", CREATE_ALWAYS);
    ASSERT_TRUE(CeWriteFile(h, big.data(), static_cast<DWORD>(big.size()), &n, nullptr));
    EXPECT_EQ(n, big.size());
    std::vector<uint8_t> back(big.size() + 10);
    EXPECT_EQ(CeSetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
    ASSERT_TRUE(CeReadFile(h, back.data(), static_cast<DWORD>(back.size()), &n, nullptr));
    EXPECT_EQ(n, big.size());
    back.resize(n);
    EXPECT_EQ(back, big);
    ASSERT_TRUE(CeCloseHandle(h));

    // Bad arguments are refused on this side.
    EXPECT_EQ(CeCreateFile(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_FALSE(CeReadFile(reinterpret_cast<HANDLE>(0x1234), got, 1, &n, nullptr));
    EXPECT_EQ(CeGetLastError(), kErrorInvalidHandle);
    EXPECT_EQ(device_.Files().OpenFileCount(), 0u);
}

TEST_F(RapiOverCable, VersionAndStartupFolderAnswer) {
    Connect();
    CEOSVERSIONINFO version{};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(CeGetVersionEx(&version));
    EXPECT_EQ(version.dwMajorVersion, 4u);
    EXPECT_EQ(version.dwBuildNumber, 14053u);
    EXPECT_EQ(std::u16string(version.szCSDVersion), u"Pocket PC 2003");
    EXPECT_FALSE(CeGetVersionEx(nullptr));

    WCHAR path[64];
    EXPECT_EQ(CeGetSpecialFolderPath(CSIDL_STARTUP, 64, path), 16u);
    EXPECT_EQ(std::u16string(path), u"\\Windows\\StartUp");
    EXPECT_EQ(CeGetSpecialFolderPath(CSIDL_STARTUP, 16, path), 0u) << "no room for the terminator";
    EXPECT_EQ(CeGetLastError(), kErrorInsufficientBuffer);
    EXPECT_EQ(CeGetSpecialFolderPath(0x1234, 64, path), 0u);
}

TEST_F(RapiOverCable, RemoteCallsTakeTheInputBlockAndGiveALocalOutputBlock) {
    std::vector<uint8_t> seen;
    device_.SetExport([&](std::u16string_view library, std::u16string_view function,
                          std::span<const uint8_t> input, std::vector<uint8_t>& output) -> int32_t {
        if (library != u"NUVA7INVOKE") {
            return testing::kLibraryNotFound;
        }
        seen.assign(input.begin(), input.end());
        if (function == u"Echo") {
            output.assign(input.rbegin(), input.rend());
            return S_OK;
        }
        if (function == u"Quiet") {
            return S_OK;
        }
        if (function == u"Fails") {
            output.assign(8, 1);
            return E_FAIL;
        }
        return testing::kExportNotFound;
    });
    Connect();

    auto* input = static_cast<BYTE*>(LocalAlloc(LPTR, 16));
    ASSERT_NE(input, nullptr);
    std::memcpy(input, "\x01\x02\x03\x04", 4);
    DWORD outSize = 0;
    BYTE* out = nullptr;
    ASSERT_EQ(CeRapiInvoke(u"NUVA7INVOKE", u"Echo", 4, input, &outSize, &out, nullptr, 0), S_OK);
    // Freed: either gone from the heap, or its address already reused for the output.
    EXPECT_TRUE(LocalSize(input) == 0u || static_cast<void*>(input) == static_cast<void*>(out))
        << "RAPI frees the input block";
    EXPECT_EQ(seen, (std::vector<uint8_t>{1, 2, 3, 4})) << "only the size passed travels";
    ASSERT_EQ(outSize, 4u);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{4, 3, 2, 1}));
    HLOCAL outHandle = LocalHandle(out);
    ASSERT_NE(outHandle, nullptr);
    EXPECT_EQ(LocalSize(outHandle), 4u);
    EXPECT_EQ(LocalFree(outHandle), nullptr);
    EXPECT_EQ(LocalFree(outHandle), outHandle) << "freeing twice is refused";

    ASSERT_EQ(CeRapiInvoke(u"NUVA7INVOKE", u"Quiet", 0, nullptr, &outSize, &out, nullptr, 0), S_OK);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(outSize, 0u);

    // A failing export gives its result and no block (nobody would free it).
    input = static_cast<BYTE*>(LocalAlloc(LPTR, 8));
    EXPECT_EQ(CeRapiInvoke(u"NUVA7INVOKE", u"Fails", 8, input, &outSize, &out, nullptr, 0), E_FAIL);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(CeRapiInvoke(u"NUVA7INVOKE", u"Missing", 0, nullptr, &outSize, &out, nullptr, 0),
              testing::kExportNotFound);
    EXPECT_EQ(CeRapiInvoke(u"OTHER", u"Echo", 0, nullptr, &outSize, &out, nullptr, 0),
              testing::kLibraryNotFound);
    EXPECT_EQ(CeGetLastError(), 0x7Eu);

    // Blocks that are not the heap's, or smaller than the size claimed.
    BYTE stack[8] = {};
    EXPECT_EQ(CeRapiInvoke(u"NUVA7INVOKE", u"Echo", 8, stack, &outSize, &out, nullptr, 0), E_INVALIDARG);
    input = static_cast<BYTE*>(LocalAlloc(LPTR, 4));
    EXPECT_EQ(CeRapiInvoke(u"NUVA7INVOKE", u"Echo", 64, input, &outSize, &out, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(LocalSize(input), 0u) << "the block is RAPI's even when the call is refused";
    EXPECT_EQ(CeRapiInvoke(u"NUVA7INVOKE", u"Echo", 4, nullptr, &outSize, &out, nullptr, 0), E_INVALIDARG);
}

TEST_F(RapiOverCable, TheLinkFollowsThePlugAndDroppedCallsFailAtOnce) {
    // Unplugged: CeRapiInit waits, and returns when the handheld is plugged in.
    device_.SetLink(false);
    auto init = std::async(std::launch::async, [] { return CeRapiInit(); });
    EXPECT_EQ(init.wait_for(200ms), std::future_status::timeout);
    EXPECT_FALSE(service_->Connected());
    device_.SetLink(true);
    ASSERT_EQ(init.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(init.get(), S_OK);
    EXPECT_EQ(CeRapiInit(), CERAPI_E_ALREADYINITIALIZED);

    HANDLE h = Open(u"\\TEMP\\kept", CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Eventually([&] { return device_.Files().OpenFileCount() == 1; }));

    // Unplugged in the middle of a remote call: the call fails at once.
    std::atomic<bool> inCall{false};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    device_.SetExport([&](auto, auto, auto, std::vector<uint8_t>&) -> int32_t {
        inCall = true;
        released.wait();
        return S_OK;
    });
    auto call = std::async(std::launch::async, [] {
        DWORD size = 0;
        BYTE* out = nullptr;
        HRESULT hr = CeRapiInvoke(u"NUVA7INVOKE", u"Slow", 0, nullptr, &size, &out, nullptr, 0);
        return std::make_pair(hr, CeRapiGetError());
    });
    ASSERT_TRUE(Eventually([&] { return inCall.load(); }));
    device_.SetLink(false);
    ASSERT_EQ(call.wait_for(10s), std::future_status::ready) << "the call must not wait for the export";
    auto [hr, linkError] = call.get();
    EXPECT_EQ(hr, RAPI_E_LINK_DOWN);
    EXPECT_EQ(linkError, RAPI_E_LINK_DOWN);
    release.set_value();

    // Later calls fail at once too; the handheld closed the connection's files.
    CEOSVERSIONINFO version{};
    EXPECT_EQ(Within(10s, [&] { return CeGetVersionEx(&version) ? S_OK : CeRapiGetError(); }),
              RAPI_E_LINK_DOWN);
    EXPECT_TRUE(Eventually([&] { return device_.Files().OpenFileCount() == 0; }));

    // Plugged again: CeRapiInit waits for it and the old handle stays dead.
    device_.SetExport({});
    device_.SetLink(true);
    Connect();
    EXPECT_TRUE(CeGetVersionEx(&version));
    DWORD n = 0;
    EXPECT_FALSE(CeWriteFile(h, "x", 1, &n, nullptr));
    EXPECT_EQ(CeGetLastError(), kErrorInvalidHandle);
    EXPECT_EQ(CeRapiGetError(), S_OK) << "a stale handle is the caller's error, not the link's";
    EXPECT_FALSE(CeCloseHandle(h));

    // A restart during a call: the handheld never answers it.
    device_.SetExport([&](auto, auto, auto, std::vector<uint8_t>&) -> int32_t {
        device_.SetLink(false);
        return testing::kLinkDropped;
    });
    DWORD size = 0;
    BYTE* out = nullptr;
    EXPECT_EQ(
        Within(
            10s,
            [&] { return CeRapiInvoke(u"NUVA7INVOKE", u"WarmReset", 0, nullptr, &size, &out, nullptr, 0); }),
        RAPI_E_LINK_DOWN);
    auto again = std::async(std::launch::async, [] { return CeRapiInit(); });
    EXPECT_EQ(again.wait_for(100ms), std::future_status::timeout) << "the handheld is still booting";
    device_.SetLink(true);
    ASSERT_EQ(again.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(again.get(), S_OK);
}

TEST_F(RapiOverCable, UninitEndsAWaitingInitAndLaterCalls) {
    device_.SetLink(false);
    auto init = std::async(std::launch::async, [] { return CeRapiInit(); });
    EXPECT_EQ(init.wait_for(100ms), std::future_status::timeout);
    EXPECT_EQ(CeRapiUninit(), S_OK);
    ASSERT_EQ(init.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(init.get(), E_FAIL);
    EXPECT_EQ(CeRapiUninit(), E_FAIL) << "nothing left to end";

    // An endpoint off this machine is refused at once, not waited for.
    setenv("NUVA_LINK", "tcp:10.1.2.3:5679", 1);
    EXPECT_EQ(Within(10s, [] { return CeRapiInit(); }), E_FAIL);
    setenv("NUVA_LINK", endpoint_.ToString().c_str(), 1);

    device_.SetLink(true);
    Connect();
    EXPECT_EQ(CeRapiUninit(), S_OK);
    CEOSVERSIONINFO version{};
    EXPECT_FALSE(CeGetVersionEx(&version));
    EXPECT_EQ(CeRapiGetError(), RAPI_E_NOT_INITIALIZED);
    EXPECT_TRUE(Eventually([&] { return !service_->Connected(); }));
}

TEST_F(RapiOverCable, ManyThreadsShareTheOneLink) {
    Connect();
    constexpr int kThreads = 4;
    constexpr int kRounds = 40;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            std::u16string path = u"\\TEMP\\t" + std::u16string(1, static_cast<char16_t>(u'0' + t));
            for (int round = 0; round < kRounds; ++round) {
                std::vector<uint8_t> data(1000 + static_cast<size_t>(round),
                                          static_cast<uint8_t>(t * 50 + round));
                HANDLE h = Open(path.c_str(), CREATE_ALWAYS);
                DWORD n = 0;
                std::vector<uint8_t> back(data.size());
                bool ok = h != INVALID_HANDLE_VALUE &&
                          CeWriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr) &&
                          n == data.size() && CeSetFilePointer(h, 0, nullptr, FILE_BEGIN) == 0 &&
                          CeReadFile(h, back.data(), static_cast<DWORD>(back.size()), &n, nullptr) &&
                          back == data && CeCloseHandle(h);
                if (!ok) {
                    ++failures;
                }
            }
        });
    }
    threads.emplace_back([&failures] {
        for (int round = 0; round < kRounds; ++round) {
            CEOSVERSIONINFO version{};
            if (!CeGetVersionEx(&version) || version.dwMajorVersion != 4) {
                ++failures;
            }
        }
    });
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(device_.Files().OpenFileCount(), 0u);
}

TEST_F(RapiOverCable, InjectedFaultsStrikeOnceWhereAimed) {
    device_.SetExport([](auto, auto, auto, std::vector<uint8_t>& output) -> int32_t {
        output.assign(4, 0x11);
        return S_OK;
    });
    Connect();

    // The next write fails, and only that one.
    service_->InjectFaults(Faults([](RapiFaults& f) { f.failNextWrite = true; }));
    HANDLE h = Open(u"\\TEMP\\part", CREATE_ALWAYS);
    DWORD n = 0;
    EXPECT_FALSE(CeWriteFile(h, "abcd", 4, &n, nullptr));
    EXPECT_EQ(CeGetLastError(), kErrorWriteFault);
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(CeWriteFile(h, "abcd", 4, &n, nullptr));

    // A byte of the file changes once the writer closes it.
    service_->InjectFaults(Faults([](RapiFaults& f) {
        f.corruptPath = u"\\temp\\PART";
        f.corruptOffset = 2;
        f.corruptMask = 0x01;
    }));
    std::vector<uint8_t> contents;
    ASSERT_EQ(device_.Files().Get(u"\\TEMP\\part", &contents), 0u);
    EXPECT_EQ(contents, (std::vector<uint8_t>{'a', 'b', 'c', 'd'}));
    ASSERT_TRUE(CeCloseHandle(h));
    ASSERT_EQ(device_.Files().Get(u"\\TEMP\\part", &contents), 0u);
    EXPECT_EQ(contents, (std::vector<uint8_t>{'a', 'b', 'b', 'd'}));
    EXPECT_TRUE(service_->PendingFaults().corruptPath.empty());

    // The next two agent calls fail without reaching the export.
    service_->InjectFaults(Faults([](RapiFaults& f) { f.failAgentCalls = 2; }));
    DWORD size = 0;
    BYTE* out = nullptr;
    EXPECT_EQ(CeRapiInvoke(u"NUVA7INVOKE", u"FnNUVAInfo", 0, nullptr, &size, &out, nullptr, 0), E_FAIL);
    EXPECT_EQ(CeRapiInvoke(u"NUVA7INVOKE", u"FnNUVAInfo", 0, nullptr, &size, &out, nullptr, 0), E_FAIL);
    ASSERT_EQ(CeRapiInvoke(u"NUVA7INVOKE", u"FnNUVAInfo", 0, nullptr, &size, &out, nullptr, 0), S_OK);
    EXPECT_EQ(size, 4u);
    LocalFree(LocalHandle(out));

    // Aimed at one export, the failure passes the others by.
    service_->InjectFaults(Faults([](RapiFaults& f) {
        f.failAgentCalls = 1;
        f.failAgentExport = u"FnNUVAReadFlash";
    }));
    ASSERT_EQ(CeRapiInvoke(u"NUVA7INVOKE", u"FnNUVAInfo", 0, nullptr, &size, &out, nullptr, 0), S_OK);
    LocalFree(LocalHandle(out));
    EXPECT_EQ(service_->PendingFaults().failAgentCalls, 1u);
    EXPECT_EQ(CeRapiInvoke(u"NUVA7INVOKE", u"FnNUVAReadFlash", 0, nullptr, &size, &out, nullptr, 0), E_FAIL);
    EXPECT_EQ(service_->PendingFaults().failAgentCalls, 0u);

    // The next two version queries fail on a link that stays up: the same
    // connection answers the third.
    const uint64_t served = service_->ConnectionsServed();
    const uint64_t queries = service_->VersionQueriesAnswered();
    service_->InjectFaults(Faults([](RapiFaults& f) { f.failVersionCalls = 2; }));
    CEOSVERSIONINFO asked{};
    for (int i = 0; i < 2; ++i) {
        asked.dwMajorVersion = 99;
        EXPECT_FALSE(CeGetVersionEx(&asked));
        EXPECT_EQ(CeRapiGetError(), S_OK) << "the link itself did not fail";
        EXPECT_EQ(CeGetLastError(), 31u);
        EXPECT_EQ(asked.dwMajorVersion, 99u) << "a failed query leaves the caller's fields alone";
    }
    EXPECT_EQ(service_->PendingFaults().failVersionCalls, 0u);
    ASSERT_TRUE(CeGetVersionEx(&asked));
    EXPECT_EQ(asked.dwMajorVersion, 4u);
    EXPECT_EQ(service_->VersionQueriesAnswered(), queries + 3);
    EXPECT_EQ(service_->ConnectionsServed(), served);
    EXPECT_EQ(CeRapiInit(), CERAPI_E_ALREADYINITIALIZED);

    // The cable dies after 100 more bytes: a 16 KB write cannot get through.
    service_->InjectFaults(Faults([](RapiFaults& f) { f.dropAfterBytes = 100; }));
    h = Open(u"\\TEMP\\cut", CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> chunk(16384, 0x33);
    EXPECT_EQ(
        Within(10s,
               [&] { return CeWriteFile(h, chunk.data(), 16384, &n, nullptr) ? S_OK : CeRapiGetError(); }),
        RAPI_E_LINK_DOWN);
    // The next connection is whole again.
    Connect();
    CEOSVERSIONINFO version{};
    EXPECT_TRUE(CeGetVersionEx(&version));
}

}  // namespace
}  // namespace nuva::sim
