// nuva-image run as a program: what it writes, what it says about files, and
// how it refuses bad arguments and bad files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "formats/byte_sum.h"
#include "formats/device_info.h"
#include "formats/image_header.h"
#include "setup/device/image_catalogue.h"
#include "setup/device/update_plan.h"
#include "tests/support/temp_folder.h"
#include "tools/imagegen/imagegen.h"

namespace nuva {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int exit = -1;
    std::string out;
    std::string err;
};

std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::error_code ec;
    auto size = fs::file_size(path, ec);
    std::vector<uint8_t> bytes(ec ? 0 : size);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

std::string ReadText(const fs::path& path) {
    std::vector<uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class NuvaImage : public ::testing::Test {
  protected:
    fs::path Path(const std::string& name) const { return dir_.Join(name); }

    // Runs the tool with arguments (each single-quoted for the shell).
    ToolRun Tool(const std::vector<std::string>& args) {
        std::string command = std::string("'") + NUVA_IMAGE_TOOL + "'";
        for (const auto& arg : args) {
            command += " '" + arg + "'";
        }
        command += " >'" + Path("stdout").string() + "' 2>'" + Path("stderr").string() + "'";
        int status = std::system(command.c_str());
        ToolRun run;
        run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = ReadText(Path("stdout"));
        run.err = ReadText(Path("stderr"));
        return run;
    }

    ToolRun Make(const std::string& name, std::vector<std::string> extra = {}, const std::string& os = "2003",
                 const std::string& date = "04100300") {
        std::vector<std::string> args = {
            "make",   "--os", os,       "--class", "advanced", "--lang",           "EN",
            "--date", date,   "--name", "A03",     "-o",       Path(name).string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return Tool(args);
    }

    nuva::testing::TempFolder dir_{"nuva-image"};
};

std::vector<std::string> JsonKeys(const std::string& json) {
    std::vector<std::string> keys;
    std::regex key("\"([a-z_]+)\":");
    for (auto it = std::sregex_iterator(json.begin(), json.end(), key); it != std::sregex_iterator(); ++it) {
        keys.push_back((*it)[1]);
    }
    return keys;
}

TEST_F(NuvaImage, MakesTheImageTheLibraryMakesAndReportsEveryField) {
    ToolRun made = Make("A03.nb0");
    ASSERT_EQ(made.exit, 0) << made.err;
    EXPECT_NE(made.out.find("26739200 bytes"), std::string::npos);
    std::vector<uint8_t> file = ReadBytes(Path("A03.nb0"));
    std::vector<uint8_t> expected;
    ASSERT_EQ(imagegen::MakeImageFile(imagegen::ImageSpec{}, expected), imagegen::ImageGenError::kNone);
    EXPECT_TRUE(file == expected);

    ToolRun json = Tool({"inspect", Path("A03.nb0").string(), "--json"});
    ASSERT_EQ(json.exit, 0) << json.err;
    EXPECT_EQ(JsonKeys(json.out),
              (std::vector<std::string>{"kind", "magic", "date_code", "language", "model_byte", "os_code",
                                        "rom_name", "byte_count", "byte_sum", "sum_ok", "uuid", "length",
                                        "accepted"}));
    uint32_t sum = ByteSum(file.data() + kImageHeaderSize, file.size() - kImageHeaderSize);
    for (const std::string& field :
         {std::string("\"kind\": \"update\""), std::string("\"magic\": \"BREL\""),
          std::string("\"date_code\": \"04100300\""), std::string("\"language\": \"EN\""),
          std::string("\"model_byte\": 64"), std::string("\"os_code\": 3"),
          std::string("\"rom_name\": \"A03\""), std::string("\"byte_count\": 26738688"),
          "\"byte_sum\": " + std::to_string(sum), std::string("\"sum_ok\": true"),
          "\"uuid\": \"" + std::string(32, '0') + "\"", std::string("\"length\": 26739200"),
          std::string("\"accepted\": true")}) {
        EXPECT_NE(json.out.find(field), std::string::npos) << field << " in " << json.out;
    }

    ToolRun text = Tool({"inspect", Path("A03.nb0").string()});
    ASSERT_EQ(text.exit, 0) << text.err;
    for (const char* expectedText :
         {"update (0)", "\"KERNEL\"", "(the header key)", "0x40 (Advanced, 64 MB RAM)", "3 (Pocket PC 2003)",
          "\"NUVA7\"", "matches the counted bytes", "accepted by CheckImageFile",
          "ROM identity: date \"04100300\", version \"A03\", OS major 4, language 0x0409"}) {
        EXPECT_NE(text.out.find(expectedText), std::string::npos) << expectedText << " in\n" << text.out;
    }
}

TEST_F(NuvaImage, NoSumEarlyAndDamagedImages) {
    ASSERT_EQ(Make("nosum.nb0", {"--no-sum"}).exit, 0);
    ToolRun run = Tool({"inspect", Path("nosum.nb0").string(), "--json"});
    EXPECT_EQ(run.exit, 0);
    EXPECT_NE(run.out.find("\"sum_ok\": null"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"byte_count\": 0,"), std::string::npos) << run.out;

    // An early 2002 image: Setup completes the OS code and takes the name
    // from the date code.
    ASSERT_EQ(Make("early.nb0", {"--early"}, "2002", "03050300").exit, 0);
    run = Tool({"inspect", Path("early.nb0").string(), "--json"});
    EXPECT_EQ(run.exit, 0) << run.out;
    EXPECT_NE(run.out.find("\"os_code\": 2"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"rom_name\": \"A02\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"length\": 27001344"), std::string::npos) << run.out;
    run = Tool({"inspect", Path("early.nb0").string()});
    EXPECT_NE(run.out.find("as an early image"), std::string::npos) << run.out;

    // One content byte changed: the header is still accepted, the sum and
    // the identity block are not.
    ASSERT_EQ(Make("bad.nb0").exit, 0);
    std::vector<uint8_t> bytes = ReadBytes(Path("bad.nb0"));
    bytes[kImageHeaderSize + 0x123456] ^= 0x01;
    WriteBytes(Path("bad.nb0"), bytes);
    run = Tool({"inspect", Path("bad.nb0").string(), "--json"});
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.out.find("\"sum_ok\": false"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"accepted\": true"), std::string::npos) << run.out;
    run = Tool({"inspect", Path("bad.nb0").string()});
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.out.find("does not match: the counted bytes sum to"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("do not match the CRC-32 in the identity block"), std::string::npos) << run.out;

    // Cut short: the count reaches past the end.
    bytes.resize(kImageHeaderSize + 1000000);
    WriteBytes(Path("short.nb0"), bytes);
    run = Tool({"inspect", Path("short.nb0").string()});
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.out.find("only 1000000 follow it"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("a Pocket PC 2003 file is 26739200 bytes"), std::string::npos) << run.out;
}

TEST_F(NuvaImage, TellsABackupFromAnImage) {
    imagegen::ImageSpec spec;
    std::vector<uint8_t> contents;
    ASSERT_EQ(imagegen::MakeContents(spec, contents), imagegen::ImageGenError::kNone);
    DeviceInfo info;
    info.RamSizeMB = 64;
    info.LanguageId = 0x0409;
    info.OsMajorVersion = 4;
    info.PlatformInfo = 0x04100300;
    SetFieldText(info.RomVersion, u"A03");
    for (size_t i = 0; i < 16; ++i) {
        info.DeviceUuid[i] = static_cast<uint8_t>(0xA0 + i);
    }
    auto header = BuildRisHeader(info, static_cast<uint32_t>(contents.size()),
                                 ByteSum(contents.data(), contents.size()));
    std::vector<uint8_t> file(header.begin(), header.end());
    file.insert(file.end(), contents.begin(), contents.end());
    WriteBytes(Path("backup.ris"), file);

    ToolRun run = Tool({"inspect", Path("backup.ris").string(), "--json"});
    EXPECT_EQ(run.exit, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("\"kind\": \"backup\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"uuid\": \"A0A1A2A3A4A5A6A7A8A9AAABACADAEAF\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"sum_ok\": true"), std::string::npos) << run.out;

    // A backup whose header counts and sums only part of what it holds (or
    // one cut short with a header to match) passes its sum, but a restore
    // refuses it: the tool judges it by the restore's own rule.
    const uint32_t part = static_cast<uint32_t>(contents.size() / 2);
    auto partHeader = BuildRisHeader(info, part, ByteSum(contents.data(), part));
    std::vector<uint8_t> partial(partHeader.begin(), partHeader.end());
    partial.insert(partial.end(), contents.begin(), contents.end());
    WriteBytes(Path("partial.ris"), partial);
    ToolRun refused = Tool({"inspect", Path("partial.ris").string()});
    EXPECT_NE(refused.exit, 0) << refused.out << refused.err;
    EXPECT_NE(refused.out.find("restore:"), std::string::npos) << refused.out;
    partial.resize(kImageHeaderSize + part);
    WriteBytes(Path("cut.ris"), partial);
    EXPECT_NE(Tool({"inspect", Path("cut.ris").string()}).exit, 0);
    EXPECT_EQ(BackupShapeFault(ImageHeader::FromFile(file.data()), file.size()), "");
}

TEST_F(NuvaImage, RefusesFilesThatAreNoImages) {
    // Not starting with the scrambled magic: read, but refused.
    WriteBytes(Path("garbage"), std::vector<uint8_t>(4096, 0x5A));
    ToolRun run = Tool({"inspect", Path("garbage").string()});
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.out.find("refused by CheckImageFile: no \"BREL\" magic"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("ROM identity: none"), std::string::npos) << run.out;
    run = Tool({"inspect", Path("garbage").string(), "--json"});
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.out.find("\"accepted\": false"), std::string::npos) << run.out;
    // Bytes that are not text come out escaped, so the JSON stays JSON.
    for (char c : run.out) {
        ASSERT_TRUE((c >= 0x20 && c < 0x7F) || c == '\n') << "raw byte " << int(static_cast<uint8_t>(c));
    }
    EXPECT_NE(run.out.find("\\u00cb"), std::string::npos) << run.out;  // 0x5A ^ 0x91

    // Not readable as an image at all.
    WriteBytes(Path("empty"), {});
    run = Tool({"inspect", Path("empty").string()});
    EXPECT_EQ(run.exit, 3);
    EXPECT_NE(run.err.find("empty"), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty());
    WriteBytes(Path("511"), std::vector<uint8_t>(511, 0));
    run = Tool({"inspect", Path("511").string()});
    EXPECT_EQ(run.exit, 3);
    EXPECT_NE(run.err.find("truncated: 511 bytes"), std::string::npos) << run.err;
    run = Tool({"inspect", Path("missing").string()});
    EXPECT_EQ(run.exit, 3);
    EXPECT_NE(run.err.find("no such file"), std::string::npos) << run.err;
    run = Tool({"inspect", dir_.path()});
    EXPECT_EQ(run.exit, 3);
    EXPECT_NE(run.err.find("not a regular file"), std::string::npos) << run.err;
    { std::ofstream big(Path("big"), std::ios::binary); }
    fs::resize_file(Path("big"), 65 * 1024 * 1024);  // sparse: cheap to make
    run = Tool({"inspect", Path("big").string()});
    EXPECT_EQ(run.exit, 3);
    EXPECT_NE(run.err.find("larger than any ROM image"), std::string::npos) << run.err;
}

