#include "setup/resources/resource_file.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <vector>

#include "setup/resources/dialog_ids.h"
#include "setup/resources/string_ids.h"

namespace nuva {

namespace detail {
// Generated at build time from setup.rc (embed_text.cmake).
extern const unsigned char kBuiltInResourcesText[];
extern const size_t kBuiltInResourcesSize;
}  // namespace detail

namespace {

// Windows string resources hold at most 4097 characters; a module needs no
// more, and a larger file is not a resource file.
constexpr size_t kMaxTextBytes = 4096;
constexpr std::streamoff kMaxFileBytes = 1024 * 1024;
// Dialog and control identifiers are 16-bit words in a dialog resource.
constexpr uint32_t kMaxId = 65535;
// Far larger than any screen at 8-point type; a bigger number is a typo.
constexpr uint32_t kMaxDialogUnits = 1000;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// True when `s` is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        size_t extra;
        uint32_t cp;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1;
            cp = b & 0x1Fu;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            cp = b & 0x0Fu;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            cp = b & 0x07u;
        } else {
            return false;
        }
        if (i + extra >= s.size()) {
            return false;
        }
        for (size_t k = 1; k <= extra; ++k) {
            auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (c & 0x3Fu);
        }
        static constexpr uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

// Dialog texts go straight into widgets: line breaks and tabs lay a text
// out, every other control character (C0, DEL, and C1, which UTF-8 writes
// as C2 80 to C2 9F) would show as garbage or steer a terminal.
bool HasStrayControl(std::string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        auto c = static_cast<unsigned char>(s[i]);
        if ((c < 0x20 && c != '\n' && c != '\r' && c != '\t') || c == 0x7F) {
            return true;
        }
        if (c == 0xC2 && i + 1 < s.size()) {
            auto next = static_cast<unsigned char>(s[i + 1]);
            if (next >= 0x80 && next <= 0x9F) {
                return true;
            }
        }
    }
    return false;
}

// Parses the quoted text that starts at line[pos] (the opening quote).
bool ParseQuoted(std::string_view line, size_t& pos, std::string& text, std::string& why) {
    ++pos;  // the opening quote
    while (pos < line.size()) {
        char c = line[pos++];
        if (c == '"') {
            return true;
        }
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            why = "a raw control character in the text (write it as an escape)";
            return false;
        }
        if (c != '\\') {
            text.push_back(c);
            continue;
        }
        if (pos >= line.size()) {
            break;
        }
        char e = line[pos++];
        switch (e) {
            case 'n':
                text.push_back('\n');
                break;
            case 'r':
                text.push_back('\r');
                break;
            case 't':
                text.push_back('\t');
                break;
            case '\\':
                text.push_back('\\');
                break;
            case '"':
                text.push_back('"');
                break;
            case 'x': {
                int high = pos < line.size() ? HexValue(line[pos]) : -1;
                int low = pos + 1 < line.size() ? HexValue(line[pos + 1]) : -1;
                if (high < 0 || low < 0 || (high == 0 && low == 0)) {
                    why = "\\x needs two hexadecimal digits other than 00";
                    return false;
                }
                text.push_back(static_cast<char>(high * 16 + low));
                pos += 2;
                break;
            }
            default:
                why = std::string("unknown escape \\") + e;
                return false;
        }
    }
    why = "the text has no closing quote";
    return false;
}

bool CheckText(const std::string& text, std::string& why) {
    if (text.size() > kMaxTextBytes) {
        why = "the text is longer than 4096 bytes";
        return false;
    }
    if (!IsUtf8(text)) {
        why = "the text is not valid UTF-8";
        return false;
    }
    return true;
}

// A string table line: <id> "<text>".
bool ParseStringLine(std::string_view line, uint32_t& id, std::string& text, std::string& why) {
    size_t pos = 0;
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    size_t digits = pos;
    uint32_t value = 0;
    while (pos < line.size() && IsDigit(line[pos]) && pos - digits < 3) {
        value = value * 10 + static_cast<uint32_t>(line[pos] - '0');
        ++pos;
    }
    if (pos == digits || (pos < line.size() && IsDigit(line[pos]))) {
        why = "expected a string identifier (101 to 188) at the start of the line";
        return false;
    }
    if (value < string_id::kFirst || value > string_id::kLast) {
        why = "string identifier " + std::to_string(value) + " is outside 101 to 188";
        return false;
    }
    size_t blanks = pos;
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    if (pos == blanks || pos >= line.size() || line[pos] != '"') {
        why = "expected a blank and a quoted text after the identifier";
        return false;
    }
    text.clear();
    if (!ParseQuoted(line, pos, text, why)) {
        return false;
    }
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    if (pos != line.size()) {
        why = "unexpected characters after the closing quote";
        return false;
    }
    if (!CheckText(text, why)) {
        return false;
    }
    id = value;
    return true;
}

