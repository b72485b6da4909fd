#include "tests/setup/link/fake_rapi.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>

#include "formats/byte_sum.h"
#include "formats/le.h"

namespace fake_rapi {
namespace {

constexpr HRESULT kOk = 0;
constexpr DWORD kBadPointer = 0xFFFFFFFFu;
constexpr HRESULT kProcNotFound = static_cast<HRESULT>(0x8007007F);
constexpr DWORD kErrorFileNotFound = 2;
constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorSharingViolation = 32;
constexpr DWORD kErrorFileExists = 80;
constexpr HRESULT kLinkDown = static_cast<HRESULT>(0x8007006D);
constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005);
constexpr HRESULT kAlreadyInitialised = static_cast<HRESULT>(0x80041001);

HANDLE Invalid() {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

std::u16string Lower(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) {
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return out;
}

struct FileEntry {
    std::u16string name;
    Bytes data;
};

struct OpenFile {
    std::u16string key;
    DWORD share = 0;
    size_t position = 0;
};

struct Device {
    std::mutex lock;
    std::condition_variable linkChanged;
    std::map<std::u16string, FileEntry> files;
    std::map<uintptr_t, OpenFile> handles;
    uintptr_t nextHandle = 0x100;
    std::vector<WriteRecord> writes;
    std::set<std::u16string> failCreate;
    std::function<long(const std::u16string&, DWORD)> writeFilter;
    std::function<void(const std::u16string&, Bytes&)> readFilter;
    std::optional<std::u16string> startup = u"\\Windows\\StartUp";
    InvokeHandler handler;
    std::vector<InvokeCall> invokes;
    bool plugged = true;
    bool initialised = false;
    int initEpoch = 0;
    int initWaiting = 0;
    std::deque<bool> probes;
    int probeCount = 0;
    int initCount = 0;
    int uninitCount = 0;
};

Device& Dev() {
    static Device device;
    return device;
}

struct Heap {
    std::mutex lock;
    std::map<void*, std::unique_ptr<uint8_t[]>> blocks;
    std::map<void*, size_t> sizes;
    int errors = 0;
    bool failAlloc = false;
    bool failLock = false;
};

Heap& TheHeap() {
    static Heap heap;
    return heap;
}

thread_local HRESULT t_rapiError = kOk;
thread_local DWORD t_lastError = 0;

// Marks this thread's call as failed by the link; the caller returns its
// failure value.
void LinkDown() {
    t_rapiError = kLinkDown;
    t_lastError = 0;
}

void DeviceError(DWORD error) {
    t_rapiError = kOk;
    t_lastError = error;
}

void Ok() {
    t_rapiError = kOk;
    t_lastError = 0;
}

OpenFile* FindHandle(Device& d, HANDLE h) {
    const auto it = d.handles.find(reinterpret_cast<uintptr_t>(h));
    return it == d.handles.end() ? nullptr : &it->second;
}

std::u16string WideFrom(const Bytes& bytes) {
    std::u16string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto c = static_cast<char16_t>(nuva::LoadLe16(bytes.data() + i));
        if (c == 0)
            break;
        out.push_back(c);
    }
    return out;
}

}  // namespace

InvokeAnswer AgentAnswer(const InvokeCall& call, const Bytes& info, const Bytes& flash) {
    if (call.function == u"FnNUVAInfo") {
        if (WideFrom(call.input) != u"ALL")
            return {kFail, std::nullopt};
        return {kOk, info};
    }
    if (call.function == u"IsCheckSumOk") {
        const std::optional<Bytes> file = File(WideFrom(call.input));
        if (!file || file->empty())
            return {kFail, std::nullopt};
        Bytes out(4);
        nuva::StoreLe32(out.data(), nuva::ByteSum(file->data(), file->size(), 0));
        return {kOk, out};
    }
    if (call.function == u"FnNUVAReadFlash") {
        if (call.input.size() < 8)
            return {kFail, std::nullopt};
        const uint32_t address = nuva::LoadLe32(call.input.data());
        const uint32_t length = nuva::LoadLe32(call.input.data() + 4);
        const uint64_t offset = uint64_t{address} - 0xA0000000u;
        if (address < 0xA0000000u || offset + length > flash.size())
            return {kFail, std::nullopt};
        Bytes out(flash.begin() + static_cast<long>(offset),
                  flash.begin() + static_cast<long>(offset + length));
        out.resize(length + 4);
        nuva::StoreLe32(out.data() + length, nuva::ByteSum(out.data(), length, 0));
        return {kOk, out};
    }
    if (call.function == u"FnNUVAShowString")
        return {kFail, std::nullopt};
    if (call.function == u"WarmReset" || call.function == u"ColdReset")
        return {kOk, std::nullopt};
    return {kProcNotFound, std::nullopt};
}

