#include "setup/windows/template_dialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <functional>
#include <limits>
#include <span>
#include <utility>

#include "platform/clock/clock.h"
#include "setup/resources/dialog_ids.h"
#include "setup/windows/desktop_services.h"
#include "setup/windows/page_messages.h"
#include "setup/windows/qt_texts.h"

namespace nuva {

namespace {

// A static text that reports clicks: the help link.
class LinkLabel final : public QLabel {
  public:
    LinkLabel(QWidget* parent, std::function<void()> clicked) : QLabel(parent), clicked_(std::move(clicked)) {
        setCursor(Qt::PointingHandCursor);
    }

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
            clicked_();
        }
        QLabel::mouseReleaseEvent(event);
    }

  private:
    std::function<void()> clicked_;
};

const DialogTemplate& TemplateOf(uint32_t templateId) {
    const DialogTemplate* found = FindDialogTemplate(templateId);
    if (found == nullptr) {
        qFatal("No dialog template %u", templateId);
    }
    return *found;
}

Qt::WindowFlags WindowFlagsOf(const DialogTemplate& dialog) {
    // Only what the template asks for: a title, and the close box with the
    // system menu. Without it the window cannot be closed from its frame.
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (dialog.systemMenu) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    return flags;
}

QString FromText(const std::string& text) {
    return QString::fromStdString(text);
}

QPixmap PicturePixmap(uint32_t pictureId) {
    std::span<const uint8_t> bytes = PictureBytes(pictureId);
    QPixmap pixmap;
    pixmap.loadFromData(bytes.data(), static_cast<uint>(bytes.size()), "PNG");
    return pixmap;
}

Qt::Alignment AlignmentOf(TextAlign align) {
    switch (align) {
        case TextAlign::kCentre:
            return Qt::AlignHCenter | Qt::AlignTop;
        case TextAlign::kRight:
            return Qt::AlignRight | Qt::AlignTop;
        case TextAlign::kLeft:
            break;
    }
    return Qt::AlignLeft | Qt::AlignTop;
}

bool TakesFocus(ControlKind kind) {
    return kind == ControlKind::kButton || kind == ControlKind::kDefaultButton ||
           kind == ControlKind::kCheckBox;
}

uint32_t ControlIdOf(const QWidget* widget) {
    return widget->property("controlId").toUInt();
}

// A nominal period on the scaled clock, in whole milliseconds rounded up, so
// that a short period never becomes shorter than a longer one's.
int ScaledIntervalMs(uint32_t periodMs) {
    auto ms = (ScaledMs(periodMs).count() + 999'999) / 1'000'000;
    return static_cast<int>(std::clamp<decltype(ms)>(ms, 0, std::numeric_limits<int>::max()));
}

}  // namespace

template <class Call>
void TemplateDialog::Deliver(Call call) {
    if (controller_ != nullptr && !ended_) {
        call(*controller_);
    }
}

void TemplateDialog::Command(uint32_t control) {
    Deliver([control](PageController& page) { page.OnCommand(control); });
}

TemplateDialog::TemplateDialog(uint32_t templateId, QWidget* owner)
    : QDialog(owner), template_(TemplateOf(templateId)), units_(DialogUnits::ForFont(font())), nested_(this) {
    RegisterPageMessages();
    setWindowFlags(WindowFlagsOf(template_));
    setWindowIcon(QIcon(PicturePixmap(dialog_id::kIconSetup)));
    setFixedSize(units_.X(template_.width), units_.Y(template_.height));
    setMouseTracking(true);
    installEventFilter(this);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    BuildControls();
    ResetToTemplate();
}

TemplateDialog::~TemplateDialog() {
    CloseMailbox();
}

