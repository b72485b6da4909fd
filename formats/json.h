// JSON as the programs write it (nuva-flash's events, one object per line for
// --json; the emulated handheld's status) and read it (that status, for
// nuva-flash's doctor): a quoting function that never
// writes an invalid document, and a strict parser (RFC 8259, nothing more:
// no comments, no trailing commas, no leading zeros, no lone surrogates, no
// bytes that are not UTF-8, no duplicate keys, nothing after the value).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nuva {

// `text` as a JSON string, quotes included: '"' and '\' escaped, control
// characters as \n, \t ... or \u00XX, UTF-8 kept as it is. A byte that does
// not belong to valid UTF-8 becomes U+FFFD, so that what reaches a reader is
// always a valid document whatever a file or the handheld said.
std::string JsonQuote(std::string_view text);

class JsonValue {
  public:
    enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
    using Members = std::vector<std::pair<std::string, JsonValue>>;

    JsonValue() = default;
    static JsonValue Bool(bool value);
    static JsonValue Number(double value);
    static JsonValue String(std::string value);
    static JsonValue Array(std::vector<JsonValue> items);
    static JsonValue Object(Members members);

    Kind GetKind() const { return kind_; }
    bool IsNull() const { return kind_ == Kind::kNull; }
    bool IsBool() const { return kind_ == Kind::kBool; }
    bool IsNumber() const { return kind_ == Kind::kNumber; }
    bool IsString() const { return kind_ == Kind::kString; }
    bool IsArray() const { return kind_ == Kind::kArray; }
    bool IsObject() const { return kind_ == Kind::kObject; }

    // The value when it is of that kind; false / 0 / "" / empty otherwise.
    bool AsBool() const { return kind_ == Kind::kBool && bool_; }
    double AsNumber() const { return kind_ == Kind::kNumber ? number_ : 0; }
    const std::string& AsString() const;
    const std::vector<JsonValue>& Items() const;
    const Members& AsMembers() const;

    // An object's member; null when this is no object or has no such key.
    const JsonValue* Find(std::string_view key) const;

  private:
    Kind kind_ = Kind::kNull;
    bool bool_ = false;
    double number_ = 0;
    std::string string_;
    std::vector<JsonValue> items_;
    Members members_;
};

// Nesting deeper than this is refused rather than followed.
inline constexpr size_t kJsonMaxDepth = 64;

// Parses one whole document (blanks around it allowed). nullopt with `error`
// naming the byte offset and the fault.
std::optional<JsonValue> ParseJson(std::string_view text, std::string& error);

}  // namespace nuva