void Reset() {
    Device& d = Dev();
    {
        std::lock_guard hold(d.lock);
        d.files.clear();
        d.handles.clear();
        d.writes.clear();
        d.failCreate.clear();
        d.writeFilter = nullptr;
        d.readFilter = nullptr;
        d.startup = u"\\Windows\\StartUp";
        d.handler = [](const InvokeCall& call) { return AgentAnswer(call, Bytes(124), Bytes()); };
        d.invokes.clear();
        d.plugged = true;
        d.initialised = false;
        d.probes.clear();
        d.probeCount = 0;
        d.initCount = 0;
        d.uninitCount = 0;
    }
    d.linkChanged.notify_all();
    Heap& heap = TheHeap();
    std::lock_guard hold(heap.lock);
    heap.blocks.clear();
    heap.sizes.clear();
    heap.errors = 0;
    heap.failAlloc = false;
    heap.failLock = false;
}

void PutFile(const std::u16string& path, Bytes bytes) {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    d.files[Lower(path)] = FileEntry{path, std::move(bytes)};
}

std::optional<Bytes> File(const std::u16string& path) {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    const auto it = d.files.find(Lower(path));
    if (it == d.files.end())
        return std::nullopt;
    return it->second.data;
}

std::vector<std::u16string> FileNames() {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    std::vector<std::u16string> names;
    for (const auto& [key, entry] : d.files)
        names.push_back(entry.name);
    return names;
}

std::vector<WriteRecord> Writes() {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    return d.writes;
}

size_t OpenHandles() {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    return d.handles.size();
}

void FailCreate(const std::u16string& path) {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    d.failCreate.insert(Lower(path));
}

void SetWriteFilter(std::function<long(const std::u16string&, DWORD)> filter) {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    d.writeFilter = std::move(filter);
}

void SetReadFilter(std::function<void(const std::u16string&, Bytes&)> filter) {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    d.readFilter = std::move(filter);
}

void SetStartupFolder(std::optional<std::u16string> folder) {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    d.startup = std::move(folder);
}

void SetInvokeHandler(InvokeHandler handler) {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    d.handler = std::move(handler);
}

std::vector<InvokeCall> Invokes() {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    return d.invokes;
}

void SetPlugged(bool plugged) {
    Device& d = Dev();
    {
        std::lock_guard hold(d.lock);
        d.plugged = plugged;
        // Device handles die with the link.
        if (!plugged)
            d.handles.clear();
    }
    d.linkChanged.notify_all();
}

void ScriptProbes(std::vector<bool> answers) {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    d.probes.assign(answers.begin(), answers.end());
}

int ProbeCount() {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    return d.probeCount;
}

int RapiInitCount() {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    return d.initCount;
}

int RapiUninitCount() {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    return d.uninitCount;
}

bool RapiInitBlocked() {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    return d.initWaiting > 0;
}

size_t LiveBlocks() {
    Heap& heap = TheHeap();
    std::lock_guard hold(heap.lock);
    return heap.blocks.size();
}

int HeapErrors() {
    Heap& heap = TheHeap();
    std::lock_guard hold(heap.lock);
    return heap.errors;
}

void FailNextLocalAlloc() {
    Heap& heap = TheHeap();
    std::lock_guard hold(heap.lock);
    heap.failAlloc = true;
}

void FailNextLocalLock() {
    Heap& heap = TheHeap();
    std::lock_guard hold(heap.lock);
    heap.failLock = true;
}

}  // namespace fake_rapi

using namespace fake_rapi;

