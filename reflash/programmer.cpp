#include "reflash/programmer.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "formats/result_codes.h"

namespace nuva::reflash {
namespace {

constexpr uint32_t kStagingWords = kReadPieceBytes / 4;
constexpr uint32_t kPsmErasePiece = 2 * kMegabyte;
constexpr uint32_t kColdStartWords[] = {0x690, 0x70C};
constexpr uint32_t kRamCachedStart = 0x84000000;
constexpr uint32_t kRamCachedEnd = 0x88000000;

std::string_view TextUpToNul(const std::array<char, 32>& text) {
    return {text.data(), static_cast<size_t>(std::find(text.begin(), text.end(), '\0') - text.begin())};
}

}  // namespace

Programmer::Programmer(const HandoffFile& handoff, FlasherSystem& system, FlasherScreen& screen,
                       FlashPort& port, SequenceLimits limits)
    : handoff_(handoff),
      system_(system),
      screen_(screen),
      port_(port),
      limits_(limits),
      routines_(port, handoff.FRsvd, limits),
      staging_(new uint32_t[kStagingWords]) {}

Programmer::~Programmer() = default;

void Programmer::Printf(uint16_t colour, const char* format, ...) {
    char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    screen_.Text(colour, text);
}

SequenceEnd Programmer::Run() {
    if (!routines_.Copy()) {
        return SequenceEnd::kRoutinesNotCopied;
    }
    SetUpRegisters();
    system_.MaskInterrupts();
    if (!UnlockFlash(port_, kUnlockAddress, limits_.unlockReads).ok) {
        screen_.Text(kTextColour, "Flash unlock failed ..\n");
        return SequenceEnd::kUnlockFailed;
    }
    screen_.Home();
    screen_.Clear();
    if (handoff_.SpareBufferFlag != 0) {
        spare_ = system_.AllocateHeapBuffer();
        if (spare_ == nullptr) {
            RestartLine(port_);
            return SequenceEnd::kRestarted;
        }
    }
    screen_.Text(kTextColour, "v2.0 A00 (06230300)");
    if (spare_ != nullptr) {
        screen_.Text(kTextColour, ".");
    }
    screen_.Text(kTextColour, "\n");
    screen_.Text(kTextColour, "   ->Pocket PC ");
    screen_.Glyphs(kTextColour, TextUpToNul(handoff_.ROMNAME));
    screen_.Text(kTextColour, "..\n");
    if (!AllocateBufferZero()) {
        RestartLine(port_);
        return SequenceEnd::kRestarted;
    }
    if (handoff_.PSMStart != 0 && handoff_.PSMLength != 0) {
        EraseBuiltInStorage();
    }
    for (uint32_t i = 0; i < handoff_.Items && i < handoff_.records.size(); ++i) {
        const ImagePart& part = handoff_.records[i];
        Printf(kTextColour, "... %d/%d .", static_cast<int>(i + 1), static_cast<int>(handoff_.Items));
        bool final = part.FirstFlag != 0;
        uint32_t result = final ? ProgramFinalPart(part) : ProgramPart(part);
        if (result == kFlasherNoMemory) {
            RestartLine(port_);
            return SequenceEnd::kRestarted;
        }
        if (result != kPartOk) {
            if (i > 0) {
                screen_.Text(kStatusColour, "\nFAILED IN UPDATING SYSTEM IMAGE!\n ");
                screen_.Text(kStatusColour, "\nPlease restart the utility again\n ");
                return SequenceEnd::kPartFailed;
            }
            if (final) {
                return SequenceEnd::kPartFailed;
            }
            continue;  // the first record is optional
        }
        if (final) {
            return SequenceEnd::kRestarted;
        }
        if (part.LateFlag == 1) {
            system_.Delete(part.PartName.data());
        }
        if (inUse_ == 2 && spare_ != nullptr) {
            heap_[2] = std::exchange(spare_, nullptr);
            inUse_ = 3;
        }
        screen_.Text(kTextColour, "\n");
    }
    return SequenceEnd::kListDone;
}

void Programmer::SetUpRegisters() {
    port_.Write32(kMemoryControlBase + 0x08, 0x7FF27FF2);
    port_.Write32(kMemoryControlBase + 0x10, 0x7FFC7FF9);
    port_.Write32(kMemoryControlBase + 0x04, port_.Read32(kMemoryControlBase + 0x04) & ~(1u << 20));
    port_.Write32(kLcdControlWord, 0);
    port_.Write32(kInterruptControlWord, 0);
}

void Programmer::EraseBuiltInStorage() {
    screen_.Text(kTextColour, "PSM Erase: ");
    for (uint32_t done = 0; done < handoff_.PSMLength;) {
        uint32_t piece = std::min(kPsmErasePiece, handoff_.PSMLength - done);
        // A block that does not erase is left as it is: the storage is
        // formatted afresh by the new system anyway.
        routines_.EraseRange(handoff_.PSMStart + done, piece);
        screen_.Text(kTextColour, ".");
        done += piece;
    }
    screen_.Text(kTextColour, "\n");
}

bool Programmer::AllocateBufferZero() {
    uint32_t physical = 0;
    if (!system_.AllocateContiguousBuffer(&physical)) {
        return false;
    }
    uint32_t working = physical - kStaticMappingOffset;
    if (working < kRamCachedStart || working > kRamCachedEnd - kMegabyte) {
        return false;  // not RAM the static mapping reaches
    }
    bufferZero_ = working;
    inUse_ = std::max(inUse_, 1u);
    return true;
}

bool Programmer::PartSize(const ImagePart& part, uint32_t* size) {
    *size = 0;
    if (!system_.Open(part.PartName.data())) {
        return false;
    }
    bool ok = system_.Size(size);
    system_.Close();
    return ok && *size != 0 && PartFits(part.FlashAddress, *size);
}

bool Programmer::EnsureBuffers(uint32_t count, bool final) {
    for (uint32_t i = std::max(inUse_, 1u); i < count && i < kMaxPartBuffers; ++i) {
        if (final) {
            screen_.Text(kTextColour, "+");
        }
        heap_[i] = system_.AllocateHeapBuffer();
        if (heap_[i] == nullptr) {
            if (final) {
                Printf(kTextColour, "Allocate memory faile failed %d\n", static_cast<int>(i));
            } else {
                Printf(kTextColour, "Allocate memory failed %d\n", static_cast<int>(i));
            }
            return false;
        }
        if (final) {
            screen_.Text(kTextColour, "/");
        }
        inUse_ = i + 1;
    }
    return inUse_ >= count;
}

void Programmer::WriteBufferZero(uint32_t offset, const uint8_t* bytes, uint32_t count) {
    auto* staging = reinterpret_cast<uint8_t*>(staging_.get());
    for (uint32_t done = 0; done < count;) {
        uint32_t piece = std::min(kReadPieceBytes, count - done);
        if (bytes + done != staging) {
            std::memcpy(staging, bytes + done, piece);
        }
        uint32_t words = (piece + 3) / 4;
        std::memset(staging + piece, 0, words * 4 - piece);
        port_.Write32s(bufferZero_ + offset + done, staging_.get(), words);
        done += piece;
    }
}

void Programmer::CopyToBufferZero(uint32_t buffer, uint32_t offset, uint32_t bytes) {
    WriteBufferZero(offset, heap_[buffer] + offset, bytes);
}

bool Programmer::ReadPart(const ImagePart& part, uint32_t size, bool final) {
    if (!system_.Open(part.PartName.data())) {
        screen_.Text(kTextColour, "create file failed\n");
        return false;
    }
    uint32_t megabytes = BuffersNeeded(size);
    auto* staging = reinterpret_cast<uint8_t*>(staging_.get());
    for (uint32_t k = 0; k < size;) {
        uint32_t piece = std::min(kReadPieceBytes, size - k);
        uint32_t megabyte = k / kMegabyte;
        uint32_t offset = k % kMegabyte;
        // The final part keeps its last megabyte in buffer 0 and megabyte m
        // in buffer m + 1; any other part keeps megabyte m in buffer m.
        uint32_t buffer = !final ? megabyte : (megabyte + 1 == megabytes ? 0 : megabyte + 1);
        uint8_t* target = buffer == 0 ? staging : heap_[buffer] + offset;
        uint32_t done = 0;
        bool ok = system_.Read(target, piece, &done);
        if (!ok || done != piece) {
            if (final) {
                Printf(kTextColour, "Read file fail ed .%d.%d.<%d.%d>\n", ok ? 1 : 0, static_cast<int>(k),
                       static_cast<int>(piece), static_cast<int>(done));
                screen_.Text(kStatusColour, "ReadFile fail ..1 \n");
            } else {
                Printf(kTextColour, "Read file failed(%d) , %08x ,%08x ,%08x \n", ok ? 1 : 0, k, piece, done);
                screen_.Text(kTextColour, "Read file failed\n");
            }
            system_.Close();
            return false;
        }
        if (buffer == 0) {
            WriteBufferZero(offset, staging, piece);
        }
        k += piece;
    }
    system_.Close();
    return true;
}

bool Programmer::ProgramWithRetry(uint32_t address, uint32_t source, uint32_t length, bool restart) {
    for (;;) {
        uint32_t result =
            routines_.ProgramRange(address, source, length, restart ? kRestartRegisters : 0, restart ? 1 : 0);
        if (result == kFlashOk) {
            return true;
        }
        if (!IsRepeatable(result)) {
            return false;
        }
        Printf(kTextColour, "Retry again ..E:0x%08x\n", routines_.LastStatus());
    }
}

void Programmer::ClearColdStartWords() {
    for (uint32_t word : kColdStartWords) {
        for (uint32_t i = 0; i < 4; ++i) {
            port_.Write8(handoff_.absoluate + word + i, 0);
        }
    }
}

uint32_t Programmer::ProgramPart(const ImagePart& part) {
    uint32_t size = 0;
    if (!PartSize(part, &size)) {
        return kPartFailed;
    }
    if (!EnsureBuffers(BuffersNeeded(size), false)) {
        return kFlasherNoMemory;
    }
    screen_.Text(kTextColour, ".");
    if (!ReadPart(part, size, false)) {
        return kPartFailed;
    }
    screen_.Text(kTextColour, ".");
    // A piece that fails is repeated on its own: buffer 0 still holds its
    // megabyte, and the pieces before it are already in flash.
    for (uint32_t k = 0; k < size; k += kMegabyte) {
        if (k != 0) {
            CopyToBufferZero(k / kMegabyte, 0, kMegabyte);
        }
        if (!ProgramWithRetry(part.FlashAddress + k, bufferZero_, std::min(kMegabyte, size - k), false)) {
            return kPartFailed;
        }
    }
    return kPartOk;
}

uint32_t Programmer::ProgramFinalPart(const ImagePart& part) {
    uint32_t size = 0;
    if (!PartSize(part, &size)) {
        screen_.Text(kTextColour, "GetFileSize() failed\n");
        return kPartFailed;
    }
    if (!EnsureBuffers(BuffersNeeded(size), true)) {
        return kFlasherNoMemory;
    }
    screen_.Text(kStatusColour, ".");
    if (!ReadPart(part, size, true)) {
        return kPartFailed;
    }
    screen_.Text(kStatusColour, ".");
    screen_.Text(kStatusColour, "\n");
    // From here on the old system is being overwritten: whatever happens,
    // the next start must be a cold one.
    ClearColdStartWords();
    for (const FinalPartStep& step : PlanFinalPart(size)) {
        if (step.announce) {
            screen_.Text(kStatusColour, handoff_.RestoreFlag != 0 ? "Restore complete" : "Update complete");
        }
        uint32_t half = step.offset - step.megabyte * kMegabyte;
        if (step.copyFrom != 0) {
            CopyToBufferZero(step.copyFrom, half, kHalfMegabyte);
        }
        if (!ProgramWithRetry(part.FlashAddress + step.offset, bufferZero_ + half, step.length,
                              step.restart)) {
            return kPartFailed;
        }
        if (step.restart) {
            RestartLine(port_);
        }
    }
    return kPartOk;
}

}  // namespace nuva::reflash
