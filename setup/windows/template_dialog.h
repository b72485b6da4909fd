// The one window class of Setup: a modal dialog built from a dialog template
// and driven by a page controller, which it serves as the controller's view.
//
// The widgets are made once, from the template, when the object is made;
// every showing starts them again from the template (texts, visibility,
// enabled state, colours, frames, system menu items), as a window freshly
// created from its template would be, and runs a new controller made for
// that showing. The object itself stays: its host shows it again and again.
//
// A control's widget is named "control-<id>" and carries its identifier in
// the property "controlId", so tests and tools find it by the identifier its
// page uses.
#pragma once

#include <QColor>
#include <QDialog>
#include <QEventLoop>
#include <QTimer>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "setup/frame/page.h"
#include "setup/resources/dialog_templates.h"
#include "setup/windows/dialog_shelf.h"
#include "setup/windows/dialog_units.h"

class QAction;

namespace nuva {

class TemplateDialog : public QDialog, public PageView {
  public:
    // `owner`: the page the dialog is shown over, nullptr for none. A
    // template that does not exist is a bug and ends the program.
    TemplateDialog(uint32_t templateId, QWidget* owner);
    ~TemplateDialog() override;

    // One showing: resets the widgets to the template, makes the controller
    // over this view, shows the dialog modally until the controller calls
    // EndDialog, lets the controller clean up (Destroy) and drops it.
    // Returns the integer given to EndDialog.
    int Run(const PageMaker& make);
    // A showing is going on.
    bool Running() const { return controller_ != nullptr; }

    const DialogUnits& Units() const { return units_; }
    // The widget of control `id`, or nullptr.
    QWidget* Control(uint32_t id) const;

    // DialogHost: nested dialogs and message boxes are owned by this page.
    int OpenDialog(uint32_t templateId, const PageMaker& make) override;
    void MessageBox(const std::string& text, const std::string& caption) override;

    // MessageSink: any thread. Messages reach the controller on the thread
    // of the dialogs, in the order posted, while this showing lasts; once it
    // has ended IsAlive is false and a post is dropped, as is a message
    // still queued from it. The window lives as long as its host, beyond
    // the workers its pages start and stop again.
    void Post(uint32_t message, uint32_t wParam, uint32_t lParam) override;
    bool IsAlive() const override;

    void ArmTimer(uint32_t id, uint32_t periodMs) override;
    void KillTimer(uint32_t id) override;
    void SetTitle(const std::string& text) override;
    void SetText(uint32_t control, const std::string& text) override;
    void ShowControl(uint32_t control, bool shown) override;
    void EnableControl(uint32_t control, bool enabled) override;
    void SetChecked(uint32_t control, bool checked) override;
    bool IsChecked(uint32_t control) const override;
    void SetBar(uint32_t control, uint32_t percent) override;
    void SetTextColour(uint32_t control, Rgb colour) override;
    void SetUnderlined(uint32_t control) override;
    void DrawFrame(uint32_t control, Rgb colour, int grow) override;
    // There is no window manager's system menu to extend: the item is
    // offered in the window's context menu, and F1 chooses the first one.
    void AddSystemMenuItem(uint32_t command, const std::string& text) override;
    void Beep(uint32_t type) override;
    void HidePage() override;
    void EndDialog(int result) override;
    void UnownedMessageBox(const std::string& text, const std::string& caption) override;
    std::optional<std::string> AskFileName(const FileQuestion& question) override;
    uint32_t OpenInBrowser(const std::string& target) override;
    void Trace(const std::string& line) override;

    // Esc: the controller decides; the dialog never closes by itself.
    void reject() override;

  protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct ControlWidget {
        ControlTemplate layout;
        QWidget* widget = nullptr;
        bool mnemonicShown = false;  // a label whose "&" reaches the next control
    };
    struct Frame {
        QColor colour;
        int grow = 0;
    };

    void BuildControls();
    void ResetToTemplate();
    void ApplyText(const ControlWidget& control, const QString& text);
    const ControlWidget* Find(uint32_t id) const;
    void StopTimers();
    void CloseMailbox();
    // A control or a system menu item was chosen.
    void Command(uint32_t control);
    // Runs `call` on the controller while this showing lasts.
    template <class Call>
    void Deliver(Call call);

    const DialogTemplate& template_;
    const DialogUnits units_;
    std::vector<ControlWidget> controls_;
    DialogShelf nested_;

    std::unique_ptr<PageController> controller_;
    bool initialised_ = false;
    bool ended_ = false;
    int result_ = 0;
    QEventLoop* loop_ = nullptr;

    std::map<uint32_t, QTimer*> timers_;
    std::map<uint32_t, Frame> frames_;
    std::vector<QAction*> systemItems_;

    // The mailbox of the posting threads: open while a showing lasts.
    mutable std::mutex mailbox_;
    bool mailboxOpen_ = false;
    uint64_t showing_ = 0;
};

}  // namespace nuva
