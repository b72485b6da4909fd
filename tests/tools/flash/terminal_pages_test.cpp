// The shared dialogs on the terminal: the real controllers, shown by the
// terminal pages, with nuva-flash's user pressing what the command line and
// the typed answers say.
#include "tools/flash/terminal_pages.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "formats/result_codes.h"
#include "platform/clock/clock.h"
#include "setup/frame/dialog_kit.h"
#include "tests/setup/support/fake_handheld_port.h"
#include "tools/flash/flash_user.h"

namespace nuva {
namespace {

using Mode = EraseCautionController::Mode;

// Power answers of the handheld, one per information call; the last repeats.
struct Power {
    uint32_t ac = 1;
    uint32_t battery = 100;
    bool answers = true;
};

class ScriptedPower : public test::FakeHandheldPort {
  public:
    void Script(std::initializer_list<Power> answers) {
        queryAnswers.clear();
        for (const Power& p : answers) {
            DeviceInfo record = info;
            record.AcOnline = p.ac;
            record.BatteryPercent = p.battery;
            queryAnswers.push_back({p.answers ? 0u : kResultFail, record});
        }
        const Power& last = *(answers.end() - 1);
        info.AcOnline = last.ac;
        info.BatteryPercent = last.battery;
        queryResult = last.answers ? 0u : kResultFail;
    }
    int Queries() { return Count("query"); }
};

// A terminal whose output a test can read.
class CapturedTerminal {
  public:
    CapturedTerminal() : file_(std::tmpfile()), terminal_(file_, false) {}
    ~CapturedTerminal() { std::fclose(file_); }
    Terminal& terminal() { return terminal_; }
    std::string Text() {
        std::fflush(file_);
        std::rewind(file_);
        std::string text;
        char buffer[1024];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) {
            text.append(buffer, n);
        }
        return text;
    }

  private:
    std::FILE* file_;
    Terminal terminal_;
};

bool Says(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

class TerminalDialogs : public ::testing::Test {
  protected:
    void SetUp() override { SetTimeScale(0.01); }

    // A pipe whose read end stands for standard input.
    int Input(const std::string& typed, bool close = true) {
        EXPECT_EQ(::pipe(fds_), 0);
        EXPECT_EQ(::write(fds_[1], typed.data(), typed.size()), ssize_t(typed.size()));
        if (close) {
            ::close(fds_[1]);
            fds_[1] = -1;
        }
        return fds_[0];
    }
    void TearDown() override {
        for (int& fd : fds_) {
            if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
        }
    }

    // The caution or the notice as the user of `answers` meets it; the
    // user's verdict in `user`.
    int Caution(Answers& answers, Mode mode, CapturedTerminal& terminal,
                std::optional<int>* failure = nullptr) {
        FlashUser user(FlashOptions{}, answers, device);
        TerminalHost host(loop, terminal.terminal(), user);
        int result = ShowEraseCaution(host, device, mode);
        if (failure != nullptr) {
            *failure = user.Failure();
        }
        return result;
    }
    int Notice(Answers& answers, CapturedTerminal& terminal) {
        FlashUser user(FlashOptions{}, answers, device);
        TerminalHost host(loop, terminal.terminal(), user);
        return ShowOsChangeNotice(host, device);
    }

    ConsoleLoop loop;
    CapturedTerminal out;
    ScriptedPower device;
    int fds_[2] = {-1, -1};
};

TEST_F(TerminalDialogs, CautionWithYesWaitsForTheAdapterThenContinues) {
    device.Script({{0, 80}, {0, 80}, {0, 80}, {1, 80}});
    Answers yes(true, -1);
    std::optional<int> failure;
    EXPECT_EQ(Caution(yes, Mode::kUpdateOrBackup, out, &failure), 1);
    EXPECT_FALSE(failure);
    std::string text = out.Text();
    EXPECT_TRUE(Says(text, "[Caution]\nThe reflash procedure clears all data in your Pocket PC.")) << text;
    EXPECT_TRUE(Says(text, "Do you want to continue? [y/N] y  (--yes)")) << text;
    // Three ticks on battery, the tick that enables Continue, Continue's own
    // query.
    EXPECT_GE(device.Queries(), 5);
}

TEST_F(TerminalDialogs, AdapterPulledBeforeContinueShowsTheReasonAndWaitsForItToComeBack) {
    // The tick sees AC power; Continue's query does not; then it returns.
    device.Script({{1, 80}, {0, 80}, {0, 80}, {1, 80}});
    Answers yes(true, -1);
    std::optional<int> failure;
    EXPECT_EQ(Caution(yes, Mode::kRestore, out, &failure), 1);
    EXPECT_FALSE(failure) << "the AC reason over the caution is not final";
    std::string text = out.Text();
    EXPECT_TRUE(Says(text,
                     "The procedure CANNOT proceed due to the following reason:\n"
                     "* The AC adapter is not connected.\n"))
        << text;
    EXPECT_FALSE(Says(text, "Battery")) << text;
}

TEST_F(TerminalDialogs, BatteryBelowFortyRefusesAndFortyPasses) {
    for (uint32_t battery : {39u, 40u}) {
        SCOPED_TRACE(battery);
        CapturedTerminal terminal;
        device.Script({{1, battery}});
        Answers yes(true, -1);
        std::optional<int> failure;
        EXPECT_EQ(Caution(yes, Mode::kUpdateOrBackup, terminal, &failure), battery < 40 ? 2 : 1);
        EXPECT_EQ(failure, battery < 40 ? std::optional<int>(flash_exit::kRefused) : std::nullopt);
        EXPECT_EQ(Says(terminal.Text(), "* Battery power is less than 40%."), battery < 40)
            << terminal.Text();
    }
}

TEST_F(TerminalDialogs, TypedAnswersDecideAndNoAnswerIsNo) {
    Answers no(false, Input("n\n"));
    std::optional<int> failure;
    EXPECT_EQ(Caution(no, Mode::kUpdateOrBackup, out, &failure), 2);
    EXPECT_EQ(failure, flash_exit::kRefused);
    EXPECT_TRUE(Says(out.Text(), "Cancelled.")) << out.Text();

    TearDown();
    Answers typedYes(false, Input("yes\n"));
    EXPECT_EQ(Notice(typedYes, out), 1);
    EXPECT_TRUE(Says(out.Text(), "2. You lose all built-in storage data")) << out.Text();

    TearDown();
    Answers nothing(false, Input(""));  // standard input at its end
    EXPECT_EQ(Notice(nothing, out), 2);
}

TEST_F(TerminalDialogs, ALostLinkEndsTheNoticeWithFourAndTheCautionWithTwo) {
    int input = Input("", false);  // nobody answers
    Answers waiting(false, input);
    device.connected = 0;
    EXPECT_EQ(Notice(waiting, out), 4);
    // The caution ends with 2 and leaves the news to the next page, as it
    // does when the handheld stops answering while the link flag still
    // says connected.
    std::optional<int> failure;
    EXPECT_EQ(Caution(waiting, Mode::kRestore, out, &failure), 2);
    EXPECT_FALSE(failure);
    device.connected = 1;
    device.Script({{1, 100, false}});
    EXPECT_EQ(Caution(waiting, Mode::kRestore, out, &failure), 2);
    EXPECT_FALSE(failure);
}

}  // namespace
}  // namespace nuva
