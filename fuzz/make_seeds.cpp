// nuva-fuzz-seeds: writes the seed corpora of the fuzz targets, each a few
// valid inputs made by the project's own writers (the image maker, the
// backup header, the hand-over writer, the built-in texts, the cable's
// encoders), into <folder>/<target>/. scripts/fuzz.sh seeds runs it over
// fuzz/corpus.

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "formats/device_info.h"
#include "formats/image_header.h"
#include "formats/le.h"
#include "formats/update_handoff.h"
#include "platform/cable/protocol.h"
#include "setup/device/image_catalogue.h"
#include "setup/device/update_plan.h"
#include "setup/resources/resource_file.h"
#include "setup/resources/string_table.h"
#include "tools/imagegen/imagegen.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::filesystem::path g_root;
bool g_failed = false;

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
    const std::filesystem::path folder = g_root / target;
    std::filesystem::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "nuva-fuzz-seeds: cannot write %s/%s\n", target.c_str(), name.c_str());
        g_failed = true;
    }
}

void Write(const std::string& target, const std::string& name, std::string_view text) {
    Write(target, name, Bytes(text.begin(), text.end()));
}

void Append32(Bytes& bytes, uint32_t value) {
    bytes.resize(bytes.size() + 4);
    nuva::StoreLe32(bytes.data() + bytes.size() - 4, value);
}

nuva::DeviceInfo Handheld(bool advanced, uint32_t osMajor, uint32_t dateCode, std::u16string_view rom) {
    nuva::DeviceInfo info;
    info.Supported = 1;
    info.AcOnline = 1;
    info.BatteryPercent = 80;
    info.LanguageId = 0x0409;
    info.MemoryConfig = advanced ? nuva::kMemoryConfigAdvanced : nuva::kMemoryConfigBasic;
    info.RamSizeMB = advanced ? 64 : 32;
    info.FlashSizeMB = advanced ? 48 : 32;
    info.PlatformInfo = dateCode;
    info.OsMajorVersion = osMajor;
    nuva::SetFieldText(info.RomVersion, rom);
    nuva::SetFieldText(info.ModelName, u"NUVA7");
    for (size_t i = 0; i < 6; ++i) {
        info.DeviceUuid[10 + i] = nuva::kHeaderKey[i];
    }
    return info;
}

// length, DeviceInfo, OS major, then the file's first bytes.
Bytes HeaderInput(uint64_t length, const nuva::DeviceInfo& info, const uint8_t* file, size_t fileBytes) {
    Bytes input;
    Append32(input, static_cast<uint32_t>(length));
    Append32(input, static_cast<uint32_t>(length >> 32));
    input.resize(input.size() + nuva::kDeviceInfoSize);
    nuva::WriteDeviceInfo(info, input.data() + input.size() - nuva::kDeviceInfoSize);
    Append32(input, info.OsMajorVersion);
    input.insert(input.end(), file, file + fileBytes);
    return input;
}

