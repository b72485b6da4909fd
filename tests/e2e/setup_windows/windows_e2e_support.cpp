#include "tests/e2e/setup_windows/windows_e2e_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <thread>

#include "setup/windows/app/qt_program_host.h"
#include "setup/device/image_files.h"
#include "setup/link/handheld_port.h"
#include "setup/windows/desktop_services.h"
#include "setup/windows/template_dialog.h"

namespace setup_windows_e2e {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// How often the user looks at the screen.
constexpr auto kLookPeriod = std::chrono::milliseconds(20);
// Bounds that only a hung program reaches: a whole run at the tests' time
// scale takes seconds, a page's wait far less.
constexpr auto kRunLimit = std::chrono::minutes(3);
constexpr auto kPageLimit = std::chrono::minutes(2);
constexpr auto kRomLimit = std::chrono::minutes(2);
// Where a progress page is pictured while it copies, in percent.
constexpr int kProgressPictured = 20;

// A page's window is named after its page ("UpdateInfoWindow"); the user
// calls it "update-info", and so do its pictures.
std::string PageName(const QString& windowName) {
    QString name = windowName;
    if (name.endsWith(QLatin1String("Window"))) {
        name.chop(6);
    }
    std::string words;
    for (QChar c : name) {
        if (c.isUpper() && !words.empty()) {
            words += '-';
        }
        words += static_cast<char>(c.toLower().unicode());
    }
    return words;
}

// The program's own windows and the desktop dialogs it asks for; anything
// else (a completer's list, a menu) is part of one of them.
std::string WindowName(QWidget* window) {
    if (dynamic_cast<nuva::TemplateDialog*>(window) != nullptr) {
        return PageName(window->objectName());
    }
    if (window->objectName() == QLatin1String(nuva::kMessageBoxName)) {
        return "message-box";
    }
    if (window->objectName() == QLatin1String(nuva::kFileQuestionName)) {
        return "file-question";
    }
    if (qobject_cast<QMessageBox*>(window) != nullptr) {
        return "question";
    }
    return "";
}

std::string PicturesFolder(const std::string& scenario) {
    return std::string(NUVA_TEST_PICTURES) + "/" + scenario;
}

}  // namespace

std::string Meeting::Said(uint32_t control, const std::string& moment) const {
    auto reading = readings.find(moment);
    if (reading == readings.end()) {
        return "(not shown)";
    }
    auto text = reading->second.texts.find(control);
    return text == reading->second.texts.end() ? "(not shown)" : text->second;
}

std::string Meeting::Title(const std::string& moment) const {
    auto reading = readings.find(moment);
    return reading == readings.end() ? "" : reading->second.title;
}

class UserRobot::Watcher final : public QObject {
  public:
    explicit Watcher(UserRobot& robot) : robot_(robot) {}

    bool eventFilter(QObject* object, QEvent* event) override {
        const bool shown = event->type() == QEvent::Show;
        if ((shown || event->type() == QEvent::Hide) && !event->spontaneous() && object->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(object);
            if (widget->isWindow()) {
                std::string name = WindowName(widget);
                if (name.empty()) {
                    return false;
                }
                if (shown) {
                    robot_.Met(widget, name);
                } else {
                    robot_.Closed(widget);
                }
            }
        }
        return false;
    }

  private:
    UserRobot& robot_;
};

UserRobot::UserRobot(std::string scenario, UserPlan plan)
    : scenario_(std::move(scenario)),
      plan_(std::move(plan)),
      watcher_(std::make_unique<Watcher>(*this)),
      look_(std::make_unique<QTimer>()) {
    look_->setSingleShot(true);
    QObject::connect(look_.get(), &QTimer::timeout, [this] { Tick(); });
}

UserRobot::~UserRobot() {
    Stop();
}

void UserRobot::On(const std::string& name, Handler handler) {
    handlers_[name] = std::move(handler);
}

void UserRobot::Start() {
    std::error_code ignored;
    fs::remove_all(PicturesFolder(scenario_), ignored);
    fs::create_directories(PicturesFolder(scenario_));
    qApp->installEventFilter(watcher_.get());
    started_ = Clock::now();
    running_ = true;
    look_->start(kLookPeriod);
}

void UserRobot::Stop() {
    if (!running_) {
        return;
    }
    running_ = false;
    look_->stop();
    qApp->removeEventFilter(watcher_.get());
}

void UserRobot::Met(QWidget* window, const std::string& name) {
    if (Current(window) != nullptr) {
        return;  // the same showing, told twice
    }
    Meeting meeting;
    meeting.name = name;
    meeting.window = window;
    meeting.number = static_cast<int>(journal_.size()) + 1;
    meeting.showing = Count(name) + 1;
    meeting.since = Clock::now();
    journal_.push_back(std::move(meeting));
}

