// The desktop as Setup's Qt windows see it: where the program's first dialogs
// (the main menu, the wizards' pages) and its unowned message boxes open.
// Every page shown from it is a TemplateDialog (template_dialog.h) without
// owner, made the first time its template is shown and shown again from then
// on; a page's own dialogs open over that page.
//
// Make it after the QApplication and let it go before the QApplication: it
// owns the program's windows.
#pragma once

#include <cstdint>
#include <string>

#include "setup/frame/page.h"
#include "setup/windows/dialog_shelf.h"

namespace nuva {

class QtDesktop final : public DialogHost {
  public:
    QtDesktop();

    int OpenDialog(uint32_t templateId, const PageMaker& make) override;
    void MessageBox(const std::string& text, const std::string& caption) override;

    // The window of `templateId` once it has been shown, else nullptr.
    TemplateDialog* Window(uint32_t templateId) const { return pages_.Find(templateId); }

  private:
    DialogShelf pages_{nullptr};
};

}  // namespace nuva
