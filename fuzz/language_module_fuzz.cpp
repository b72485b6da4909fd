// A language module as Setup loads it (parsed, then checked against the
// built-in resources), and every text of an accepted module formatted with
// arguments of the types the built-in text takes, as the program formats it:
// a module text that made printf read an argument that was never passed, or
// read one as another type, would be caught here by the sanitizers. Texts of
// a module that is refused are formatted too, with the arguments their own
// format asks for, so that the format check itself is tried on any text.
//
// Input: the module file's text.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "setup/resources/resource_file.h"
#include "setup/resources/string_table.h"

namespace {

using nuva::FormatArg;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "language_module_fuzz: %s\n", what);
    std::abort();
}

// The built-in texts the program formats take at most four arguments, of
// these three kinds. A text with a conversion that is no conversion (kNone)
// is never formatted: the C library leaves what printf does with it
// undefined, and every text the program formats has none.
constexpr size_t kMaxArguments = 4;

bool HasNonConversion(const std::vector<FormatArg>& types) {
    return std::find(types.begin(), types.end(), FormatArg::kNone) != types.end();
}

bool Formattable(const std::vector<FormatArg>& types) {
    if (types.size() > kMaxArguments) {
        return false;
    }
    for (const FormatArg type : types) {
        if (type != FormatArg::kInt && type != FormatArg::kString && type != FormatArg::kWideString) {
            return false;
        }
    }
    return true;
}

// Passes one argument of each kind in `types`, in order, as the program's
// FormatText call sites do with their own values.
template <FormatArg... Tags, typename... Values>
std::string FormatWith(std::string_view format, const std::vector<FormatArg>& types, Values... values) {
    constexpr size_t next = sizeof...(Tags);
    if constexpr (next < kMaxArguments) {
        if (next < types.size()) {
            switch (types[next]) {
                case FormatArg::kInt:
                    return FormatWith<Tags..., FormatArg::kInt>(format, types, values..., int{0x41});
                case FormatArg::kString:
                    return FormatWith<Tags..., FormatArg::kString>(format, types, values..., "A02");
                case FormatArg::kWideString:
                    return FormatWith<Tags..., FormatArg::kWideString>(format, types, values..., L"NUVA7");
                default:
                    Fail("an argument kind the built-in texts do not take");
            }
        }
    }
    return nuva::FormatWithArguments(format, {Tags...}, values...);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const nuva::ResourceFile& builtIn = nuva::BuiltInResources();

    nuva::ResourceFile module;
    nuva::TableError error;
    if (!nuva::ParseResourceFile(text, nuva::ResourceForm::kModule, module, error)) {
        if (!module.strings.empty() || !module.texts.empty()) {
            Fail("a refused module left texts behind");
        }
        return 0;
    }
    const bool accepted = nuva::CheckModule(builtIn, module, error);

    for (const auto& [id, moduleText] : module.strings) {
        std::vector<FormatArg> wanted;
        std::string reason;
        const bool readable = nuva::FormatArguments(moduleText, wanted, reason);
        if (accepted) {
            const auto builtInText = builtIn.strings.find(id);
            if (builtInText == builtIn.strings.end()) {
                Fail("an accepted module has a text the program lacks");
            }
            std::vector<FormatArg> types;
            if (!nuva::FormatArguments(builtInText->second, types, reason)) {
                Fail("a built-in text has a format the program refuses");
            }
            if (!readable || wanted != types) {
                Fail("an accepted module text takes other arguments than the built-in one");
            }
            if (HasNonConversion(types)) {
                continue;  // shown as it stands, never formatted
            }
            if (!Formattable(types)) {
                Fail("a built-in text takes arguments this target does not pass yet");
            }
            (void)FormatWith(moduleText, types);
        } else if (readable && Formattable(wanted)) {
            (void)FormatWith(moduleText, wanted);
        }
    }
    return 0;
}