void TemplateDialog::BuildControls() {
    controls_.reserve(template_.controls.size());
    for (const ControlTemplate& layout : template_.controls) {
        QRect place = units_.Rect(layout.x, layout.y, layout.width, layout.height);
        QWidget* widget = nullptr;
        const uint32_t id = layout.id;
        switch (layout.kind) {
            case ControlKind::kText:
            case ControlKind::kLink: {
                QLabel* label = layout.kind == ControlKind::kLink
                                    ? new LinkLabel(this, [this, id] { Command(id); })
                                    : new QLabel(this);
                label->setTextFormat(Qt::PlainText);
                label->setWordWrap(true);
                label->setAlignment(AlignmentOf(layout.align));
                widget = label;
                break;
            }
            case ControlKind::kButton:
            case ControlKind::kDefaultButton: {
                auto* button = new QPushButton(this);
                button->setDefault(layout.kind == ControlKind::kDefaultButton);
                connect(button, &QPushButton::clicked, this, [this, id] { Command(id); });
                widget = button;
                break;
            }
            case ControlKind::kCheckBox: {
                auto* box = new QCheckBox(this);
                connect(box, &QCheckBox::clicked, this, [this, id] { Command(id); });
                widget = box;
                break;
            }
            case ControlKind::kGroupBox:
                widget = new QGroupBox(this);
                break;
            case ControlKind::kPicture: {
                auto* picture = new QLabel(this);
                QPixmap pixmap = PicturePixmap(layout.picture);
                // The pictures are drawn for the classic dialog font; with a
                // smaller one they must shrink to stay in their place.
                if (pixmap.width() > place.width() || pixmap.height() > place.height()) {
                    pixmap = pixmap.scaled(place.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
                }
                picture->setPixmap(pixmap);
                picture->setAlignment(Qt::AlignCenter);
                widget = picture;
                break;
            }
            case ControlKind::kProgressBar: {
                auto* bar = new QProgressBar(this);
                bar->setRange(0, 100);
                bar->setTextVisible(false);
                widget = bar;
                break;
            }
        }
        widget->setGeometry(place);
        widget->setObjectName(QStringLiteral("control-%1").arg(id));
        widget->setProperty("controlId", id);
        widget->setMouseTracking(true);
        widget->installEventFilter(this);
        controls_.push_back({layout, widget, false});
    }
    for (size_t i = 0; i < controls_.size(); ++i) {
        ControlWidget& control = controls_[i];
        if (control.layout.kind == ControlKind::kGroupBox) {
            // A frame lies behind the controls it surrounds.
            control.widget->lower();
        }
        if (control.layout.kind != ControlKind::kText) {
            continue;
        }
        // A text's mnemonic reaches the control that follows it.
        auto next = std::find_if(controls_.begin() + static_cast<std::ptrdiff_t>(i) + 1, controls_.end(),
                                 [](const ControlWidget& other) { return TakesFocus(other.layout.kind); });
        if (next != controls_.end()) {
            static_cast<QLabel*>(control.widget)->setBuddy(next->widget);
            control.mnemonicShown = true;
        }
    }
}

void TemplateDialog::ResetToTemplate() {
    setWindowTitle(FromText(DialogText(template_.id, 0)));
    for (const ControlWidget& control : controls_) {
        QWidget* widget = control.widget;
        ApplyText(control, FromText(DialogText(template_.id, control.layout.id)));
        // Back to the dialog's own palette and font.
        widget->setPalette(QPalette());
        widget->setFont(QFont());
        widget->setHidden(!control.layout.visible);
        widget->setEnabled(control.layout.enabled);
        if (auto* box = qobject_cast<QCheckBox*>(widget)) {
            box->setChecked(false);
        } else if (auto* bar = qobject_cast<QProgressBar*>(widget)) {
            bar->setValue(0);
        }
    }
    frames_.clear();
    for (QAction* item : systemItems_) {
        removeAction(item);
        delete item;
    }
    systemItems_.clear();
    update();
}

void TemplateDialog::ApplyText(const ControlWidget& control, const QString& text) {
    switch (control.layout.kind) {
        case ControlKind::kText:
        case ControlKind::kLink:
            // A label only shows its mnemonic when a key can reach a control
            // through it; otherwise it reads as the text without the marks.
            static_cast<QLabel*>(control.widget)
                ->setText(control.mnemonicShown ? text : StripMnemonics(text));
            break;
        case ControlKind::kButton:
        case ControlKind::kDefaultButton:
        case ControlKind::kCheckBox:
            static_cast<QAbstractButton*>(control.widget)->setText(text);
            break;
        case ControlKind::kGroupBox:
            static_cast<QGroupBox*>(control.widget)->setTitle(text);
            break;
        case ControlKind::kPicture:
        case ControlKind::kProgressBar:
            // Their text only describes them.
            break;
    }
    control.widget->setAccessibleName(StripMnemonics(text));
}

const TemplateDialog::ControlWidget* TemplateDialog::Find(uint32_t id) const {
    auto found = std::find_if(controls_.begin(), controls_.end(),
                              [id](const ControlWidget& control) { return control.layout.id == id; });
    return found == controls_.end() ? nullptr : &*found;
}

QWidget* TemplateDialog::Control(uint32_t id) const {
    const ControlWidget* control = Find(id);
    return control == nullptr ? nullptr : control->widget;
}

int TemplateDialog::Run(const PageMaker& make) {
    ResetToTemplate();
    initialised_ = false;
    ended_ = false;
    result_ = 0;
    {
        std::lock_guard lock(mailbox_);
        ++showing_;
        mailboxOpen_ = true;
    }
    controller_ = make(*this);
    if (controller_ == nullptr) {
        qFatal("No controller for dialog template %u", template_.id);
    }
    // QDialog::exec() would end its loop when the page hides itself (a
    // progress page does before its last notice), so the modal loop is
    // ours and only EndDialog ends it.
    setAttribute(Qt::WA_ShowModal, true);
    show();  // the first show event initialises the controller
    if (!ended_) {
        QEventLoop loop;
        loop_ = &loop;
        loop.exec(QEventLoop::DialogExec);
        loop_ = nullptr;
    }
    ended_ = true;
    StopTimers();
    CloseMailbox();
    hide();
    controller_->Destroy();
    controller_.reset();
    setResult(result_);
    return result_;
}

void TemplateDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Before the window is on the screen: what the controller sets is what
    // appears, and what it posts to itself arrives once the window is up.
    if (controller_ != nullptr && !initialised_) {
        initialised_ = true;
        controller_->Init();
    }
}

