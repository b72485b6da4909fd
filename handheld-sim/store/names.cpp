// Name folding and text conversion shared by the file store and the registry.
#include "handheld-sim/store/object_store.h"

namespace nuva::sim {
namespace {

char16_t FoldChar(char16_t c) {
    if (c >= u'a' && c <= u'z') {
        return static_cast<char16_t>(c - 0x20);
    }
    // Latin-1 lower-case letters, except the division sign; y with
    // diaeresis folds outside Latin-1.
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
        return static_cast<char16_t>(c - 0x20);
    }
    if (c == 0xFF) {
        return 0x178;
    }
    return c;
}

}  // namespace

std::u16string FoldCase(std::u16string_view name) {
    std::u16string folded(name);
    for (auto& c : folded) {
        c = FoldChar(c);
    }
    return folded;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldChar(a[i]) != FoldChar(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace nuva::sim
