#include "setup/resources/dialog_templates.h"

#include <gtest/gtest.h>
#include <png.h>

#include <string>
#include <vector>

#include "setup/resources/dialog_ids.h"
#include "setup/resources/string_table.h"

namespace nuva {
namespace {

const DialogTemplate& Template(uint32_t id) {
    const DialogTemplate* dialog = FindDialogTemplate(id);
    if (dialog == nullptr) {
        ADD_FAILURE() << "no template " << id;
        static const DialogTemplate kNone;
        return kNone;
    }
    return *dialog;
}

const ControlTemplate& Control(uint32_t dialogId, uint32_t controlId) {
    const ControlTemplate* control = FindControl(Template(dialogId), controlId);
    if (control == nullptr) {
        ADD_FAILURE() << "no control " << controlId << " in template " << dialogId;
        static const ControlTemplate kNone;
        return kNone;
    }
    return *control;
}

// The controls of a template that show `text`; the program reaches most
// fixed texts by no identifier of its own.
std::vector<const ControlTemplate*> WithText(uint32_t dialogId, std::string_view text) {
    std::vector<const ControlTemplate*> found;
    for (const ControlTemplate& control : Template(dialogId).controls) {
        if (DialogText(dialogId, control.id) == text) {
            found.push_back(&control);
        }
    }
    return found;
}

bool Shows(uint32_t dialogId, std::string_view text) {
    return !WithText(dialogId, text).empty();
}

const std::vector<uint32_t> kAllTemplates = {
    dialog_id::kAbout,
    dialog_id::kMainMenu,
    dialog_id::kUpdateProgress,
    dialog_id::kUpdateInfo,
    dialog_id::kEraseCaution,
    dialog_id::kReason,
    dialog_id::kBackupNotice,
    dialog_id::kOsChangeNotice,
    dialog_id::kBackupRequired,
    dialog_id::kBackupRestoreChoice,
    dialog_id::kBackupConfirm,
    dialog_id::kBackupComplete,
    dialog_id::kConnectionLost,
    dialog_id::kBackupProgress,
    dialog_id::kRestoreInfo,
    dialog_id::kWrongModel,
    dialog_id::kCompletionNotice,
};

TEST(DialogTemplates, HaveTheirSizesCaptionsAndSystemMenus) {
    struct Expected {
        uint32_t id;
        int width;  // 0: the size is ours to choose
        int height;
        bool systemMenu;
        const char* caption;
    };
    for (const Expected& e : std::vector<Expected>{
             {100, 0, 0, true, "About Vantor"},
             {102, 285, 204, true, "Brel Nuva Reflash"},
             {129, 203, 203, false, "Brel Nuva Reflash"},
             {130, 0, 0, true, "Brel Nuva Reflash"},
             {134, 203, 160, true, "Caution"},
             {136, 203, 152, true, "Caution"},
             {137, 220, 220, true, "Brel Nuva Reflash"},
             {139, 220, 220, true, "Caution"},
             {140, 220, 220, true, "Brel Nuva ROM Backup"},
             {141, 220, 220, false, "Brel Nuva ROM Backup/Restore"},
             {142, 220, 220, false, "Brel Nuva ROM Backup"},
             {143, 244, 48, true, "ROM Backup Complete"},
             {144, 200, 156, true, "Caution"},
             {145, 203, 203, false, "Brel Nuva ROM Backup"},
             {146, 0, 0, true, "Brel Nuva ROM Restore"},
             {148, 263, 58, true, "Caution"},
             {150, 289, 191, true, "Update complete!"},
         }) {
        const DialogTemplate& d = Template(e.id);
        EXPECT_EQ(d.id, e.id);
        if (e.width != 0) {
            EXPECT_EQ(d.width, e.width) << e.id;
            EXPECT_EQ(d.height, e.height) << e.id;
        } else {
            EXPECT_GT(d.width, 100) << e.id;
            EXPECT_GT(d.height, 40) << e.id;
        }
        EXPECT_EQ(d.systemMenu, e.systemMenu) << e.id;
        EXPECT_EQ(DialogText(e.id, 0), e.caption) << e.id;
        EXPECT_FALSE(d.controls.empty()) << e.id;
    }
    EXPECT_EQ(FindDialogTemplate(101), nullptr);
    EXPECT_EQ(FindDialogTemplate(147), nullptr);
    EXPECT_EQ(DialogText(147, 0), "");
    EXPECT_EQ(DialogText(dialog_id::kMainMenu, 9999), "");
}

TEST(DialogTemplates, CautionsAndNoticesCarryTheirTexts) {
    // ConnectionLostDialog
    EXPECT_EQ(DialogText(144, 1046), "The procedure CANNOT proceed due to the following reason:");
    EXPECT_EQ(DialogText(144, 1021),
              "* The connection between the computer and the device cannot be detected");
    EXPECT_EQ(DialogText(144, 1048),
              "\nEnsure that the USB/serial cable/cradle \nis connected correctly and try again.");
    EXPECT_EQ(Control(144, 1048).align, TextAlign::kCentre);
    EXPECT_EQ(Control(144, 1).kind, ControlKind::kDefaultButton);

    // WrongModelDialog: the typo and the two spaces are the program's.
    EXPECT_TRUE(
        Shows(148, "This utiliyu only support the Brel NUVA Q7 device.  Program will be terminated."));
    EXPECT_EQ(Control(148, 1).kind, ControlKind::kDefaultButton);

    // EraseCautionDialog: Continue is the default button and waits for power.
    EXPECT_EQ(DialogText(134, 1068), "The reflash procedure clears all data in your Pocket PC.");
    EXPECT_TRUE(Shows(134, "Do you want to continue?"));
    EXPECT_TRUE(Shows(134, "Ensure that the AC adapter is connected before proceeding."));
    EXPECT_EQ(Control(134, 1).kind, ControlKind::kDefaultButton);
    EXPECT_FALSE(Control(134, 1).enabled);
    EXPECT_TRUE(Control(134, 2).enabled);

    // OsChangeNoticeDialog
    EXPECT_EQ(DialogText(139, 1036), "Con&tinue");
    EXPECT_EQ(DialogText(139, 1035), "&Cancel");
    EXPECT_TRUE(Shows(139, "Click [Continue] to begin the update process."));
    ASSERT_EQ(WithText(139, "Notice :").size(), 1u);
    EXPECT_EQ(WithText(139, "Notice :")[0]->kind, ControlKind::kGroupBox);
    EXPECT_EQ(Control(139, 1033).kind, ControlKind::kText);

    // ReasonDialog: OK is identifier 2.
    EXPECT_EQ(DialogText(136, 2), "OK");
    EXPECT_EQ(Control(136, 1069).kind, ControlKind::kText);
    EXPECT_EQ(Control(136, 1023).kind, ControlKind::kText);

    // CompletionNoticeDialog: one of the two pictures shows at a time.
    EXPECT_EQ(DialogText(150, 2), "Exit");
    EXPECT_EQ(Control(150, 1071).picture, dialog_id::kBitmapNotice2003);
    EXPECT_EQ(Control(150, 1073).picture, dialog_id::kBitmapNotice2002);
    EXPECT_TRUE(Control(150, 1071).visible);
    EXPECT_FALSE(Control(150, 1073).visible);
    ASSERT_EQ(WithText(150, "NOTICE :").size(), 1u);
    EXPECT_EQ(WithText(150, "NOTICE :")[0]->kind, ControlKind::kGroupBox);

    // The program's own message boxes.
    EXPECT_EQ(DialogText(dialog_id::kLooseTexts, dialog_id::loose_text::kOutOfMemory),
              "Memory Allocate Faile");
    EXPECT_EQ(DialogText(dialog_id::kLooseTexts, dialog_id::loose_text::kThreadFailed),
              "Thread Create Failed..");
    EXPECT_EQ(DialogText(dialog_id::kLooseTexts, dialog_id::loose_text::kErrorCaption), "Error");
    EXPECT_EQ(DialogText(dialog_id::kLooseTexts, dialog_id::loose_text::kRapiInitFailed),
              "CeRapiInit() ... Filed ");
    ASSERT_NE(FindDialogTemplate(dialog_id::kLooseTexts), nullptr);
    EXPECT_EQ(FindDialogTemplate(dialog_id::kLooseTexts)->controls.size(), 4u);
}

TEST(DialogTemplates, MenuAndWizardPagesCarryTheirTextsAndStates) {
    // MainMenuDialog: the operations wait for the start checks, Exit does not.
    EXPECT_EQ(DialogText(102, 1025), "Update ROM");
    EXPECT_EQ(DialogText(102, 1024), "Backup/Restore ROM");
    EXPECT_EQ(DialogText(102, 2), "Exit");
    EXPECT_FALSE(Control(102, 1025).enabled);
    EXPECT_FALSE(Control(102, 1024).enabled);
    EXPECT_TRUE(Control(102, 2).enabled);
    EXPECT_TRUE(Shows(102, "Click Update ROM to begin the update process."));
    EXPECT_TRUE(Shows(102,
                      "Click Backup/Restore ROM to back up your current ROM or to restore a ROM that you "
                      "have already saved."));
    ASSERT_EQ(WithText(102, "V 2.0 (A00)").size(), 1u);
    const ControlTemplate& version = *WithText(102, "V 2.0 (A00)")[0];
    EXPECT_FALSE(version.enabled);  // greyed
    EXPECT_GT(version.x, Template(102).width / 2);
    EXPECT_GT(version.y, Template(102).height * 3 / 4);

    // AboutDialog
    EXPECT_TRUE(Shows(100, "Vantor Version 2.0"));
    EXPECT_EQ(DialogText(100, 1), "OK");

    // BackupNoticePage
    EXPECT_EQ(DialogText(137, 1025), "< &Back");
    EXPECT_EQ(Control(137, 1025).kind, ControlKind::kDefaultButton);
    EXPECT_EQ(DialogText(137, 1026), "&Next >");
    EXPECT_FALSE(Control(137, 1026).enabled);
    EXPECT_EQ(DialogText(137, 1029), "NOTICE :");
    EXPECT_EQ(Control(137, 1030).kind, ControlKind::kGroupBox);
    EXPECT_FALSE(Control(137, 1030).visible);
    EXPECT_EQ(DialogText(137, 1030), "");
    EXPECT_EQ(DialogText(137, 1064), "Additional help");
    EXPECT_EQ(Control(137, 1064).kind, ControlKind::kLink);
    for (const char* text : {
             "Back up your data before proceeding",
             "with the upgrade. All existing data will be lost.",
             "Before you begin :",
             "*Use ActiveSync to back up your Pocket PC data. For additional information on backing up and "
             "restoring data, open ActiveSync on your computer and click Help on the menu bar.\n",
             "*If you have data stored in your built-in storage, copy the contents to a folder in My "
             "Device\\My Documents. ",
             "*Connect the AC adapter. Disable any power management modes and close all programs on the host "
             "computer.",
         }) {
        EXPECT_TRUE(Shows(137, text)) << text;
    }

    // UpdateInfoPage and RestoreInfoPage: two columns, values hidden until filled.
    for (uint32_t page : {130u, 146u}) {
        for (uint32_t value : {1016u, 1017u, 1051u, 1018u, 1050u, 1052u, 1053u, 1054u}) {
            EXPECT_FALSE(Control(page, value).visible) << page << "/" << value;
        }
        for (uint32_t label = 1056; label <= 1063; ++label) {
            EXPECT_TRUE(Control(page, label).visible) << page << "/" << label;
            EXPECT_FALSE(DialogText(page, label).empty()) << page << "/" << label;
        }
        EXPECT_TRUE(Shows(page, "Current System Information"));
    }
    EXPECT_TRUE(Shows(130, "Update Information"));
    EXPECT_TRUE(Shows(146, "Backup ROM information"));
    EXPECT_EQ(DialogText(130, 1039), "Save the current ROM to a specified location.");
    EXPECT_EQ(Control(130, 1039).kind, ControlKind::kCheckBox);
    EXPECT_EQ(DialogText(130, 1003), "&Next >");
    EXPECT_FALSE(Control(130, 1003).enabled);
    EXPECT_EQ(DialogText(130, 1004), "< &Back");
    EXPECT_EQ(DialogText(146, 1066), "&Restore >");
    EXPECT_FALSE(Control(146, 1066).enabled);
    EXPECT_EQ(DialogText(146, 1065), "< &Cancel");
    EXPECT_EQ(FindControl(Template(146), 1039), nullptr);

    // Backup pages
    EXPECT_TRUE(Shows(140,
                      "Before you can begin the update process, you must back up your current ROM. Saving "
                      "your ROM image enables you to restore the current ROM on your Pocket PC if you ever "
                      "have any issues with the update."));
    EXPECT_TRUE(Shows(140, "Click [Save] to continue."));
    EXPECT_EQ(DialogText(140, 1037), "&Save");
    EXPECT_EQ(Control(140, 1037).kind, ControlKind::kDefaultButton);
    EXPECT_EQ(DialogText(141, 1037), "Save ROM");
    EXPECT_EQ(DialogText(141, 1038), "Restore ROM");
    EXPECT_EQ(DialogText(141, 1035), "Cancel");
    EXPECT_EQ(Control(141, 1037).kind, ControlKind::kDefaultButton);
    EXPECT_EQ(DialogText(142, 1044), "Model :");
    EXPECT_EQ(DialogText(142, 1043), "ROM version : ");
    EXPECT_EQ(DialogText(142, 1046), "OS Version: ");
    EXPECT_EQ(DialogText(142, 1045), "Language : ");
    for (uint32_t value : {1041u, 1040u, 1047u, 1042u}) {
        EXPECT_FALSE(Control(142, value).visible) << value;
    }
    EXPECT_EQ(Control(142, 1035).kind, ControlKind::kDefaultButton);
    EXPECT_TRUE(Shows(142, "Current System Information:"));
    EXPECT_TRUE(Shows(142, "Click [Save] to back up your current ROM image."));
    EXPECT_TRUE(Shows(143, "The ROM image has been saved successfully!"));
    EXPECT_EQ(WithText(143, "The ROM image has been saved successfully!")[0]->align, TextAlign::kCentre);
    EXPECT_FALSE(Control(143, 1).enabled);
}

TEST(DialogTemplates, ProgressPagesStartWithTheirBarsHidden) {
    const char* caution =
        "CAUTION: DO NOT use your system until the update process is complete! Doing so can leave your "
        "system in an unbootable state that requires service.";
    for (uint32_t page : {129u, 145u}) {
        EXPECT_EQ(DialogText(page, 1015), caution);
        EXPECT_TRUE(Control(page, 1015).visible);
        for (uint32_t hidden : {1007u, 1010u, 1011u}) {
            EXPECT_FALSE(Control(page, hidden).visible) << page << "/" << hidden;
        }
        EXPECT_EQ(Control(page, 1007).kind, ControlKind::kProgressBar);
        EXPECT_EQ(Control(page, 1010).kind, ControlKind::kProgressBar);
    }
    EXPECT_EQ(DialogText(129, 1013), "Reflash in Progress...");
    for (uint32_t button : {1000u, 1u}) {
        EXPECT_FALSE(Control(129, button).visible);
        EXPECT_FALSE(Control(129, button).enabled);
    }
    EXPECT_EQ(DialogText(145, 1013), "ROM Backup in progress...");
    EXPECT_EQ(
        DialogText(145, 1014),
        "The ROM Backup process takes about 15 minutes to complete using a USB cradle/cable. The update "
        "takes 45 minutes to complete using a serial cradle/cable.");
    EXPECT_EQ(DialogText(145, 1011), "Copying files and saving ROM image...");
    EXPECT_FALSE(Control(145, 1010).enabled);
    int hiddenButtons = 0;
    for (const ControlTemplate& c : Template(145).controls) {
        hiddenButtons += c.kind == ControlKind::kButton && !c.visible ? 1 : 0;
    }
    EXPECT_EQ(hiddenButtons, 1);
}

// How many lines `text` takes when wrapped at word boundaries into
// `width` dialog units, at about 4 units a character.
int WrappedLines(std::string_view text, int width) {
    size_t perLine = static_cast<size_t>(width / 4);
    int lines = 0;
    size_t start = 0;
    while (true) {
        size_t end = text.find('\n', start);
        std::string_view paragraph = text.substr(start, end == std::string_view::npos ? end : end - start);
        ++lines;
        size_t used = 0;
        size_t pos = 0;
        while (pos <= paragraph.size()) {
            size_t blank = paragraph.find(' ', pos);
            size_t length = (blank == std::string_view::npos ? paragraph.size() : blank) - pos;
            size_t needed = used == 0 ? length : used + 1 + length;
            if (needed <= perLine || used == 0) {
                used = needed;
            } else {
                ++lines;
                used = length;
            }
            while (used > perLine) {  // a word longer than the line is broken
                ++lines;
                used -= perLine;
            }
            if (blank == std::string_view::npos) {
                break;
            }
            pos = blank + 1;
        }
        if (end == std::string_view::npos) {
            return lines;
        }
        start = end + 1;
    }
}

std::string WithoutMnemonic(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c != '&') {
            out.push_back(c);
        }
    }
    return out;
}

