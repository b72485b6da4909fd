// The RAPI functions over the cable. Each call turns its arguments into one
// request (file transfers larger than a frame allows into several), checks
// that the answer fits what was asked, and gives the caller Win32's results.
#include "platform/rapi/rapi.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/cable/protocol.h"
#include "platform/rapi/link.h"
#include "platform/rapi/local_heap.h"

namespace nuva::rapi {
namespace {

constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorInsufficientBuffer = 122;
constexpr DWORD kErrorFilenameTooLong = 206;
constexpr HRESULT kNotImplemented = static_cast<HRESULT>(0x80004001);  // E_NOTIMPL

Link& TheLink() {
    // Lives until the process ends: link threads may still be calling while
    // static objects are destroyed.
    static Link* link = new Link(cable::StderrLog("nuva-rapi"));
    return *link;
}

// Per-thread results, as RAPI keeps them.
thread_local HRESULT t_linkError = S_OK;
thread_local DWORD t_lastError = 0;

// The link's failure for this thread; the last error carries its Win32 code.
void SetLinkFailure(HRESULT hr) {
    t_linkError = hr;
    t_lastError = static_cast<DWORD>(hr) & 0xFFFF;
}

void SetDeviceError(DWORD error) {
    t_linkError = S_OK;
    t_lastError = error;
}

// Device handles: numbers handed to the caller, each tied to the connection
// it was opened on, never reused, so that a handle from before a reconnect
// cannot reach a file opened after it.
struct DeviceHandle {
    uint64_t connection;
    uint32_t remote;
};

class HandleTable {
  public:
    HANDLE Add(uint64_t connection, uint32_t remote) {
        std::lock_guard lock(mutex_);
        uintptr_t value = next_;
        next_ += 4;
        handles_[value] = DeviceHandle{connection, remote};
        return reinterpret_cast<HANDLE>(value);
    }
    bool Find(HANDLE handle, DeviceHandle& found) {
        std::lock_guard lock(mutex_);
        auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
        if (it == handles_.end()) {
            return false;
        }
        found = it->second;
        return true;
    }
    void Remove(HANDLE handle) {
        std::lock_guard lock(mutex_);
        handles_.erase(reinterpret_cast<uintptr_t>(handle));
    }

  private:
    std::mutex mutex_;
    uintptr_t next_ = 0x1000;
    std::unordered_map<uintptr_t, DeviceHandle> handles_;
};

HandleTable& Handles() {
    static HandleTable* table = new HandleTable;
    return *table;
}

// A NUL-terminated text from the caller, bounded so that a missing terminator
// cannot run away with us.
bool TakeText(LPCWSTR text, std::u16string& out) {
    if (text == nullptr) {
        return false;
    }
    out.clear();
    for (uint32_t i = 0; text[i] != 0; ++i) {
        if (i == cable::kMaxTextUnits) {
            return false;
        }
        out.push_back(text[i]);
    }
    return true;
}

// One request and its answer. On a link failure the thread's errors are set
// and false returned; otherwise the answer is decoded into `answer` and
// `take` (when given) has accepted it. An answer's data block lies in the
// link's receive buffer: `take` copies what the caller keeps of it, and the
// block must not be touched once Call has returned.
template <class Request, class Answer, class Take>
bool Call(cable::MessageType type, const Request& request, Answer& answer, uint64_t connection, Take take) {
    HRESULT hr = TheLink().Exchange(
        cable::RequestCode(type), cable::Encode(request),
        [&](std::span<const uint8_t> bytes) { return cable::Decode(bytes, answer) && take(answer); },
        connection);
    if (hr == kStaleConnection) {
        SetDeviceError(kErrorInvalidHandle);
        return false;
    }
    if (FAILED(hr)) {
        SetLinkFailure(hr);
        return false;
    }
    SetDeviceError(answer.lastError);
    return true;
}

template <class Request, class Answer>
bool Call(cable::MessageType type, const Request& request, Answer& answer, uint64_t connection = 0) {
    return Call(type, request, answer, connection, [](const Answer&) { return true; });
}

// Looks up a caller's handle; sets ERROR_INVALID_HANDLE when it is not one.
bool Lookup(HANDLE handle, DeviceHandle& found) {
    if (!Handles().Find(handle, found)) {
        SetDeviceError(kErrorInvalidHandle);
        return false;
    }
    return true;
}

}  // namespace
}  // namespace nuva::rapi

