#include "tools/flash/terminal_dialogs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

#include "platform/clock/clock.h"

namespace nuva {
namespace {

// Answers power queries from a script: each entry is one answer (the last
// one repeats); a failed answer is an empty optional.
class ScriptedPower : public DialogDevice {
  public:
    struct Answer {
        bool ok = true;
        uint32_t ac = 1;
        uint32_t battery = 100;
    };

    bool IsConnected() const override { return connected.load(); }
    uint32_t QueryDeviceInfo(DeviceInfo* out) override {
        std::lock_guard lock(mutex);
        Answer answer = script.front();
        if (script.size() > 1) {
            script.pop_front();
        }
        ++queries;
        if (!answer.ok) {
            return 0x80004005;
        }
        out->AcOnline = answer.ac;
        out->BatteryPercent = answer.battery;
        return 0;
    }

    std::atomic<bool> connected{true};
    std::mutex mutex;
    std::deque<Answer> script{Answer{}};
    int queries = 0;
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
        for (int fd : fds_) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    ConsoleLoop loop;
    CapturedTerminal out;
    ScriptedPower device;
    int fds_[2] = {-1, -1};
};

TEST_F(TerminalDialogs, CautionWithYesWaitsForTheAdapterThenContinues) {
    device.script = {{true, 0, 80}, {true, 0, 80}, {true, 0, 80}, {true, 1, 80}};
    Answers yes(true, -1);
    CautionEnd end = CautionEnd::kRefused;
    int result = ShowEraseCaution(loop, out.terminal(), yes, device,
                                  EraseCautionController::Mode::kUpdateOrBackup, end);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(end, CautionEnd::kContinued);
    std::string text = out.Text();
    EXPECT_TRUE(Says(text, "The reflash procedure clears all data in your Pocket PC.")) << text;
    EXPECT_TRUE(Says(text, "Waiting for the AC adapter to be connected")) << text;
    EXPECT_TRUE(Says(text, "Do you want to continue? [y/N] y  (--yes)")) << text;
    // Three ticks on battery, the tick that enables Continue, Continue's own
    // query.
    EXPECT_GE(device.queries, 5);
}

TEST_F(TerminalDialogs, AdapterPulledBeforeContinueShowsTheReasonAndWaitsForItToComeBack) {
    // The tick sees AC power; Continue's query does not; then it returns.
    device.script = {{true, 1, 80}, {true, 0, 80}, {true, 0, 80}, {true, 1, 80}};
    Answers yes(true, -1);
    CautionEnd end = CautionEnd::kRefused;
    int result =
        ShowEraseCaution(loop, out.terminal(), yes, device, EraseCautionController::Mode::kRestore, end);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(end, CautionEnd::kContinued);
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
        device.script = {{true, 1, battery}};
        Answers yes(true, -1);
        CautionEnd end = CautionEnd::kCancelled;
        int result = ShowEraseCaution(loop, terminal.terminal(), yes, device,
                                      EraseCautionController::Mode::kUpdateOrBackup, end);
        std::string text = terminal.Text();
        EXPECT_EQ(result, battery < 40 ? 2 : 1);
        EXPECT_EQ(end, battery < 40 ? CautionEnd::kRefused : CautionEnd::kContinued);
        EXPECT_EQ(Says(text, "* Battery power is less than 40%."), battery < 40) << text;
    }
}

TEST_F(TerminalDialogs, TypedAnswersDecideAndNoAnswerIsNo) {
    Answers no(false, Input("n\n"));
    CautionEnd end = CautionEnd::kContinued;
    EXPECT_EQ(ShowEraseCaution(loop, out.terminal(), no, device,
                               EraseCautionController::Mode::kUpdateOrBackup, end),
              2);
    EXPECT_EQ(end, CautionEnd::kCancelled);

    TearDown();
    Answers typedYes(false, Input("yes\n"));
    EXPECT_EQ(ShowOsChangeNotice(loop, out.terminal(), typedYes, device), 1);
    EXPECT_TRUE(Says(out.Text(), "2. You lose all built-in storage data")) << out.Text();

    TearDown();
    Answers nothing(false, Input(""));  // standard input at its end
    EXPECT_EQ(AskYesNo(loop, out.terminal(), nothing, "Save the current ROM?"), 2);
}

TEST_F(TerminalDialogs, ALostLinkEndsTheQuestionsWithFour) {
    int input = Input("", false);  // nobody answers
    Answers waiting(false, input);
    device.connected = false;
    EXPECT_EQ(AskYesNo(loop, out.terminal(), waiting, "Save the current ROM?", &device, 2), 4);
    EXPECT_TRUE(Says(out.Text(), "* The connection between the computer and the device cannot be detected"));
    EXPECT_EQ(ShowOsChangeNotice(loop, out.terminal(), waiting, device), 4);
    // The caution ends with 2 and leaves the news to the next page, as it
    // does when the handheld stops answering while the link flag still
    // says connected.
    CautionEnd end = CautionEnd::kContinued;
    EXPECT_EQ(
        ShowEraseCaution(loop, out.terminal(), waiting, device, EraseCautionController::Mode::kRestore, end),
        2);
    EXPECT_EQ(end, CautionEnd::kByItsTick);
    device.connected = true;
    device.script = {{false}};
    end = CautionEnd::kContinued;
    EXPECT_EQ(
        ShowEraseCaution(loop, out.terminal(), waiting, device, EraseCautionController::Mode::kRestore, end),
        2);
    EXPECT_EQ(end, CautionEnd::kByItsTick);
}

}  // namespace
}  // namespace nuva