extern "C" {

HRESULT CeRapiInit(void) {
    Device& d = Dev();
    std::unique_lock hold(d.lock);
    ++d.initCount;
    if (d.initialised && d.plugged)
        return kAlreadyInitialised;
    const int epoch = d.initEpoch;
    ++d.initWaiting;
    d.linkChanged.wait(hold, [&] { return d.plugged || d.initEpoch != epoch; });
    --d.initWaiting;
    if (d.initEpoch != epoch)
        return kFail;
    d.initialised = true;
    return kOk;
}

HRESULT CeRapiUninit(void) {
    Device& d = Dev();
    {
        std::lock_guard hold(d.lock);
        ++d.uninitCount;
        ++d.initEpoch;
        d.initialised = false;
    }
    d.linkChanged.notify_all();
    return kOk;
}

HRESULT CeRapiGetError(void) {
    return t_rapiError;
}
DWORD CeGetLastError(void) {
    return t_lastError;
}

HRESULT CeRapiInvoke(LPCWSTR pDllPath, LPCWSTR pFunctionName, DWORD cbInput, BYTE* pInput, DWORD* pcbOutput,
                     BYTE** ppOutput, IRAPIStream** ppIRAPIStream, DWORD dwReserved) {
    (void)ppIRAPIStream;
    (void)dwReserved;
    if (pcbOutput != nullptr)
        *pcbOutput = 0;
    if (ppOutput != nullptr)
        *ppOutput = nullptr;

    InvokeCall call;
    call.library = pDllPath != nullptr ? pDllPath : u"";
    call.function = pFunctionName != nullptr ? pFunctionName : u"";
    call.passed = cbInput;
    call.hadBlock = pInput != nullptr;
    if (pInput != nullptr) {
        call.blockSize = LocalSize(LocalHandle(pInput));
        const size_t take = std::min<size_t>(cbInput, call.blockSize);
        call.input.assign(pInput, pInput + take);
        if (take < cbInput) {
            std::lock_guard hold(TheHeap().lock);
            ++TheHeap().errors;  // passed more than the block holds
        }
        // The input block belongs to RAPI from the call on.
        if (LocalFree(LocalHandle(pInput)) != nullptr) {
            std::lock_guard hold(TheHeap().lock);
            ++TheHeap().errors;
        }
    }

    InvokeHandler handler;
    {
        Device& d = Dev();
        std::lock_guard hold(d.lock);
        d.invokes.push_back(call);
        if (!d.plugged) {
            LinkDown();
            return kLinkDown;
        }
        handler = d.handler;
    }
    const InvokeAnswer answer = handler(call);
    if (answer.output && ppOutput != nullptr && pcbOutput != nullptr) {
        auto* block = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, answer.output->size()));
        if (!answer.output->empty())
            std::memcpy(block, answer.output->data(), answer.output->size());
        *ppOutput = block;
        *pcbOutput = static_cast<DWORD>(answer.output->size());
    }
    Ok();
    return answer.result;
}

HANDLE CeCreateFile(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                    LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                    DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    (void)dwDesiredAccess;
    (void)lpSecurityAttributes;
    (void)dwFlagsAndAttributes;
    (void)hTemplateFile;
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    if (!d.plugged) {
        LinkDown();
        return Invalid();
    }
    const std::u16string name = lpFileName != nullptr ? lpFileName : u"";
    const std::u16string key = Lower(name);
    if (name.empty() || d.failCreate.count(key) != 0) {
        DeviceError(kErrorFileNotFound);
        return Invalid();
    }
    for (const auto& [id, open] : d.handles) {
        if (open.key == key && (open.share == 0 || dwShareMode == 0)) {
            DeviceError(kErrorSharingViolation);
            return Invalid();
        }
    }
    const bool exists = d.files.count(key) != 0;
    switch (dwCreationDisposition) {
        case CREATE_NEW:
            if (exists) {
                DeviceError(kErrorFileExists);
                return Invalid();
            }
            d.files[key] = FileEntry{name, {}};
            break;
        case CREATE_ALWAYS:
            d.files[key] = FileEntry{name, {}};
            break;
        case OPEN_EXISTING:
            if (!exists) {
                DeviceError(kErrorFileNotFound);
                return Invalid();
            }
            break;
        case OPEN_ALWAYS:
            if (!exists)
                d.files[key] = FileEntry{name, {}};
            break;
        case TRUNCATE_EXISTING:
            if (!exists) {
                DeviceError(kErrorFileNotFound);
                return Invalid();
            }
            d.files[key].data.clear();
            break;
        default:
            DeviceError(87);
            return Invalid();
    }
    const uintptr_t id = d.nextHandle++;
    d.handles[id] = OpenFile{key, dwShareMode, 0};
    Ok();
    return reinterpret_cast<HANDLE>(id);
}

