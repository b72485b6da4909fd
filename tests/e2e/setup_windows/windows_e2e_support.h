// Setup's Qt windows run whole inside the test program, against a running
// nuva-handheld: the program's own start-up, main loop and pages, with the
// real connection monitor and the real device link on the cable. Nobody
// answers the pages but a user robot that looks at the window in front every
// 20 ms, as a person at the desk would: it waits until the button it wants
// is enabled and clicks it, ticks boxes, types file names into the Save As
// and Open dialogs, reads what the message boxes say, and takes a picture of
// every window it meets (pictures/<scenario>/<nn>-<window>.png in the build
// tree).
#pragma once

#include <QPointer>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "setup/program/program.h"
#include "tests/e2e/flash/flash_e2e_support.h"

class QTimer;

namespace setup_windows_e2e {

// What a window said when the user read it: its caption, and the texts of
// its visible controls by identifier (a message box's text, and the name a
// file dialog proposes, under 0).
struct Reading {
    std::string title;
    std::map<uint32_t, std::string> texts;
    std::map<uint32_t, bool> enabled;  // of the same controls
    std::string folder;                // the folder a file dialog shows
};

// One showing of a window, in the order the user met them.
struct Meeting {
    // "main-menu", "update-info", ... for the program's pages (by their
    // windows' names); "message-box", "file-question" for the desktop's
    // dialogs, and "question" for a box such a dialog asks itself.
    std::string name;
    QPointer<QWidget> window;
    int number = 0;   // 1 for the first window met
    int showing = 0;  // 1 for the first showing of this name
    // Each reading by its moment: "" once the window has settled (or as it
    // ended, when it went first), "done" for a progress page's end.
    std::map<std::string, Reading> readings;
    int step = 0;        // how far the user has got with it
    bool acted = false;  // the user has done what he came for
    bool closed = false;
    std::chrono::steady_clock::time_point since;

    // A control's text at `moment`, "(not shown)" when it was hidden or the
    // window was not read then.
    std::string Said(uint32_t control, const std::string& moment = "") const;
    std::string Title(const std::string& moment = "") const;
    bool ReadAt(const std::string& moment) const { return readings.count(moment) != 0; }
};

// What the user wants from the program on this occasion.
struct UserPlan {
    // The main menu's button on each of its showings (1025 Update ROM, 1024
    // Backup/Restore ROM); Exit on the showings beyond.
    std::vector<uint32_t> menu;
    // The backup/restore choice's button on each showing (1037 Save ROM,
    // 1038 Restore ROM); Cancel beyond.
    std::vector<uint32_t> choice;
    // The ROM backup box (1039) on the update information page.
    bool backupWanted = false;
    // What is typed into each Save As or Open dialog in turn.
    std::vector<std::string> fileNames;
    // The answer when a Save As dialog asks whether to replace a file.
    bool replace = true;
};

class UserRobot {
  public:
    // What the user does while `meeting` is the window in front and he has
    // not acted on it yet; called on every look.
    using Handler = std::function<void(Meeting& meeting)>;

    // `scenario` names the pictures' folder, which starts empty.
    UserRobot(std::string scenario, UserPlan plan);
    ~UserRobot();
    UserRobot(const UserRobot&) = delete;
    UserRobot& operator=(const UserRobot&) = delete;

    // Another way to answer the windows called `name`.
    void On(const std::string& name, Handler handler);
    // The usual answer to `meeting`, for a handler that only changes a part.
    void Usual(Meeting& meeting);

    // From just before the program starts until it has ended.
    void Start();
    void Stop();