// Does `text` fit `control` at 8-point MS Sans Serif?
::testing::AssertionResult Fits(const ControlTemplate& control, std::string_view text) {
    int need = 0;
    int room = 0;
    switch (control.kind) {
        case ControlKind::kText:
        case ControlKind::kLink:
            need = WrappedLines(text, control.width) * 8;
            room = control.height;
            break;
        case ControlKind::kButton:
        case ControlKind::kDefaultButton:
            need = static_cast<int>(WithoutMnemonic(text).size()) * 4 + 8;
            room = control.width;
            break;
        case ControlKind::kCheckBox:
            need = static_cast<int>(WithoutMnemonic(text).size()) * 4 + 12;
            room = control.width;
            break;
        case ControlKind::kGroupBox:
            need = static_cast<int>(text.size()) * 4 + 8;
            room = control.width;
            break;
        case ControlKind::kPicture:
        case ControlKind::kProgressBar:
            return ::testing::AssertionSuccess();
    }
    if (need <= room) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "control " << control.id << " needs " << need << " units for \""
                                         << text << "\" but has " << room;
}

bool Overlap(const ControlTemplate& a, const ControlTemplate& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

bool Within(const ControlTemplate& inner, const ControlTemplate& outer) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

TEST(DialogTemplates, LayoutsHoldTheirTextsWithoutOverlaps) {
    for (uint32_t id : kAllTemplates) {
        const DialogTemplate& d = Template(id);
        for (size_t i = 0; i < d.controls.size(); ++i) {
            const ControlTemplate& a = d.controls[i];
            EXPECT_TRUE(a.x >= 0 && a.y >= 0 && a.x + a.width <= d.width && a.y + a.height <= d.height)
                << id << "/" << a.id;
            EXPECT_TRUE(Fits(a, DialogText(id, a.id))) << "template " << id;
            for (size_t k = i + 1; k < d.controls.size(); ++k) {
                const ControlTemplate& b = d.controls[k];
                EXPECT_NE(a.id, b.id) << id;
                if (!Overlap(a, b)) {
                    continue;
                }
                // A frame holds its controls whole; two pictures may share a
                // place when only one of them shows.
                bool framed = (a.kind == ControlKind::kGroupBox && Within(b, a)) ||
                              (b.kind == ControlKind::kGroupBox && Within(a, b));
                bool alternatives = a.kind == ControlKind::kPicture && b.kind == ControlKind::kPicture &&
                                    a.visible != b.visible;
                EXPECT_TRUE(framed || alternatives)
                    << "template " << id << ": " << a.id << " overlaps " << b.id;
            }
        }
    }

    // Texts the pages set while they run fit too, in the longest form they take.
    struct RunTimeText {
        uint32_t dialog;
        uint32_t control;
        std::string text;
    };
    std::vector<RunTimeText> texts = {
        {139, 1033, LoadString(172) + LoadString(179)},
        {150, 1072, LoadString(112)},
        {150, 1072, LoadString(113)},
        {136, 1069, LoadString(159)},
        {144, 1046, LoadString(137)},
        {129, 1013, LoadString(156)},
        {129, 1014, LoadString(153)},
        {129, 1014, LoadString(157)},
        {129, 1014, LoadString(110)},
        {129, 1014, LoadString(111)},
        {129, 1011, LoadString(132) + "100 %"},
        {129, 1000, LoadString(187)},
        {145, 1011, FormatText(150, 100)},
        {130, 1016, FormatText(140, LoadString(119).c_str())},
        {130, 1017, FormatText(141, L"A02", 0x03050300u, "EN")},
        {130, 1051, LoadString(145)},
        {146, 1053, LoadString(144)},
        {146, 1054, LoadString(124)},
        {142, 1041, "Brel Nuva Q7 " + LoadString(119)},
        {142, 1047, LoadString(145)},
    };
    // Each caller of the reason dialog sets one reason.
    for (uint32_t reason : {164u, 166u, 165u, 163u, 168u, 169u}) {
        texts.push_back({136, 1023, LoadString(reason)});
    }
    texts.push_back({136, 1023, FormatText(170, "2003", "A02", "2002", "A00")});
    for (const RunTimeText& t : texts) {
        EXPECT_TRUE(Fits(Control(t.dialog, t.control), t.text)) << "template " << t.dialog;
    }
}

struct Decoded {
    bool ok = false;
    uint32_t width = 0;
    uint32_t height = 0;
    bool alpha = false;
    std::vector<uint8_t> rgba;
};

Decoded Decode(std::span<const uint8_t> bytes) {
    Decoded out;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
        return out;
    }
    out.width = image.width;
    out.height = image.height;
    out.alpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    image.format = PNG_FORMAT_RGBA;
    out.rgba.resize(PNG_IMAGE_SIZE(image));
    out.ok = png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr) != 0;
    return out;
}

