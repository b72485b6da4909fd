#include "reflash/part_check.h"

#include <algorithm>
#include <array>

#include "formats/byte_sum.h"
#include "reflash/part_plan.h"

namespace nuva::reflash {
namespace {

PartCheck CheckOpenPart(const ImagePart& part, PartFiles& files) {
    uint32_t size = 0;
    if (!files.Size(&size) || size == 0) {
        return PartCheck::kGetFileSize;
    }
    if (!PartFits(part.FlashAddress, size)) {
        return PartCheck::kDoesNotFit;
    }
    std::array<uint8_t, kCheckPieceBytes> piece;
    uint32_t sum = 0;
    for (uint32_t left = size; left > 0;) {
        uint32_t want = std::min(left, kCheckPieceBytes);
        uint32_t done = 0;
        if (!files.Read(piece.data(), want, &done) || done != want) {
            return PartCheck::kReadFile;
        }
        sum = ByteSum(piece.data(), done, sum);
        left -= done;
    }
    return sum == part.PartSum ? PartCheck::kOk : PartCheck::kCheckSum;
}

}  // namespace

PartCheckResult CheckParts(const HandoffFile& handoff, PartFiles& files) {
    for (size_t r = 0; r < handoff.Items && r < handoff.records.size(); ++r) {
        const ImagePart& part = handoff.records[r];
        if (!files.Open(part.PartName.data())) {
            if (r == 0) {
                continue;
            }
            return {PartCheck::kCreateFile, r};
        }
        PartCheck check = CheckOpenPart(part, files);
        files.Close();
        if (check != PartCheck::kOk) {
            return {check, r};
        }
    }
    return {};
}

}  // namespace nuva::reflash
