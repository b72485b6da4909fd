#include "setup/device/start_checks.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "formats/byte_sum.h"
#include "formats/result_codes.h"
#include "setup/frame/settings.h"
#include "setup/frame/wizards.h"
#include "tests/setup/frame/temp_folder.h"

namespace nuva {
namespace {

using namespace page_result;
using Calls = std::vector<std::string>;

// Answers every question as set, and notes each one asked.
class ScriptedCheckDevice : public StartCheckDevice {
  public:
    ScriptedCheckDevice() {
        info.Supported = 1;
        info.AcOnline = 1;
        info.BatteryPercent = 80;
        info.LanguageId = 0x0409;
        info.MemoryConfig = kMemoryConfigAdvanced;
        info.PlatformInfo = 0x03050300;
        info.OsMajorVersion = 4;
        // A newer 2003 image for this handheld, its contents counted and summed.
        SetImage("04100300", kOsCode2003);
        header.SetWord32(header_offset::kByteCount, 1000);
        header.SetWord32(header_offset::kByteSumField, 0x1234);
    }

    void SetImage(std::string_view date, uint8_t osCode, uint8_t model = kModelByteAdvanced,
                  std::string_view language = "EN") {
        header.SetText(header_offset::kMagic, "BREL", 4);
        header.SetText(header_offset::kDateCode, date, 8);
        header.SetByte(header_offset::kOsCode, osCode);
        header.SetByte(header_offset::kModelByte, model);
        header.SetText(header_offset::kLanguageCode, language, 2);
    }
    // A backup of this handheld.
    void SetBackupOfThisHandheld(std::string_view date, uint8_t osCode) {
        SetImage(date, osCode);
        header.SetWord16(header_offset::kKind, 1);
        uint32_t contents = osCode == kOsCode2003 ? kContentBytes2003 : kContentBytes2002;
        header.SetWord32(header_offset::kByteCount, contents);
        headerLength = kImageHeaderSize + uint64_t{contents};
        for (size_t i = 0; i < 16; ++i) {
            info.DeviceUuid[i] = static_cast<uint8_t>(0xA0 + i);
            header.SetByte(header_offset::kUuid + i, info.DeviceUuid[i]);
        }
    }

    bool IsConnected() override {
        calls.push_back("connected");
        bool now = connected.front();
        if (connected.size() > 1) {
            connected.pop_front();
        }
        return now;
    }
    int32_t InstallAgent() override {
        calls.push_back("install");
        return install;
    }
    uint32_t QueryDeviceInfo(DeviceInfo* out) override {
        calls.push_back("query");
        if (query == kResultOk) {
            *out = info;
        }
        return query;
    }
    LocatedImage LocateImage(bool highModel) override {
        calls.push_back(highModel ? "locate high" : "locate low");
        return image;
    }
    uint64_t CheckImageFile(const std::string& path, ImageHeader& out) override {
        calls.push_back("check " + path);
        out = header;
        return headerLength;
    }
    uint32_t SumImageContents(const std::string& path, uint32_t count, uint32_t& sum) override {
        calls.push_back("sum " + path + " " + std::to_string(count));
        if (sumResult == kResultOk) {
            sum = contentsSum;
        }
        return sumResult;
    }

