// Setup's dialog templates: for every dialog its caption, size, style and
// controls (kind, identifier, place and size in dialog units, text, initial
// state), as a Windows dialog resource describes them. The layouts are
// built in; the texts (captions, control texts, a picture's description)
// come from the language module when it has them, else from the built-in
// resources, exactly as the string table's do.
//
// A front end builds a dialog's widgets from its template; it never holds a
// text of its own.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace nuva {

enum class ControlKind {
    kText,           // a static text
    kButton,         // a push button
    kDefaultButton,  // the push button Enter presses
    kCheckBox,
    kGroupBox,  // a frame with an optional title
    kPicture,   // a bitmap or icon; its text is its description
    kProgressBar,
    kLink,  // a static text that notifies clicks (the help link)
};

enum class TextAlign { kLeft, kCentre, kRight };

struct ControlTemplate {
    uint32_t id = 0;  // the control identifier its page uses
    ControlKind kind = ControlKind::kText;
    int x = 0;  // dialog units
    int y = 0;
    int width = 0;
    int height = 0;
    bool visible = true;
    bool enabled = true;
    TextAlign align = TextAlign::kLeft;
    uint32_t picture = 0;  // kPicture: the icon or bitmap identifier
};

struct DialogTemplate {
    uint32_t id = 0;
    int width = 0;  // dialog units
    int height = 0;
    bool systemMenu = true;  // a system menu and with it a close box
    std::vector<ControlTemplate> controls;
};

// The built-in template of a dialog; nullptr when there is none. The loose
// texts (dialog_id::kLooseTexts) have a template of size 0 whose controls
// carry only texts.
const DialogTemplate* FindDialogTemplate(uint32_t templateId);

// A control of a template by identifier; nullptr when the template has none.
const ControlTemplate* FindControl(const DialogTemplate& dialog, uint32_t controlId);

// A dialog's caption (control 0) or a control's text: the language module's
// when it has one, else the built-in one, else "". The reference stays valid
// until the module is unloaded.
const std::string& DialogText(uint32_t templateId, uint32_t controlId);

// The PNG picture of an icon or bitmap identifier (dialog_ids.h); empty when
// there is none.
std::span<const uint8_t> PictureBytes(uint32_t pictureId);

}  // namespace nuva
