#include "setup/device/start_checks.h"

#include <gtest/gtest.h>

#include <stop_token>
#include <string>
#include <vector>

#include "formats/byte_sum.h"
#include "formats/result_codes.h"
#include "setup/device/page_results.h"
#include "setup/resources/settings.h"
#include "tests/setup/device/scripted_image_files.h"
#include "tests/support/temp_folder.h"

namespace nuva {
namespace {

using namespace page_result;
using Calls = std::vector<std::string>;

using test::FakeHandheldPort;
using test::ScriptedImageFiles;

// A scripted handheld (a supported "Advanced" English one running Pocket PC
// 2003, ROM 03050300) and its installation's files.
struct Scripted {
    FakeHandheldPort port;
    ScriptedImageFiles files{port};
};

// The checks that sum a file, run to their end as a page runs them: the
// first half, the sum, then the second half.
StartCheckResult NoticeToTheEnd(Scripted& s) {
    StartCheckResult r = BackupNoticeStartCheck(s.port, s.files);
    if (!r.pendingSum) {
        return r;
    }
    return FinishBackupNoticeCheck(r, SumContents(s.files, *r.pendingSum));
}
StartCheckResult RestoreToTheEnd(Scripted& s, const std::string& path) {
    StartCheckResult r = RestoreInfoStartCheck(s.port, s.files, path);
    if (!r.pendingSum) {
        return r;
    }
    return FinishRestoreInfoCheck(r, SumContents(s.files, *r.pendingSum));
}

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
    Scripted s;
    StartCheckResult r = MainMenuStartCheck(s.port, s.files);
    EXPECT_EQ(r.show, ShowWhat::kNone);
    EXPECT_FALSE(r.endWith.has_value());
    EXPECT_EQ(s.files.Log(), (Calls{"install", "query", "locate high"}));

