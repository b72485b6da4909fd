#include "formats/json.h"

#include <cmath>
#include <cstdlib>

#include "formats/text_encoding.h"

namespace nuva {
namespace {

// The length of the UTF-8 sequence that starts at `at`, or 0 when the bytes
// there are not one (overlong forms, surrogates and values above U+10FFFF
// included).
size_t Utf8Length(std::string_view text, size_t at) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    if (lead < 0x80) {
        return 1;
    }
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) {
            low = 0xA0;  // no overlong form
        } else if (lead == 0xED) {
            high = 0x9F;  // no surrogate
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;  // nothing above U+10FFFF
        }
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    if (byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<JsonValue> Document(std::string& error) {
        std::optional<JsonValue> value = Value(0);
        if (value) {
            SkipBlanks();
            if (at_ != text_.size()) {
                Fail("text after the value");
                value.reset();
            }
        }
        if (!value) {
            error = "byte " + std::to_string(at_) + ": " + error_;
        }
        return value;
    }

  private:
    std::optional<JsonValue> Fail(const char* what) {
        if (error_.empty()) {
            error_ = what;
        }
        return std::nullopt;
    }

    void SkipBlanks() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }

    bool Literal(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) {
            return false;
        }
        at_ += word.size();
        return true;
    }

    std::optional<JsonValue> Value(size_t depth) {
        SkipBlanks();
        if (at_ >= text_.size()) {
            return Fail("a value is missing");
        }
        char c = text_[at_];
        if (c == '{' || c == '[') {
            if (depth >= kJsonMaxDepth) {
                return Fail("nested too deeply");
            }
            return c == '{' ? ObjectValue(depth + 1) : ArrayValue(depth + 1);
        }
        if (c == '"') {
            std::optional<std::string> s = StringText();
            return s ? std::optional<JsonValue>(JsonValue::String(std::move(*s))) : std::nullopt;
        }
        if (Literal("true")) {
            return JsonValue::Bool(true);
        }
        if (Literal("false")) {
            return JsonValue::Bool(false);
        }
        if (Literal("null")) {
            return JsonValue();
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            return NumberValue();
        }
        return Fail("not a value");
    }

    std::optional<JsonValue> ObjectValue(size_t depth) {
        ++at_;  // '{'
        JsonValue::Members members;
        SkipBlanks();
        if (at_ < text_.size() && text_[at_] == '}') {
            ++at_;
            return JsonValue::Object(std::move(members));
        }
        for (;;) {
            SkipBlanks();
            if (at_ >= text_.size() || text_[at_] != '"') {
                return Fail("a member name is missing");
            }
            std::optional<std::string> key = StringText();
            if (!key) {
                return std::nullopt;
            }
            for (const auto& member : members) {
                if (member.first == *key) {
                    return Fail("a member name appears twice");
                }
            }
            SkipBlanks();
            if (at_ >= text_.size() || text_[at_] != ':') {
                return Fail("':' is missing");
            }
            ++at_;
            std::optional<JsonValue> value = Value(depth);
            if (!value) {
                return std::nullopt;
            }
            members.emplace_back(std::move(*key), std::move(*value));
            SkipBlanks();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == '}') {
                ++at_;
                return JsonValue::Object(std::move(members));
            }
            return Fail("',' or '}' is missing");
        }
    }

    std::optional<JsonValue> ArrayValue(size_t depth) {
        ++at_;  // '['
        std::vector<JsonValue> items;
        SkipBlanks();
        if (at_ < text_.size() && text_[at_] == ']') {
            ++at_;
            return JsonValue::Array(std::move(items));
        }
        for (;;) {
            std::optional<JsonValue> value = Value(depth);
            if (!value) {
                return std::nullopt;
            }
            items.push_back(std::move(*value));
            SkipBlanks();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == ']') {
                ++at_;
                return JsonValue::Array(std::move(items));
            }
            return Fail("',' or ']' is missing");
        }
    }

    std::optional<JsonValue> NumberValue() {
        size_t start = at_;
        auto digits = [&] {
            size_t first = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
                ++at_;
            }
            return at_ - first;
        };
        if (text_[at_] == '-') {
            ++at_;
        }
        if (at_ < text_.size() && text_[at_] == '0') {
            ++at_;
            if (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
                return Fail("a number with a leading zero");
            }
        } else if (digits() == 0) {
            return Fail("a number without digits");
        }
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (digits() == 0) {
                return Fail("a fraction without digits");
            }
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) {
                ++at_;
            }
            if (digits() == 0) {
                return Fail("an exponent without digits");
            }
        }
        std::string number(text_.substr(start, at_ - start));
        double value = std::strtod(number.c_str(), nullptr);
        if (!std::isfinite(value)) {
            return Fail("a number out of range");
        }
        return JsonValue::Number(value);
    }

    std::optional<uint32_t> Hex4() {
        if (at_ + 4 > text_.size()) {
            return std::nullopt;
        }
        uint32_t value = 0;
        for (size_t i = 0; i < 4; ++i) {
            char c = text_[at_ + i];
            uint32_t digit = 0;
            if (c >= '0' && c <= '9') {
                digit = static_cast<uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = static_cast<uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                digit = static_cast<uint32_t>(c - 'A' + 10);
            } else {
                return std::nullopt;
            }
            value = value * 16 + digit;
        }
        at_ += 4;
        return value;
    }

    std::optional<std::string> StringText() {
        ++at_;  // '"'
        std::string out;
        for (;;) {
            if (at_ >= text_.size()) {
                Fail("a string is not closed");
                return std::nullopt;
            }
            unsigned char c = static_cast<unsigned char>(text_[at_]);
            if (c == '"') {
                ++at_;
                return out;
            }
            if (c < 0x20) {
                Fail("a control character inside a string");
                return std::nullopt;
            }
            if (c != '\\') {
                size_t length = Utf8Length(text_, at_);
                if (length == 0) {
                    Fail("bytes that are not UTF-8");
                    return std::nullopt;
                }
                out.append(text_.substr(at_, length));
                at_ += length;
                continue;
            }
            ++at_;
            if (at_ >= text_.size()) {
                Fail("an escape is cut short");
                return std::nullopt;
            }
            char e = text_[at_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out.push_back(e);
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'u': {
                    std::optional<uint32_t> unit = Hex4();
                    if (!unit) {
                        Fail("a \\u escape without four hex digits");
                        return std::nullopt;
                    }
                    std::u16string units{static_cast<char16_t>(*unit)};
                    if (*unit >= 0xDC00 && *unit <= 0xDFFF) {
                        Fail("a lone low surrogate");
                        return std::nullopt;
                    }
                    if (*unit >= 0xD800 && *unit <= 0xDBFF) {
                        std::optional<uint32_t> low;
                        if (Literal("\\u")) {
                            low = Hex4();
                        }
                        if (!low || *low < 0xDC00 || *low > 0xDFFF) {
                            Fail("a high surrogate without its low half");
                            return std::nullopt;
                        }
                        units.push_back(static_cast<char16_t>(*low));
                    }
                    out += Utf8FromUtf16(units);
                    break;
                }
                default:
                    Fail("an unknown escape");
                    return std::nullopt;
            }
        }
    }

    std::string_view text_;
    size_t at_ = 0;
    std::string error_;
};