BOOL CeReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                LPOVERLAPPED lpOverlapped) {
    (void)lpOverlapped;
    if (lpNumberOfBytesRead != nullptr)
        *lpNumberOfBytesRead = 0;
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    if (!d.plugged) {
        LinkDown();
        return FALSE;
    }
    OpenFile* open = FindHandle(d, hFile);
    if (open == nullptr) {
        DeviceError(kErrorInvalidHandle);
        return FALSE;
    }
    FileEntry& file = d.files[open->key];
    const size_t available = open->position < file.data.size() ? file.data.size() - open->position : 0;
    const size_t take = std::min<size_t>(available, nNumberOfBytesToRead);
    Bytes bytes(file.data.begin() + static_cast<long>(open->position),
                file.data.begin() + static_cast<long>(open->position + take));
    if (d.readFilter)
        d.readFilter(file.name, bytes);
    if (!bytes.empty())
        std::memcpy(lpBuffer, bytes.data(), std::min(bytes.size(), take));
    open->position += take;
    if (lpNumberOfBytesRead != nullptr)
        *lpNumberOfBytesRead = static_cast<DWORD>(take);
    Ok();
    return TRUE;
}

BOOL CeWriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                 LPOVERLAPPED lpOverlapped) {
    (void)lpOverlapped;
    if (lpNumberOfBytesWritten != nullptr)
        *lpNumberOfBytesWritten = 0;
    Device& d = Dev();
    std::unique_lock hold(d.lock);
    if (!d.plugged) {
        LinkDown();
        return FALSE;
    }
    OpenFile* open = FindHandle(d, hFile);
    if (open == nullptr) {
        DeviceError(kErrorInvalidHandle);
        return FALSE;
    }
    FileEntry& file = d.files[open->key];
    long accept = nNumberOfBytesToWrite;
    if (d.writeFilter) {
        auto filter = d.writeFilter;
        const std::u16string name = file.name;
        hold.unlock();
        accept = filter(name, nNumberOfBytesToWrite);
        hold.lock();
        // The filter may have unplugged the handheld.
        open = FindHandle(d, hFile);
        if (!d.plugged || open == nullptr) {
            LinkDown();
            return FALSE;
        }
    }
    if (accept < 0) {
        DeviceError(29);  // ERROR_WRITE_FAULT
        return FALSE;
    }
    const size_t count = std::min<size_t>(static_cast<size_t>(accept), nNumberOfBytesToWrite);
    FileEntry& target = d.files[open->key];
    if (target.data.size() < open->position + count)
        target.data.resize(open->position + count);
    if (count != 0)
        std::memcpy(target.data.data() + open->position, lpBuffer, count);
    open->position += count;
    d.writes.push_back(WriteRecord{target.name, static_cast<DWORD>(count)});
    if (lpNumberOfBytesWritten != nullptr)
        *lpNumberOfBytesWritten = static_cast<DWORD>(count);
    Ok();
    return TRUE;
}

DWORD CeSetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    if (!d.plugged) {
        LinkDown();
        return kBadPointer;
    }
    OpenFile* open = FindHandle(d, hFile);
    if (open == nullptr) {
        DeviceError(kErrorInvalidHandle);
        return kBadPointer;
    }
    int64_t base = 0;
    if (dwMoveMethod == FILE_CURRENT)
        base = static_cast<int64_t>(open->position);
    if (dwMoveMethod == FILE_END)
        base = static_cast<int64_t>(d.files[open->key].data.size());
    int64_t distance = lDistanceToMove;
    if (lpDistanceToMoveHigh != nullptr)
        distance += static_cast<int64_t>(*lpDistanceToMoveHigh) << 32;
    const int64_t target = base + distance;
    if (target < 0 || target > 0xFFFFFFFE) {
        DeviceError(131);  // ERROR_NEGATIVE_SEEK
        return kBadPointer;
    }
    open->position = static_cast<size_t>(target);
    Ok();
    return static_cast<DWORD>(target);
}

BOOL CeSetEndOfFile(HANDLE hFile) {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    if (!d.plugged) {
        LinkDown();
        return FALSE;
    }
    OpenFile* open = FindHandle(d, hFile);
    if (open == nullptr) {
        DeviceError(kErrorInvalidHandle);
        return FALSE;
    }
    d.files[open->key].data.resize(open->position);
    Ok();
    return TRUE;
}

BOOL CeCloseHandle(HANDLE hObject) {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    if (d.handles.erase(reinterpret_cast<uintptr_t>(hObject)) == 0) {
        DeviceError(kErrorInvalidHandle);
        return FALSE;
    }
    Ok();
    return TRUE;
}

