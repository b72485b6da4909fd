#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/clock/clock.h"
#include "tools/flash/answers.h"
#include "tools/flash/options.h"
#include "tools/flash/terminal.h"

namespace nuva {
namespace {

std::optional<FlashOptions> Parse(std::vector<std::string> args, std::string* error = nullptr) {
    std::string scratch;
    return ParseFlashOptions(args, error != nullptr ? *error : scratch);
}

TEST(FlashOptions, CommandsFilesAndSetupOptionsAnywhere) {
    auto update = Parse({"/language:fr", "update", "--yes", "--force", "/FORCE", "--backup", "old.ris"});
    ASSERT_TRUE(update);
    EXPECT_EQ(update->command, FlashCommand::kUpdate);
    EXPECT_TRUE(update->yes);
    EXPECT_TRUE(update->force);
    EXPECT_EQ(update->backupFile, "old.ris");

    auto backup = Parse({"backup", "/Force", "rom.ris"});
    ASSERT_TRUE(backup);
    EXPECT_EQ(backup->command, FlashCommand::kBackup);
    EXPECT_EQ(backup->file, "rom.ris");
    EXPECT_FALSE(backup->force);  // "/FORCE" is Setup's, read by ParseCommandLine

    auto restore = Parse({"restore", "/work/a b.ris", "-y", "--restart-timeout", "2.5"});
    ASSERT_TRUE(restore);
    EXPECT_EQ(restore->file, "/work/a b.ris");
    EXPECT_DOUBLE_EQ(restore->restartTimeoutSeconds, 2.5);
    EXPECT_EQ(RestartTimeout(*restore), std::chrono::milliseconds(2500));

    ASSERT_TRUE(Parse({"info"}));
    EXPECT_EQ(Parse({"info", "--help"})->command, FlashCommand::kHelp);
    EXPECT_EQ(Parse({"-h"})->command, FlashCommand::kHelp);
    // Only whole Setup options are taken out; a file that merely starts
    // like one is still a file.
    EXPECT_EQ(Parse({"backup", "/FORCED.ris"})->file, "/FORCED.ris");
}

TEST(FlashOptions, WrongCommandLinesSayWhy) {
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const Case cases[] = {
        {{}, "no command"},
        {{"/FORCE"}, "no command"},
        {{"flash"}, "unknown command 'flash'"},
        {{"backup"}, "backup takes one FILE"},
        {{"restore", "a.ris", "b.ris"}, "restore takes one FILE"},
        {{"update", "image.nb0"}, "update takes no file"},
        {{"info", "--frobnicate"}, "unknown option '--frobnicate'"},
        {{"backup", "a.ris", "--force"}, "--force belongs to update"},
        {{"restore", "a.ris", "--backup", "b.ris"}, "--backup belongs to update"},
        {{"update", "--backup"}, "--backup needs a value"},
        {{"update", "--restart-timeout", "soon"}, "--restart-timeout takes"},
        {{"update", "--restart-timeout", "-3"}, "--restart-timeout takes"},
        {{"update", "--restart-timeout", "1e300"}, "--restart-timeout takes"},
        {{"info", "--restart-timeout", "5"}, "does not belong to info"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(Parse(c.args, &error)) << c.says;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

TEST(FlashOptions, WaitsNeverShrinkBelowTheirRealTimeFloor) {
    SetTimeScale(0.01);
    EXPECT_EQ(ConnectionTestTime(), std::chrono::seconds(2));
    EXPECT_EQ(RestartTimeout(FlashOptions{}), std::chrono::seconds(90));
    SetTimeScale(1);
    EXPECT_EQ(ConnectionTestTime(), std::chrono::seconds(2));
    EXPECT_EQ(RestartTimeout(FlashOptions{}), std::chrono::minutes(20));
    SetTimeScale(0.01);
}

class Pipe {
  public:
    Pipe() { EXPECT_EQ(::pipe(fds_), 0); }
    ~Pipe() {
        CloseWrite();
        ::close(fds_[0]);
    }
    int ReadEnd() const { return fds_[0]; }
    void Write(const std::string& text) {
        EXPECT_EQ(::write(fds_[1], text.data(), text.size()), ssize_t(text.size()));
    }
    void CloseWrite() {
        if (fds_[1] >= 0) {
            ::close(fds_[1]);
            fds_[1] = -1;
        }
    }

  private:
    int fds_[2] = {-1, -1};
};

TEST(Answers, LinesAreJudgedOneByOneWithoutWaitingAndTheEndOfInputIsNo) {
    Pipe input;
    Answers answers(false, input.ReadEnd());
    EXPECT_FALSE(answers.Poll());  // nothing typed yet: no answer, no wait
    input.Write("  Yes please\nno\n");
    EXPECT_EQ(answers.Poll(), true);
    EXPECT_EQ(answers.Poll(), false);
    EXPECT_FALSE(answers.Poll());
    input.Write("y");  // half a line
    EXPECT_FALSE(answers.Poll());
    input.Write("\n\n");
    EXPECT_EQ(answers.Poll(), true);
    EXPECT_EQ(answers.Poll(), false);  // an empty line is the default, no
    input.Write("y");
    input.CloseWrite();
    EXPECT_EQ(answers.Poll(), true);   // the last line needs no newline
    EXPECT_EQ(answers.Poll(), false);  // nobody is left to say yes
    EXPECT_EQ(answers.Poll(), false);

    Answers always(true, input.ReadEnd());
    EXPECT_EQ(always.Poll(), true);
}

std::string Captured(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[512];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    return text;
}

TEST(Terminal, ALogGetsNewsAtOnceProgressAtMostEverySecondAndTheLastWordBeforeTheNextLine) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    {
        Terminal log(file, false);
        log.Status("...\\");
        log.Status("...|");                        // only the animation moved
        log.Status("all [....] 0%  Copying 0 %");  // new words
        log.Status("all [#...] 25%  Copying 25 %");
        log.Status("all [####] 100%  Copying 100 %");
        log.Line("Copy Complete.");
        log.Status("Waiting ...\\");
        log.KeepStatus();
    }
    EXPECT_EQ(Captured(file),
              "...\\\n"
              "all [....] 0%  Copying 0 %\n"
              "all [####] 100%  Copying 100 %\n"
              "Copy Complete.\n"
              "Waiting ...\\\n");
    std::fclose(file);

    EXPECT_EQ(StatusKey("all [##..] 50%  Copying files...12 %"), "all[]Copyingfiles");
    EXPECT_EQ(StatusKey("...-"), "");
}

}  // namespace
}  // namespace nuva