void ImageSeeds() {
    struct Seed {
        const char* name;
        nuva::imagegen::ImageSpec spec;
        nuva::DeviceInfo device;
    };
    nuva::imagegen::ImageSpec basic2002;
    basic2002.os = nuva::imagegen::OsFamily::k2002;
    basic2002.modelClass = nuva::imagegen::ModelClass::kBasic;
    basic2002.romName = "A02";
    basic2002.dateCode = "03050300";
    nuva::imagegen::ImageSpec early = basic2002;
    early.early = true;
    const Seed seeds[] = {
        {"update-advanced-2003", nuva::imagegen::ImageSpec{}, Handheld(true, 4, 0x03050300, u"A02")},
        {"update-basic-2002", basic2002, Handheld(false, 3, 0x03050300, u"A02")},
        {"early-basic-2002", early, Handheld(false, 3, 0x03050300, u"A02")},
    };
    // The hand-over of each is the seed of the flasher's reader.
    for (const Seed& seed : seeds) {
        Bytes file;
        if (nuva::imagegen::MakeImageFile(seed.spec, file) != nuva::imagegen::ImageGenError::kNone) {
            std::fprintf(stderr, "nuva-fuzz-seeds: the image %s was not made\n", seed.name);
            g_failed = true;
            continue;
        }
        // The header and the contents up to just past their identity block.
        const size_t keep = nuva::kImageHeaderSize + 0x100 + 0x40 + 16;
        Write("image_header", seed.name, HeaderInput(file.size(), seed.device, file.data(), keep));

        nuva::ImageHeader header;
        if (!nuva::AcceptImageHeader(file.data(), file.size(), header)) {
            std::fprintf(stderr, "nuva-fuzz-seeds: the image %s is refused\n", seed.name);
            g_failed = true;
            continue;
        }
        const nuva::UpdateHandoff plan =
            nuva::PlanImageWrite(header, seed.device.OsMajorVersion, nuva::PlanMode::kUpdate);
        const auto handoff = nuva::WriteHandoffFile(plan);
        Write("update_handoff", seed.name, Bytes(handoff.begin(), handoff.end()));
    }

    // A backup of a handheld, as Setup writes its header.
    const nuva::DeviceInfo device = Handheld(true, 4, 0x04100300, u"A03");
    const auto ris = nuva::BuildRisHeader(device, nuva::kContentBytes2003, 0x12345678);
    Write("image_header", "backup-advanced-2003",
          HeaderInput(nuva::kImageFileBytes2003, device, ris.data(), ris.size()));
    nuva::ImageHeader risHeader = nuva::ImageHeader::FromFile(ris.data());
    const auto restore = nuva::WriteHandoffFile(nuva::PlanImageWrite(risHeader, 4, nuva::PlanMode::kRestore));
    Write("update_handoff", "restore-advanced-2003", Bytes(restore.begin(), restore.end()));
}

// FuzzedDataProvider's layout: the section and key as "random length
// strings" (each ended by a backslash and one more character), the file's
// contents, then from the end the limit (two bytes) and the byte that sends
// the lookups through a file (0).
std::string IniInput(std::string_view section, std::string_view key, std::string_view contents) {
    std::string input;
    input += section;
    input += "\\ ";
    input += key;
    input += "\\ ";
    input += contents;
    input += std::string("\x00\xff\x01", 3);
    return input;
}

