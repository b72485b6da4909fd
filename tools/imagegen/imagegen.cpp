#include "tools/imagegen/imagegen.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstring>

#include "formats/byte_sum.h"
#include "formats/le.h"
#include "formats/rom_identity.h"

namespace nuva::imagegen {
namespace {

struct LanguageEntry {
    const char* code;
    uint16_t id;
};

constexpr LanguageEntry kLanguages[] = {
    {"EN", 0x0409}, {"FR", 0x040C}, {"GE", 0x0407}, {"SP", 0x040A},
    {"IT", 0x0410}, {"TC", 0x0404}, {"SC", 0x0804},
};

bool IsDigits(std::string_view text, size_t count) {
    if (text.size() != count) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

bool IsRomName(std::string_view name) {
    if (name.empty() || name.size() > 8) {
        return false;
    }
    for (char c : name) {
        if (c < 0x21 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

// FNV-1a over the parameters that name the ROM; the header-only choices
// (sum, early header) do not change the contents.
uint64_t SeedFor(const ImageSpec& spec) {
    uint64_t hash = 0xCBF29CE484222325ull;
    auto mix = [&hash](std::string_view text) {
        for (char c : text) {
            hash ^= static_cast<uint8_t>(c);
            hash *= 0x100000001B3ull;
        }
        hash ^= 0xFF;  // field separator, so "A" + "BC" differs from "AB" + "C"
        hash *= 0x100000001B3ull;
    };
    mix(spec.os == OsFamily::k2003 ? "2003" : "2002");
    mix(spec.modelClass == ModelClass::kAdvanced ? "advanced" : "basic");
    mix(spec.language);
    mix(spec.dateCode);
    mix(spec.romName);
    return hash;
}

// xorshift64*: cheap enough to fill a whole image in a few milliseconds.
void FillPattern(uint8_t* out, size_t size, uint64_t seed) {
    uint64_t state = seed != 0 ? seed : 0x9E3779B97F4A7C15ull;
    for (size_t i = 0; i < size; i += 8) {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        uint64_t word = state * 0x2545F4914F6CDD1Dull;
        // Byte by byte, little-endian, so the pattern does not depend on the
        // host's byte order.
        size_t n = size - i < 8 ? size - i : 8;
        for (size_t b = 0; b < n; ++b) {
            out[i + b] = static_cast<uint8_t>(word >> (8 * b));
        }
    }
}

}  // namespace

const char* DescribeImageGenError(ImageGenError error) {
    switch (error) {
        case ImageGenError::kNone:
            return "no error";
        case ImageGenError::kBadLanguage:
            return "the language code must be one of EN FR GE SP IT TC SC";
        case ImageGenError::kBadDateCode:
            return "the date code must be eight digits MMDDYYxx";
        case ImageGenError::kBadRomName:
            return "the ROM name must be 1 to 8 printable ASCII characters";
        case ImageGenError::kCannotWrite:
            return "the image file could not be written";
    }
    return "unknown image generation error";
}

bool ParseOsFamily(std::string_view text, OsFamily& out) {
    if (text == "2002") {
        out = OsFamily::k2002;
        return true;
    }
    if (text == "2003") {
        out = OsFamily::k2003;
        return true;
    }
    return false;
}

bool ParseModelClass(std::string_view text, ModelClass& out) {
    if (text == "advanced") {
        out = ModelClass::kAdvanced;
        return true;
    }
    if (text == "basic") {
        out = ModelClass::kBasic;
        return true;
    }
    return false;
}

uint16_t LanguageIdForCode(std::string_view code) {
    for (const auto& entry : kLanguages) {
        if (code == entry.code) {
            return entry.id;
        }
    }
    return 0;
}

uint32_t ContentBytes(OsFamily os) {
    return os == OsFamily::k2003 ? kContentBytes2003 : kContentBytes2002;
}
uint8_t OsCode(OsFamily os) {
    return os == OsFamily::k2003 ? kOsCode2003 : kOsCode2002;
}
uint32_t OsMajor(OsFamily os) {
    return os == OsFamily::k2003 ? 4 : 3;
}
uint8_t ModelByte(ModelClass modelClass) {
    return modelClass == ModelClass::kAdvanced ? kModelByteAdvanced : kModelByteBasic;
}

ImageGenError CheckSpec(const ImageSpec& spec) {
    if (LanguageIdForCode(spec.language) == 0) {
        return ImageGenError::kBadLanguage;
    }
    if (!IsDigits(spec.dateCode, 8)) {
        return ImageGenError::kBadDateCode;
    }
    if (!IsRomName(spec.romName)) {
        return ImageGenError::kBadRomName;
    }
    return ImageGenError::kNone;
}

ImageGenError MakeContents(const ImageSpec& spec, std::vector<uint8_t>& contents) {
    if (ImageGenError error = CheckSpec(spec); error != ImageGenError::kNone) {
        return error;
    }
    uint32_t size = ContentBytes(spec.os);
    contents.resize(size);
    FillPattern(contents.data(), size, SeedFor(spec));
    RomIdentity identity;
    identity.DateCode = spec.dateCode;
    identity.Version = spec.romName;
    identity.OsMajor = OsMajor(spec.os);
    identity.LanguageId = LanguageIdForCode(spec.language);
    identity.CoveredLength = size;
    // A checked spec always fits the block (a name of at most 8 characters).
    [[maybe_unused]] bool stamped = StampRomIdentity(contents.data(), contents.size(), identity);
    assert(stamped && "a checked image spec must fit the ROM identity block");
    return ImageGenError::kNone;
}

ImageGenError MakeHeader(const ImageSpec& spec, const std::vector<uint8_t>& contents, ImageHeader& header) {
    if (ImageGenError error = CheckSpec(spec); error != ImageGenError::kNone) {
        return error;
    }
    header = ImageHeader{};
    // The scrambled part: "BREL KERNEL    <key> <date> <language><model>".
    for (size_t i = 0; i < kScrambledBytes; ++i) {
        header.SetByte(i, ' ');
    }
    header.SetText(header_offset::kMagic, "BREL", 4);
    header.SetText(header_offset::kKernel, "KERNEL", 6);
    for (size_t i = 0; i < kHeaderKey.size(); ++i) {
        header.SetByte(header_offset::kKeyCopy + i, kHeaderKey[i]);
    }
    header.SetText(header_offset::kDateCode, spec.dateCode, 8);
    header.SetText(header_offset::kLanguageCode, spec.language, 2);
    header.SetByte(header_offset::kModelByte, ModelByte(spec.modelClass));
    if (spec.early) {
        return ImageGenError::kNone;
    }
    header.SetWord16(header_offset::kKind, 0);
    // Shipped images carry 0x42 (2003) or 0x30 (2002) beside the OS code:
    // the same 16-bit values that completing an early header produces.
    header.SetByte(header_offset::kWord48, spec.os == OsFamily::k2003 ? 0x42 : 0x30);
    header.SetByte(header_offset::kOsCode, OsCode(spec.os));
    header.SetText(header_offset::kMarker, "NUVA7", 5);
    header.SetText(header_offset::kRomName, spec.romName, 8);
    if (spec.withSum) {
        header.SetWord32(header_offset::kByteCount, static_cast<uint32_t>(contents.size()));
        header.SetWord32(header_offset::kByteSumField, ByteSum(contents.data(), contents.size()));
    }
    return ImageGenError::kNone;
}

ImageGenError MakeImageFile(const ImageSpec& spec, std::vector<uint8_t>& file) {
    std::vector<uint8_t> contents;
    if (ImageGenError error = MakeContents(spec, contents); error != ImageGenError::kNone) {
        return error;
    }
    ImageHeader header;
    if (ImageGenError error = MakeHeader(spec, contents, header); error != ImageGenError::kNone) {
        return error;
    }
    file.resize(kImageHeaderSize + contents.size());
    auto stored = header.ToFile();
    std::memcpy(file.data(), stored.data(), stored.size());
    std::memcpy(file.data() + kImageHeaderSize, contents.data(), contents.size());
    return ImageGenError::kNone;
}

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string* detail) {
    auto fail = [detail](const std::string& what, int err) {
        if (detail != nullptr) {
            *detail = what + ": " + std::strerror(err);
        }
        return false;
    };
    std::string temp = path + ".partXXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) {
        return fail("cannot create a temporary file beside " + path, errno);
    }
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            int err = n < 0 ? errno : EIO;
            close(fd);
            unlink(temp.c_str());
            return fail("cannot write " + temp, err);
        }
        done += static_cast<size_t>(n);
    }
    // mkstemp creates the file readable by its owner only; an image is an
    // ordinary file of the installation.
    if (fchmod(fd, 0644) != 0 || close(fd) != 0) {
        int err = errno;
        unlink(temp.c_str());
        return fail("cannot finish " + temp, err);
    }
    if (rename(temp.c_str(), path.c_str()) != 0) {
        int err = errno;
        unlink(temp.c_str());
        return fail("cannot rename " + temp + " to " + path, err);
    }
    return true;
}

ImageGenError WriteImageFile(const ImageSpec& spec, const std::string& path, std::string* detail) {
    std::vector<uint8_t> file;
    if (ImageGenError error = MakeImageFile(spec, file); error != ImageGenError::kNone) {
        return error;
    }
    return WriteFileAtomically(path, file, detail) ? ImageGenError::kNone : ImageGenError::kCannotWrite;
}

}  // namespace nuva::imagegen
