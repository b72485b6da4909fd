#include "handheld-sim/rapi/rapi_service.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "formats/text_encoding.h"
#include "handheld-sim/rapi/connection_files.h"
#include "handheld-sim/rapi/rapi_device.h"
#include "platform/cable/socket.h"

namespace nuva::sim {

namespace {

constexpr uint32_t kEFail = 0x80004005u;
constexpr uint32_t kNotEnoughMemory = 0x80070008u;  // HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY)
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kGenFailure = 31;  // ERROR_GEN_FAILURE

// The Win32 code inside an HRESULT_FROM_WIN32 value, 0 for other results.
uint32_t Win32CodeOf(HRESULT hr) {
    uint32_t value = static_cast<uint32_t>(hr);
    return (value & 0xFFFF0000u) == 0x80070000u ? (value & 0xFFFFu) : 0;
}

}  // namespace

struct RapiService::Impl {
    Impl(RapiDevice& d, cable::LogSink l) : device(d), log(std::move(l)) {}

    void AcceptLoop();
    void Serve(cable::UniqueFd fd);
    // Answers one request; nullopt when the connection must end instead. An
    // answer's data block lies in `files` (a read) or in `invokeOutput` (an
    // export's block) until the next request.
    std::optional<cable::Encoded> Answer(const cable::Frame& frame, ConnectionFiles& files,
                                         std::vector<uint8_t>& invokeOutput, uint64_t generation);
    void CorruptAfterClose(FileStore& files, const std::u16string& path);
    void Log(const std::string& line) const {
        if (log) {
            log(line);
        }
    }

    RapiDevice& device;
    cable::LogSink log;
    std::unique_ptr<cable::Listener> listener;
    std::thread acceptThread;

