#include "setup/device/compatibility.h"

#include "setup/device/device_texts.h"

namespace nuva {

int32_t CheckCompatibility(const ImageHeader& header, const DeviceInfo& info, CompatibilityVerdict& verdict,
                           int languageRefuses, int downgradeRefuses, int sameDeviceRequired) {
    verdict = CompatibilityVerdict{};

    const LanguageRow* language = LanguageRowForId(info.LanguageId);
    if (language == nullptr || header.LanguageCode() != language->code) {
        verdict.LanguageMismatch = 1;
        if (languageRefuses == 1) {
            verdict.Refuse = 1;
        }
    }

    bool modelFits =
        (info.MemoryConfig == kMemoryConfigAdvanced && header.ModelByte() == kModelByteAdvanced) ||
        (info.MemoryConfig == kMemoryConfigBasic && header.ModelByte() == kModelByteBasic);
    if (!modelFits) {
        verdict.Refuse = 1;
        verdict.ModelMismatch = 1;
    }

    verdict.RomOrder = CompareRomDates(header.DateCode(), RomDateCode(info.PlatformInfo));
    verdict.OsStep =
        static_cast<int32_t>(header.OsCode()) - static_cast<int32_t>((info.OsMajorVersion - 1) & 0xFF);

    if (downgradeRefuses == 1 && ((verdict.OsStep == 0 && verdict.RomOrder < 0) || verdict.OsStep < 0)) {
        verdict.Refuse = 1;
    }
    if (verdict.RomOrder == 0 && verdict.OsStep == 0 && verdict.ModelMismatch != 1) {
        verdict.Refuse = 1;
        verdict.SameRom = 1;
    }
    if (sameDeviceRequired == 1 && header.Uuid() != info.DeviceUuid) {
        verdict.Refuse = 1;
        verdict.OtherDevice = 1;
    }
    return verdict.Refuse;
}

UpdateRefusal ChooseUpdateRefusal(const CompatibilityVerdict& v) {
    if (v.ModelMismatch != 0) {
        return UpdateRefusal::kImageCorrupt;
    }
    if (v.LanguageMismatch != 0) {
        return UpdateRefusal::kReasonLanguage;
    }
    if (v.OsStep == 0 && v.RomOrder < 0) {
        return UpdateRefusal::kReasonDowngrade;
    }
    if (v.OsStep == 0 && v.RomOrder == 0) {
        return UpdateRefusal::kReasonSameRom;
    }
    if (v.OsStep < 0) {
        return UpdateRefusal::kReasonDowngrade;
    }
    return UpdateRefusal::kSilent;
}

int UpdateRefusalResult(UpdateRefusal refusal) {
    return refusal == UpdateRefusal::kReasonSameRom ? 2 : 3;
}

RestoreRefusal ChooseRestoreRefusal(const CompatibilityVerdict& v) {
    if (v.ModelMismatch != 0) {
        return RestoreRefusal::kImageCorrupt;
    }
    if (v.LanguageMismatch != 0) {
        return RestoreRefusal::kReasonLanguage;
    }
    if (v.SameRom != 0) {
        return RestoreRefusal::kReasonSameRom;
    }
    if (v.OtherDevice != 0) {
        return RestoreRefusal::kReasonOtherDevice;
    }
    return RestoreRefusal::kSilent;
}

}  // namespace nuva