using namespace nuva;
using namespace nuva::rapi;

extern "C" {

HRESULT CeRapiInit(void) {
    return TheLink().Init();
}

HRESULT CeRapiUninit(void) {
    return TheLink().Uninit();
}

HRESULT CeRapiGetError(void) {
    return t_linkError;
}

DWORD CeGetLastError(void) {
    return t_lastError;
}

HRESULT CeRapiInvoke(LPCWSTR pDllPath, LPCWSTR pFunctionName, DWORD cbInput, BYTE* pInput, DWORD* pcbOutput,
                     BYTE** ppOutput, IRAPIStream** ppIRAPIStream, DWORD) {
    if (pcbOutput != nullptr) {
        *pcbOutput = 0;
    }
    if (ppOutput != nullptr) {
        *ppOutput = nullptr;
    }
    // The input block is RAPI's from here on, whatever happens: it goes on
    // the cable from where it lies and is freed on the way out.
    struct InputBlock {
        BYTE* block = nullptr;
        ~InputBlock() {
            if (block != nullptr) {
                LocalFree(block);
            }
        }
    } owned;
    cable::InvokeRequest request;
    if (pInput != nullptr) {
        size_t blockSize = 0;
        if (!LocalBlockSize(pInput, blockSize)) {
            return E_INVALIDARG;  // not a local block: neither readable nor ours to free
        }
        owned.block = pInput;
        if (cbInput > blockSize || cbInput > cable::kMaxDataBytes) {
            return E_INVALIDARG;
        }
        request.input = std::span<const uint8_t>(pInput, cbInput);
    } else if (cbInput != 0) {
        return E_INVALIDARG;
    }
    if (ppIRAPIStream != nullptr) {
        return kNotImplemented;  // only block mode travels on the cable
    }
    if (!TakeText(pDllPath, request.dll) || !TakeText(pFunctionName, request.function)) {
        return E_INVALIDARG;
    }
    cable::InvokeAnswer answer;
    bool outOfMemory = false;
    const bool answered =
        Call(cable::MessageType::kInvoke, request, answer, 0, [&](const cable::InvokeAnswer& a) {
            // A failed call gives no block: callers read nothing after a
            // failure, so a block handed out then would never be freed.
            if (SUCCEEDED(static_cast<HRESULT>(a.result)) && a.hasOutput && ppOutput != nullptr) {
                HLOCAL block = LocalAlloc(LMEM_FIXED, a.output.size());
                if (block == nullptr) {
                    outOfMemory = true;
                    return true;
                }
                std::memcpy(block, a.output.data(), a.output.size());
                *ppOutput = static_cast<BYTE*>(block);
                if (pcbOutput != nullptr) {
                    *pcbOutput = static_cast<DWORD>(a.output.size());
                }
            }
            return true;
        });
    if (!answered) {
        return t_linkError;
    }
    return outOfMemory ? E_OUTOFMEMORY : static_cast<HRESULT>(answer.result);
}

HANDLE CeCreateFile(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                    DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
    cable::CreateFileRequest request;
    if (lpFileName == nullptr) {
        SetDeviceError(kErrorInvalidParameter);
        return INVALID_HANDLE_VALUE;
    }
    if (!TakeText(lpFileName, request.name)) {
        SetDeviceError(kErrorFilenameTooLong);
        return INVALID_HANDLE_VALUE;
    }
    request.access = dwDesiredAccess;
    request.share = dwShareMode;
    request.disposition = dwCreationDisposition;
    request.flags = dwFlagsAndAttributes;
    // The handle must belong to the connection that opened the file.
    HRESULT whyNone = S_OK;
    const uint64_t connection = TheLink().CurrentConnection(whyNone);
    if (connection == 0) {
        SetLinkFailure(whyNone);
        return INVALID_HANDLE_VALUE;
    }
    cable::CreateFileAnswer answer;
    if (!Call(cable::MessageType::kCreateFile, request, answer, connection)) {
        if (t_linkError == S_OK) {
            SetLinkFailure(RAPI_E_LINK_DOWN);  // the link changed under the call
        }
        return INVALID_HANDLE_VALUE;
    }
    if (answer.result == 0) {
        return INVALID_HANDLE_VALUE;
    }
    return Handles().Add(connection, answer.result);
}

BOOL CeReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesRead != nullptr) {
        *lpNumberOfBytesRead = 0;
    }
    if (lpOverlapped != nullptr || lpNumberOfBytesRead == nullptr ||
        (lpBuffer == nullptr && nNumberOfBytesToRead > 0)) {
        SetDeviceError(kErrorInvalidParameter);
        return FALSE;
    }
    DeviceHandle handle;
    if (!Lookup(hFile, handle)) {
        return FALSE;
    }
    auto* out = static_cast<uint8_t*>(lpBuffer);
    DWORD done = 0;
    do {
        cable::ReadFileRequest request{handle.remote,
                                       std::min<DWORD>(nNumberOfBytesToRead - done, cable::kMaxDataBytes)};
        cable::ReadFileAnswer answer;
        DWORD got = 0;
        if (!Call(cable::MessageType::kReadFile, request, answer, handle.connection,
                  [&](const cable::ReadFileAnswer& a) {
                      if (a.data.size() > request.count) {
                          return false;
                      }
                      if (a.result != FALSE && !a.data.empty()) {
                          std::memcpy(out + done, a.data.data(), a.data.size());
                          got = static_cast<DWORD>(a.data.size());
                      }
                      return true;
                  })) {
            return FALSE;
        }
        if (answer.result == FALSE) {
            return FALSE;
        }
        done += got;
        *lpNumberOfBytesRead = done;
        if (got < request.count) {
            break;  // the end of the file
        }
    } while (done < nNumberOfBytesToRead);
    return TRUE;
}