    mutable std::mutex mutex;
    bool stopping = false;
    bool sessionRunning = false;
    std::thread sessionThread;
    std::shared_ptr<cable::Channel> active;  // the connection being served
    uint64_t activeGeneration = 0;           // the link generation it was made in
    uint64_t served = 0;
    uint64_t versionQueries = 0;
    RapiFaults faults;
};

void RapiService::Impl::AcceptLoop() {
    for (;;) {
        std::string refused;
        cable::UniqueFd fd = listener->Accept(refused);
        if (!fd.Valid()) {
            if (refused.empty()) {
                return;  // stopped
            }
            Log(refused);
            continue;
        }
        std::lock_guard lock(mutex);
        if (stopping) {
            return;
        }
        // While the link is away the handheld is not there for the desktop:
        // it is closed at once and knocks again later.
        if (sessionRunning || !device.LinkAvailable()) {
            continue;
        }
        if (sessionThread.joinable()) {
            sessionThread.join();  // the previous one has ended
        }
        sessionRunning = true;
        sessionThread = std::thread([this, f = std::move(fd)]() mutable { Serve(std::move(f)); });
    }
}

void RapiService::Impl::Serve(cable::UniqueFd fd) {
    auto channel = std::make_shared<cable::Channel>(std::move(fd), log);
    const uint64_t generation = device.LinkGeneration();
    {
        std::lock_guard lock(mutex);
        active = channel;
        activeGeneration = generation;
        if (faults.dropAfterBytes >= 0) {
            channel->DropAfter(faults.dropAfterBytes);
            faults.dropAfterBytes = -1;
        }
    }
    ConnectionFiles files(
        device, [this](FileStore& store, const std::u16string& path) { CorruptAfterClose(store, path); });

    std::vector<uint8_t> invokeOutput;

    // The link listener shuts the channel when the link goes; a change that
    // came before `active` was set is caught here.
    bool greeted = false;
    uint32_t expected = 0;
    cable::Frame frame;
    while (device.LinkAvailable() && device.LinkGeneration() == generation) {
        cable::ReceiveResult got = channel->Receive(frame);
        if (got == cable::ReceiveResult::kBroken) {
            Log("the desktop's connection broke in the middle of a frame");
        }
        if (got != cable::ReceiveResult::kFrame) {
            break;
        }
        const uint16_t type = frame.header.type;
        if (!cable::IsRequestCode(type)) {
            Log("refused a frame from the desktop: " + cable::DescribeType(type) + " is not a request");
            break;
        }
        const bool isInit = type == cable::RequestCode(cable::MessageType::kInit);
        if (isInit == greeted || (greeted && frame.header.sequence != expected)) {
            Log("refused " + cable::DescribeType(type) + " with sequence " +
                std::to_string(frame.header.sequence) +
                (greeted ? " out of order (expected " + std::to_string(expected) + ")"
                         : " before the greeting"));
            break;
        }
        std::optional<cable::Encoded> answer = Answer(frame, files, invokeOutput, generation);
        if (!answer) {
            break;
        }
        // A call during which the handheld restarted or the cable went is
        // never answered: the desktop sees the connection close.
        if (!device.LinkAvailable() || device.LinkGeneration() != generation) {
            break;
        }
        if (!channel->Send(static_cast<uint16_t>(type | cable::kAnswerBit), frame.header.sequence, *answer)) {
            break;
        }
        if (isInit) {
            greeted = true;
            std::lock_guard lock(mutex);
            ++served;
        }
        expected = frame.header.sequence + 1;
    }
    channel->Shutdown();
    files.CloseAll();
    std::lock_guard lock(mutex);
    active.reset();
    sessionRunning = false;
}

std::optional<cable::Encoded> RapiService::Impl::Answer(const cable::Frame& frame, ConnectionFiles& files,
                                                        std::vector<uint8_t>& invokeOutput,
                                                        uint64_t generation) {
    using cable::MessageType;
    const auto type = static_cast<MessageType>(frame.header.type);
    // Every request is decoded, or refused as malformed, the one way: the
    // answer is built only from a request whose every field was checked.
    auto serve = [&]<class Request>(auto answer) -> std::optional<cable::Encoded> {
        Request request;
        if (!cable::Decode(frame.payload, request)) {
            Log("refused a malformed " + cable::DescribeType(frame.header.type) + " (" +
                std::to_string(frame.payload.size()) + " payload bytes)");
            return std::nullopt;
        }
        return answer(request);
    };
    switch (type) {
        case MessageType::kInit:
            return serve.operator()<cable::InitRequest>([](const cable::InitRequest&) {
                return cable::Encode(cable::InitAnswer{0, 0});
            });
        case MessageType::kInvoke:
            return serve.operator()<cable::InvokeRequest>([&](const cable::InvokeRequest& request)
                                                              -> std::optional<cable::Encoded> {
                {
                    std::lock_guard lock(mutex);
                    if (faults.failAgentCalls > 0 &&
                        (faults.failAgentExport.empty() || faults.failAgentExport == request.function)) {
                        --faults.failAgentCalls;
                        return cable::Encode(cable::InvokeAnswer{kEFail, 0, false, {}});
                    }
                }
                std::vector<uint8_t>& output = invokeOutput;
                output.clear();
                std::string detail;
                HRESULT hr =
                    device.InvokeExport(request.dll, request.function, request.input, output, &detail);
                if (hr == kInvokeLinkDropped || device.LinkGeneration() != generation) {
                    return std::nullopt;
                }
                if (hr == kInvokeLibraryNotFound || hr == kInvokeExportNotFound || hr == kInvokeBadLibrary) {
                    Log("remote call " + Utf8FromUtf16(request.dll) + "!" + Utf8FromUtf16(request.function) +
                        " failed: " + detail);
                }
                cable::InvokeAnswer answer{static_cast<uint32_t>(hr), Win32CodeOf(hr), !output.empty(), {}};
                if (output.size() > cable::kMaxDataBytes) {
                    Log("remote call " + Utf8FromUtf16(request.function) + " returned " +
                        std::to_string(output.size()) + " bytes, more than the cable carries");
                    answer = cable::InvokeAnswer{kNotEnoughMemory, 8, false, {}};
                } else {
                    answer.output = output;
                }
                return cable::Encode(answer);
            });
        case MessageType::kCreateFile:
            return serve.operator()<cable::CreateFileRequest>([&](const cable::CreateFileRequest& request) {
                return cable::Encode(files.Create(request));
            });
        case MessageType::kReadFile:
            return serve.operator()<cable::ReadFileRequest>(
                [&](const cable::ReadFileRequest& request) { return cable::Encode(files.Read(request)); });
        case MessageType::kWriteFile:
            return serve.operator()<cable::WriteFileRequest>([&](const cable::WriteFileRequest& request) {
                bool fail = false;
                {
                    std::lock_guard lock(mutex);
                    fail = faults.failNextWrite;
                    faults.failNextWrite = false;
                }
                return cable::Encode(files.Write(request, fail));
            });
        case MessageType::kSetFilePointer:
            return serve.operator()<cable::SetFilePointerRequest>(
                [&](const cable::SetFilePointerRequest& request) {
                    return cable::Encode(files.Seek(request));
                });
        case MessageType::kSetEndOfFile:
            return serve.operator()<cable::HandleRequest>(
                [&](const cable::HandleRequest& request) { return cable::Encode(files.SetEnd(request)); });
        case MessageType::kCloseHandle:
            return serve.operator()<cable::HandleRequest>(
                [&](const cable::HandleRequest& request) { return cable::Encode(files.Close(request)); });
        case MessageType::kGetFileSize:
            return serve.operator()<cable::HandleRequest>(
                [&](const cable::HandleRequest& request) { return cable::Encode(files.Size(request)); });
        case MessageType::kDeleteFile:
            return serve.operator()<cable::DeleteFileRequest>([&](const cable::DeleteFileRequest& request) {
                return cable::Encode(files.Delete(request));
            });
        case MessageType::kGetVersionEx:
            return serve.operator()<cable::GetVersionRequest>([&](const cable::GetVersionRequest&) {
                {
                    std::lock_guard lock(mutex);
                    ++versionQueries;
                    if (faults.failVersionCalls > 0) {
                        --faults.failVersionCalls;
                        return cable::Encode(cable::GetVersionAnswer{0, kGenFailure, 0, 0, 0, 0, {}});
                    }
                }
                OSVERSIONINFOW version = device.OsVersion();
                cable::GetVersionAnswer answer{1,
                                               0,
                                               version.dwMajorVersion,
                                               version.dwMinorVersion,
                                               version.dwBuildNumber,
                                               version.dwPlatformId,
                                               {}};
                for (size_t i = 0; i < cable::kMaxCsdUnits && version.szCSDVersion[i] != 0; ++i) {
                    answer.csd.push_back(version.szCSDVersion[i]);
                }
                return cable::Encode(answer);
            });
        case MessageType::kGetSpecialFolderPath:
            return serve.operator()<cable::SpecialFolderRequest>(
                [&](const cable::SpecialFolderRequest& request) {
                    std::optional<std::u16string> path = device.SpecialFolderPath(request.folder);
                    if (!path || path->empty() || path->size() > cable::kMaxTextUnits) {
                        return cable::Encode(cable::SpecialFolderAnswer{0, kInvalidParameter, {}});
                    }
                    return cable::Encode(
                        cable::SpecialFolderAnswer{static_cast<uint32_t>(path->size()), 0, *path});
                });
    }
    Log("refused " + cable::DescribeType(frame.header.type) + ": not a request this handheld serves");
    return std::nullopt;  // not reached: the type was checked to be a request
}

void RapiService::Impl::CorruptAfterClose(FileStore& store, const std::u16string& path) {
    uint32_t offset = 0;
    uint8_t mask = 0;
    {
        std::lock_guard lock(mutex);
        if (faults.corruptPath.empty() || !SameName(faults.corruptPath, path)) {
            return;
        }
        offset = faults.corruptOffset;
        mask = faults.corruptMask;
        faults.corruptPath.clear();
    }
    OpenResult opened = store.Open(path, kAccessRead | kAccessWrite, 0, Disposition::kOpenExisting);
    if (!opened.ok()) {
        Log("could not change a byte of " + Utf8FromUtf16(path) + ": error " + std::to_string(opened.error));
        return;
    }
    uint64_t position = 0;
    uint8_t byte = 0;
    uint32_t done = 0;
    if (opened.file.Seek(offset, SeekFrom::kBegin, &position) != store_error::kSuccess ||
        opened.file.Read(&byte, 1, &done) != store_error::kSuccess || done != 1) {
        Log("could not change byte " + std::to_string(offset) + " of " + Utf8FromUtf16(path) +
            ": the file is shorter");
        return;
    }
    byte = static_cast<uint8_t>(byte ^ mask);
    opened.file.Seek(offset, SeekFrom::kBegin, &position);
    opened.file.Write(&byte, 1, &done);
}

RapiService::RapiService(RapiDevice& device, cable::LogSink log)
    : impl_(std::make_unique<Impl>(device, std::move(log))) {}

RapiService::~RapiService() {
    Stop();
}

bool RapiService::Start(const cable::Endpoint& endpoint, std::string& error) {
    if (impl_->listener) {
        error = "the RAPI service is already running";
        return false;
    }
    impl_->listener = cable::Listener::Open(endpoint, error);
    if (!impl_->listener) {
        return false;
    }
    impl_->stopping = false;
    Impl* impl = impl_.get();
    impl_->device.SetLinkListener([impl](bool available) {
        if (!available) {
            std::lock_guard lock(impl->mutex);
            if (impl->active) {
                impl->active->Shutdown();
            }
        }
    });
    impl_->acceptThread = std::thread([impl] { impl->AcceptLoop(); });
    return true;
}

void RapiService::Stop() {
    if (!impl_->listener) {
        return;
    }
    impl_->device.SetLinkListener({});
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
        if (impl_->active) {
            impl_->active->Shutdown();
        }
    }
    impl_->listener->Interrupt();
    impl_->acceptThread.join();
    if (impl_->sessionThread.joinable()) {
        impl_->sessionThread.join();
    }
    impl_->listener.reset();
}

