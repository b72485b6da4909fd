// How every page and dialog of Setup is built: a controller that holds all of
// the page's logic, and a view that a front end (the Qt windows, the terminal
// pages of nuva-flash, a test's recorder) implements and that decides nothing.
//
// The front end owns the modal loop. It makes the view of a dialog template,
// lets the caller make the controller over that view, and then delivers, on
// the one thread that runs the dialogs: Init once when the dialog opens, the
// ticks of the timers the controller armed, the messages posted to the page
// (by the page itself, such as WM_APP_STARTCHECK, or by a worker thread),
// the clicks of its controls, Esc and the close box; Destroy when the modal
// loop has ended. The loop ends when the controller calls EndDialog, and
// OpenDialog returns the integer it was given.
//
// A controller never sleeps: what it waits for is a timer tick or a posted
// message. A nested dialog or message box opened through the view runs its
// own modal loop, during which the owner's timers and messages keep being
// delivered, as they are under a Windows modal dialog.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "setup/link/message_sink.h"

namespace nuva {

class PageView;

// The identifiers a dialog's own buttons end it with, as Windows numbers them.
inline constexpr uint32_t kIdOk = 1;
inline constexpr uint32_t kIdCancel = 2;

class PageController {
  public:
    virtual ~PageController() = default;

    // The dialog opens: its controls exist with the texts and states of its
    // template; the controller sets what it decides.
    virtual void Init() = 0;
    // A timer the controller armed has ticked.
    virtual void OnTimer(uint32_t /*id*/) {}
    // A message posted to the page, in the order posted.
    virtual void OnMessage(uint32_t /*message*/, uint32_t /*wParam*/, uint32_t /*lParam*/) {}
    // A button, a check box or a link was clicked (its control identifier).
    virtual void OnCommand(uint32_t control) = 0;
    // Esc. As in a Windows dialog, it stands for the Cancel identifier.
    virtual void OnEscape() { OnCommand(kIdCancel); }
    // The close box (only dialogs whose template has one show it).
    virtual void OnClose() { OnEscape(); }
    // The mouse pointer moved over a control (0: over the page itself).
    virtual void OnPointerOver(uint32_t /*control*/) {}
    // The modal loop has ended; every timer that still runs stops here.
    virtual void Destroy() {}
};

// Makes a page's controller over the view the front end made for it.
using PageMaker = std::function<std::unique_ptr<PageController>(PageView&)>;

struct Rgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kBlue{0, 0, 255};

// The standard Save As and Open dialogs, as a page asks for a file.
struct FileQuestion {
    bool save = true;           // Save As; false: Open
    std::string title;          // the dialog's caption
    std::string filter;         // "Name(*.EXT)|*.EXT||"
    std::string defaultSuffix;  // added when the name has none ("RIS")
    std::string proposedName;   // the file name the dialog starts with
    std::string initialFolder;  // "" for the front end's choice
    bool overwritePrompt = true;
};

// Where modal dialogs open: over a page, or (for the program's first
// dialogs and its unowned message boxes) over the desktop.
class DialogHost {
  public:
    virtual ~DialogHost() = default;

    // Shows dialog template `templateId` modally with the controller `make`
    // builds over its view; returns the integer the controller ended it with.
    virtual int OpenDialog(uint32_t templateId, const PageMaker& make) = 0;
    // A message box with one OK button; returns when it is dismissed.
    virtual void MessageBox(const std::string& text, const std::string& caption) = 0;
};

// What a controller may do to its page. Every call but Post (MessageSink)
// comes from the thread that runs the dialogs.
class PageView : public DialogHost, public MessageSink {
  public:
    // Timers are periodic until killed, as window timers are; the period is
    // nominal and the front end scales it by the clock. Arming an armed id
    // restarts it with the new period.
    virtual void ArmTimer(uint32_t id, uint32_t periodMs) = 0;
    virtual void KillTimer(uint32_t id) = 0;

    virtual void SetTitle(const std::string& text) = 0;
    virtual void SetText(uint32_t control, const std::string& text) = 0;
    virtual void ShowControl(uint32_t control, bool shown) = 0;
    virtual void EnableControl(uint32_t control, bool enabled) = 0;
    virtual void SetChecked(uint32_t control, bool checked) = 0;
    virtual bool IsChecked(uint32_t control) const = 0;
    // Progress bars run from 0 to 100.
    virtual void SetBar(uint32_t control, uint32_t percent) = 0;
    // A control's text is drawn in `colour` from now on.
    virtual void SetTextColour(uint32_t control, Rgb colour) = 0;
    // A control's font gets the underline (the help link).
    virtual void SetUnderlined(uint32_t control) = 0;
    // A one-pixel frame in `colour` is drawn on every paint along the
    // control's rectangle, grown by `grow` pixels on each side.
    virtual void DrawFrame(uint32_t control, Rgb colour, int grow) = 0;

    // Appends a separator and the item `text` with command `command` to the
    // window's system menu, where the platform has one; a front end without
    // one offers the command another way (a context menu, a key). Choosing
    // it reaches OnCommand(command).
    virtual void AddSystemMenuItem(uint32_t command, const std::string& text) = 0;

    // MessageBeep with the sound type given (0x20: the question sound).
    virtual void Beep(uint32_t type) = 0;
    virtual void HidePage() = 0;
    // Ends the modal loop; OpenDialog returns `result`.
    virtual void EndDialog(int result) = 0;

    // A message box without owner (the two "Error" boxes); MessageBox of
    // DialogHost is owned by the page.
    virtual void UnownedMessageBox(const std::string& text, const std::string& caption) = 0;
    // The standard Save As or Open dialog; the full path chosen, or nothing
    // when the user cancelled. The Save As dialog asks before replacing a
    // file when `overwritePrompt` is set.
    virtual std::optional<std::string> AskFileName(const FileQuestion& question) = 0;
    // Opens a web address or a local file in the user's web browser. 0, or
    // a failure code when no browser could be started.
    virtual uint32_t OpenInBrowser(const std::string& target) = 0;
    // One line of the program's trace (the debugger output on Windows),
    // off unless the user asked for it.
    virtual void Trace(const std::string& line) = 0;
};

}  // namespace nuva