void TemplateDialog::EndDialog(int result) {
    if (controller_ == nullptr) {
        return;
    }
    result_ = result;
    ended_ = true;
    StopTimers();
    CloseMailbox();
    if (loop_ != nullptr) {
        loop_->exit();
    }
}

void TemplateDialog::StopTimers() {
    for (auto& [id, timer] : timers_) {
        timer->stop();
    }
}

void TemplateDialog::CloseMailbox() {
    std::lock_guard lock(mailbox_);
    mailboxOpen_ = false;
}

int TemplateDialog::OpenDialog(uint32_t templateId, const PageMaker& make) {
    return nested_.Open(templateId, make);
}

void TemplateDialog::MessageBox(const std::string& text, const std::string& caption) {
    ShowMessageBox(this, text, caption);
}

void TemplateDialog::UnownedMessageBox(const std::string& text, const std::string& caption) {
    ShowMessageBox(nullptr, text, caption);
}

void TemplateDialog::Post(uint32_t message, uint32_t wParam, uint32_t lParam) {
    if (!IsPageMessageType(message)) {
        qFatal("Message 0x%x cannot be posted as an event", message);
    }
    std::lock_guard lock(mailbox_);
    if (mailboxOpen_) {
        QCoreApplication::postEvent(this, new PageMessageEvent(message, wParam, lParam, showing_));
    }
}

bool TemplateDialog::IsAlive() const {
    std::lock_guard lock(mailbox_);
    return mailboxOpen_;
}

bool TemplateDialog::event(QEvent* event) {
    if (IsPageMessageType(event->type())) {
        if (const auto* message = dynamic_cast<const PageMessageEvent*>(event)) {
            // Only this thread changes the showing, so it reads it unlocked.
            if (message->Showing() == showing_) {
                Deliver([message](PageController& page) {
                    page.OnMessage(message->Message(), message->WParam(), message->LParam());
                });
            }
            return true;
        }
    }
    return QDialog::event(event);
}

void TemplateDialog::ArmTimer(uint32_t id, uint32_t periodMs) {
    if (controller_ == nullptr || ended_) {
        return;
    }
    QTimer*& timer = timers_[id];
    if (timer == nullptr) {
        timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this,
                [this, id] { Deliver([id](PageController& page) { page.OnTimer(id); }); });
    }
    timer->start(ScaledIntervalMs(periodMs));
}

void TemplateDialog::KillTimer(uint32_t id) {
    auto found = timers_.find(id);
    if (found != timers_.end()) {
        found->second->stop();
    }
}

void TemplateDialog::SetTitle(const std::string& text) {
    setWindowTitle(FromText(text));
}

