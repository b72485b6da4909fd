// The dialogs a host shows: one object per template, made the first time the
// template is shown and kept for the life of the host, so that every showing
// of a page is the same window shown again.
#pragma once

#include <QWidget>
#include <cstdint>
#include <map>
#include <memory>

#include "setup/frame/page.h"

namespace nuva {

class TemplateDialog;

class DialogShelf {
  public:
    // `owner`: the page the dialogs are shown over, nullptr for the desktop.
    explicit DialogShelf(QWidget* owner);
    ~DialogShelf();
    DialogShelf(const DialogShelf&) = delete;
    DialogShelf& operator=(const DialogShelf&) = delete;

    // Shows the dialog of `templateId` with a controller made by `make` and
    // returns its result.
    int Open(uint32_t templateId, const PageMaker& make);
    // The dialog of `templateId` shown so far, or nullptr.
    TemplateDialog* Find(uint32_t templateId) const;

  private:
    QWidget* owner_;
    std::map<uint32_t, std::unique_ptr<TemplateDialog>> dialogs_;
};

}  // namespace nuva
