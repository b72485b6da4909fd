#include "setup/device/info_texts.h"

#include "formats/text_encoding.h"
#include "setup/device/device_texts.h"
#include "setup/resources/settings.h"
#include "setup/resources/string_ids.h"
#include "setup/resources/string_table.h"

namespace nuva {
namespace {

const std::string& TextOrEmpty(uint32_t id) {
    static const std::string kEmpty;
    return id != 0 ? LoadString(id) : kEmpty;
}

// The date code of a header as printf's "%s" reads the eight bytes: up to a
// NUL.
std::string DateText(const ImageHeader& header) {
    std::string_view date = header.DateCode();
    return std::string(date.substr(0, date.find('\0')));
}

std::string RomVersionText(const DeviceInfo& info, std::string_view code) {
    return FormatText(string_id::kDeviceRomFormat, WideFromUtf16(FieldText(info.RomVersion)).c_str(),
                      info.PlatformInfo, std::string(code).c_str());
}

}  // namespace

std::wstring WideFromUtf16(std::u16string_view text) {
    std::wstring out;
    ForEachCodePoint(text, [&](char32_t c) { out.push_back(static_cast<wchar_t>(c)); });
    return out;
}

InfoColumn DeviceColumnTexts(const DeviceInfo& info, uint32_t osMajor) {
    const LanguageRow* row = LanguageRowForId(info.LanguageId);
    InfoColumn column;
    column.model =
        FormatText(string_id::kModelFormat, TextOrEmpty(ClassWordForMemoryConfig(info.MemoryConfig)).c_str());
    column.romVersion = RomVersionText(info, row != nullptr ? row->code : "");
    column.language =
        FormatText(string_id::kLanguageFormat, TextOrEmpty(row != nullptr ? row->nameId : 0).c_str());
    column.osVersion = LoadString(OsTextForMajorVersion(osMajor));
    return column;
}

InfoColumn ImageColumnTexts(const ImageHeader& header) {
    const LanguageRow* row = LanguageRowForCode(header.LanguageCode());
    InfoColumn column;
    column.model =
        FormatText(string_id::kModelFormat, TextOrEmpty(ClassWordForModelByte(header.ModelByte())).c_str());
    column.romVersion =
        header.RomName() + "(" + DateText(header) + std::string(row != nullptr ? row->code : "") + ")";
    column.language =
        FormatText(string_id::kLanguageFormat, TextOrEmpty(row != nullptr ? row->nameId : 0).c_str());
    column.osVersion = LoadString(OsTextForImageCode(header.OsCode()));
    return column;
}

InfoColumn BackupConfirmTexts(const DeviceInfo& info) {
    const LanguageRow* row = LanguageRowForId(info.LanguageId);
    if (row == nullptr) {
        row = LanguageRowForId(kLangEnglish);
    }
    InfoColumn column;
    column.model =
        "Brel Nuva Q7 " + LoadString(info.MemoryConfig == kMemoryConfigAdvanced ? string_id::kClassAdvanced
                                                                                : string_id::kClassBasic);
    column.romVersion = RomVersionText(info, row->code);
    column.osVersion = LoadString(OsTextForMajorVersion(info.OsMajorVersion));
    column.language = LoadString(row->nameId);
    return column;
}

std::string BackupFileName(const DeviceInfo& info) {
    char classLetter = info.MemoryConfig == kMemoryConfigAdvanced ? 'H' : 'L';
    return FormatText(string_id::kBackupFileNameFormat, WideFromUtf16(FieldText(info.RomVersion)).c_str(),
                      classLetter, info.PlatformInfo, std::string(LanguageCodeFor(info.LanguageId)).c_str());
}

std::string DowngradeReasonLine(const DeviceInfo& info, const ImageHeader& header) {
    const char* deviceGeneration = info.OsMajorVersion == 3 ? "2002" : "2003";
    const char* imageGeneration = header.OsCode() == kOsCode2002 ? "2002" : "2003";
    return FormatText(string_id::kReasonDowngradeFormat, deviceGeneration,
                      Utf8FromUtf16(FieldText(info.RomVersion)).c_str(), imageGeneration,
                      header.RomName().c_str());
}

}  // namespace nuva
