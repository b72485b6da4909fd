// nuva-image: makes update images and tells what an image or backup file is.
//
//   nuva-image make --os 2002|2003 --class advanced|basic --lang EN|FR|GE|SP|IT|TC|SC
//                   --date MMDDYYxx --name A03 [--no-sum] [--early] -o FILE
//   nuva-image inspect FILE [--json]
//
// Exit codes: 0 done (for inspect: the file passes Setup's header and sum
// checks); 1 inspect: the file is refused or its sum does not match; 2 bad
// arguments; 3 the file cannot be written or read as an image at all.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/image/inspect.h"
#include "tools/imagegen/imagegen.h"

namespace {

using namespace nuva;

constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFile = 3;

constexpr const char* kUsage =
    "usage:\n"
    "  nuva-image make --os 2002|2003 --class advanced|basic --lang EN|FR|GE|SP|IT|TC|SC\n"
    "                  --date MMDDYYxx --name NAME [--no-sum] [--early] -o FILE\n"
    "  nuva-image inspect FILE [--json]\n";

int Usage(const std::string& problem) {
    std::fprintf(stderr, "nuva-image: %s\n%s", problem.c_str(), kUsage);
    return kExitUsage;
}

int Make(const std::vector<std::string_view>& args) {
    imagegen::ImageSpec spec;
    std::string output;
    bool haveOs = false, haveClass = false, haveLang = false, haveDate = false, haveName = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg == "--no-sum") {
            spec.withSum = false;
            continue;
        }
        if (arg == "--early") {
            spec.early = true;
            continue;
        }
        if (arg != "--os" && arg != "--class" && arg != "--lang" && arg != "--date" && arg != "--name" &&
            arg != "-o") {
            return Usage("make: unknown option \"" + std::string(arg) + "\"");
        }
        if (i + 1 >= args.size()) {
            return Usage("make: " + std::string(arg) + " needs a value");
        }
        std::string_view value = args[++i];
        if (arg == "--os") {
            if (!imagegen::ParseOsFamily(value, spec.os)) {
                return Usage("make: --os must be 2002 or 2003, not \"" + std::string(value) + "\"");
            }
            haveOs = true;
        } else if (arg == "--class") {
            if (!imagegen::ParseModelClass(value, spec.modelClass)) {
                return Usage("make: --class must be advanced or basic, not \"" + std::string(value) + "\"");
            }
            haveClass = true;
        } else if (arg == "--lang") {
            spec.language = std::string(value);
            haveLang = true;
        } else if (arg == "--date") {
            spec.dateCode = std::string(value);
            haveDate = true;
        } else if (arg == "--name") {
            spec.romName = std::string(value);
            haveName = true;
        } else {
            output = std::string(value);
        }
    }
    if (!haveOs || !haveClass || !haveLang || !haveDate || !haveName || output.empty()) {
        return Usage("make: --os, --class, --lang, --date, --name and -o are all needed");
    }
    if (imagegen::ImageGenError error = imagegen::CheckSpec(spec); error != imagegen::ImageGenError::kNone) {
        return Usage(std::string("make: ") + imagegen::DescribeImageGenError(error));
    }
    std::string detail;
    if (imagegen::WriteImageFile(spec, output, &detail) != imagegen::ImageGenError::kNone) {
        std::fprintf(stderr, "nuva-image: cannot write %s: %s\n", output.c_str(), detail.c_str());
        return kExitFile;
    }
    std::printf("wrote %s (%u bytes)\n", output.c_str(), imagegen::ContentBytes(spec.os) + 512u);
    return kExitOk;
}

int Inspect(const std::vector<std::string_view>& args) {
    std::string path;
    bool json = false;
    for (std::string_view arg : args) {
        if (arg == "--json") {
            json = true;
        } else if (arg.starts_with("-") && arg.size() > 1) {
            return Usage("inspect: unknown option \"" + std::string(arg) + "\"");
        } else if (path.empty()) {
            path = std::string(arg);
        } else {
            return Usage("inspect: one file at a time");
        }
    }
    if (path.empty()) {
        return Usage("inspect: which file?");
    }
    image_tool::InspectReport report;
    std::string message;
    if (image_tool::InspectFile(path, report, message) != image_tool::InspectError::kNone) {
        std::fprintf(stderr, "nuva-image: %s\n", message.c_str());
        return kExitFile;
    }
    std::string text = json ? image_tool::FormatJson(report) : image_tool::FormatText(path, report);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return image_tool::Passes(report) ? kExitOk : kExitRefused;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.empty()) {
        return Usage("which command?");
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    std::vector<std::string_view> rest(args.begin() + 1, args.end());
    if (args[0] == "make") {
        return Make(rest);
    }
    if (args[0] == "inspect") {
        return Inspect(rest);
    }
    return Usage("unknown command \"" + std::string(args[0]) + "\"");
}