// A `dialog` or `control` line cut into its words and its quoted text, which
// can only come last.
struct KeywordLine {
    std::vector<std::string_view> words;
    bool hasText = false;
    std::string text;
};

bool SplitKeywordLine(std::string_view line, KeywordLine& out, std::string& why) {
    size_t pos = 0;
    while (true) {
        while (pos < line.size() && IsBlank(line[pos]))
            ++pos;
        if (pos >= line.size()) {
            return true;
        }
        if (line[pos] == '"') {
            if (!ParseQuoted(line, pos, out.text, why)) {
                return false;
            }
            while (pos < line.size() && IsBlank(line[pos]))
                ++pos;
            if (pos != line.size()) {
                why = "unexpected characters after the closing quote";
                return false;
            }
            out.hasText = true;
            return CheckText(out.text, why);
        }
        size_t start = pos;
        while (pos < line.size() && !IsBlank(line[pos]) && line[pos] != '"')
            ++pos;
        if (pos < line.size() && line[pos] == '"') {
            why = "expected a blank before the quoted text";
            return false;
        }
        out.words.push_back(line.substr(start, pos - start));
    }
}

// A word of the file as an error message shows it: cut short, and with
// anything but printable ASCII replaced, since a refused file may be garbage.
std::string Shown(std::string_view word) {
    std::string out = "\"";
    for (size_t i = 0; i < word.size() && i < 24; ++i) {
        char c = word[i];
        out.push_back(c > 0x20 && c < 0x7F ? c : '?');
    }
    return out + (word.size() > 24 ? "...\"" : "\"");
}