    // Tools of the handlers. A control counts as usable when it is shown
    // and enabled.
    static QWidget* Control(const Meeting& meeting, uint32_t control);
    static bool Usable(const Meeting& meeting, uint32_t control);
    static std::string Text(const Meeting& meeting, uint32_t control);
    // The percentage a progress page's status line shows, or -1.
    static int Percent(const Meeting& meeting);
    // Reads the window (title and texts into the meeting) and pictures it.
    void Read(Meeting& meeting, const std::string& moment = "");
    // Clicks a control of the window with the mouse; the meeting is acted on.
    void Click(Meeting& meeting, uint32_t control);
    // Gives up: fails the test and ends whatever is open so the program
    // returns.
    void GiveUp(const std::string& why);

    // The windows met so far.
    const std::deque<Meeting>& Journal() const { return journal_; }
    std::vector<std::string> Names() const;
    // The `showing`th meeting of `name`, or nullptr.
    const Meeting* Find(const std::string& name, int showing = 1) const;
    int Count(const std::string& name) const;
    // The journal as text, for failure messages.
    std::string Story() const;

  private:
    class Watcher;

    void Tick();
    void Met(QWidget* window, const std::string& name);
    void Closed(QWidget* window);
    Meeting* Current(QWidget* window);
    void Unwind();

    void AnswerFileQuestion(Meeting& meeting);
    void AnswerProgress(Meeting& meeting, uint32_t finalButton);

    std::string scenario_;
    UserPlan plan_;
    std::map<std::string, Handler> handlers_;
    std::deque<Meeting> journal_;
    std::unique_ptr<Watcher> watcher_;
    std::unique_ptr<QTimer> look_;
    bool running_ = false;
    bool givenUp_ = false;
    size_t filesTyped_ = 0;
    std::chrono::steady_clock::time_point started_;
};

// The ROMs of the runs; the demo installation's images are A03.
inline const nuva::imagegen::ImageSpec kA00 =
    flash_e2e::Rom(nuva::imagegen::OsFamily::k2002, "12160200", "A00");
inline const nuva::imagegen::ImageSpec kA02 =
    flash_e2e::Rom(nuva::imagegen::OsFamily::k2003, "03050300", "A02");
inline const nuva::imagegen::ImageSpec kA03 =
    flash_e2e::Rom(nuva::imagegen::OsFamily::k2003, "04100300", "A03");
// The flash a backup reads from 0x40000, by the handheld's generation.
inline constexpr uint32_t k2003Bytes = 0x1980000;
inline constexpr uint32_t k2002Bytes = 0x19C0000;

// The buttons a user presses by their identifiers.
inline constexpr uint32_t kUpdateRom = 1025;
inline constexpr uint32_t kBackupRestoreRom = 1024;
inline constexpr uint32_t kSaveRom = 1037;
inline constexpr uint32_t kRestoreRom = 1038;

using Names = std::vector<std::string>;

// Files of the user's in the built-in storage, and whether two lists hold
// the same files.
std::vector<flash_e2e::StorageFile> UserFiles();
bool SameFiles(const std::vector<flash_e2e::StorageFile>& a, const std::vector<flash_e2e::StorageFile>& b);

// The fixture: a handheld from the flash runs' fixture, and Setup run in
// this process against it with the user robot at the windows.
class SetupWindowsE2E : public flash_e2e::FlashE2E {
  protected:
    void SetUp() override;

    // Runs Setup from `installation` (as <installation>/Setup) until its
    // main loop ends; what it returned.
    int RunSetup(const std::string& installation, UserRobot& robot);
    // The last progress page of the last run.
    const std::optional<nuva::RunRecord>& LastRun() const { return lastRun_; }

    // Waits until the handheld has started again and runs `spec` with no
    // program of the start still running; false after two minutes.
    bool WaitForRom(const nuva::imagegen::ImageSpec& spec);
    std::string BootGeneration();
    // Waits until the handheld has started and its cable link is up; false
    // after two minutes.
    bool WaitForLink();

    // Where the Save As and Open dialogs start (the user's documents).
    std::string Documents() const { return Path("Documents"); }

  private:
    std::optional<nuva::RunRecord> lastRun_;
};

}  // namespace setup_windows_e2e
