// A scripted stand-in for the RAPI C API, for tests of the device link: an
// in-memory handheld file store, a desktop local heap that counts its
// blocks, a link that can be plugged and unplugged, and agent calls answered
// by a handler the test provides. Every function of platform/rapi/rapi.h is
// defined over it, so a test binary links this instead of the cable.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/rapi/rapi.h"

namespace fake_rapi {

using Bytes = std::vector<uint8_t>;

// One CeRapiInvoke as the handheld saw it.
struct InvokeCall {
    std::u16string library;
    std::u16string function;
    DWORD passed = 0;       // cbInput
    bool hadBlock = false;  // pInput was not null
    size_t blockSize = 0;   // LocalSize of the input block
    Bytes input;            // the `passed` bytes of the block
};

// What the handheld answers: the result and, when set, the output block.
struct InvokeAnswer {
    HRESULT result = 0;  // S_OK
    std::optional<Bytes> output;
};

using InvokeHandler = std::function<InvokeAnswer(const InvokeCall&)>;

// One CeWriteFile that reached a file.
struct WriteRecord {
    std::u16string path;
    DWORD size = 0;
};

// The agent as the real one answers: FnNUVAInfo gives `info` (124 bytes),
// IsCheckSumOk the ByteSum of the named file, FnNUVAReadFlash the bytes of
// `flash` from address 0xA0000000 on with their sum, FnNUVAShowString
// E_FAIL, the resets S_OK.
InvokeAnswer AgentAnswer(const InvokeCall& call, const Bytes& info, const Bytes& flash);

// Resets the whole fake: no files, no handles, link plugged and initialised,
// default agent (AgentAnswer with a zero record and no flash), heap empty.
void Reset();

// ---- The handheld's files (paths compare without regard to case) --------
void PutFile(const std::u16string& path, Bytes bytes);
std::optional<Bytes> File(const std::u16string& path);
std::vector<std::u16string> FileNames();
std::vector<WriteRecord> Writes();
size_t OpenHandles();
// Files whose creation fails (CeCreateFile answers INVALID_HANDLE_VALUE).
void FailCreate(const std::u16string& path);
// Called before every write; returns how many of `size` bytes the handheld
// accepts, or -1 for a failed write. Default: all of them.
void SetWriteFilter(std::function<long(const std::u16string& path, DWORD size)> filter);
// Called after every read with the bytes read; may change them.
void SetReadFilter(std::function<void(const std::u16string& path, Bytes& bytes)> filter);
void SetStartupFolder(std::optional<std::u16string> folder);  // nullopt: the call fails

// ---- Agent calls -----------------------------------------------------------
void SetInvokeHandler(InvokeHandler handler);
std::vector<InvokeCall> Invokes();

// ---- The link ----------------------------------------------------------------
// Unplugged: every device call fails with RAPI_E_LINK_DOWN and a waiting
// CeRapiInit keeps waiting. Plugged: the handheld answers again.
void SetPlugged(bool plugged);
// Answers for the next CeGetVersionEx calls, in order (true = success);
// when none are left, the probe succeeds exactly while the link is plugged.
void ScriptProbes(std::vector<bool> answers);
int ProbeCount();
int RapiInitCount();
int RapiUninitCount();
bool RapiInitBlocked();

// ---- The desktop's local heap ------------------------------------------------
size_t LiveBlocks();
int HeapErrors();  // frees of unknown or already freed blocks
void FailNextLocalAlloc();
void FailNextLocalLock();

}  // namespace fake_rapi