// A decimal number of at most five digits, no sign, at most `max`.
bool ParseNumber(std::string_view word, uint32_t max, const char* what, uint32_t& value, std::string& why) {
    value = 0;
    bool ok = !word.empty() && word.size() <= 5;
    for (char c : word) {
        if (!IsDigit(c)) {
            ok = false;
            break;
        }
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (!ok || value > max) {
        why = std::string("bad ") + what + " " + Shown(word) + " (a decimal number up to " +
              std::to_string(max) + ")";
        return false;
    }
    return true;
}

bool ParseKind(std::string_view word, ControlKind& kind) {
    static constexpr struct {
        std::string_view name;
        ControlKind kind;
    } kKinds[] = {
        {"text", ControlKind::kText},
        {"button", ControlKind::kButton},
        {"defbutton", ControlKind::kDefaultButton},
        {"checkbox", ControlKind::kCheckBox},
        {"groupbox", ControlKind::kGroupBox},
        {"picture", ControlKind::kPicture},
        {"progress", ControlKind::kProgressBar},
        {"link", ControlKind::kLink},
    };
    for (const auto& k : kKinds) {
        if (k.name == word) {
            kind = k.kind;
            return true;
        }
    }
    return false;
}

bool IsPictureId(uint32_t id) {
    return id == dialog_id::kIconSetup || id == dialog_id::kBitmapMainMenu ||
           id == dialog_id::kBitmapNotice2003 || id == dialog_id::kBitmapNotice2002;
}

// The templates a program file may hold: the loose texts and 100 to 150.
bool IsTemplateId(uint32_t id) {
    return id == dialog_id::kLooseTexts || (id >= 100 && id <= 150);
}

bool ParseFlags(const std::vector<std::string_view>& flags, ControlTemplate& control, std::string& why) {
    bool aligned = false;
    bool hasPicture = false;
    for (size_t i = 0; i < flags.size(); ++i) {
        std::string_view flag = flags[i];
        for (size_t k = 0; k < i; ++k) {
            if (flags[k] == flag) {
                why = "the flag " + Shown(flag) + " is given twice";
                return false;
            }
        }
        if (flag == "hidden") {
            control.visible = false;
        } else if (flag == "disabled") {
            control.enabled = false;
        } else if (flag == "centre" || flag == "right") {
            if (aligned) {
                why = "more than one alignment flag";
                return false;
            }
            aligned = true;
            control.align = flag == "centre" ? TextAlign::kCentre : TextAlign::kRight;
        } else if (flag.substr(0, 6) == "image=") {
            if (hasPicture) {
                why = "more than one image";
                return false;
            }
            hasPicture = true;
            if (!ParseNumber(flag.substr(6), kMaxId, "image identifier", control.picture, why)) {
                return false;
            }
            if (!IsPictureId(control.picture)) {
                why = "image " + std::to_string(control.picture) + " is not one of the program's pictures";
                return false;
            }
        } else {
            why = "unknown flag " + Shown(flag) + " (hidden, disabled, centre, right or image=<id>)";
            return false;
        }
    }
    if (control.kind == ControlKind::kPicture && !hasPicture) {
        why = "a picture needs image=<id>";
        return false;
    }
    if (control.kind != ControlKind::kPicture && hasPicture) {
        why = "only a picture takes image=<id>";
        return false;
    }
    return true;
}

const char* kTextsOnly =
    "a language module gives texts only (dialog <id> \"<caption>\", control <id> \"<text>\"); the layout "
    "is the program's";

class Parser {
  public:
    Parser(ResourceForm form, ResourceFile& file) : form_(form), file_(file) {}

    bool Line(std::string_view line, size_t number, std::string& why) {
        number_ = number;
        size_t first = line.find_first_not_of(" \t");
        if (IsDigit(line[first])) {
            return StringLine(line, why);
        }
        KeywordLine parts;
        if (!SplitKeywordLine(line, parts, why)) {
            return false;
        }
        if (parts.words.empty()) {
            why = "expected a string identifier, \"dialog\" or \"control\" at the start of the line";
            return false;
        }
        if (parts.words[0] == "dialog") {
            return DialogLine(parts, why);
        }
        if (parts.words[0] == "control") {
            return ControlLine(parts, why);
        }
        why = "unknown keyword " + Shown(parts.words[0]) + " (a line holds a string, a dialog or a control)";
        return false;
    }

  private:
    bool StringLine(std::string_view line, std::string& why) {
        uint32_t id = 0;
        std::string value;
        if (!ParseStringLine(line, id, value, why)) {
            return false;
        }
        auto [it, inserted] = file_.stringLines.emplace(id, number_);
        if (!inserted) {
            why = "string " + std::to_string(id) + " was already given on line " + std::to_string(it->second);
            return false;
        }
        file_.strings.emplace(id, std::move(value));
        return true;
    }

    bool DialogLine(KeywordLine& parts, std::string& why) {
        const auto& w = parts.words;
        uint32_t id = 0;
        if (w.size() < 2) {
            why = "expected a dialog identifier after \"dialog\"";
            return false;
        }
        if (!ParseNumber(w[1], kMaxId, "dialog identifier", id, why)) {
            return false;
        }
        bool loose = id == dialog_id::kLooseTexts;
        if (form_ == ResourceForm::kProgram && !IsTemplateId(id)) {
            why = "dialog identifier " + std::to_string(id) + " is outside 100 to 150 (or 0 for loose texts)";
            return false;
        }
        if (loose && (w.size() != 2 || parts.hasText)) {
            why = "dialog 0 holds the loose texts: it has no size and no caption (write only \"dialog 0\")";
            return false;
        }
        DialogTemplate dialog;
        dialog.id = id;
        if (form_ == ResourceForm::kModule) {
            if (w.size() != 2) {
                why = kTextsOnly;
                return false;
            }
        } else if (!loose) {
            if (w.size() != 5 || !parts.hasText) {
                why = "expected dialog <id> <width> <height> sysmenu|nosysmenu \"<caption>\"";
                return false;
            }
            uint32_t width = 0;
            uint32_t height = 0;
            if (!ParseNumber(w[2], kMaxDialogUnits, "width", width, why) ||
                !ParseNumber(w[3], kMaxDialogUnits, "height", height, why)) {
                return false;
            }
            if (width == 0 || height == 0) {
                why = "a dialog needs a width and a height above 0";
                return false;
            }
            if (w[4] != "sysmenu" && w[4] != "nosysmenu") {
                why = "expected sysmenu or nosysmenu, not " + Shown(w[4]);
                return false;
            }
            dialog.width = static_cast<int>(width);
            dialog.height = static_cast<int>(height);
            dialog.systemMenu = w[4] == "sysmenu";
        } else {
            dialog.systemMenu = false;
        }
        auto [it, inserted] = file_.templateLines.emplace(id, number_);
        if (!inserted) {
            why = "dialog " + std::to_string(id) + " was already given on line " + std::to_string(it->second);
            return false;
        }
        if (parts.hasText && !AddText({id, 0}, std::move(parts.text), why)) {
            return false;
        }
        current_ = id;
        if (form_ == ResourceForm::kProgram) {
            file_.templates.emplace(id, std::move(dialog));
        }
        return true;
    }

    bool ControlLine(KeywordLine& parts, std::string& why) {
        const auto& w = parts.words;
        if (!current_) {
            why = "a control line must follow a dialog line";
            return false;
        }
        uint32_t dialogId = *current_;
        ControlTemplate control;
        if (w.size() < 2) {
            why = "expected a control identifier after \"control\"";
            return false;
        }
        if (!ParseNumber(w[1], kMaxId, "control identifier", control.id, why)) {
            return false;
        }
        if (control.id == 0) {
            why = "control identifier 0 stands for the caption; give it on the dialog line";
            return false;
        }
        if (!parts.hasText) {
            why = "expected a quoted text at the end of the control line";
            return false;
        }
        bool layout = form_ == ResourceForm::kProgram && dialogId != dialog_id::kLooseTexts;
        if (!layout && w.size() != 2) {
            why = form_ == ResourceForm::kModule
                      ? kTextsOnly
                      : "the loose texts have no layout: write control <id> \"<text>\"";
            return false;
        }
        DialogTextKey key{dialogId, control.id};
        auto [it, inserted] = file_.textLines.emplace(key, number_);
        if (!inserted) {
            why = "control " + std::to_string(control.id) + " of dialog " + std::to_string(dialogId) +
                  " was already given on line " + std::to_string(it->second);
            return false;
        }
        if (layout) {
            DialogTemplate& dialog = file_.templates[dialogId];
            if (!ControlLayout(w, dialog, control, why)) {
                return false;
            }
        }
        if (!AddText(key, std::move(parts.text), why)) {
            return false;
        }
        if (form_ == ResourceForm::kProgram) {
            file_.templates[dialogId].controls.push_back(control);
        }
        return true;
    }

    bool ControlLayout(const std::vector<std::string_view>& w, const DialogTemplate& dialog,
                       ControlTemplate& control, std::string& why) {
        if (w.size() < 7) {
            why = "expected control <id> <kind> <x> <y> <width> <height> [flags] \"<text>\"";
            return false;
        }
        if (!ParseKind(w[2], control.kind)) {
            why = "unknown control kind " + Shown(w[2]) +
                  " (text, button, defbutton, checkbox, groupbox, picture, progress or link)";
            return false;
        }
        uint32_t box[4] = {};
        static constexpr const char* kNames[] = {"x", "y", "width", "height"};
        for (size_t i = 0; i < 4; ++i) {
            if (!ParseNumber(w[3 + i], kMaxDialogUnits, kNames[i], box[i], why)) {
                return false;
            }
        }
        if (box[2] == 0 || box[3] == 0) {
            why = "a control needs a width and a height above 0";
            return false;
        }
        if (box[0] + box[2] > static_cast<uint32_t>(dialog.width) ||
            box[1] + box[3] > static_cast<uint32_t>(dialog.height)) {
            why = "control " + std::to_string(control.id) + " lies outside the " +
                  std::to_string(dialog.width) + " x " + std::to_string(dialog.height) + " dialog";
            return false;
        }
        control.x = static_cast<int>(box[0]);
        control.y = static_cast<int>(box[1]);
        control.width = static_cast<int>(box[2]);
        control.height = static_cast<int>(box[3]);
        if (!ParseFlags({w.begin() + 7, w.end()}, control, why)) {
            return false;
        }
        if (control.kind == ControlKind::kDefaultButton) {
            for (const ControlTemplate& other : dialog.controls) {
                if (other.kind == ControlKind::kDefaultButton) {
                    why = "dialog " + std::to_string(dialog.id) + " already has a default button (control " +
                          std::to_string(other.id) + ")";
                    return false;
                }
            }
        }
        return true;
    }

    bool AddText(DialogTextKey key, std::string text, std::string& why) {
        if (HasStrayControl(text)) {
            why = "a dialog text may hold no control character other than \\n, \\r and \\t";
            return false;
        }
        file_.texts[key] = std::move(text);
        file_.textLines[key] = number_;
        return true;
    }

    ResourceForm form_;
    ResourceFile& file_;
    size_t number_ = 0;
    std::optional<uint32_t> current_;
};

std::unique_ptr<ResourceFile>& ActiveModuleSlot() {
    static std::unique_ptr<ResourceFile> active;
    return active;
}

}  // namespace

