#include "setup/windows/qt_desktop.h"

#include "setup/windows/desktop_services.h"
#include "setup/windows/page_messages.h"

namespace nuva {

QtDesktop::QtDesktop() {
    RegisterPageMessages();
}

int QtDesktop::OpenDialog(uint32_t templateId, const PageMaker& make) {
    return pages_.Open(templateId, make);
}

void QtDesktop::MessageBox(const std::string& text, const std::string& caption) {
    ShowMessageBox(nullptr, text, caption);
}

}  // namespace nuva