    std::deque<bool> connected{true};  // successive answers; the last one stays
    int32_t install = 0;
    uint32_t query = kResultOk;
    DeviceInfo info;
    LocatedImage image{ImageLookup::kFound, "/install/rom-h.nb0"};
    ImageHeader header;
    uint64_t headerLength = kImageFileBytes2003;
    uint32_t sumResult = kResultOk;
    uint32_t contentsSum = 0x1234;
    Calls calls;
};

// Which reasons a result carries, by name, in the dialog's order.
std::string Reasons(const StartCheckResult& r) {
    std::string names;
    auto add = [&](bool set, const char* name) {
        if (set) {
            names += names.empty() ? name : std::string(",") + name;
        }
    };
    add(r.reasons.noAcPower, "ac");
    add(r.reasons.lowBattery, "battery");
    add(r.reasons.language, "language");
    add(r.reasons.sameRom, "same-rom");
    add(r.reasons.downgrade, "downgrade");
    add(r.reasons.otherDevice, "other-device");
    add(r.reasons.diskSpace, "disk-space");
    return names;
}

void ExpectEnds(const StartCheckResult& r, ShowWhat show, int result) {
    EXPECT_EQ(r.show, show);
    EXPECT_EQ(r.endWith, std::optional<int>(result));
    if (show != ShowWhat::kReason) {
        EXPECT_EQ(Reasons(r), "");
    }
}

void ExpectReason(const StartCheckResult& r, const char* reason, int mode, int result) {
    ExpectEnds(r, ShowWhat::kReason, result);
    EXPECT_EQ(Reasons(r), reason);
    EXPECT_EQ(r.mode, mode);
}

TEST(MainMenuStartCheck, SupportedHandheldWithItsImageEnablesTheButtons) {
    ScriptedCheckDevice d;
    StartCheckResult r = MainMenuStartCheck(d);
    EXPECT_EQ(r.show, ShowWhat::kNone);
    EXPECT_FALSE(r.endWith.has_value());
    EXPECT_EQ(d.calls, (Calls{"connected", "install", "query", "locate high", "connected"}));

    // The small class needs the LOWMODEL image; the menu refuses only a
    // Supported of 0, not other values.
    ScriptedCheckDevice basic;
    basic.info.MemoryConfig = kMemoryConfigBasic;
    basic.info.Supported = 2;
    EXPECT_FALSE(MainMenuStartCheck(basic).endWith.has_value());
    EXPECT_EQ(basic.calls[3], "locate low");
}

TEST(MainMenuStartCheck, Failures) {
    {
        ScriptedCheckDevice d;
        d.connected = {false};
        ExpectEnds(MainMenuStartCheck(d), ShowWhat::kConnectionLost, kConnectionLost);
        EXPECT_EQ(d.calls, (Calls{"connected", "connected"}));
    }
    {
        // The agent could not be copied: the wizard's first page says so,
        // the menu goes on without asking the handheld.
        ScriptedCheckDevice d;
        d.install = -1;
        StartCheckResult r = MainMenuStartCheck(d);
        EXPECT_EQ(r.show, ShowWhat::kNone);
        EXPECT_FALSE(r.endWith.has_value());
        EXPECT_EQ(d.calls, (Calls{"connected", "install", "connected"}));
    }
    {
        // The link went while the checks ran.
        ScriptedCheckDevice d;
        d.connected = {true, false};
        ExpectEnds(MainMenuStartCheck(d), ShowWhat::kConnectionLost, kConnectionLost);
    }
    {
        ScriptedCheckDevice d;
        d.query = kResultFail;
        ExpectEnds(MainMenuStartCheck(d), ShowWhat::kWrongModel, kCancel);
    }
    for (uint32_t memoryConfig : {0u, 0x02000100u, 0x01000200u}) {
        ScriptedCheckDevice d;
        d.info.MemoryConfig = memoryConfig;
        ExpectEnds(MainMenuStartCheck(d), ShowWhat::kWrongModel, kCancel);
    }
    {
        ScriptedCheckDevice d;
        d.info.Supported = 0;
        ExpectEnds(MainMenuStartCheck(d), ShowWhat::kWrongModel, kCancel);
    }
    for (ImageLookup lookup : {ImageLookup::kMissing, ImageLookup::kOutOfMemory}) {
        ScriptedCheckDevice d;
        d.image = {lookup, ""};
        ExpectEnds(MainMenuStartCheck(d), ShowWhat::kImageMissing, kCancel);
    }
}

TEST(BackupNoticeStartCheck, VerifiesTheUpdateImage) {
    ScriptedCheckDevice d;
    StartCheckResult r = BackupNoticeStartCheck(d);
    EXPECT_EQ(r.show, ShowWhat::kNone);
    EXPECT_FALSE(r.endWith.has_value());
    EXPECT_TRUE(r.imageValid);
    EXPECT_EQ(r.imagePath, "/install/rom-h.nb0");
    EXPECT_EQ(d.calls, (Calls{"connected", "install", "query", "locate high", "check /install/rom-h.nb0",
                              "sum /install/rom-h.nb0 1000"}));

    // No count: nothing to sum. Only Supported 1 is this model, whatever
    // the memory class; an unknown class looks for the small image.
    ScriptedCheckDevice uncounted;
    uncounted.header.SetWord32(header_offset::kByteCount, 0);
    uncounted.info.MemoryConfig = 0;
    EXPECT_FALSE(BackupNoticeStartCheck(uncounted).endWith.has_value());
    EXPECT_EQ(uncounted.calls.back(), "check /install/rom-h.nb0");
    EXPECT_EQ(uncounted.calls[3], "locate low");
}

TEST(BackupNoticeStartCheck, EveryFailureEndsThePageAfterOneMessage) {
    ScriptedCheckDevice d;
    d.connected = {false};
    ExpectEnds(BackupNoticeStartCheck(d), ShowWhat::kConnectionLost, kConnectionLost);
    EXPECT_EQ(d.calls, (Calls{"connected"}));
    EXPECT_EQ(BackupNoticeStartCheck(d).mode, 0);

    struct Case {
        const char* what;
        void (*spoil)(ScriptedCheckDevice&);
        ShowWhat show;
    };
    const Case cases[] = {
        {"agent not copied", [](ScriptedCheckDevice& x) { x.install = -1; }, ShowWhat::kCopyIncomplete},
        {"no answer", [](ScriptedCheckDevice& x) { x.query = kResultFail; }, ShowWhat::kWrongModel},
        {"Supported 0", [](ScriptedCheckDevice& x) { x.info.Supported = 0; }, ShowWhat::kWrongModel},
        {"Supported 2", [](ScriptedCheckDevice& x) { x.info.Supported = 2; }, ShowWhat::kWrongModel},
        {"no image",
         [](ScriptedCheckDevice& x) {
             x.image = {ImageLookup::kMissing, ""};
         },
         ShowWhat::kImageMissing},
        {"no memory for the path",
         [](ScriptedCheckDevice& x) {
             x.image = {ImageLookup::kOutOfMemory, ""};
         },
         ShowWhat::kOutOfMemory},
        {"bad header", [](ScriptedCheckDevice& x) { x.headerLength = 0; }, ShowWhat::kImageCorrupt},
        {"a backup file", [](ScriptedCheckDevice& x) { x.header.SetWord16(header_offset::kKind, 1); },
         ShowWhat::kImageCorrupt},
        {"contents unreadable", [](ScriptedCheckDevice& x) { x.sumResult = kDesktopReadFailed; },
         ShowWhat::kImageCorrupt},
        {"wrong sum", [](ScriptedCheckDevice& x) { x.contentsSum = 0x1235; }, ShowWhat::kImageCorrupt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedCheckDevice x;
        c.spoil(x);
        StartCheckResult r = BackupNoticeStartCheck(x);
        ExpectEnds(r, c.show, kCheckFailed);
        EXPECT_FALSE(r.imageValid);
    }
}

TEST(UpdateInfoStartCheck, PassingImageFillsBothColumns) {
    ScriptedCheckDevice d;
    StartCheckResult r = UpdateInfoStartCheck(d, 0);
    EXPECT_EQ(r.show, ShowWhat::kNone);
    EXPECT_FALSE(r.endWith.has_value());
    EXPECT_TRUE(r.deviceValid);
    EXPECT_TRUE(r.imageValid);
    EXPECT_EQ(r.deviceInfo, d.info);
    EXPECT_EQ(r.header, d.header);
    EXPECT_EQ(r.imagePath, "/install/rom-h.nb0");
    EXPECT_EQ(r.verdict.Refuse, 0);
    // The sum and the file kind are the notice page's checks, not this one's.
    EXPECT_EQ(d.calls, (Calls{"connected", "install", "query", "locate high", "check /install/rom-h.nb0"}));
}

TEST(UpdateInfoStartCheck, DeviceAndImageFailures) {
    {
        ScriptedCheckDevice d;
        d.connected = {false};
        StartCheckResult r = UpdateInfoStartCheck(d, 0);
        ExpectEnds(r, ShowWhat::kConnectionLost, kConnectionLost);
        EXPECT_EQ(r.mode, 0);
        EXPECT_FALSE(r.deviceValid);
        EXPECT_FALSE(r.imageValid);
    }
    struct Case {
        const char* what;
        void (*spoil)(ScriptedCheckDevice&);
        ShowWhat show;
        bool leftColumn;
    };
    const Case cases[] = {
        {"agent not copied", [](ScriptedCheckDevice& x) { x.install = -1; }, ShowWhat::kCopyIncomplete,
         false},
        {"no answer", [](ScriptedCheckDevice& x) { x.query = kResultFail; }, ShowWhat::kWrongModel, false},
        {"unknown class", [](ScriptedCheckDevice& x) { x.info.MemoryConfig = 0x04000400; },
         ShowWhat::kWrongModel, false},
        {"Supported 0", [](ScriptedCheckDevice& x) { x.info.Supported = 0; }, ShowWhat::kWrongModel, false},
        {"no image",
         [](ScriptedCheckDevice& x) {
             x.image = {ImageLookup::kMissing, ""};
         },
         ShowWhat::kImageMissing, true},
        {"no memory for the path",
         [](ScriptedCheckDevice& x) {
             x.image = {ImageLookup::kOutOfMemory, ""};
         },
         ShowWhat::kOutOfMemory, true},
        {"bad header", [](ScriptedCheckDevice& x) { x.headerLength = 0; }, ShowWhat::kImageCorrupt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedCheckDevice x;
        c.spoil(x);
        StartCheckResult r = UpdateInfoStartCheck(x, 0);
        ExpectEnds(r, c.show, kCheckFailed);
        EXPECT_EQ(r.deviceValid, c.leftColumn);
        EXPECT_FALSE(r.imageValid);
    }
}

TEST(UpdateInfoStartCheck, RefusalsShowTheFirstMatchingLine) {
    struct Case {
        const char* date;
        uint8_t osCode;
        uint8_t model;
        const char* language;
        int32_t force;
        ShowWhat show;
        const char* reason;
        int result;
    };
    // The handheld runs 2003 (OS major 4) ROM 03050300, English, "Advanced".
    const Case cases[] = {
        // Same ROM and family but the other model byte: the image is wrong,
        // not the same ROM.
        {"03050300", kOsCode2003, kModelByteBasic, "EN", 0, ShowWhat::kImageCorrupt, "", 3},
        {"04100300", kOsCode2003, kModelByteAdvanced, "FR", 0, ShowWhat::kReason, "language", 3},
        {"03040300", kOsCode2003, kModelByteAdvanced, "EN", 0, ShowWhat::kReason, "downgrade", 3},
        {"03050300", kOsCode2003, kModelByteAdvanced, "EN", 0, ShowWhat::kReason, "same-rom", 2},
        {"03050300", kOsCode2003, kModelByteAdvanced, "EN", 1, ShowWhat::kReason, "same-rom", 2},
        // An older family is a downgrade even with a newer date.
        {"04100300", kOsCode2002, kModelByteAdvanced, "EN", 0, ShowWhat::kReason, "downgrade", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.date << " code " << int{c.osCode} << " " << c.language);
        ScriptedCheckDevice d;
        d.SetImage(c.date, c.osCode, c.model, c.language);
        StartCheckResult r = UpdateInfoStartCheck(d, c.force);
        if (c.show == ShowWhat::kReason) {
            ExpectReason(r, c.reason, 0, c.result);
        } else {
            ExpectEnds(r, c.show, c.result);
        }
        // The columns are shown with the refusal.
        EXPECT_TRUE(r.deviceValid);
        EXPECT_TRUE(r.imageValid);
        EXPECT_EQ(r.verdict.Refuse, 1);
    }

    // Forced, the older images pass.
    for (uint8_t osCode : {kOsCode2003, kOsCode2002}) {
        ScriptedCheckDevice d;
        d.SetImage(osCode == kOsCode2003 ? "03040300" : "04100300", osCode);
        EXPECT_FALSE(UpdateInfoStartCheck(d, 1).endWith.has_value());
    }
}

TEST(RestoreInfoStartCheck, BackupOfThisHandheld) {
    // An older backup of the same handheld may go back: no downgrade test.
    ScriptedCheckDevice d;
    d.SetBackupOfThisHandheld("11220200", kOsCode2002);
    StartCheckResult r = RestoreInfoStartCheck(d, "/docs/old.RIS");
    EXPECT_EQ(r.show, ShowWhat::kNone);
    EXPECT_FALSE(r.endWith.has_value());
    EXPECT_TRUE(r.deviceValid);
    EXPECT_TRUE(r.imageValid);
    EXPECT_EQ(r.imagePath, "/docs/old.RIS");
    // The timer watches the link; the start check does not ask.
    EXPECT_EQ(d.calls, (Calls{"install", "query", "check /docs/old.RIS", "sum /docs/old.RIS 27000832"}));
}

TEST(RestoreInfoStartCheck, EveryFailureEndsWithCancel) {
    {
        ScriptedCheckDevice d;
        d.install = -1;
        ExpectEnds(RestoreInfoStartCheck(d, "/r.RIS"), ShowWhat::kNone, kCancel);
        EXPECT_EQ(d.calls, (Calls{"install"}));
    }
    struct Case {
        const char* what;
        void (*spoil)(ScriptedCheckDevice&);
        ShowWhat show;
        const char* reason;
        int mode;
    };
    const Case cases[] = {
        {"no answer", [](ScriptedCheckDevice& x) { x.query = kResultFail; }, ShowWhat::kWrongModel, "", 0},
        {"unknown class", [](ScriptedCheckDevice& x) { x.info.MemoryConfig = 7; }, ShowWhat::kWrongModel, "",
         0},
        {"Supported 0", [](ScriptedCheckDevice& x) { x.info.Supported = 0; }, ShowWhat::kWrongModel, "", 0},
        {"interrupted backup", [](ScriptedCheckDevice& x) { x.headerLength = 0; }, ShowWhat::kImageCorrupt,
         "", 0},
        // A backup cut short, one whose count is not its generation's, and one
        // whose contents changed since it was written would all be flashed
        // after the handheld's cold restart.
        {"cut short", [](ScriptedCheckDevice& x) { x.headerLength -= 16384; }, ShowWhat::kImageCorrupt, "",
         0},
        {"wrong count", [](ScriptedCheckDevice& x) { x.header.SetWord32(header_offset::kByteCount, 1000); },
         ShowWhat::kImageCorrupt, "", 0},
        {"contents changed", [](ScriptedCheckDevice& x) { x.contentsSum += 1; }, ShowWhat::kImageCorrupt, "",
         0},
        {"unreadable contents", [](ScriptedCheckDevice& x) { x.sumResult = 0xA0000001; },
         ShowWhat::kImageCorrupt, "", 0},
        {"other memory size",
         [](ScriptedCheckDevice& x) { x.header.SetByte(header_offset::kModelByte, kModelByteBasic); },
         ShowWhat::kImageCorrupt, "", 0},
        // Traditional Chinese: its backups carry "TC", which no restore
        // accepts.
        {"language", [](ScriptedCheckDevice& x) { x.info.LanguageId = 0x0404; }, ShowWhat::kReason,
         "language", 0},
        {"same ROM", [](ScriptedCheckDevice& x) { x.SetBackupOfThisHandheld("03050300", kOsCode2003); },
         ShowWhat::kReason, "same-rom", 1},
        {"other handheld", [](ScriptedCheckDevice& x) { x.info.DeviceUuid[15] ^= 1; }, ShowWhat::kReason,
         "other-device", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedCheckDevice x;
        x.SetBackupOfThisHandheld("02010400", kOsCode2003);
        c.spoil(x);
        StartCheckResult r = RestoreInfoStartCheck(x, "/r.RIS");
        if (c.show == ShowWhat::kReason) {
            ExpectReason(r, c.reason, c.mode, kCancel);
        } else {
            ExpectEnds(r, c.show, kCancel);
        }
    }
}

TEST(BatteryCheck, FortyPercentOrUnknownProceeds) {
    struct Case {
        uint32_t battery;
        bool proceeds;
    };
    for (Case c :
         {Case{39, false}, Case{40, true}, Case{0, false}, Case{100, true}, Case{kBatteryUnknown, true}}) {
        SCOPED_TRACE(c.battery);
        for (int button : {kUpdateInfoNext, kRestoreInfoRestore}) {
            ScriptedCheckDevice d;
            d.info.BatteryPercent = c.battery;
            StartCheckResult r = BatteryCheck(d, button);
            EXPECT_TRUE(r.deviceValid);
            EXPECT_EQ(r.deviceInfo.BatteryPercent, c.battery);
            if (c.proceeds) {
                ExpectEnds(r, ShowWhat::kNone, button);
            } else {
                // The page stays: the user may charge and press again.
                EXPECT_EQ(r.show, ShowWhat::kReason);
                EXPECT_EQ(Reasons(r), "battery");
                EXPECT_EQ(r.mode, 0);
                EXPECT_FALSE(r.endWith.has_value());
            }
        }
    }
    ScriptedCheckDevice silent;
    silent.query = kResultFail;
    StartCheckResult r = BatteryCheck(silent, kUpdateInfoNext);
    EXPECT_EQ(r.show, ShowWhat::kQuestionBeep);
    EXPECT_FALSE(r.endWith.has_value());
    EXPECT_FALSE(r.deviceValid);
}

// The real answers that come from the desktop: the installation's image and
// the sum over its contents.
TEST(LinkStartCheckDevice, FindsAndSumsTheInstalledImage) {
    testing::TempFolder dir;
    std::string saved = g_installDir;
    g_installDir = dir.path();

    ImageHeader plain;
    plain.SetText(header_offset::kMagic, "BREL", 4);
    plain.SetText(header_offset::kMarker, "NUVA7", 5);
    plain.SetByte(header_offset::kOsCode, kOsCode2003);
    std::array<uint8_t, kImageHeaderSize> stored = plain.ToFile();
    std::string contents(3000, '\0');
    for (size_t i = 0; i < contents.size(); ++i) {
        contents[i] = static_cast<char>(i * 7);
    }
    std::string file(reinterpret_cast<const char*>(stored.data()), stored.size());
    std::string path = dir.Write("images/hi.nb0", file + contents);
    dir.Write("setup.ini", "[Image]\nHIMODEL=images\\hi.nb0\n");

    LinkStartCheckDevice device;
    LocatedImage found = device.LocateImage(true);
    EXPECT_EQ(found.status, ImageLookup::kFound);
    EXPECT_EQ(found.path, path);
    EXPECT_EQ(device.LocateImage(false).status, ImageLookup::kMissing);

    ImageHeader header;
    EXPECT_EQ(device.CheckImageFile(path, header), file.size() + contents.size());
    EXPECT_EQ(header, plain);

    // The sum starts behind the header.
    uint32_t sum = 0;
    EXPECT_EQ(device.SumImageContents(path, 2000, sum), kResultOk);
    EXPECT_EQ(sum, ByteSum(reinterpret_cast<const uint8_t*>(contents.data()), 2000));
    // A count beyond the file's end, or no file, is a failure.
    EXPECT_NE(device.SumImageContents(path, 3001, sum), kResultOk);
    EXPECT_NE(device.SumImageContents(dir.path() + "none.nb0", 10, sum), kResultOk);

    g_installDir = saved;
}

}  // namespace
}  // namespace nuva
