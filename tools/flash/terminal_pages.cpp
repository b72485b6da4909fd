#include "tools/flash/terminal_pages.h"

#include <algorithm>
#include <memory>
#include <thread>

#include "setup/resources/dialog_ids.h"
#include "setup/resources/dialog_templates.h"

namespace nuva {
namespace {

constexpr uint32_t kCommandMessage = CallbackHandler::kCommandMessage;
// Not a control: the user pressed Esc.
constexpr uint32_t kEscapeCommand = 0xFFFFFFFFu;

// The cautions and message-like dialogs read as boxes; the pages of a
// wizard and the notices that end a run as sections of the run.
bool IsBox(uint32_t templateId) {
    namespace d = dialog_id;
    switch (templateId) {
        case d::kAbout:
        case d::kEraseCaution:
        case d::kReason:
        case d::kOsChangeNotice:
        case d::kConnectionLost:
        case d::kWrongModel:
            return true;
        default:
            return false;
    }
}

bool IsProgressPage(uint32_t templateId) {
    return templateId == dialog_id::kUpdateProgress || templateId == dialog_id::kBackupProgress;
}

bool IsInfoPage(uint32_t templateId) {
    return templateId == dialog_id::kUpdateInfo || templateId == dialog_id::kRestoreInfo;
}

bool IsTextKind(ControlKind kind) {
    return kind == ControlKind::kText || kind == ControlKind::kGroupBox || kind == ControlKind::kLink;
}

std::string Padded(const std::string& text, size_t width) {
    return text.size() >= width ? text + "  " : text + std::string(width - text.size(), ' ');
}

// The information pages' columns: a label, the handheld's value, the
// image's value, by control.
struct ColumnRow {
    uint32_t label;
    uint32_t left;
    uint32_t right;
};
constexpr ColumnRow kColumnRows[] = {
    {1056, 1016, 1050},  // model
    {1057, 1017, 1052},  // ROM version
    {1058, 1051, 1053},  // OS version
    {1059, 1018, 1054},  // language
};
// The two columns' frames, whose titles head them.
constexpr uint32_t kLeftHeading = 2001;
constexpr uint32_t kRightHeading = 2002;

// The reason dialog's heading and its list of reasons.
constexpr uint32_t kReasonHeading = 1069;
constexpr uint32_t kReasonList = 1023;

// The backup confirmation's labels and the values read beside them.
constexpr std::pair<uint32_t, uint32_t> kLabelValues[] = {
    {1044, 1041}, {1043, 1040}, {1046, 1047}, {1045, 1042}};

}  // namespace

void PrintMessageBox(Terminal& terminal, const std::string& caption, const std::string& text) {
    terminal.Line("[" + caption + "]");
    terminal.Block(text);
}

int TerminalHost::OpenDialog(uint32_t templateId, const PageMaker& make) {
    return Open(nullptr, templateId, make);
}

void TerminalHost::MessageBox(const std::string& text, const std::string& caption) {
    Box(nullptr, text, caption);
}

void TerminalHost::Wait(uint32_t milliseconds) {
    std::this_thread::sleep_for(
        std::max<std::chrono::nanoseconds>(std::chrono::milliseconds(milliseconds), shortestWait_));
}

int TerminalHost::Open(TerminalPage* owner, uint32_t templateId, const PageMaker& make) {
    history_.push_back({templateId, {}});
    user_.Opening(owner, templateId);
    TerminalPage page(*this, templateId);
    std::unique_ptr<PageController> controller = make(page);
    return page.Run(*controller);
}

void TerminalHost::Box(TerminalPage* owner, const std::string& text, const std::string& caption) {
    history_.push_back({0, text});
    user_.Opening(owner, 0);
    terminal_.KeepStatus();
    PrintMessageBox(terminal_, caption, text);
    events_->Box(caption, text);
    user_.Boxed(owner, text);
}

bool TerminalHost::Showed(uint32_t templateId) const {
    return std::any_of(history_.begin(), history_.end(),
                       [&](const Shown& shown) { return shown.templateId == templateId; });
}

bool TerminalHost::ShowedBox(const std::string& text) const {
    return std::any_of(history_.begin(), history_.end(),
                       [&](const Shown& shown) { return shown.templateId == 0 && shown.text == text; });
}

TerminalPage::TerminalPage(TerminalHost& host, uint32_t templateId)
    : host_(host), templateId_(templateId), window_(host.Loop(), *this) {
    if (const DialogTemplate* dialog = FindDialogTemplate(templateId)) {
        for (const ControlTemplate& control : dialog->controls) {
            enabled_[control.id] = control.enabled;
            shown_[control.id] = control.visible;
        }
    }
}

int TerminalPage::Run(PageController& controller) {
    controller_ = &controller;
    controller.Init();
    // What the page shows once it is open: its caption and its texts as the
    // controller left them. The progress pages write as they go, the
    // information pages their columns when they are filled, and the menu
    // only offers its buttons.
    if (!IsProgressPage(templateId_) && !IsInfoPage(templateId_) && templateId_ != dialog_id::kMainMenu) {
        PrintTexts();
    }
    ReportOpened();
    opened_ = true;
    host_.User().Opened(*this);
    window_.ArmTimer(kUserTimer, kUserTimerMs);
    int result = Loop().RunModal(window_);
    controller.Destroy();
    Out().KeepStatus();
    host_.User().Ended(*this, result);
    controller_ = nullptr;
    return result;
}

std::string TerminalPage::Text(uint32_t control) const {
    auto it = texts_.find(control);
    return it != texts_.end() ? it->second : DialogText(templateId_, control);
}

bool TerminalPage::Enabled(uint32_t control) const {
    auto it = enabled_.find(control);
    return it != enabled_.end() && it->second;
}

bool TerminalPage::Shown(uint32_t control) const {
    auto it = shown_.find(control);
    return it != shown_.end() && it->second;
}

bool TerminalPage::IsChecked(uint32_t control) const {
    auto it = checked_.find(control);
    return it != checked_.end() && it->second;
}

void TerminalPage::Press(uint32_t control) {
    window_.Post(kCommandMessage, control, 0);
}

void TerminalPage::PressEscape() {
    window_.Post(kCommandMessage, kEscapeCommand, 0);
}

std::vector<std::string> TerminalPage::ShownTexts() const {
    std::vector<std::string> texts;
    const DialogTemplate* dialog = FindDialogTemplate(templateId_);
    if (dialog == nullptr) {
        return texts;
    }
    for (const ControlTemplate& control : dialog->controls) {
        if (!IsTextKind(control.kind) || !Shown(control.id) || Text(control.id).empty()) {
            continue;
        }
        auto pair = std::find_if(std::begin(kLabelValues), std::end(kLabelValues), [&](const auto& p) {
            return p.first == control.id || p.second == control.id;
        });
        if (pair == std::end(kLabelValues)) {
            texts.push_back(Text(control.id));
        } else if (pair->first == control.id) {
            std::string label = Text(control.id);
            while (!label.empty() && label.back() == ' ') {
                label.pop_back();
            }
            texts.push_back("  " + label + " " + (Shown(pair->second) ? Text(pair->second) : std::string()));
        }
    }
    return texts;
}

void TerminalPage::PrintTexts() {
    Terminal& out = Out();
    out.KeepStatus();
    out.Line(IsBox(templateId_) ? "[" + Text(0) + "]" : "== " + Text(0) + " ==");
    for (const std::string& text : ShownTexts()) {
        out.Block(text);
    }
}

void TerminalPage::ReportOpened() {
    FlashEvents& events = Events();
    if (!events.On()) {
        return;
    }
    events.Page(templateId_, Text(0), ShownTexts());
    if (templateId_ == dialog_id::kReason) {
        // One reason a line, as the dialog lists them.
        std::vector<std::string> reasons;
        const std::string list = Text(kReasonList);
        size_t start = 0;
        while (start < list.size()) {
            size_t end = std::min(list.find('\n', start), list.size());
            if (end > start) {
                reasons.push_back(list.substr(start, end - start));
            }
            start = end + 1;
        }
        events.Refused(Text(kReasonHeading), reasons);
    }
}

void TerminalPage::PrintColumns() {
    bool anyValue = false;
    for (const ColumnRow& row : kColumnRows) {
        anyValue = anyValue || Shown(row.left) || Shown(row.right);
    }
    if (columnsPrinted_ || !anyValue) {
        return;
    }
    columnsPrinted_ = true;
    auto value = [&](uint32_t control) { return Shown(control) ? Text(control) : std::string(); };
    constexpr size_t kLabel = 16;
    constexpr size_t kColumn = 30;
    Terminal& out = Out();
    out.KeepStatus();
    out.Line(Padded("", kLabel) + Padded(Text(kLeftHeading), kColumn) + Text(kRightHeading));
    std::vector<std::string> labels;
    std::vector<std::string> left;
    std::vector<std::string> right;
    for (const ColumnRow& row : kColumnRows) {
        out.Line(Padded(Text(row.label), kLabel) + Padded(value(row.left), kColumn) + value(row.right));
        labels.push_back(Text(row.label));
        left.push_back(value(row.left));
        right.push_back(value(row.right));
    }
    Events().Write(EventLine("columns")
                       .Text("handheld_heading", Text(kLeftHeading))
                       .Text("image_heading", Text(kRightHeading))
                       .Texts("labels", labels)
                       .Texts("handheld", left)
                       .Texts("image", right));
}

int TerminalPage::OpenDialog(uint32_t templateId, const PageMaker& make) {
    if (IsInfoPage(templateId_)) {
        PrintColumns();
    }
    return host_.Open(this, templateId, make);
}

void TerminalPage::MessageBox(const std::string& text, const std::string& caption) {
    if (IsInfoPage(templateId_)) {
        PrintColumns();
    }
    host_.Box(this, text, caption);
}

void TerminalPage::UnownedMessageBox(const std::string& text, const std::string& caption) {
    host_.Box(this, text, caption);
}

void TerminalPage::SetTitle(const std::string& text) {
    texts_[0] = text;
    if (IsProgressPage(templateId_)) {
        Out().KeepStatus();
        Out().Line("== " + text + " ==");
    }
}

void TerminalPage::SetText(uint32_t control, const std::string& text) {
    texts_[control] = text;
    if (!IsProgressPage(templateId_)) {
        return;
    }
    if (control == 1011) {  // the status line
        Redraw();
    } else if (control != 1000) {  // the final button's label is read when it is pressed
        Out().KeepStatus();
        Out().Block(text);
    }
}

void TerminalPage::ShowControl(uint32_t control, bool shown) {
    shown_[control] = shown;
    if (IsProgressPage(templateId_)) {
        if (control == 1011 && !shown) {
            Out().KeepStatus();
        } else {
            Redraw();
        }
    }
}

void TerminalPage::EnableControl(uint32_t control, bool enabled) {
    bool was = Enabled(control);
    enabled_[control] = enabled;
    if (enabled && !was && opened_) {
        host_.User().Enabled(*this, control);
    }
}

void TerminalPage::SetBar(uint32_t control, uint32_t percent) {
    bars_[control] = percent;
    Redraw();
}

void TerminalPage::Redraw() {
    std::string line;
    auto bar = [&](uint32_t control, const char* name, int width) {
        if (!Shown(control)) {
            return;
        }
        uint32_t percent = bars_[control] > 100 ? 100 : bars_[control];
        line += std::string(name) + " " + Bar(percent, width) + " " + std::to_string(percent) + "%  ";
    };
    bar(1007, "all", 24);
    bar(1010, "part", 12);
    const std::string status = Shown(1011) ? Text(1011) : std::string();
    Out().Status(line + status, false);
    auto percent = [&](uint32_t control) { return std::min<uint32_t>(bars_[control], 100); };
    Events().Progress(templateId_ == dialog_id::kUpdateProgress ? "update" : "backup", percent(1007),
                      Shown(1010) ? std::optional<uint32_t>(percent(1010)) : std::nullopt,
                      StatusWords(status));
}

void TerminalPage::Beep(uint32_t) {
    host_.User().Beeped(*this);
}

void TerminalPage::EndDialog(int result) {
    if (IsInfoPage(templateId_)) {
        PrintColumns();
    }
    window_.EndModal(result);
}

std::optional<std::string> TerminalPage::AskFileName(const FileQuestion& question) {
    return host_.User().ChooseFile(*this, question);
}

uint32_t TerminalPage::OpenInBrowser(const std::string& target) {
    Out().Line("Additional help: " + target);
    return 0;
}

void TerminalPage::OnTimer(uint32_t id) {
    if (id == kUserTimer) {
        host_.User().Tick(*this);
    } else if (controller_ != nullptr) {
        controller_->OnTimer(id);
    }
}

void TerminalPage::OnMessage(uint32_t message, uint32_t wParam, uint32_t lParam) {
    if (controller_ == nullptr) {
        return;
    }
    if (message != kCommandMessage) {
        controller_->OnMessage(message, wParam, lParam);
    } else if (wParam == kEscapeCommand) {
        controller_->OnEscape();
    } else {
        controller_->OnCommand(wParam);
    }
}

}  // namespace nuva