void UserRobot::Closed(QWidget* window) {
    Meeting* meeting = Current(window);
    if (meeting == nullptr) {
        return;
    }
    // A window that went before the user settled on it is pictured as it
    // ended (a page that ended itself under a message box, say).
    if (meeting->readings.empty()) {
        Read(*meeting);
    }
    meeting->closed = true;
}

Meeting* UserRobot::Current(QWidget* window) {
    for (auto it = journal_.rbegin(); it != journal_.rend(); ++it) {
        if (!it->closed && it->window == window) {
            return &*it;
        }
    }
    return nullptr;
}

void UserRobot::Tick() {
    if (!running_) {
        return;
    }
    // The next look is due whatever this one does: a click that opens a
    // modal dialog returns only when that dialog has gone.
    look_->start(kLookPeriod);
    if (givenUp_) {
        Unwind();
        return;
    }
    if (Clock::now() - started_ > kRunLimit) {
        GiveUp("The program was still running after " + std::to_string(kRunLimit.count()) + " minutes");
        return;
    }
    QWidget* front = QApplication::activeModalWidget();
    Meeting* meeting = front == nullptr ? nullptr : Current(front);
    if (meeting == nullptr) {
        return;
    }
    if (Clock::now() - meeting->since > kPageLimit) {
        GiveUp(meeting->name + " was still in front after " + std::to_string(kPageLimit.count()) +
               " minutes");
        return;
    }
    if (meeting->acted) {
        return;
    }
    auto handler = handlers_.find(meeting->name);
    if (handler != handlers_.end()) {
        handler->second(*meeting);
    } else {
        Usual(*meeting);
    }
}

void UserRobot::GiveUp(const std::string& why) {
    if (!givenUp_) {
        ADD_FAILURE() << why << "\n" << Story();
    }
    givenUp_ = true;
}

void UserRobot::Unwind() {
    // The window in front first; a page that hid itself and still runs when
    // nothing is in front.
    QWidget* front = QApplication::activeModalWidget();
    if (auto* page = dynamic_cast<nuva::TemplateDialog*>(front)) {
        page->EndDialog(-1);
        return;
    }
    if (auto* dialog = qobject_cast<QDialog*>(front)) {
        dialog->reject();
        return;
    }
    for (QWidget* widget : QApplication::allWidgets()) {
        if (auto* page = dynamic_cast<nuva::TemplateDialog*>(widget); page != nullptr && page->Running()) {
            page->EndDialog(-1);
        }
    }
}

QWidget* UserRobot::Control(const Meeting& meeting, uint32_t control) {
    auto* page = dynamic_cast<nuva::TemplateDialog*>(meeting.window.data());
    return page == nullptr ? nullptr : page->Control(control);
}

bool UserRobot::Usable(const Meeting& meeting, uint32_t control) {
    QWidget* widget = Control(meeting, control);
    return widget != nullptr && widget->isVisible() && widget->isEnabled();
}

std::string UserRobot::Text(const Meeting& meeting, uint32_t control) {
    QWidget* widget = Control(meeting, control);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return label->text().toStdString();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        return button->text().toStdString();
    }
    if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        return group->title().toStdString();
    }
    return "";
}

int UserRobot::Percent(const Meeting& meeting) {
    // "Copying files...37 %", "Copying files and saving ROM image ... 37%".
    const std::string status = Text(meeting, 1011);
    const size_t sign = status.rfind('%');
    if (sign == std::string::npos || sign == 0) {
        return -1;
    }
    size_t start = status.find_last_not_of(' ', sign - 1);
    if (start == std::string::npos) {
        return -1;
    }
    const size_t end = start + 1;
    while (start > 0 && std::isdigit(static_cast<unsigned char>(status[start - 1])) != 0) {
        --start;
    }
    if (start == end || std::isdigit(static_cast<unsigned char>(status[start])) == 0) {
        return -1;
    }
    return std::stoi(status.substr(start, end - start));
}

