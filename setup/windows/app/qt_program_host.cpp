#include "setup/windows/app/qt_program_host.h"

#include <QApplication>
#include <QEventLoop>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QTimer>
#include <chrono>

#include "setup/resources/dialog_ids.h"
#include "setup/resources/dialog_templates.h"

namespace nuva {

int QtProgramHost::OpenDialog(uint32_t templateId, const PageMaker& make) {
    return desktop_.OpenDialog(templateId, make);
}

void QtProgramHost::MessageBox(const std::string& text, const std::string& caption) {
    desktop_.MessageBox(text, caption);
}

void QtProgramHost::Wait(uint32_t milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(std::chrono::milliseconds(milliseconds), &loop, &QEventLoop::quit);
    loop.exec();
}

void PrepareApplication() {
    // Leaving the last window would otherwise end every event loop, and with
    // it the modal loop of the page the program shows next.
    QApplication::setQuitOnLastWindowClosed(false);
    std::span<const uint8_t> icon = PictureBytes(dialog_id::kIconSetup);
    QImage image;
    if (image.loadFromData(icon.data(), static_cast<int>(icon.size()), "PNG")) {
        QApplication::setWindowIcon(QIcon(QPixmap::fromImage(image)));
    }
}

}  // namespace nuva