std::string QuoteResourceText(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                    static constexpr char kHex[] = "0123456789ABCDEF";
                    out += "\\x";
                    out += kHex[static_cast<unsigned char>(c) >> 4];
                    out += kHex[c & 0x0F];
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

bool ParseResourceFile(std::string_view text, ResourceForm form, ResourceFile& file, TableError& error) {
    file = {};
    ResourceFile parsed;
    Parser parser(form, parsed);
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    size_t lineNumber = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        ++lineNumber;
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.find('\0') != std::string_view::npos) {
            error = {lineNumber, "a NUL byte in the line"};
            return false;
        }
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#') {
            continue;
        }
        std::string why;
        if (!parser.Line(line, lineNumber, why)) {
            error = {lineNumber, why};
            return false;
        }
    }
    file = std::move(parsed);
    return true;
}

bool CheckModule(const ResourceFile& builtIn, const ResourceFile& module, TableError& error) {
    uint32_t badId = 0;
    std::string reason;
    if (!CheckModuleFormats(builtIn.strings, module.strings, badId, reason)) {
        auto line = module.stringLines.find(badId);
        error = {line != module.stringLines.end() ? line->second : 0, reason};
        return false;
    }
    // Lines in file order, so that the first fault of the file is named.
    std::map<size_t, std::string> faults;
    for (const auto& [id, line] : module.templateLines) {
        if (builtIn.templates.find(id) == builtIn.templates.end()) {
            faults.emplace(line, "dialog " + std::to_string(id) + " is not one of the program's dialogs");
        }
    }
    for (const auto& [key, line] : module.textLines) {
        auto dialog = builtIn.templates.find(key.templateId);
        if (key.controlId == 0 || dialog == builtIn.templates.end()) {
            continue;  // a caption, or a dialog already refused above
        }
        bool known = false;
        for (const ControlTemplate& control : dialog->second.controls) {
            known = known || control.id == key.controlId;
        }
        if (!known) {
            faults.emplace(line, "control " + std::to_string(key.controlId) + " is not in dialog " +
                                     std::to_string(key.templateId));
        }
    }
    if (!faults.empty()) {
        error = {faults.begin()->first, faults.begin()->second};
        return false;
    }
    return true;
}