void UserRobot::Read(Meeting& meeting, const std::string& moment) {
    QWidget* window = meeting.window;
    if (window == nullptr) {
        return;
    }
    Reading reading;
    reading.title = window->windowTitle().toStdString();
    if (dynamic_cast<nuva::TemplateDialog*>(window) != nullptr) {
        for (QWidget* child : window->findChildren<QWidget*>()) {
            const uint32_t control = child->property("controlId").toUInt();
            if (control != 0 && child->isVisibleTo(window)) {
                reading.texts[control] = Text(meeting, control);
                reading.enabled[control] = child->isEnabled();
            }
        }
    } else if (auto* box = qobject_cast<QMessageBox*>(window)) {
        reading.texts[0] = box->text().toStdString();
    } else if (auto* files = qobject_cast<QFileDialog*>(window)) {
        if (auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
            reading.texts[0] = name->text().toStdString();
        }
        reading.folder = files->directory().absolutePath().toStdString();
    }
    meeting.readings[moment] = std::move(reading);
    char number[8];
    std::snprintf(number, sizeof number, "%02d-", meeting.number);
    const std::string file = PicturesFolder(scenario_) + "/" + number + meeting.name +
                             (moment.empty() ? "" : "-" + moment) + ".png";
    EXPECT_TRUE(window->grab().save(QString::fromStdString(file))) << file;
}

void UserRobot::Click(Meeting& meeting, uint32_t control) {
    QWidget* widget = Control(meeting, control);
    if (widget == nullptr) {
        GiveUp(meeting.name + " has no control " + std::to_string(control));
        return;
    }
    meeting.acted = true;
    QTest::mouseClick(widget, Qt::LeftButton);
}

void UserRobot::Usual(Meeting& m) {
    // Each page: wait for the button that moves on (its start checks have
    // passed then), read it, click.
    auto forward = [&](uint32_t ready, uint32_t button) {
        if (Usable(m, ready) && Usable(m, button)) {
            Read(m);
            Click(m, button);
        }
    };
    const auto planned = [&](const std::vector<uint32_t>& buttons, uint32_t otherwise) {
        return m.showing <= static_cast<int>(buttons.size()) ? buttons[static_cast<size_t>(m.showing - 1)]
                                                             : otherwise;
    };
    if (m.name == "main-menu") {
        forward(1025, planned(plan_.menu, 2));
    } else if (m.name == "backup-notice") {
        forward(1026, 1026);
    } else if (m.name == "update-info") {
        if (!Usable(m, 1003)) {
            return;
        }
        auto* box = qobject_cast<QCheckBox*>(Control(m, 1039));
        if (box != nullptr && box->isEnabled() && box->isChecked() != plan_.backupWanted) {
            QTest::mouseClick(box, Qt::LeftButton);
            return;  // Next on the next look, with the box as wanted
        }
        Read(m);
        Click(m, 1003);
    } else if (m.name == "erase-caution" || m.name == "backup-complete" || m.name == "connection-lost" ||
               m.name == "wrong-model" || m.name == "about") {
        forward(1, 1);
    } else if (m.name == "os-change-notice") {
        forward(1036, 1036);
    } else if (m.name == "backup-required") {
        forward(1037, 1037);
    } else if (m.name == "backup-restore-choice") {
        forward(1037, planned(plan_.choice, 1035));
    } else if (m.name == "backup-confirm") {
        forward(1037, 1037);
    } else if (m.name == "restore-info") {
        forward(1066, 1066);
    } else if (m.name == "reason" || m.name == "completion-notice") {
        forward(2, 2);
    } else if (m.name == "update-progress") {
        AnswerProgress(m, 1000);
    } else if (m.name == "backup-progress") {
        // Nothing to press: the run ends with its own notice.
        AnswerProgress(m, 0);
    } else if (m.name == "message-box" || m.name == "question") {
        auto* box = qobject_cast<QMessageBox*>(m.window.data());
        QAbstractButton* button = box->button(m.name == "message-box" ? QMessageBox::Ok
                                              : plan_.replace         ? QMessageBox::Yes
                                                                      : QMessageBox::No);
        if (button == nullptr) {
            GiveUp(m.name + " without the button the user wants");
            return;
        }
        Read(m);
        m.acted = true;
        QTest::mouseClick(button, Qt::LeftButton);
    } else if (m.name == "file-question") {
        AnswerFileQuestion(m);
    } else {
        GiveUp("The user does not know what to do on " + m.name);
    }
}

void UserRobot::AnswerProgress(Meeting& m, uint32_t finalButton) {
    // Pictured once while it copies (the bars are up and the status line
    // counts, some way into the run), and once more when it offers its final
    // button.
    if (m.step == 0 && Usable(m, 1007) && Percent(m) >= kProgressPictured) {
        Read(m);
        m.step = 1;
    }
    if (finalButton != 0 && Usable(m, finalButton)) {
        Read(m, "done");
        Click(m, finalButton);
    }
}

