// The check of every image part against the byte sum the hand-over records
// for it, before anything is touched: the flasher programs nothing unless
// each part is there, whole and correct. The record in the first slot is the
// one exception: its part may be missing (it is then skipped here and its
// programming fails quietly later).
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/update_handoff.h"
#include "reflash/part_files.h"

namespace nuva::reflash {

// Verification reads a part in pieces of at most this many bytes.
inline constexpr uint32_t kCheckPieceBytes = 512;

enum class PartCheck {
    kOk,
    kCreateFile,   // the part's file cannot be opened (any record but the first)
    kGetFileSize,  // its size cannot be taken or is 0
    kReadFile,     // a read failed or came back short
    kCheckSum,     // the bytes do not add up to the record's PartSum
    kDoesNotFit,   // the part is larger than the part buffers, or runs out of the flash window
};

struct PartCheckResult {
    PartCheck check = PartCheck::kOk;
    size_t record = 0;  // the record at fault
};

PartCheckResult CheckParts(const HandoffFile& handoff, PartFiles& files);

}  // namespace nuva::reflash