void IniSeeds() {
    Write("setup_ini", "demo-installation",
          IniInput("Image", "HIMODEL", R"(; Settings of the demo installation.
[Setting]
MainProgram=Setup
Language=EN

[Image]
HIMODEL=images\A03-advanced.nb0
LOWMODEL=images\A03-basic.nb0

[0409]
Help=help\index.htm

[Help]
Help=help\index.htm
)"));
    Write("setup_ini", "language-module",
          IniInput("040c", "RESMODULE",
                   "\xEF\xBB\xBF[Setting]\r\nMainProgram = \"Setup\" \r\nLanguage=FR\r\n[040C]\r\n"
                   "RESMODULE=lang\\fr.rc\r\nHelp=https://support.brel.example/nuva/fr\r\n"
                   "[image]\r\nhimodel=setup.ini\r\nLOWMODEL=\r\n"));
    Write("setup_ini", "duplicates", IniInput("Setting", "Language", R"([Setting]
Language=GE
Language=EN
[Setting]
MainProgram=Other
[Help]
Help='help\index.htm'
)"));
}

void ModuleSeeds() {
    // Every built-in text, marked, as a translator's module would give it.
    std::string all = "# every text of the program, marked\n";
    for (const auto& [id, text] : nuva::BuiltInStrings()) {
        all += std::to_string(id) + " " + nuva::QuoteResourceText("[" + text + "]") + "\n";
    }
    Write("language_module", "every-string", all);
    Write("language_module", "strings-and-dialogs", R"rc(# French, in part
141 "%ls(%08x%s)"
150 "Copie des fichiers ... %2d%%"
170 "* Impossible de revenir de Pocket PC %s(%s) à Pocket PC %s(%s).\n"
dialog 100 "Mise à jour"
control 1 "Suivant >"
dialog 0
)rc");
}

// The smallest program file the loader's check accepts: the ELF header, one
// program header, and the one segment it places.
void ProgramSeeds() {
    Bytes elf(64 + 56 + 16, 0);
    const uint8_t ident[] = {0x7F, 'E', 'L', 'F', 2, 1, 1};
    std::copy(std::begin(ident), std::end(ident), elf.begin());
    nuva::StoreLe16(elf.data() + 16, 3);     // a shared object
    nuva::StoreLe16(elf.data() + 18, 0x3E);  // x86-64
    nuva::StoreLe32(elf.data() + 20, 1);
    nuva::StoreLe32(elf.data() + 32, 64);  // program headers at 64
    nuva::StoreLe16(elf.data() + 52, 64);
    nuva::StoreLe16(elf.data() + 54, 56);
    nuva::StoreLe16(elf.data() + 56, 1);
    uint8_t* load = elf.data() + 64;
    nuva::StoreLe32(load, 1);            // PT_LOAD
    nuva::StoreLe32(load + 4, 5);        // read, execute
    nuva::StoreLe32(load + 8, 64 + 56);  // offset
    nuva::StoreLe32(load + 32, 16);      // bytes in the file
    nuva::StoreLe32(load + 40, 16);      // bytes in memory
    nuva::StoreLe32(load + 48, 0x1000);  // alignment
    Write("program_loader", "one-segment", elf);
}

Bytes Wide(std::u16string_view text) {
    Bytes bytes(2 * (text.size() + 1), 0);
    for (size_t i = 0; i < text.size(); ++i) {
        nuva::StoreLe16(bytes.data() + 2 * i, static_cast<uint16_t>(text[i]));
    }
    return bytes;
}

// One byte naming the export, then its input block.
void AgentSeeds() {
    Bytes info{0};
    const Bytes all = Wide(u"ALL");
    info.insert(info.end(), all.begin(), all.end());
    Write("agent", "info-all", info);

    Bytes flash{1};
    Append32(flash, 0xA0040000);
    Append32(flash, 64);
    Write("agent", "read-flash", flash);

    Bytes sum{2};
    const Bytes part = Wide(u"\\TEMP\\0");
    sum.insert(sum.end(), part.begin(), part.end());
    Write("agent", "sum-part", sum);

    Bytes show{3};
    Append32(show, 0xBE042000);
    Append32(show, 0);
    const std::string_view text = "Updating ROM...";
    show.insert(show.end(), text.begin(), text.end());
    show.push_back(0);
    Write("agent", "show-string", show);

    // The sums of four 64 KB blocks from the start of the contents.
    Bytes sums{4};
    Append32(sums, 0xA0040000);
    Append32(sums, 0x40000);
    Append32(sums, 0x10000);
    Write("agent", "flash-sums", sums);

    // The last 64 KB of a 48 MB flash through the cached window, where a
    // range that runs on would leave the flash.
    Bytes end{4};
    Append32(end, 0x82FF0000);
    Append32(end, 0x10000);
    Append32(end, 0x4000);
    Write("agent", "flash-sums-end", end);
}

template <typename Message>
void Frame(const std::string& target, const std::string& name, uint16_t type, const Message& message) {
    const Bytes payload = nuva::cable::Encode(message).Bytes();
    Bytes frame(nuva::cable::kHeaderBytes);
    nuva::cable::FrameHeader header;
    header.type = type;
    header.sequence = 7;
    header.length = static_cast<uint32_t>(payload.size());
    nuva::cable::EncodeHeader(header, frame.data());
    frame.insert(frame.end(), payload.begin(), payload.end());
    Write(target, name, frame);
}

void CableSeeds() {
    using nuva::cable::AnswerCode;
    using nuva::cable::MessageType;
    using nuva::cable::RequestCode;
    const Bytes block = Wide(u"ALL");
    const std::string requests = "cable_handheld";
    Frame(requests, "init", RequestCode(MessageType::kInit), nuva::cable::InitRequest{});
    Frame(requests, "invoke", RequestCode(MessageType::kInvoke),
          nuva::cable::InvokeRequest{u"NUVA7INVOKE", u"FnNUVAInfo", block});
    Frame(requests, "create-file", RequestCode(MessageType::kCreateFile),
          nuva::cable::CreateFileRequest{u"\\TEMP\\0", 0x40000000, 0, 2, 0x80});
    Frame(requests, "write-file", RequestCode(MessageType::kWriteFile),
          nuva::cable::WriteFileRequest{3, block});
    Frame(requests, "read-file", RequestCode(MessageType::kReadFile), nuva::cable::ReadFileRequest{3, 16384});
    Frame(requests, "set-file-pointer", RequestCode(MessageType::kSetFilePointer),
          nuva::cable::SetFilePointerRequest{3, -512, true, 0, 2});
    Frame(requests, "close-handle", RequestCode(MessageType::kCloseHandle), nuva::cable::HandleRequest{3});
    Frame(requests, "delete-file", RequestCode(MessageType::kDeleteFile),
          nuva::cable::DeleteFileRequest{u"\\Windows\\StartUp\\Welcome.lnk"});
    Frame(requests, "get-version", RequestCode(MessageType::kGetVersionEx), nuva::cable::GetVersionRequest{});
    Frame(requests, "special-folder", RequestCode(MessageType::kGetSpecialFolderPath),
          nuva::cable::SpecialFolderRequest{7});

    const std::string answers = "cable_desktop";
    Frame(answers, "init", AnswerCode(MessageType::kInit), nuva::cable::InitAnswer{0, 0});
    Frame(answers, "invoke", AnswerCode(MessageType::kInvoke), nuva::cable::InvokeAnswer{0, 0, true, block});
    Frame(answers, "invoke-no-output", AnswerCode(MessageType::kInvoke),
          nuva::cable::InvokeAnswer{0x80004005, 0, false, {}});
    Frame(answers, "create-file", AnswerCode(MessageType::kCreateFile), nuva::cable::CreateFileAnswer{3, 0});
    Frame(answers, "read-file", AnswerCode(MessageType::kReadFile), nuva::cable::ReadFileAnswer{1, 0, block});
    Frame(answers, "write-file", AnswerCode(MessageType::kWriteFile), nuva::cable::WriteFileAnswer{1, 0, 8});
    Frame(answers, "set-file-pointer", AnswerCode(MessageType::kSetFilePointer),
          nuva::cable::SetFilePointerAnswer{0x1000, 0, 0});
    Frame(answers, "close-handle", AnswerCode(MessageType::kCloseHandle), nuva::cable::BoolAnswer{1, 0});
    Frame(answers, "get-file-size", AnswerCode(MessageType::kGetFileSize),
          nuva::cable::GetFileSizeAnswer{0x300000, 0, 0});
    Frame(answers, "get-version", AnswerCode(MessageType::kGetVersionEx),
          nuva::cable::GetVersionAnswer{1, 0, 4, 20, 14049, 3, u"Pocket PC 2003"});
    Frame(answers, "special-folder", AnswerCode(MessageType::kGetSpecialFolderPath),
          nuva::cable::SpecialFolderAnswer{17, 0, u"\\Windows\\StartUp"});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: nuva-fuzz-seeds FOLDER\n");
        return 2;
    }
    g_root = argv[1];
    ImageSeeds();
    IniSeeds();
    ModuleSeeds();
    ProgramSeeds();
    AgentSeeds();
    CableSeeds();
    return g_failed ? 1 : 0;
}