void UserRobot::AnswerFileQuestion(Meeting& m) {
    auto* dialog = qobject_cast<QFileDialog*>(m.window.data());
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    if (name == nullptr || buttons == nullptr) {
        GiveUp("A file dialog without its name field or buttons");
        return;
    }
    if (m.step == 0) {
        if (filesTyped_ >= plan_.fileNames.size()) {
            GiveUp("The user has no file name for this file dialog");
            return;
        }
        // What the dialog proposes is read before the user types over it.
        Read(m);
        name->setFocus();
        name->selectAll();
        QTest::keyClicks(name, QString::fromStdString(plan_.fileNames[filesTyped_++]));
        // The completer's list may have opened over the dialog.
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
        }
        m.step = 1;
        return;
    }
    QPushButton* accept = buttons->button(
        dialog->acceptMode() == QFileDialog::AcceptSave ? QDialogButtonBox::Save : QDialogButtonBox::Open);
    if (accept != nullptr && accept->isEnabled()) {
        m.acted = true;
        QTest::mouseClick(accept, Qt::LeftButton);
    }
}

std::vector<std::string> UserRobot::Names() const {
    std::vector<std::string> names;
    for (const Meeting& meeting : journal_) {
        names.push_back(meeting.name);
    }
    return names;
}

const Meeting* UserRobot::Find(const std::string& name, int showing) const {
    for (const Meeting& meeting : journal_) {
        if (meeting.name == name && meeting.showing == showing) {
            return &meeting;
        }
    }
    return nullptr;
}

int UserRobot::Count(const std::string& name) const {
    int count = 0;
    for (const Meeting& meeting : journal_) {
        count += meeting.name == name ? 1 : 0;
    }
    return count;
}

std::string UserRobot::Story() const {
    std::string story = "Windows met in " + scenario_ + ":";
    for (const Meeting& meeting : journal_) {
        story += "\n  " + std::to_string(meeting.number) + ". " + meeting.name;
        for (const auto& [moment, reading] : meeting.readings) {
            story +=
                "\n    " + (moment.empty() ? std::string("read") : moment) + ": \"" + reading.title + "\"";
            for (const auto& [control, text] : reading.texts) {
                story += "\n      " + std::to_string(control) + ": " + text;
            }
        }
    }
    return story;
}

std::vector<flash_e2e::StorageFile> UserFiles() {
    return {{u"Contacts.cdb", flash_e2e::Bytes(3000, 0x5A)},
            {u"Notes.pwi", flash_e2e::Bytes{'m', 'e', 'e', 't', ' ', '9'}}};
}

bool SameFiles(const std::vector<flash_e2e::StorageFile>& a, const std::vector<flash_e2e::StorageFile>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const flash_e2e::StorageFile& x, const flash_e2e::StorageFile& y) {
                          return x.name == y.name && x.data == y.data;
                      });
}

void SetupWindowsE2E::SetUp() {
    FlashE2E::SetUp();
    fs::create_directories(Documents());
    // The Save As and Open dialogs start in the documents folder, and Qt's
    // own settings stay in the test's folder.
    ::setenv("XDG_DOCUMENTS_DIR", Documents().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", Path("config").c_str(), 1);
    nuva::PrepareApplication();
}

bool SetupWindowsE2E::WaitForLink() {
    const auto end = Clock::now() + kRomLimit;
    while (Clock::now() < end) {
        const std::string status = Status();
        if (flash_e2e::JsonField(status, "started") == "true" &&
            flash_e2e::JsonField(status, "link") == "true") {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

int SetupWindowsE2E::RunSetup(const std::string& installation, UserRobot& robot) {
    // As at the desk: the handheld has started and sits on its cable before
    // the user starts Setup, whose connection test lasts about a second.
    EXPECT_TRUE(WaitForLink()) << Status();
    // The cable the program's RAPI reaches: this test's handheld.
    EXPECT_EQ(::setenv("NUVA_LINK", handheld_->CableEndpoint().c_str(), 1), 0);
    nuva::QtProgramHost host;
    nuva::RapiHandheldPort port;
    nuva::InstalledImageFiles images;
    nuva::MonitorLink link;
    nuva::SetupProgram program(host, port, images, link);
    robot.Start();
    const int result = program.Run({installation + "/Setup", "Setup"});
    robot.Stop();
    lastRun_ = program.LastRun();
    return result;
}

bool SetupWindowsE2E::WaitForRom(const nuva::imagegen::ImageSpec& spec) {
    const auto end = Clock::now() + kRomLimit;
    while (Clock::now() < end) {
        const std::string status = Status();
        if (flash_e2e::JsonField(status, "started") == "true" &&
            flash_e2e::JsonField(status, "restarting") == "false" &&
            flash_e2e::JsonField(status, "running") == "null" && RomIdentity() == Identity(spec)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

std::string SetupWindowsE2E::BootGeneration() {
    return flash_e2e::JsonField(Status(), "boot_generation");
}

}  // namespace setup_windows_e2e