TEST(Pictures, DecodeAtTheSizeOfTheirControls) {
    Decoded icon = Decode(PictureBytes(dialog_id::kIconSetup));
    ASSERT_TRUE(icon.ok);
    EXPECT_EQ(icon.width, 32u);
    EXPECT_EQ(icon.height, 32u);
    EXPECT_TRUE(icon.alpha);
    EXPECT_EQ(icon.rgba[3], 0u);  // the corner is see-through

    // A bitmap fills its control: 1.5 px a dialog unit across, 1.625 down.
    struct Placed {
        uint32_t dialog;
        uint32_t control;
        uint32_t picture;
    };
    std::vector<Decoded> bitmaps;
    for (const Placed& p : std::vector<Placed>{{102, 2000, 131}, {150, 1071, 151}, {150, 1073, 152}}) {
        const ControlTemplate& c = Control(p.dialog, p.control);
        ASSERT_EQ(c.kind, ControlKind::kPicture);
        ASSERT_EQ(c.picture, p.picture);
        EXPECT_FALSE(DialogText(p.dialog, p.control).empty());  // its description
        Decoded d = Decode(PictureBytes(p.picture));
        ASSERT_TRUE(d.ok) << p.picture;
        EXPECT_EQ(d.width * 2, static_cast<uint32_t>(c.width) * 3) << p.picture;
        EXPECT_EQ(d.height * 8, static_cast<uint32_t>(c.height) * 13) << p.picture;
        bitmaps.push_back(std::move(d));
    }
    EXPECT_EQ(bitmaps[0].width, 120u);
    EXPECT_EQ(bitmaps[0].height, 299u);
    EXPECT_EQ(bitmaps[1].width, 144u);
    EXPECT_EQ(bitmaps[1].height, 247u);
    // The two generations are told apart by their pictures.
    EXPECT_NE(bitmaps[1].rgba, bitmaps[2].rgba);

    EXPECT_EQ(Control(100, 2000).picture, dialog_id::kIconSetup);
    EXPECT_TRUE(PictureBytes(0).empty());
    EXPECT_TRUE(PictureBytes(130).empty());
    EXPECT_FALSE(Decode(PictureBytes(dialog_id::kBitmapMainMenu).first(100)).ok);
}

}  // namespace
}  // namespace nuva
