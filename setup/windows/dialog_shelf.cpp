#include "setup/windows/dialog_shelf.h"

#include "setup/windows/page_windows.h"
#include "setup/windows/template_dialog.h"

namespace nuva {

DialogShelf::DialogShelf(QWidget* owner) : owner_(owner) {}

DialogShelf::~DialogShelf() = default;

int DialogShelf::Open(uint32_t templateId, const PageMaker& make) {
    std::unique_ptr<TemplateDialog>& dialog = dialogs_[templateId];
    if (dialog == nullptr) {
        dialog = MakePageWindow(templateId, owner_);
    }
    if (dialog->Running()) {
        // A template shown again from inside its own showing (a page that
        // opens its own kind of dialog) needs a second window for the time.
        return MakePageWindow(templateId, owner_)->Run(make);
    }
    return dialog->Run(make);
}

TemplateDialog* DialogShelf::Find(uint32_t templateId) const {
    auto found = dialogs_.find(templateId);
    return found == dialogs_.end() ? nullptr : found->second.get();
}

}  // namespace nuva