cable::Endpoint RapiService::Bound() const {
    return impl_->listener ? impl_->listener->Bound() : cable::Endpoint{};
}

bool RapiService::Connected() const {
    // A connection of an earlier link (the handheld restarted, the cable
    // went) is over for the handheld the moment its link is, even while its
    // thread is still winding down. The device is asked before the lock is
    // taken: its link listener takes the lock too.
    const bool linkUp = impl_->device.LinkAvailable();
    const uint64_t generation = impl_->device.LinkGeneration();
    std::lock_guard lock(impl_->mutex);
    return impl_->active != nullptr && linkUp && generation == impl_->activeGeneration;
}

uint64_t RapiService::ConnectionsServed() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->served;
}

void RapiService::InjectFaults(const RapiFaults& faults) {
    std::lock_guard lock(impl_->mutex);
    RapiFaults& f = impl_->faults;
    if (faults.dropAfterBytes >= 0) {
        if (impl_->active) {
            impl_->active->DropAfter(faults.dropAfterBytes);
        } else {
            f.dropAfterBytes = faults.dropAfterBytes;
        }
    }
    if (faults.failNextWrite) {
        f.failNextWrite = true;
    }
    if (!faults.corruptPath.empty()) {
        f.corruptPath = faults.corruptPath;
        f.corruptOffset = faults.corruptOffset;
        f.corruptMask = faults.corruptMask;
    }
    if (faults.failAgentCalls > 0) {
        f.failAgentCalls = faults.failAgentCalls;
        f.failAgentExport = faults.failAgentExport;
    }
    if (faults.failVersionCalls > 0) {
        f.failVersionCalls = faults.failVersionCalls;
    }
}

void RapiService::ClearFaults() {
    std::lock_guard lock(impl_->mutex);
    impl_->faults = RapiFaults{};
    if (impl_->active) {
        impl_->active->DropAfter(-1);
    }
}

uint64_t RapiService::VersionQueriesAnswered() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->versionQueries;
}

RapiFaults RapiService::PendingFaults() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->faults;
}

}  // namespace nuva::sim