BOOL CeWriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                 LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesWritten != nullptr) {
        *lpNumberOfBytesWritten = 0;
    }
    if (lpOverlapped != nullptr || lpNumberOfBytesWritten == nullptr ||
        (lpBuffer == nullptr && nNumberOfBytesToWrite > 0)) {
        SetDeviceError(kErrorInvalidParameter);
        return FALSE;
    }
    DeviceHandle handle;
    if (!Lookup(hFile, handle)) {
        return FALSE;
    }
    const auto* in = static_cast<const uint8_t*>(lpBuffer);
    DWORD done = 0;
    do {
        DWORD chunk = std::min<DWORD>(nNumberOfBytesToWrite - done, cable::kMaxDataBytes);
        // The chunk goes on the cable straight from the caller's buffer.
        cable::WriteFileRequest request{handle.remote, std::span<const uint8_t>(in + done, chunk)};
        cable::WriteFileAnswer answer;
        if (!Call(cable::MessageType::kWriteFile, request, answer, handle.connection,
                  [&](const cable::WriteFileAnswer& a) { return a.written <= chunk; })) {
            return FALSE;
        }
        done += answer.written;
        *lpNumberOfBytesWritten = done;
        if (answer.result == FALSE) {
            return FALSE;
        }
        if (answer.written < chunk) {
            break;
        }
    } while (done < nNumberOfBytesToWrite);
    return TRUE;
}

DWORD CeSetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
    DeviceHandle handle;
    if (!Lookup(hFile, handle)) {
        return INVALID_SET_FILE_POINTER;
    }
    cable::SetFilePointerRequest request;
    request.handle = handle.remote;
    request.distance = lDistanceToMove;
    request.hasHigh = lpDistanceToMoveHigh != nullptr;
    request.high = lpDistanceToMoveHigh != nullptr ? *lpDistanceToMoveHigh : 0;
    request.method = dwMoveMethod;
    cable::SetFilePointerAnswer answer;
    if (!Call(cable::MessageType::kSetFilePointer, request, answer, handle.connection)) {
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh != nullptr) {
        *lpDistanceToMoveHigh = answer.high;
    }
    return answer.result;
}

