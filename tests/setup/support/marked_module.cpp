#include "tests/setup/support/marked_module.h"

#include "setup/resources/resource_file.h"

namespace nuva::test {

std::string MarkedModule() {
    const ResourceFile& builtIn = BuiltInResources();
    std::string module;
    for (const auto& [id, text] : builtIn.strings) {
        module += std::to_string(id) + " " + QuoteResourceText(kMark + text) + "\n";
    }
    // The texts are ordered by dialog, its caption (control 0) first.
    for (const auto& [key, text] : builtIn.texts) {
        if (key.controlId == 0) {
            module +=
                "dialog " + std::to_string(key.templateId) + " " + QuoteResourceText(kMark + text) + "\n";
        } else {
            if (builtIn.texts.count({key.templateId, 0}) == 0 &&
                key.controlId == builtIn.texts.lower_bound({key.templateId, 0})->first.controlId) {
                module += "dialog " + std::to_string(key.templateId) + "\n";
            }
            module +=
                "control " + std::to_string(key.controlId) + " " + QuoteResourceText(kMark + text) + "\n";
        }
    }
    return module;
}

}  // namespace nuva::test