BOOL CeDeleteFile(LPCWSTR lpFileName) {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    if (!d.plugged) {
        LinkDown();
        return FALSE;
    }
    const std::u16string key = Lower(lpFileName != nullptr ? lpFileName : u"");
    for (const auto& [id, open] : d.handles) {
        if (open.key == key) {
            DeviceError(kErrorSharingViolation);
            return FALSE;
        }
    }
    if (d.files.erase(key) == 0) {
        DeviceError(kErrorFileNotFound);
        return FALSE;
    }
    Ok();
    return TRUE;
}

DWORD CeGetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    if (lpFileSizeHigh != nullptr)
        *lpFileSizeHigh = 0;
    OpenFile* open = d.plugged ? FindHandle(d, hFile) : nullptr;
    if (open == nullptr) {
        if (d.plugged)
            DeviceError(kErrorInvalidHandle);
        else
            LinkDown();
        return 0xFFFFFFFFu;
    }
    Ok();
    return static_cast<DWORD>(d.files[open->key].data.size());
}

BOOL CeGetVersionEx(LPCEOSVERSIONINFO lpVersionInformation) {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    ++d.probeCount;
    bool answer = d.plugged;
    if (!d.probes.empty()) {
        answer = d.probes.front();
        d.probes.pop_front();
    }
    if (!answer) {
        LinkDown();
        return FALSE;
    }
    if (lpVersionInformation != nullptr) {
        lpVersionInformation->dwMajorVersion = 4;
        lpVersionInformation->dwMinorVersion = 20;
        lpVersionInformation->dwBuildNumber = 1081;
        lpVersionInformation->dwPlatformId = 3;
    }
    Ok();
    return TRUE;
}

DWORD CeGetSpecialFolderPath(int nFolder, DWORD nBufferLength, LPWSTR lpBuffer) {
    Device& d = Dev();
    std::lock_guard hold(d.lock);
    if (!d.plugged) {
        LinkDown();
        return 0;
    }
    if (nFolder != CSIDL_STARTUP || !d.startup || lpBuffer == nullptr || nBufferLength <= d.startup->size()) {
        DeviceError(kErrorFileNotFound);
        return 0;
    }
    std::copy(d.startup->begin(), d.startup->end(), lpBuffer);
    lpBuffer[d.startup->size()] = 0;
    Ok();
    return static_cast<DWORD>(d.startup->size());
}

HLOCAL LocalAlloc(UINT uFlags, size_t uBytes) {
    Heap& heap = TheHeap();
    std::lock_guard hold(heap.lock);
    if (heap.failAlloc) {
        heap.failAlloc = false;
        return nullptr;
    }
    auto block = std::make_unique<uint8_t[]>(std::max<size_t>(uBytes, 1));
    // Without LMEM_ZEROINIT the block holds garbage, as a heap's would.
    std::memset(block.get(), (uFlags & LMEM_ZEROINIT) != 0 ? 0 : 0xCD, std::max<size_t>(uBytes, 1));
    void* p = block.get();
    heap.blocks[p] = std::move(block);
    heap.sizes[p] = uBytes;
    return p;
}

LPVOID LocalLock(HLOCAL hMem) {
    Heap& heap = TheHeap();
    std::lock_guard hold(heap.lock);
    if (heap.failLock) {
        heap.failLock = false;
        return nullptr;
    }
    return heap.blocks.count(hMem) != 0 ? hMem : nullptr;
}

BOOL LocalUnlock(HLOCAL hMem) {
    (void)hMem;
    return FALSE;
}

HLOCAL LocalHandle(LPCVOID pMem) {
    Heap& heap = TheHeap();
    std::lock_guard hold(heap.lock);
    void* p = const_cast<void*>(pMem);
    return heap.blocks.count(p) != 0 ? p : nullptr;
}

HLOCAL LocalFree(HLOCAL hMem) {
    Heap& heap = TheHeap();
    std::lock_guard hold(heap.lock);
    if (heap.blocks.erase(hMem) == 0) {
        ++heap.errors;
        return hMem;
    }
    heap.sizes.erase(hMem);
    return nullptr;
}

size_t LocalSize(HLOCAL hMem) {
    Heap& heap = TheHeap();
    std::lock_guard hold(heap.lock);
    const auto it = heap.sizes.find(hMem);
    return it == heap.sizes.end() ? 0 : it->second;
}

}  // extern "C"
