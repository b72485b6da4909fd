#include "setup/resources/dialog_templates.h"

#include "setup/resources/dialog_ids.h"
#include "setup/resources/resource_file.h"

namespace nuva {

namespace detail {
// Generated at build time by make_pictures and embed_binary.cmake.
extern const unsigned char kPicture128Bytes[];
extern const size_t kPicture128Size;
extern const unsigned char kPicture131Bytes[];
extern const size_t kPicture131Size;
extern const unsigned char kPicture151Bytes[];
extern const size_t kPicture151Size;
extern const unsigned char kPicture152Bytes[];
extern const size_t kPicture152Size;
}  // namespace detail

const DialogTemplate* FindDialogTemplate(uint32_t templateId) {
    const auto& templates = BuiltInResources().templates;
    auto it = templates.find(templateId);
    return it != templates.end() ? &it->second : nullptr;
}

const ControlTemplate* FindControl(const DialogTemplate& dialog, uint32_t controlId) {
    for (const ControlTemplate& control : dialog.controls) {
        if (control.id == controlId) {
            return &control;
        }
    }
    return nullptr;
}

const std::string& DialogText(uint32_t templateId, uint32_t controlId) {
    static const std::string kEmpty;
    DialogTextKey key{templateId, controlId};
    if (const ResourceFile* module = ActiveLanguageModule()) {
        auto it = module->texts.find(key);
        if (it != module->texts.end()) {
            return it->second;
        }
    }
    const DialogTexts& own = BuiltInResources().texts;
    auto it = own.find(key);
    return it != own.end() ? it->second : kEmpty;
}

std::span<const uint8_t> PictureBytes(uint32_t pictureId) {
    switch (pictureId) {
        case dialog_id::kIconSetup:
            return {detail::kPicture128Bytes, detail::kPicture128Size};
        case dialog_id::kBitmapMainMenu:
            return {detail::kPicture131Bytes, detail::kPicture131Size};
        case dialog_id::kBitmapNotice2003:
            return {detail::kPicture151Bytes, detail::kPicture151Size};
        case dialog_id::kBitmapNotice2002:
            return {detail::kPicture152Bytes, detail::kPicture152Size};
        default:
            return {};
    }
}

}  // namespace nuva
