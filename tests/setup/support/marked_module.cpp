#include "tests/setup/support/marked_module.h"

#include "setup/resources/resource_file.h"

namespace nuva::test {
namespace {

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
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
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out += c;
                break;
        }
    }
    return out + "\"";
}

}  // namespace

std::string MarkedModule() {
    const ResourceFile& builtIn = BuiltInResources();
    std::string module;
    for (const auto& [id, text] : builtIn.strings) {
        module += std::to_string(id) + " " + Quoted(kMark + text) + "\n";
    }
    // The texts are ordered by dialog, its caption (control 0) first.
    for (const auto& [key, text] : builtIn.texts) {
        if (key.controlId == 0) {
            module += "dialog " + std::to_string(key.templateId) + " " + Quoted(kMark + text) + "\n";
        } else {
            if (builtIn.texts.count({key.templateId, 0}) == 0 &&
                key.controlId == builtIn.texts.lower_bound({key.templateId, 0})->first.controlId) {
                module += "dialog " + std::to_string(key.templateId) + "\n";
            }
            module += "control " + std::to_string(key.controlId) + " " + Quoted(kMark + text) + "\n";
        }
    }
    return module;
}

}  // namespace nuva::test