void TemplateDialog::SetText(uint32_t control, const std::string& text) {
    if (const ControlWidget* found = Find(control)) {
        ApplyText(*found, FromText(text));
    }
}

void TemplateDialog::ShowControl(uint32_t control, bool shown) {
    if (QWidget* widget = Control(control)) {
        widget->setVisible(shown);
    }
}

void TemplateDialog::EnableControl(uint32_t control, bool enabled) {
    if (QWidget* widget = Control(control)) {
        widget->setEnabled(enabled);
    }
}

void TemplateDialog::SetChecked(uint32_t control, bool checked) {
    if (auto* box = qobject_cast<QCheckBox*>(Control(control))) {
        box->setChecked(checked);
    }
}

bool TemplateDialog::IsChecked(uint32_t control) const {
    const auto* box = qobject_cast<const QCheckBox*>(Control(control));
    return box != nullptr && box->isChecked();
}

void TemplateDialog::SetBar(uint32_t control, uint32_t percent) {
    if (auto* bar = qobject_cast<QProgressBar*>(Control(control))) {
        bar->setValue(static_cast<int>(std::min<uint32_t>(percent, 100)));
    }
}

void TemplateDialog::SetTextColour(uint32_t control, Rgb colour) {
    QWidget* widget = Control(control);
    if (widget == nullptr) {
        return;
    }
    QColor shade(colour.r, colour.g, colour.b);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, shade);
    palette.setColor(QPalette::ButtonText, shade);
    widget->setPalette(palette);
}

void TemplateDialog::SetUnderlined(uint32_t control) {
    if (QWidget* widget = Control(control)) {
        QFont font = widget->font();
        font.setUnderline(true);
        widget->setFont(font);
    }
}

void TemplateDialog::DrawFrame(uint32_t control, Rgb colour, int grow) {
    if (Find(control) != nullptr) {
        frames_[control] = Frame{QColor(colour.r, colour.g, colour.b), grow};
        update();
    }
}

void TemplateDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    if (frames_.empty()) {
        return;
    }
    QPainter painter(this);
    painter.setBrush(Qt::NoBrush);
    for (const auto& [id, frame] : frames_) {
        QRect around = Control(id)->geometry().adjusted(-frame.grow, -frame.grow, frame.grow, frame.grow);
        painter.setPen(frame.colour);
        // A one-pixel frame on the rectangle's outermost pixels.
        painter.drawRect(around.adjusted(0, 0, -1, -1));
    }
}

void TemplateDialog::AddSystemMenuItem(uint32_t command, const std::string& text) {
    auto* item = new QAction(FromText(text), this);
    connect(item, &QAction::triggered, this, [this, command] { Command(command); });
    addAction(item);
    systemItems_.push_back(item);
}

void TemplateDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1 && !systemItems_.empty()) {
        systemItems_.front()->trigger();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TemplateDialog::reject() {
    Deliver([](PageController& page) { page.OnEscape(); });
}

void TemplateDialog::closeEvent(QCloseEvent* event) {
    // Only EndDialog ends a showing; the close box merely tells the page.
    event->ignore();
    if (template_.systemMenu) {
        Deliver([](PageController& page) { page.OnClose(); });
    }
}

bool TemplateDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        // Every control and the dialog itself are watched. A move is told
        // once, by the widget under the pointer: one that a control passes
        // on to the dialog is not told again.
        auto* widget = static_cast<QWidget*>(watched);
        QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        if (widget != this) {
            at = widget->mapTo(this, at);
        }
        QWidget* under = childAt(at);
        if (under == (widget == this ? nullptr : widget)) {
            uint32_t control = widget == this ? 0 : ControlIdOf(widget);
            Deliver([control](PageController& page) { page.OnPointerOver(control); });
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TemplateDialog::Beep(uint32_t /*type*/) {
    QApplication::beep();
}

void TemplateDialog::HidePage() {
    hide();
}

std::optional<std::string> TemplateDialog::AskFileName(const FileQuestion& question) {
    return ::nuva::AskFileName(this, question);
}

uint32_t TemplateDialog::OpenInBrowser(const std::string& target) {
    return ::nuva::OpenInBrowser(target);
}

void TemplateDialog::Trace(const std::string& line) {
    WriteTrace(line);
}

}  // namespace nuva
