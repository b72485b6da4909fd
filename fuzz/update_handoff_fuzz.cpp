// The hand-over file "\temp\updinfo.ini" as the flasher reads it after the
// restart, with the checks the flasher makes of its addresses and the plan it
// makes for the part it programs last. Input: the file's bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "formats/update_handoff.h"
#include "reflash/part_plan.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "update_handoff_fuzz: %s\n", what);
    std::abort();
}

// What the desktop would have written for the records it read: the same
// records in the same order, each in its own slot.
nuva::UpdateHandoff RecordFor(const nuva::HandoffFile& file) {
    nuva::UpdateHandoff record;
    record.UI = file.UI;
    record.absoluate = file.absoluate;
    record.FRsvd = file.FRsvd;
    record.PSMStart = file.PSMStart;
    record.PSMLength = file.PSMLength;
    record.Status = {file.RestoreFlag, file.SpareBufferFlag};
    record.Items = file.Items;
    record.ROMNAME = file.ROMNAME;
    for (size_t r = 0; r < file.Items; ++r) {
        record.parts[r] = file.records[r];
        record.parts[r].Slot = static_cast<uint32_t>(r);
    }
    return record;
}

void CheckFinalPartPlan(uint32_t bytes) {
    uint64_t planned = 0;
    const auto steps = nuva::reflash::PlanFinalPart(bytes);
    for (const auto& step : steps) {
        if (step.offset >= bytes || step.length == 0 || step.length > bytes - step.offset) {
            Fail("a step of the final part lies outside the part");
        }
        planned += step.length;
    }
    if (planned != bytes) {
        Fail("the steps of the final part do not program it exactly once");
    }
    if (bytes != 0 && (steps.back().offset != 0 || !steps.back().restart)) {
        Fail("the final part does not end with its first bytes and the restart");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    nuva::HandoffFile file;
    size_t bad = 0;
    const nuva::HandoffError error = nuva::ParseHandoffFile(data, size, file, &bad);
    (void)nuva::DescribeHandoffError(error);
    if (error != nuva::HandoffError::kNone) {
        if ((error == nuva::HandoffError::kNameUnterminated || error == nuva::HandoffError::kNameNotInTemp) &&
            bad >= nuva::kMaxImageParts) {
            Fail("the record at fault is not one of the file's");
        }
        return 0;
    }
    if (file.Items > nuva::kMaxImageParts || file.ROMNAME.back() != '\0') {
        Fail("a parsed hand-over breaks its own limits");
    }

    (void)nuva::reflash::CheckHandoffAddresses(file);
    for (size_t r = 0; r < file.Items; ++r) {
        const nuva::ImagePart& part = file.records[r];
        if (nuva::reflash::PartFits(part.FlashAddress, part.PartLength)) {
            CheckFinalPartPlan(part.PartLength);
        }
    }

    const auto written = nuva::WriteHandoffFile(RecordFor(file));
    nuva::HandoffFile again;
    if (nuva::ParseHandoffFile(written.data(), written.size(), again) != nuva::HandoffError::kNone) {
        Fail("the hand-over written from accepted records is refused");
    }
    for (size_t r = 0; r < file.Items; ++r) {
        nuva::ImagePart expected = file.records[r];
        expected.Slot = static_cast<uint32_t>(r);
        if (!(again.records[r] == expected)) {
            Fail("a record does not read back as written");
        }
    }
    if (again.Items != file.Items || again.ROMNAME != file.ROMNAME || again.UI != file.UI ||
        again.PSMLength != file.PSMLength || again.RestoreFlag != file.RestoreFlag) {
        Fail("the fixed fields do not read back as written");
    }
    return 0;
}
