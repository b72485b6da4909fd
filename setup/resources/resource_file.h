// The text resource file of Setup (setup.rc, see its head for the format):
// the string table and the dialog templates in one file. The program's own
// file carries the layouts; a language module is a file of the same format
// that carries texts only, for ids the program's file already has.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "setup/resources/dialog_templates.h"
#include "setup/resources/string_table.h"

namespace nuva {

// A dialog text: the caption of a template (control 0) or a control's text.
struct DialogTextKey {
    uint32_t templateId = 0;
    uint32_t controlId = 0;
    auto operator<=>(const DialogTextKey&) const = default;
};
using DialogTexts = std::map<DialogTextKey, std::string>;

enum class ResourceForm {
    kProgram,  // the built-in file: every template with its layout
    kModule,   // a language module: texts only
};

struct ResourceFile {
    StringTable strings;
    std::map<uint32_t, size_t> stringLines;
    std::map<uint32_t, DialogTemplate> templates;  // kProgram only
    DialogTexts texts;
    std::map<uint32_t, size_t> templateLines;
    std::map<DialogTextKey, size_t> textLines;
};

// Parses a resource file of the given form. On failure `file` is left empty
// and `error` names the line at fault and why.
bool ParseResourceFile(std::string_view text, ResourceForm form, ResourceFile& file, TableError& error);

// `text` between quotes as the file writes it, so that the parser reads back
// exactly `text`: newline, return, tab, backslash and quote as \n \r \t \\ \",
// other control characters and DEL as \xHH. For tools and tests that write
// modules; a NUL byte has no escape (\x00 is refused).
std::string QuoteResourceText(std::string_view text);

// Checks a parsed module against the program's file: every string as
// CheckModuleFormats does, every template and control it names must exist.
// Returns false with the line at fault and why.
bool CheckModule(const ResourceFile& builtIn, const ResourceFile& module, TableError& error);

// The program's own file, parsed once; a fault in it is a build bug and ends
// the program.
const ResourceFile& BuiltInResources();

// The loaded language module, or nullptr.
const ResourceFile* ActiveLanguageModule();

}  // namespace nuva