const std::string kNoString;
const std::vector<JsonValue> kNoItems;
const JsonValue::Members kNoMembers;

}  // namespace

std::string JsonQuote(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            size_t length = Utf8Length(text, i);
            if (length == 0) {
                out += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not UTF-8
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out.push_back(kHex[c >> 4]);
                    out.push_back(kHex[c & 0xF]);
                } else {
                    out.push_back(static_cast<char>(c));
                }
                break;
        }
        ++i;
    }
    out.push_back('"');
    return out;
}

JsonValue JsonValue::Bool(bool value) {
    JsonValue v;
    v.kind_ = Kind::kBool;
    v.bool_ = value;
    return v;
}

JsonValue JsonValue::Number(double value) {
    JsonValue v;
    v.kind_ = Kind::kNumber;
    v.number_ = value;
    return v;
}

JsonValue JsonValue::String(std::string value) {
    JsonValue v;
    v.kind_ = Kind::kString;
    v.string_ = std::move(value);
    return v;
}

JsonValue JsonValue::Array(std::vector<JsonValue> items) {
    JsonValue v;
    v.kind_ = Kind::kArray;
    v.items_ = std::move(items);
    return v;
}

JsonValue JsonValue::Object(Members members) {
    JsonValue v;
    v.kind_ = Kind::kObject;
    v.members_ = std::move(members);
    return v;
}

const std::string& JsonValue::AsString() const {
    return kind_ == Kind::kString ? string_ : kNoString;
}

const std::vector<JsonValue>& JsonValue::Items() const {
    return kind_ == Kind::kArray ? items_ : kNoItems;
}

const JsonValue::Members& JsonValue::AsMembers() const {
    return kind_ == Kind::kObject ? members_ : kNoMembers;
}

const JsonValue* JsonValue::Find(std::string_view key) const {
    for (const auto& member : AsMembers()) {
        if (member.first == key) {
            return &member.second;
        }
    }
    return nullptr;
}

std::optional<JsonValue> ParseJson(std::string_view text, std::string& error) {
    return Parser(text).Document(error);
}

}  // namespace nuva
