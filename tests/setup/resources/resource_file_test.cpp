#include "setup/resources/resource_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setup/resources/dialog_ids.h"
#include "setup/resources/dialog_templates.h"
#include "tests/support/temp_folder.h"

namespace nuva {
namespace {

TableError Refusal(std::string_view text, ResourceForm form) {
    ResourceFile file;
    TableError error;
    EXPECT_FALSE(ParseResourceFile(text, form, file, error)) << text;
    EXPECT_TRUE(file.strings.empty() && file.templates.empty() && file.texts.empty());
    EXPECT_FALSE(error.message.empty());
    return error;
}

TEST(ResourceFile, ReadsTemplatesFieldByField) {
    ResourceFile file;
    TableError error;
    ASSERT_TRUE(
        ParseResourceFile("# a comment\r\n"
                          "126 \"Caution\"\n"
                          "dialog 137 220 220 sysmenu \"Brel Nuva Reflash\"\r\n"
                          "  control 1025 defbutton 10 196 50 14 \"< &Back\"\n"
                          "control 1026 button 66 196 50 14 disabled \"&Next >\"\n"
                          "\n"
                          "control 1030 groupbox 0 0 220 220 hidden \"\"\n"
                          "control 1048 text 5 5 100 24 centre \"\\nline\\ttab\"\n"
                          "control 7 link 5 40 60 8 right hidden disabled \"help\"\n"
                          "control 2000 picture 120 5 22 20 image=128 \"Brel Nuva Reflash\"\n"
                          "control 2001 checkbox 5 60 100 10 \"box\"\n"
                          "control 2002 progress 5 80 100 10 \"\"\n"
                          "dialog 129 203 203 nosysmenu \"\"\n"
                          "dialog 0\n"
                          "control 3 \"Error\"\n",
                          ResourceForm::kProgram, file, error))
        << error.line << ": " << error.message;
    EXPECT_EQ(file.strings.at(126), "Caution");
    ASSERT_EQ(file.templates.size(), 3u);
    const DialogTemplate& d = file.templates.at(137);
    EXPECT_EQ(d.width, 220);
    EXPECT_EQ(d.height, 220);
    EXPECT_TRUE(d.systemMenu);
    EXPECT_FALSE(file.templates.at(129).systemMenu);
    ASSERT_EQ(d.controls.size(), 8u);

    const ControlTemplate& back = d.controls[0];
    EXPECT_EQ(back.id, 1025u);
    EXPECT_EQ(back.kind, ControlKind::kDefaultButton);
    EXPECT_EQ(back.x, 10);
    EXPECT_EQ(back.y, 196);
    EXPECT_EQ(back.width, 50);
    EXPECT_EQ(back.height, 14);
    EXPECT_TRUE(back.visible && back.enabled);
    EXPECT_EQ(back.align, TextAlign::kLeft);
    EXPECT_FALSE(d.controls[1].enabled);
    EXPECT_TRUE(d.controls[1].visible);
    EXPECT_FALSE(d.controls[2].visible);
    EXPECT_EQ(d.controls[3].align, TextAlign::kCentre);
    EXPECT_EQ(d.controls[4].kind, ControlKind::kLink);
    EXPECT_EQ(d.controls[4].align, TextAlign::kRight);
    EXPECT_FALSE(d.controls[4].visible || d.controls[4].enabled);
    EXPECT_EQ(d.controls[5].kind, ControlKind::kPicture);
    EXPECT_EQ(d.controls[5].picture, 128u);
    EXPECT_EQ(d.controls[6].kind, ControlKind::kCheckBox);
    EXPECT_EQ(d.controls[7].kind, ControlKind::kProgressBar);

    EXPECT_EQ(file.texts.at({137, 0}), "Brel Nuva Reflash");
    EXPECT_EQ(file.texts.at({137, 1048}), "\nline\ttab");
    EXPECT_EQ(file.texts.at({129, 0}), "");
    EXPECT_EQ(file.texts.at({0, 3}), "Error");
    EXPECT_EQ(file.textLines.at({137, 1026}), 5u);
    EXPECT_EQ(file.templateLines.at(0), 14u);
    EXPECT_EQ(file.templates.at(0).controls.size(), 1u);
    EXPECT_EQ(file.texts.count({0, 0}), 0u);
}

TEST(ResourceFile, RefusesMalformedProgramLinesByNumber) {
    const std::string dialog = "dialog 137 220 220 sysmenu \"x\"\n";
    struct Case {
        std::string text;
        size_t line;
        const char* says;  // part of the message
    };
    for (const Case& c : std::vector<Case>{
             {dialog + "control 1 widget 0 0 10 10 \"x\"\n", 2, "kind"},
             {dialog + "control 1 text 0 0 1x 10 \"x\"\n", 2, "width"},
             {dialog + "control 1 text 0 0 -1 10 \"x\"\n", 2, "width"},
             {dialog + "control 1 text 0 0 999999 10 \"x\"\n", 2, "width"},
             {dialog + "control 1 text 0 0 10 10 \"a\"\ncontrol 1 text 20 0 10 10 \"b\"\n", 3, "line 2"},
             {dialog + "control 1 text 200 0 21 10 \"x\"\n", 2, "outside"},
             {dialog + "control 1 text 0 211 10 10 \"x\"\n", 2, "outside"},
             {dialog + "control 1 text 0 0 0 10 \"x\"\n", 2, "above 0"},
             {dialog + "\ncontrol 1 text 0 0 10 10 \"open\n", 3, "closing quote"},
             {dialog + "control 1 text 0 0 10 10\n", 2, "quoted text"},
             {dialog + "control 1 text 0 0 10 10 \"x\" extra\n", 2, "after the closing quote"},
             {dialog + "control 1 text 0 0 10 10\"x\"\n", 2, "blank"},
             {dialog + "control 1 text 0 0 10 \"x\"\n", 2, "expected control"},
             {dialog + "control 1 text 0 0 10 10 shiny \"x\"\n", 2, "unknown flag"},
             {dialog + "control 1 text 0 0 10 10 hidden hidden \"x\"\n", 2, "twice"},
             {dialog + "control 1 text 0 0 10 10 centre right \"x\"\n", 2, "alignment"},
             {dialog + "control 1 picture 0 0 10 10 \"x\"\n", 2, "image="},
             {dialog + "control 1 text 0 0 10 10 image=128 \"x\"\n", 2, "only a picture"},
             {dialog + "control 1 picture 0 0 10 10 image=129 \"x\"\n", 2, "pictures"},
             {dialog + "control 1 defbutton 0 0 10 10 \"a\"\ncontrol 2 defbutton 20 0 10 10 \"b\"\n", 3,
              "default button"},
             {dialog + "control 0 text 0 0 10 10 \"x\"\n", 2, "caption"},
             {dialog + "control 1 text 0 0 10 10 \"bell\\x07\"\n", 2, "control character"},
             {dialog + "control 1 text 0 0 10 10 \"esc\\x1b[2J\"\n", 2, "control character"},
             {dialog + "control 1 text 0 0 10 10 \"c1 \\xc2\\x85\"\n", 2, "control character"},
             {dialog + "control 1 text 0 0 10 10 \"" + std::string(4097, 'x') + "\"\n", 2, "4096"},
             {dialog + "control 1 text 0 0 10 10 \"\xC3\x28\"\n", 2, "UTF-8"},
             {"control 1 text 0 0 10 10 \"x\"\n", 1, "follow a dialog"},
             {"dialog 99 100 100 sysmenu \"x\"\n", 1, "outside 100 to 150"},
             {"dialog 151 100 100 sysmenu \"x\"\n", 1, "outside 100 to 150"},
             {"dialog 137 100 100 \"x\"\n", 1, "expected dialog"},
             {"dialog 137 100 100 closebox \"x\"\n", 1, "sysmenu"},
             {"dialog 137 0 100 sysmenu \"x\"\n", 1, "above 0"},
             {"dialog 137 1001 100 sysmenu \"x\"\n", 1, "width"},
             {"dialog 137 100 100 sysmenu\n", 1, "expected dialog"},
             {"dialog\n", 1, "identifier"},
             {dialog + "\n" + dialog, 3, "line 1"},
             {"dialog 0 \"caption\"\n", 1, "no size"},
             {"dialog 0 10 10 nosysmenu\n", 1, "no size"},
             {"dialog 0\ncontrol 1 text 0 0 10 10 \"x\"\n", 2, "no layout"},
             {"widget 1 2 3\n", 1, "unknown keyword"},
             {"\"just a text\"\n", 1, "expected a string identifier"},
             {std::string("dialog 137 220 220 sysmenu \"a") + '\0' + "b\"\n", 1, "NUL"},
         }) {
        TableError e = Refusal(c.text, ResourceForm::kProgram);
        EXPECT_EQ(e.line, c.line) << c.text.substr(0, 80) << " -> " << e.message;
        EXPECT_NE(e.message.find(c.says), std::string::npos) << c.text.substr(0, 80) << " -> " << e.message;
    }
}

TEST(ResourceFile, ModulesGiveTextsOnly) {
    ResourceFile file;
    TableError error;
    ASSERT_TRUE(
        ParseResourceFile("126 \"Attention\"\n"
                          "dialog 137 \"Reflash Brel Nuva\"\n"
                          "control 1025 \"< &Retour\"\n"
                          "dialog 144\n"
                          "control 1048 \"\\nV\xC3\xA9rifiez le c\xC3\xA2"
                          "ble.\"\n",
                          ResourceForm::kModule, file, error))
        << error.line << ": " << error.message;
    EXPECT_TRUE(file.templates.empty());
    EXPECT_EQ(file.texts.size(), 3u);
    EXPECT_EQ(file.texts.at({137, 0}), "Reflash Brel Nuva");
    EXPECT_EQ(file.texts.count({144, 0}), 0u);  // no caption given: the program's stays
    EXPECT_EQ(file.strings.at(126), "Attention");

    for (const char* layout : {
             "dialog 137 220 220 sysmenu \"x\"\n",
             "dialog 137 sysmenu \"x\"\n",
             "dialog 137\ncontrol 1025 defbutton 10 196 50 14 \"< &Back\"\n",
             "dialog 137\ncontrol 1025 hidden \"< &Back\"\n",
         }) {
        TableError e = Refusal(layout, ResourceForm::kModule);
        EXPECT_NE(e.message.find("texts only"), std::string::npos) << layout << " -> " << e.message;
    }
}

TEST(ResourceFile, AQuotedTextReadsBackAsItWas) {
    for (const std::string text : {std::string("plain"), std::string("\"quoted\" \\ back\\slash"),
                                   std::string("lines\n\r\tand \x01\x1F\x7F controls"),
                                   std::string("V\xC3\xA9rifiez %d%%"), std::string()}) {
        ResourceFile file;
        TableError error;
        ASSERT_TRUE(
            ParseResourceFile("126 " + QuoteResourceText(text) + "\n", ResourceForm::kModule, file, error))
            << QuoteResourceText(text) << ": " << error.message;
        EXPECT_EQ(file.strings.at(126), text);
    }
    EXPECT_EQ(QuoteResourceText("a\x7F\"b"), "\"a\\x7F\\\"b\"");
}

class ModuleTest : public ::testing::Test {
  protected:
    void SetUp() override { UnloadLanguageModule(); }
    void TearDown() override { UnloadLanguageModule(); }

