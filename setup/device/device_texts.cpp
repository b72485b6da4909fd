#include "setup/device/device_texts.h"

#include <array>
#include <cstdio>

#include "formats/device_info.h"
#include "formats/image_header.h"
#include "setup/resources/string_ids.h"

namespace nuva {
namespace {

constexpr std::array<LanguageRow, 5> kLanguages = {{
    {0x0407, "GE", string_id::kLanguageGerman},
    {0x0409, "EN", string_id::kLanguageEnglish},
    {0x040A, "SP", string_id::kLanguageSpanish},
    {0x040C, "FR", string_id::kLanguageFrench},
    {0x0410, "IT", string_id::kLanguageItalian},
}};

}  // namespace

const LanguageRow* LanguageRowForId(uint32_t languageId) {
    for (const LanguageRow& row : kLanguages) {
        if (row.languageId == languageId) {
            return &row;
        }
    }
    return nullptr;
}

const LanguageRow* LanguageRowForCode(std::string_view code) {
    for (const LanguageRow& row : kLanguages) {
        if (row.code == code) {
            return &row;
        }
    }
    return nullptr;
}

uint32_t ClassWordForMemoryConfig(uint32_t memoryConfig) {
    if (memoryConfig == kMemoryConfigAdvanced) {
        return string_id::kClassAdvanced;
    }
    if (memoryConfig == kMemoryConfigBasic) {
        return string_id::kClassBasic;
    }
    return 0;
}

uint32_t ClassWordForModelByte(uint8_t modelByte) {
    if (modelByte == kModelByteAdvanced) {
        return string_id::kClassAdvanced;
    }
    if (modelByte == kModelByteBasic) {
        return string_id::kClassBasic;
    }
    return 0;
}

std::string RomDateCode(uint32_t platformInfo) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", platformInfo);
    return text;
}

int CompareRomDates(std::string_view a, std::string_view b) {
    auto at = [](std::string_view s, size_t i) {
        return i < s.size() ? static_cast<unsigned char>(s[i]) : 0;
    };
    // Year pair, month pair, day pair, then the trailing pair.
    static constexpr size_t kOrder[] = {4, 5, 0, 1, 2, 3, 6, 7};
    for (size_t i : kOrder) {
        int difference = at(a, i) - at(b, i);
        if (difference != 0) {
            return difference;
        }
    }
    return 0;
}

uint32_t OsTextForMajorVersion(uint32_t osMajor) {
    if (osMajor == 3) {
        return string_id::kOsPocketPc2002;
    }
    if (osMajor == 4) {
        return string_id::kOsPocketPc2003;
    }
    return string_id::kOsPocketPcOther;
}

uint32_t OsTextForImageCode(uint8_t osCode) {
    if (osCode == 0 || osCode == kOsCode2002) {
        return string_id::kOsPocketPc2002;
    }
    if (osCode == kOsCode2003) {
        return string_id::kOsPocketPc2003;
    }
    return string_id::kOsPocketPcOther;
}

std::string AnsiFromUtf16(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        if (c == u'\0') {
            break;
        }
        bool passes = c < 0x80 || (c >= 0xA0 && c <= 0xFF);
        out.push_back(passes ? static_cast<char>(c) : '?');
    }
    return out;
}

}  // namespace nuva
