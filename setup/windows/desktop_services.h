// What the pages ask of the desktop beyond their own windows: the message
// boxes, the Save As and Open dialogs, the web browser and the trace. The
// dialogs are Qt's own (never the platform's native ones), so they look and
// behave the same on every desktop and under the offscreen platform, and a
// test finds them among the application's windows by their object names.
#pragma once

#include <QLoggingCategory>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <string>

#include "setup/frame/page.h"

namespace nuva {

inline constexpr char kMessageBoxName[] = "message-box";
inline constexpr char kFileQuestionName[] = "file-question";

// E_FAIL: no browser could be started.
inline constexpr uint32_t kBrowserFailed = 0x80004005;

// A modal message box with one OK button over `owner` (nullptr: no owner).
void ShowMessageBox(QWidget* owner, const std::string& text, const std::string& caption);

// The Save As or Open dialog over `owner`; the full path chosen, or nothing
// when the user cancelled.
std::optional<std::string> AskFileName(QWidget* owner, const FileQuestion& question);

// Opens an http or https address as it is, anything else as a local file,
// with the desktop's browser: 0, or kBrowserFailed.
uint32_t OpenInBrowser(const std::string& target);

// The program's trace, off unless the logging rules turn on
// "nuva.setup.trace" (QT_LOGGING_RULES="nuva.setup.trace.debug=true").
Q_DECLARE_LOGGING_CATEGORY(SetupTrace)
void WriteTrace(const std::string& line);

}  // namespace nuva
