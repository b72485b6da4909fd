#include "reflash/wince_bindings.h"

#include <cstdio>

#include "reflash/part_plan.h"

namespace nuva::reflash {

uint32_t WinCePort::Read32(uint32_t address) {
    return READ_REGISTER_ULONG(NUVA_KADDR(ULONG, address));
}

void WinCePort::Write32(uint32_t address, uint32_t value) {
    WRITE_REGISTER_ULONG(NUVA_KADDR(ULONG, address), value);
}

void WinCePort::Read32s(uint32_t address, uint32_t* words, uint32_t count) {
    READ_REGISTER_BUFFER_ULONG(NUVA_KADDR(ULONG, address), words, count);
}

void WinCePort::Write32s(uint32_t address, const uint32_t* words, uint32_t count) {
    WRITE_REGISTER_BUFFER_ULONG(NUVA_KADDR(ULONG, address), words, count);
}

void WinCePort::Write8(uint32_t address, uint8_t value) {
    WRITE_REGISTER_UCHAR(NUVA_KADDR(UCHAR, address), value);
}

// The console draws with the register accessors only, so a mark is safe
// while a chip is still busy.
void WinCePort::Mark(char c) {
    console_.DrawCharacter(static_cast<uint8_t>(c), kTextColour);
}

void WinCeScreen::Text(uint16_t colour, std::string_view text) {
    console_.PutText(colour, text.data(), text.size());
}

void WinCeScreen::Glyphs(uint16_t colour, std::string_view text) {
    for (char c : text) {
        console_.DrawCharacter(static_cast<uint8_t>(c), colour);
    }
}

void* WinCePages::Commit(uint32_t bytes) {
    return VirtualAlloc(nullptr, bytes, MEM_COMMIT, PAGE_READWRITE | PAGE_NOCACHE);
}

bool WinCePages::Lock(void* address, uint32_t bytes, uint32_t* frames) {
    return LockPages(address, bytes, frames, LOCKFLAG_READ | LOCKFLAG_WRITE) != FALSE;
}

void WinCePages::Unlock(void* address, uint32_t bytes) {
    UnlockPages(address, bytes);
}

void WinCePages::Release(void* address) {
    VirtualFree(address, 0, MEM_RELEASE);
}

WinCeSystem::~WinCeSystem() {
    Close();
}

bool WinCeSystem::Open(const char16_t* path) {
    Close();
    file_ = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
    return file_ != INVALID_HANDLE_VALUE;
}

bool WinCeSystem::Size(uint32_t* bytes) {
    DWORD high = 0;
    DWORD low = GetFileSize(file_, &high);
    if (low == INVALID_FILE_SIZE || high != 0) {
        return false;
    }
    *bytes = low;
    return true;
}

bool WinCeSystem::Read(uint8_t* buffer, uint32_t count, uint32_t* done) {
    DWORD got = 0;
    BOOL ok = ReadFile(file_, buffer, count, &got, nullptr);
    *done = got;
    return ok != FALSE;
}

void WinCeSystem::Close() {
    if (file_ != INVALID_HANDLE_VALUE) {
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }
}

bool WinCeSystem::Delete(const char16_t* path) {
    return DeleteFileW(path) != FALSE;
}

uint8_t* WinCeSystem::AllocateHeapBuffer() {
    return static_cast<uint8_t*>(LocalAlloc(LPTR, kMegabyte));
}

bool WinCeSystem::AllocateContiguousBuffer(uint32_t* physical) {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    if (PageShift(info.dwPageSize) < 0) {
        return false;
    }
    uint32_t pages = PagesSpanned(kMegabyte, info.dwPageSize);
    auto* frames = static_cast<uint32_t*>(LocalAlloc(LPTR, pages * sizeof(uint32_t)));
    if (frames == nullptr) {
        char text[64];
        std::snprintf(text, sizeof text, "AllocatePhysicalMemory failed -_* , %d\n", static_cast<int>(pages));
        screen_.Text(kTextColour, text);
        return false;
    }
    WinCePages source;
    ContiguousBuffer buffer;
    ContiguousError error = FindContiguousBuffer(source, kMegabyte, info.dwPageSize, frames, &buffer);
    LocalFree(frames);
    if (error != ContiguousError::kNone) {
        return false;
    }
    *physical = buffer.physical;
    return true;
}

void WinCeSystem::MaskInterrupts() {
    INTERRUPTS_OFF();
}

}  // namespace nuva::reflash
