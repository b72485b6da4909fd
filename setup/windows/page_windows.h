// Setup's windows, one for each page and dialog: every one is the template
// dialog of its template, named after the page it shows, so that a window
// found on the desktop (by a test, a screen reader, a developer's inspector)
// says which page it is. Nothing about a page's look is left to a window of
// its own: the template says it all, and the page's controller does the rest.
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <span>

namespace nuva {

class TemplateDialog;

struct PageWindow {
    uint32_t templateId;
    const char* name;  // the window's object name
};

// Every page and dialog of Setup.
std::span<const PageWindow> PageWindows();

// The window of `templateId` over `owner` (nullptr: the desktop). A template
// that is no page of Setup is a bug and ends the program.
std::unique_ptr<TemplateDialog> MakePageWindow(uint32_t templateId, QWidget* owner);

}  // namespace nuva