TEST_F(NuvaImage, RefusesBadArgumentsAndLeavesNoFile) {
    EXPECT_EQ(Tool({}).exit, 2);
    EXPECT_EQ(Tool({"explode"}).exit, 2);
    ToolRun run = Tool({"make", "--os", "2003", "-o", Path("x").string()});
    EXPECT_EQ(run.exit, 2);
    EXPECT_NE(run.err.find("are all needed"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("usage:"), std::string::npos);
    run = Make("x", {"--os", "2004"});
    EXPECT_EQ(run.exit, 2);
    EXPECT_NE(run.err.find("--os must be 2002 or 2003"), std::string::npos) << run.err;
    run = Make("x", {"--lang", "DE"});
    EXPECT_EQ(run.exit, 2);
    EXPECT_NE(run.err.find("EN FR GE SP IT TC SC"), std::string::npos) << run.err;
    run = Make("x", {"--date", "4/10/03"});
    EXPECT_EQ(run.exit, 2);
    EXPECT_NE(run.err.find("eight digits"), std::string::npos) << run.err;
    run = Make("x", {"--name", "TOOLONGNAME"});
    EXPECT_EQ(run.exit, 2);
    run = Make("x", {"--class"});
    EXPECT_EQ(run.exit, 2);
    EXPECT_NE(run.err.find("--class needs a value"), std::string::npos) << run.err;
    run = Make("x", {"--verbose"});
    EXPECT_EQ(run.exit, 2);
    EXPECT_FALSE(fs::exists(Path("x")));

    run = Tool({"make", "--os", "2003", "--class", "basic", "--lang", "FR", "--date", "04100300", "--name",
                "A03", "-o", Path("no/such/folder/x").string()});
    EXPECT_EQ(run.exit, 3);
    EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;

    EXPECT_EQ(Tool({"inspect"}).exit, 2);
    EXPECT_EQ(Tool({"inspect", "a", "b"}).exit, 2);
    EXPECT_EQ(Tool({"inspect", "a", "--yaml"}).exit, 2);
    EXPECT_EQ(Tool({"--help"}).exit, 0);
}

}  // namespace
}  // namespace nuva