    std::string Write(std::string_view text) { return folder_.Write("m" + std::to_string(count_++), text); }

    nuva::testing::TempFolder folder_;
    int count_ = 0;
};

// A module that gives its own text for every dialog text but one.
TEST_F(ModuleTest, ReplacesEveryDialogTextAndFallsBackForOneItLacks) {
    const ResourceFile& own = BuiltInResources();
    const DialogTextKey kept{dialog_id::kConnectionLost, 1048};
    std::string module = "126 \"Attention\"\n";
    uint32_t current = 0xFFFFFFFF;
    for (const auto& [key, text] : own.texts) {
        if (key.templateId != current) {
            current = key.templateId;
            module += "dialog " + std::to_string(key.templateId);
            if (own.texts.count({key.templateId, 0}) != 0) {
                module += " \"[fr] " + std::to_string(key.templateId) + "\"";
            }
            module += "\n";
        }
        if (key.controlId != 0 && key != kept) {
            module += "control " + std::to_string(key.controlId) + " \"[fr] " +
                      std::to_string(key.templateId) + "/" + std::to_string(key.controlId) + "\"\n";
        }
    }
    ModuleLoadResult r = LoadLanguageModule(Write(module));
    ASSERT_TRUE(r.ok) << r.message;

    size_t replaced = 0;
    for (const auto& [key, text] : own.texts) {
        if (key == kept) {
            EXPECT_EQ(DialogText(key.templateId, key.controlId),
                      "\nEnsure that the USB/serial cable/cradle \nis connected correctly and try again.");
            continue;
        }
        std::string expected = "[fr] " + std::to_string(key.templateId);
        if (key.controlId != 0) {
            expected += "/" + std::to_string(key.controlId);
        }
        EXPECT_EQ(DialogText(key.templateId, key.controlId), expected);
        ++replaced;
    }
    EXPECT_GT(replaced, 150u);
    EXPECT_EQ(DialogText(dialog_id::kLooseTexts, dialog_id::loose_text::kErrorCaption), "[fr] 0/3");
    EXPECT_EQ(LoadString(126), "Attention");
    // The layout stays the program's.
    EXPECT_EQ(FindDialogTemplate(dialog_id::kMainMenu)->width, 285);

    UnloadLanguageModule();
    EXPECT_EQ(DialogText(dialog_id::kMainMenu, 1025), "Update ROM");
    EXPECT_EQ(DialogText(dialog_id::kLooseTexts, dialog_id::loose_text::kErrorCaption), "Error");
}

TEST_F(ModuleTest, RefusesHostileModulesWhole) {
    ModuleLoadResult r =
        LoadLanguageModule(Write("126 \"Attention\"\ndialog 102 \"Menu\"\ncontrol 2 \"Quitter\"\n"));
    ASSERT_TRUE(r.ok) << r.message;

    struct Case {
        std::string text;
        size_t line;
        const char* says;
    };
    const std::string start = "126 \"Achtung\"\ndialog 102 \"Hauptmen\xC3\xBC\"\n";
    for (const Case& c : std::vector<Case>{
             {start + "dialog 137 220 220 sysmenu \"x\"\n", 3, "texts only"},
             {start + "control 1025 button 104 60 80 14 \"Update\"\n", 3, "texts only"},
             {start + "control 1025 disabled \"Update\"\n", 3, "texts only"},
             {start + "dialog 138 \"no such dialog\"\n", 3, "dialog 138"},
             {start + "dialog 99\n", 3, "dialog 99"},
             {start + "control 1039 \"not on the menu\"\n", 3, "control 1039"},
             {start + "dialog 0\ncontrol 5 \"no such loose text\"\n", 4, "control 5"},
             {start + "dialog 0 \"caption\"\n", 3, "no caption"},
             {start + "control 2 \"bell\\x07\"\n", 3, "control character"},
             {start + "control 2 \"\\x1b]0;title\\x07\"\n", 3, "control character"},
             {start + "control 2 \"next\\x85line\"\n", 3, "UTF-8"},
             {start + "control 2 \"del\\x7f\"\n", 3, "control character"},
             {start + "control 2 \"" + std::string(4097, 'x') + "\"\n", 3, "4096"},
             {start + "control 2 \"unterminated\n", 3, "closing quote"},
             {start + "control 2 \"a\"\ncontrol 2 \"b\"\n", 4, "line 3"},
             {"control 2 \"before any dialog\"\n", 1, "follow a dialog"},
             {start + "\x7F\x45LF\x02\x01\x01\n", 3, "keyword"},
             {start + "\x89PNG\r\n\x1A\n", 3, ""},
             {start + "126 \"%s\"\n", 3, "already given"},
             {"126 \"Achtung %s\"\n", 1, "string 126"},
         }) {
        r = LoadLanguageModule(Write(c.text));
        EXPECT_FALSE(r.ok) << c.text.substr(0, 60);
        EXPECT_NE(r.message.find("line " + std::to_string(c.line) + ":"), std::string::npos) << r.message;
        EXPECT_NE(r.message.find(c.says), std::string::npos) << r.message;
        // Nothing of a refused module is used, not even its sound lines.
        EXPECT_EQ(LoadString(126), "Attention");
        EXPECT_EQ(DialogText(dialog_id::kMainMenu, 0), "Menu");
        EXPECT_EQ(DialogText(dialog_id::kMainMenu, 2), "Quitter");
    }
}

}  // namespace
}  // namespace nuva
