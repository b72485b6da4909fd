// What the tests of the Qt windows share: a page controller scripted by the
// test, acting from inside a modal loop, and a watchdog that ends whatever is
// still open when a test goes wrong, so that a failure is reported instead of
// hanging.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "setup/frame/page.h"
#include "setup/windows/template_dialog.h"

namespace nuva::test {

// What reached a scripted page, in order: "init", "command 1025", "escape",
// "close", "timer 100", "message 0x8136 1 2", "pointer 1064", "destroy".
struct PageLog {
    std::vector<std::string> events;
    TemplateDialog* window = nullptr;  // the window of the last showing
    int Count(const std::string& event) const;
};

// What a scripted page does besides logging; by default it never ends.
struct PageScript {
    std::function<void(TemplateDialog&)> init;
    std::function<void(TemplateDialog&)> up;  // once the window is up and its loop runs
    std::function<void(TemplateDialog&, uint32_t)> timer;
    std::function<void(TemplateDialog&, uint32_t)> message;
    std::function<void(TemplateDialog&)> escape;
};
PageMaker LoggedPage(PageLog& log, PageScript script = {});

// Runs `act` from the event loop (the running modal loop).
void Later(std::function<void()> act);
// Runs `act` from the event loop as soon as `ready` holds.
void When(std::function<bool()> ready, std::function<void()> act);

// Writes `window` as `file` to the pictures folder of the build tree.
void SavePicture(QWidget& window, const QString& file);
bool IsRed(QColor colour);
int CountRed(const QImage& image);

// Every test: a watchdog over the modal loops, and the clock scale restored.
class WindowTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

  private:
    double scale_ = 1;
    std::unique_ptr<QTimer> watchdog_;
};

}  // namespace nuva::test