    // The small class needs the LOWMODEL image; the menu refuses only a
    // Supported of 0, not other values.
    Scripted basic;
    basic.port.info.MemoryConfig = kMemoryConfigBasic;
    basic.port.info.Supported = 2;
    EXPECT_FALSE(MainMenuStartCheck(basic.port, basic.files).endWith.has_value());
    EXPECT_EQ(basic.files.Log().back(), "locate low");
}

TEST(MainMenuStartCheck, Failures) {
    {
        Scripted s;
        s.port.connected = 0;
        ExpectEnds(MainMenuStartCheck(s.port, s.files), ShowWhat::kConnectionLost, kConnectionLost);
        EXPECT_EQ(s.files.Log(), Calls{});
    }
    {
        // The agent could not be copied: the wizard's first page says so,
        // the menu goes on without asking the handheld.
        Scripted s;
        s.port.installResult = -1;
        StartCheckResult r = MainMenuStartCheck(s.port, s.files);
        EXPECT_EQ(r.show, ShowWhat::kNone);
        EXPECT_FALSE(r.endWith.has_value());
        EXPECT_EQ(s.files.Log(), (Calls{"install"}));
    }
    {
        // The link went while the checks ran.
        Scripted s;
        s.files.onLocate = [&s] { s.port.connected = 0; };
        ExpectEnds(MainMenuStartCheck(s.port, s.files), ShowWhat::kConnectionLost, kConnectionLost);
    }
    {
        Scripted s;
        s.port.queryResult = kResultFail;
        ExpectEnds(MainMenuStartCheck(s.port, s.files), ShowWhat::kWrongModel, kCancel);
    }
    for (uint32_t memoryConfig : {0u, 0x02000100u, 0x01000200u}) {
        Scripted s;
        s.port.info.MemoryConfig = memoryConfig;
        ExpectEnds(MainMenuStartCheck(s.port, s.files), ShowWhat::kWrongModel, kCancel);
    }
    {
        Scripted s;
        s.port.info.Supported = 0;
        ExpectEnds(MainMenuStartCheck(s.port, s.files), ShowWhat::kWrongModel, kCancel);
    }
    for (ImageLookup lookup : {ImageLookup::kMissing, ImageLookup::kOutOfMemory}) {
        Scripted s;
        s.files.image = {lookup, ""};
        ExpectEnds(MainMenuStartCheck(s.port, s.files), ShowWhat::kImageMissing, kCancel);
    }
}

TEST(BackupNoticeStartCheck, VerifiesTheUpdateImage) {
    Scripted s;
    // The first half stops before the sum, which the page runs beside it.
    StartCheckResult first = BackupNoticeStartCheck(s.port, s.files);
    EXPECT_FALSE(first.endWith.has_value());
    EXPECT_FALSE(first.imageValid);
    ASSERT_TRUE(first.pendingSum.has_value());
    EXPECT_EQ(first.pendingSum->path, "/install/rom-h.nb0");
    EXPECT_EQ(first.pendingSum->count, 1000u);
    EXPECT_EQ(first.pendingSum->expected, 0x1234u);
    EXPECT_EQ(s.files.Log(), (Calls{"install", "query", "locate high", "check /install/rom-h.nb0"}));

    StartCheckResult r = FinishBackupNoticeCheck(first, SumContents(s.files, *first.pendingSum));
    EXPECT_EQ(r.show, ShowWhat::kNone);
    EXPECT_FALSE(r.endWith.has_value());
    EXPECT_FALSE(r.pendingSum.has_value());
    EXPECT_TRUE(r.imageValid);
    EXPECT_EQ(r.imagePath, "/install/rom-h.nb0");
    const Calls log = s.files.Log();
    EXPECT_EQ(Calls(log.end() - 2, log.end()),
              (Calls{"sum /install/rom-h.nb0 1000", "identity /install/rom-h.nb0"}));

    // No count: nothing to sum, but the identity block still vouches for the
    // contents. Only Supported 1 is this model, whatever the memory class;
    // an unknown class looks for the small image.
    Scripted uncounted;
    uncounted.files.header.SetWord32(header_offset::kByteCount, 0);
    uncounted.port.info.MemoryConfig = 0;
    StartCheckResult plain = BackupNoticeStartCheck(uncounted.port, uncounted.files);
    EXPECT_FALSE(plain.endWith.has_value());
    ASSERT_TRUE(plain.pendingSum.has_value());
    EXPECT_TRUE(plain.pendingSum->identity);
    plain = FinishBackupNoticeCheck(plain, SumContents(uncounted.files, *plain.pendingSum));
    EXPECT_TRUE(plain.imageValid);
    EXPECT_EQ(uncounted.files.Log(), (Calls{"install", "query", "locate low", "check /install/rom-h.nb0",
                                            "identity /install/rom-h.nb0"}));
}

TEST(BackupNoticeStartCheck, AnImageWhoseIdentityBlockDoesNotVouchForItIsRefusedWhateverItsCount) {
    // A damaged image whose header counts nothing was flashed unchecked and
    // bricked the handheld; one with a count and a matching sum but a
    // broken block would do the same.
    for (uint32_t count : {0u, 1000u}) {
        for (RomIdentityError damage :
             {RomIdentityError::kNoBlock, RomIdentityError::kContentSum, RomIdentityError::kTooShort}) {
            SCOPED_TRACE(count);
            Scripted s;
            s.files.header.SetWord32(header_offset::kByteCount, count);
            s.files.identity = damage;
            StartCheckResult first = BackupNoticeStartCheck(s.port, s.files);
            ASSERT_TRUE(first.pendingSum.has_value());
            StartCheckResult r = FinishBackupNoticeCheck(first, SumContents(s.files, *first.pendingSum));
            ExpectEnds(r, ShowWhat::kImageCorrupt, kCheckFailed);
            EXPECT_FALSE(r.imageValid);
        }
    }
}

TEST(BackupNoticeStartCheck, EveryFailureEndsThePageAfterOneMessage) {
    Scripted s;
    s.port.connected = 0;
    StartCheckResult lost = NoticeToTheEnd(s);
    ExpectEnds(lost, ShowWhat::kConnectionLost, kConnectionLost);
    EXPECT_EQ(lost.mode, 0);
    EXPECT_EQ(s.files.Log(), Calls{});

    struct Case {
        const char* what;
        void (*spoil)(Scripted&);
        ShowWhat show;
    };
    const Case cases[] = {
        {"agent not copied", [](Scripted& x) { x.port.installResult = -1; }, ShowWhat::kCopyIncomplete},
        {"no answer", [](Scripted& x) { x.port.queryResult = kResultFail; }, ShowWhat::kWrongModel},
        {"Supported 0", [](Scripted& x) { x.port.info.Supported = 0; }, ShowWhat::kWrongModel},
        {"Supported 2", [](Scripted& x) { x.port.info.Supported = 2; }, ShowWhat::kWrongModel},
        {"no image",
         [](Scripted& x) {
             x.files.image = {ImageLookup::kMissing, ""};
         },
         ShowWhat::kImageMissing},
        {"no memory for the path",
         [](Scripted& x) {
             x.files.image = {ImageLookup::kOutOfMemory, ""};
         },
         ShowWhat::kOutOfMemory},
        {"bad header", [](Scripted& x) { x.files.length = 0; }, ShowWhat::kImageCorrupt},
        {"a backup file", [](Scripted& x) { x.files.header.SetWord16(header_offset::kKind, 1); },
         ShowWhat::kImageCorrupt},
        {"contents unreadable", [](Scripted& x) { x.files.sumResult = kDesktopReadFailed; },
         ShowWhat::kImageCorrupt},
        {"wrong sum", [](Scripted& x) { x.files.contentsSum = 0x1235; }, ShowWhat::kImageCorrupt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scripted x;
        c.spoil(x);
        StartCheckResult r = NoticeToTheEnd(x);
        ExpectEnds(r, c.show, kCheckFailed);
        EXPECT_FALSE(r.imageValid);
    }
}

TEST(UpdateInfoStartCheck, PassingImageFillsBothColumns) {
    Scripted s;
    StartCheckResult r = UpdateInfoStartCheck(s.port, s.files, 0);
    EXPECT_EQ(r.show, ShowWhat::kNone);
    EXPECT_FALSE(r.endWith.has_value());
    EXPECT_FALSE(r.pendingSum.has_value());
    EXPECT_TRUE(r.deviceValid);
    EXPECT_TRUE(r.imageValid);
    EXPECT_EQ(r.deviceInfo, s.port.info);
    EXPECT_EQ(r.header, s.files.header);
    EXPECT_EQ(r.imagePath, "/install/rom-h.nb0");
    EXPECT_EQ(r.verdict.Refuse, 0);
    // The sum and the file kind are the notice page's checks, not this one's.
    EXPECT_EQ(s.files.Log(), (Calls{"install", "query", "locate high", "check /install/rom-h.nb0"}));
}

TEST(UpdateInfoStartCheck, DeviceAndImageFailures) {
    {
        Scripted s;
        s.port.connected = 0;
        StartCheckResult r = UpdateInfoStartCheck(s.port, s.files, 0);
        ExpectEnds(r, ShowWhat::kConnectionLost, kConnectionLost);
        EXPECT_EQ(r.mode, 0);
        EXPECT_FALSE(r.deviceValid);
        EXPECT_FALSE(r.imageValid);
    }
    struct Case {
        const char* what;
        void (*spoil)(Scripted&);
        ShowWhat show;
        bool leftColumn;
    };
    const Case cases[] = {
        {"agent not copied", [](Scripted& x) { x.port.installResult = -1; }, ShowWhat::kCopyIncomplete,
         false},
        {"no answer", [](Scripted& x) { x.port.queryResult = kResultFail; }, ShowWhat::kWrongModel, false},
        {"unknown class", [](Scripted& x) { x.port.info.MemoryConfig = 0x04000400; }, ShowWhat::kWrongModel,
         false},
        {"Supported 0", [](Scripted& x) { x.port.info.Supported = 0; }, ShowWhat::kWrongModel, false},
        {"no image",
         [](Scripted& x) {
             x.files.image = {ImageLookup::kMissing, ""};
         },
         ShowWhat::kImageMissing, true},
        {"no memory for the path",
         [](Scripted& x) {
             x.files.image = {ImageLookup::kOutOfMemory, ""};
         },
         ShowWhat::kOutOfMemory, true},
        {"bad header", [](Scripted& x) { x.files.length = 0; }, ShowWhat::kImageCorrupt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scripted x;
        c.spoil(x);
        StartCheckResult r = UpdateInfoStartCheck(x.port, x.files, 0);
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
        Scripted s;
        s.files.SetImage(c.date, c.osCode, c.model, c.language);
        StartCheckResult r = UpdateInfoStartCheck(s.port, s.files, c.force);
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
        Scripted s;
        s.files.SetImage(osCode == kOsCode2003 ? "03040300" : "04100300", osCode);
        EXPECT_FALSE(UpdateInfoStartCheck(s.port, s.files, 1).endWith.has_value());
    }
}

TEST(RestoreInfoStartCheck, BackupOfThisHandheld) {
    // An older backup of the same handheld may go back: no downgrade test.
    Scripted s;
    s.files.SetBackupOfThisHandheld("11220200", kOsCode2002);
    // Once the header has passed, both columns may be shown while the whole
    // contents are added up.
    StartCheckResult first = RestoreInfoStartCheck(s.port, s.files, "/docs/old.RIS");
    EXPECT_FALSE(first.endWith.has_value());
    EXPECT_TRUE(first.deviceValid);
    EXPECT_TRUE(first.imageValid);
    ASSERT_TRUE(first.pendingSum.has_value());
    EXPECT_EQ(first.pendingSum->count, kContentBytes2002);

    StartCheckResult r = FinishRestoreInfoCheck(first, SumContents(s.files, *first.pendingSum));
    EXPECT_EQ(r.show, ShowWhat::kNone);
    EXPECT_FALSE(r.endWith.has_value());
    EXPECT_TRUE(r.deviceValid);
    EXPECT_TRUE(r.imageValid);
    EXPECT_EQ(r.imagePath, "/docs/old.RIS");
    // The timer watches the link; the start check does not ask.
    EXPECT_EQ(s.files.Log(),
              (Calls{"install", "query", "check /docs/old.RIS", "sum /docs/old.RIS 27000832"}));
}

TEST(RestoreInfoStartCheck, EveryFailureEndsWithCancel) {
    {
        Scripted s;
        s.port.installResult = -1;
        ExpectEnds(RestoreToTheEnd(s, "/r.RIS"), ShowWhat::kNone, kCancel);
        EXPECT_EQ(s.files.Log(), (Calls{"install"}));
    }
    struct Case {
        const char* what;
        void (*spoil)(Scripted&);
        ShowWhat show;
        const char* reason;
        int mode;
    };
    const Case cases[] = {
        {"no answer", [](Scripted& x) { x.port.queryResult = kResultFail; }, ShowWhat::kWrongModel, "", 0},
        {"unknown class", [](Scripted& x) { x.port.info.MemoryConfig = 7; }, ShowWhat::kWrongModel, "", 0},
        {"Supported 0", [](Scripted& x) { x.port.info.Supported = 0; }, ShowWhat::kWrongModel, "", 0},
        {"interrupted backup", [](Scripted& x) { x.files.length = 0; }, ShowWhat::kImageCorrupt, "", 0},
        // A backup cut short, one whose count is not its generation's, and one
        // whose contents changed since it was written would all be flashed
        // after the handheld's cold restart.
        {"cut short", [](Scripted& x) { x.files.length -= 16384; }, ShowWhat::kImageCorrupt, "", 0},
        {"wrong count", [](Scripted& x) { x.files.header.SetWord32(header_offset::kByteCount, 1000); },
         ShowWhat::kImageCorrupt, "", 0},
        {"contents changed", [](Scripted& x) { x.files.contentsSum += 1; }, ShowWhat::kImageCorrupt, "", 0},
        {"unreadable contents", [](Scripted& x) { x.files.sumResult = kDesktopReadFailed; },
         ShowWhat::kImageCorrupt, "", 0},
        {"other memory size",
         [](Scripted& x) { x.files.header.SetByte(header_offset::kModelByte, kModelByteBasic); },
         ShowWhat::kImageCorrupt, "", 0},
        // Traditional Chinese: its backups carry "TC", which no restore
        // accepts.
        {"language", [](Scripted& x) { x.port.info.LanguageId = 0x0404; }, ShowWhat::kReason, "language", 0},
        {"same ROM", [](Scripted& x) { x.files.SetBackupOfThisHandheld("03050300", kOsCode2003); },
         ShowWhat::kReason, "same-rom", 1},
        {"other handheld", [](Scripted& x) { x.port.info.DeviceUuid[15] ^= 1; }, ShowWhat::kReason,
         "other-device", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scripted x;
        x.files.SetBackupOfThisHandheld("02010400", kOsCode2003);
        c.spoil(x);
        StartCheckResult r = RestoreToTheEnd(x, "/r.RIS");
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
            FakeHandheldPort port;
            port.info.BatteryPercent = c.battery;
            StartCheckResult r = BatteryCheck(port, button);
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
    FakeHandheldPort silent;
    silent.queryResult = kResultFail;
    StartCheckResult r = BatteryCheck(silent, kUpdateInfoNext);
    EXPECT_EQ(r.show, ShowWhat::kQuestionBeep);
    EXPECT_FALSE(r.endWith.has_value());
    EXPECT_FALSE(r.deviceValid);
}

// The real answers that come from the desktop: the installation's image and
// the sum over its contents.
TEST(InstalledImageFiles, FindsAndSumsTheInstalledImage) {
    testing::TempFolder dir;
    std::string saved = g_installDir;
    g_installDir = dir.path();

    ImageHeader plain;
    plain.SetText(header_offset::kMagic, "BREL", 4);
    plain.SetText(header_offset::kMarker, "NUVA7", 5);
    plain.SetByte(header_offset::kOsCode, kOsCode2003);
    std::array<uint8_t, kImageHeaderSize> stored = plain.ToFile();
    // More than three of the pieces the sum reads at a time, so that it
    // crosses their borders.
    std::string contents(3 * 1024 * 1024 + 3000, '\0');
    for (size_t i = 0; i < contents.size(); ++i) {
        contents[i] = static_cast<char>(i * 7 + i / 4096);
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(contents.data());
    std::string file(reinterpret_cast<const char*>(stored.data()), stored.size());
    std::string path = dir.Write("images/hi.nb0", file + contents);
    dir.Write("setup.ini", "[Image]\nHIMODEL=images\\hi.nb0\n");

    InstalledImageFiles files;
    LocatedImage found = files.LocateImage(true);
    EXPECT_EQ(found.status, ImageLookup::kFound);
    EXPECT_EQ(found.path, path);
    EXPECT_EQ(files.LocateImage(false).status, ImageLookup::kMissing);

    ImageHeader header;
    EXPECT_EQ(files.CheckImageFile(path, header), file.size() + contents.size());
    EXPECT_EQ(header, plain);

    // The sum starts behind the header.
    uint32_t sum = 0;
    EXPECT_EQ(files.SumImageContents(path, 2000, sum, {}), kResultOk);
    EXPECT_EQ(sum, ByteSum(bytes, 2000));
    const auto all = static_cast<uint32_t>(contents.size());
    SumOutcome whole = SumContents(files, ContentsSum{path, all, ByteSum(bytes, all)});
    EXPECT_EQ(whole.result, kResultOk);
    EXPECT_EQ(whole.sum, ByteSum(bytes, all));
    EXPECT_TRUE(SumMatches(ContentsSum{path, all, ByteSum(bytes, all)}, whole));
    EXPECT_FALSE(SumMatches(ContentsSum{path, all, ByteSum(bytes, all) + 1}, whole));

    // A count beyond the file's end, or no file, is a failure; so is a sum
    // asked to stop, whose page has gone.
    EXPECT_NE(files.SumImageContents(path, all + 1, sum, {}), kResultOk);
    EXPECT_NE(files.SumImageContents(dir.path() + "none.nb0", 10, sum, {}), kResultOk);
    std::stop_source stopped;
    stopped.request_stop();
    sum = 0;
    EXPECT_NE(files.SumImageContents(path, all, sum, stopped.get_token()), kResultOk);
    EXPECT_EQ(sum, 0u);

    g_installDir = saved;
}

}  // namespace
}  // namespace nuva