BOOL CeSetEndOfFile(HANDLE hFile) {
    DeviceHandle handle;
    if (!Lookup(hFile, handle)) {
        return FALSE;
    }
    cable::BoolAnswer answer;
    if (!Call(cable::MessageType::kSetEndOfFile, cable::HandleRequest{handle.remote}, answer,
              handle.connection)) {
        return FALSE;
    }
    return answer.result != 0 ? TRUE : FALSE;
}

BOOL CeCloseHandle(HANDLE hObject) {
    DeviceHandle handle;
    if (!Lookup(hObject, handle)) {
        return FALSE;
    }
    // Whatever the answer, the handle is gone: on a dropped link the handheld
    // has closed the file already.
    Handles().Remove(hObject);
    cable::BoolAnswer answer;
    if (!Call(cable::MessageType::kCloseHandle, cable::HandleRequest{handle.remote}, answer,
              handle.connection)) {
        return FALSE;
    }
    return answer.result != 0 ? TRUE : FALSE;
}

BOOL CeDeleteFile(LPCWSTR lpFileName) {
    cable::DeleteFileRequest request;
    if (lpFileName == nullptr) {
        SetDeviceError(kErrorInvalidParameter);
        return FALSE;
    }
    if (!TakeText(lpFileName, request.name)) {
        SetDeviceError(kErrorFilenameTooLong);
        return FALSE;
    }
    cable::BoolAnswer answer;
    if (!Call(cable::MessageType::kDeleteFile, request, answer)) {
        return FALSE;
    }
    return answer.result != 0 ? TRUE : FALSE;
}

DWORD CeGetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    DeviceHandle handle;
    if (!Lookup(hFile, handle)) {
        return 0xFFFFFFFFu;
    }
    cable::GetFileSizeAnswer answer;
    if (!Call(cable::MessageType::kGetFileSize, cable::HandleRequest{handle.remote}, answer,
              handle.connection)) {
        return 0xFFFFFFFFu;
    }
    if (lpFileSizeHigh != nullptr) {
        *lpFileSizeHigh = answer.high;
    }
    return answer.result;
}

BOOL CeGetVersionEx(LPCEOSVERSIONINFO lpVersionInformation) {
    if (lpVersionInformation == nullptr) {
        SetDeviceError(kErrorInvalidParameter);
        return FALSE;
    }
    cable::GetVersionAnswer answer;
    if (!Call(cable::MessageType::kGetVersionEx, cable::GetVersionRequest{}, answer)) {
        return FALSE;
    }
    if (answer.result == 0) {
        return FALSE;
    }
    lpVersionInformation->dwMajorVersion = answer.major;
    lpVersionInformation->dwMinorVersion = answer.minor;
    lpVersionInformation->dwBuildNumber = answer.build;
    lpVersionInformation->dwPlatformId = answer.platform;
    std::fill(std::begin(lpVersionInformation->szCSDVersion), std::end(lpVersionInformation->szCSDVersion),
              u'\0');
    std::copy(answer.csd.begin(), answer.csd.end(), lpVersionInformation->szCSDVersion);
    return TRUE;
}

DWORD CeGetSpecialFolderPath(int nFolder, DWORD nBufferLength, LPWSTR lpBuffer) {
    if (lpBuffer == nullptr && nBufferLength > 0) {
        SetDeviceError(kErrorInvalidParameter);
        return 0;
    }
    cable::SpecialFolderAnswer answer;
    if (!Call(cable::MessageType::kGetSpecialFolderPath, cable::SpecialFolderRequest{nFolder}, answer)) {
        return 0;
    }
    if (answer.result == 0) {
        return 0;
    }
    if (answer.path.size() + 1 > nBufferLength) {
        SetDeviceError(kErrorInsufficientBuffer);
        return 0;
    }
    std::copy(answer.path.begin(), answer.path.end(), lpBuffer);
    lpBuffer[answer.path.size()] = u'\0';
    return static_cast<DWORD>(answer.path.size());
}

}  // extern "C"