const ResourceFile& BuiltInResources() {
    static const ResourceFile file = [] {
        ResourceFile parsed;
        TableError error;
        std::string_view text(reinterpret_cast<const char*>(detail::kBuiltInResourcesText),
                              detail::kBuiltInResourcesSize);
        if (!ParseResourceFile(text, ResourceForm::kProgram, parsed, error)) {
            // setup.rc is part of the program: a fault there is a build bug.
            std::fprintf(stderr, "setup.rc line %zu: %s\n", error.line, error.message.c_str());
            std::abort();
        }
        return parsed;
    }();
    return file;
}

const ResourceFile* ActiveLanguageModule() {
    return ActiveModuleSlot().get();
}

ModuleLoadResult LoadLanguageModule(const std::string& path) {
    ModuleLoadResult result;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        result.message = path + ": cannot be opened";
        return result;
    }
    file.seekg(0, std::ios::end);
    std::streamoff size = file.tellg();
    file.seekg(0, std::ios::beg);
    if (size < 0 || size > kMaxFileBytes) {
        result.message = path + ": not a language module (larger than 1 MB, or not a file)";
        return result;
    }
    std::string text(static_cast<size_t>(size), '\0');
    file.read(text.data(), size);
    if (file.gcount() != size) {
        result.message = path + ": cannot be read";
        return result;
    }
    auto module = std::make_unique<ResourceFile>();
    TableError error;
    if (!ParseResourceFile(text, ResourceForm::kModule, *module, error)) {
        result.message = path + ": line " + std::to_string(error.line) + ": " + error.message;
        return result;
    }
    if (!CheckModule(BuiltInResources(), *module, error)) {
        result.message =
            path + ": line " + std::to_string(error.line) + ": " + error.message + "; the module is not used";
        return result;
    }
    ActiveModuleSlot() = std::move(module);
    result.ok = true;
    return result;
}

void UnloadLanguageModule() {
    ActiveModuleSlot().reset();
}

bool LanguageModuleLoaded() {
    return ActiveModuleSlot() != nullptr;
}

}  // namespace nuva
