// Handheld code run by the machine: start-up programs loaded from the file
// store, and library exports called as the RAPI service calls them.
#include <gtest/gtest.h>

#include "machine_test_support.h"
#include "platform/wince/nuva_platform.h"

namespace nuva::sim::test {
namespace {

std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(StartupPrograms, RunFromTheStoreAndActOnTheMachine) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    InstallTestProgram(*handheld,
                       "write \\test\\out.txt written by the program\n"
                       "fill F800\n"
                       "box Attention|Press OK to go on\n"
                       "write \\test\\after-box.txt done\n"
                       "exit 7\n");
    uint64_t generation = handheld->Status().bootGeneration;
    handheld->Reset(ResetKind::kWarm);
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));

    // The program blocks in its message box until OK is pressed.
    ASSERT_TRUE(handheld->WaitForMessageBox(10s));
    HandheldStatus status = handheld->Status();
    ASSERT_TRUE(status.messageBox.has_value());
    EXPECT_EQ(status.messageBox->caption, u"Attention");
    EXPECT_EQ(status.messageBox->text, u"Press OK to go on");
    ASSERT_EQ(status.runningPrograms.size(), 1u);
    EXPECT_EQ(status.runningPrograms[0], u"Test.exe");
    EXPECT_EQ(Text(StoreFile(*handheld, u"\\test\\out.txt")), "written by the program");
    EXPECT_FALSE(StoreHas(*handheld, u"\\test\\after-box.txt"));
    std::vector<uint16_t> screen = handheld->Screen();
    EXPECT_EQ(screen.front(), 0xF800);
    EXPECT_EQ(screen.back(), 0xF800);

    EXPECT_TRUE(handheld->PressOk());
    ASSERT_TRUE(handheld->WaitUntilIdle(10s));
    status = handheld->Status();
    EXPECT_FALSE(status.messageBox.has_value());
    EXPECT_TRUE(status.runningPrograms.empty());
    EXPECT_EQ(Text(StoreFile(*handheld, u"\\test\\after-box.txt")), "done");
    bool found = false;
    for (const StartupRecord& record : status.startup) {
        if (record.name == u"Test.exe") {
            found = true;
            EXPECT_EQ(record.outcome, StartupRecord::Outcome::kReturned);
            EXPECT_EQ(record.exitCode, 7);
        } else {
            // The factory shortcuts are recorded, not run.
            EXPECT_EQ(record.outcome, StartupRecord::Outcome::kShortcut) << ToUtf8(record.name);
        }
    }
    EXPECT_TRUE(found);
    EXPECT_FALSE(handheld->PressOk());
}

TEST(StartupPrograms, RestartLineAndRebootEndTheProgramAndRestart) {
    for (const char* command : {"restart-line", "reboot"}) {
        SCOPED_TRACE(command);
        auto handheld = StartedHandheld();
        ASSERT_NE(handheld, nullptr);
        InstallTestProgram(*handheld, std::string(command) + "\n");
        handheld->Reset(ResetKind::kWarm);
        uint64_t first = handheld->Status().bootGeneration;
        ASSERT_TRUE(handheld->WaitUntilStarted(10s, first));
        // The program restarts the handheld: a further start follows, and the
        // program never went on after its restart request.
        ASSERT_TRUE(handheld->WaitForRestart(first, 10s));
        ASSERT_TRUE(handheld->WaitUntilStarted(10s, first));
        ASSERT_TRUE(handheld->WaitUntilIdle(10s));
        EXPECT_FALSE(StoreHas(*handheld, u"\\test\\survived.txt"));
        EXPECT_TRUE(handheld->Status().crashedReason.empty());
        // The restart line was driven through the registers.
        if (std::string(command) == "restart-line") {
            bool armed = false;
            for (const RegisterWrite& write : handheld->RegisterWrites()) {
                armed = armed || (write.address == NUVA_REG_RESTART_ARM && write.value == NUVA_RESTART_BIT);
            }
            EXPECT_TRUE(armed);
        }
    }
}

TEST(StartupPrograms, DamagedOrIncompleteProgramsFailAndTheStartGoesOn) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    PutStoreText(*handheld, u"\\Windows\\StartUp\\Damaged.exe", "this is not a program");
    // A library loads but has no WinMain.
    PutStoreFile(*handheld, u"\\Windows\\StartUp\\NoMain.exe", ReadHostFile(NUVA_TEST_LIBRARY));
    InstallTestProgram(*handheld, "write \\test\\ran.txt yes\n");
    uint64_t generation = handheld->Status().bootGeneration;
    handheld->Reset(ResetKind::kWarm);
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    ASSERT_TRUE(handheld->WaitUntilIdle(10s));
    HandheldStatus status = handheld->Status();
    int checked = 0;
    for (const StartupRecord& record : status.startup) {
        if (record.name == u"Damaged.exe" || record.name == u"NoMain.exe") {
            EXPECT_EQ(record.outcome, StartupRecord::Outcome::kLoadFailed);
            EXPECT_FALSE(record.detail.empty());
            ++checked;
        }
        if (record.name == u"NoMain.exe") {
            EXPECT_NE(record.detail.find("WinMain"), std::string::npos) << record.detail;
        }
    }
    EXPECT_EQ(checked, 2);
    EXPECT_TRUE(StoreHas(*handheld, u"\\test\\ran.txt"));
    EXPECT_TRUE(status.started);
}

TEST(InvokeExport, CallsTheLibraryInTheStoreWithHeapBlocks) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    PutStoreFile(*handheld, u"\\Windows\\TESTLIB.dll", ReadHostFile(NUVA_TEST_LIBRARY));
    std::vector<uint8_t> output;
    std::string detail;
    const std::vector<uint8_t> input = {1, 2, 3, 4, 5};
    ASSERT_EQ(handheld->InvokeExport(u"TESTLIB", u"TestEcho", input, output, &detail), 0) << detail;
    ASSERT_EQ(output.size(), 9u);
    EXPECT_EQ(std::vector<uint8_t>(output.begin(), output.begin() + 5),
              (std::vector<uint8_t>{5, 4, 3, 2, 1}));
    EXPECT_EQ(output[5], 1);  // first call of this copy
    ASSERT_EQ(handheld->InvokeExport(u"\\Windows\\testlib.dll", u"TestEcho", {}, output, &detail), 0)
        << detail;
    ASSERT_EQ(output.size(), 4u);
    EXPECT_EQ(output[0], 2);  // the same copy stays loaded

    // A changed file is loaded again: its globals start over.
    std::vector<uint8_t> changed = ReadHostFile(NUVA_TEST_LIBRARY);
    changed.push_back(0);  // trailing bytes do not hurt a shared object
    PutStoreFile(*handheld, u"\\Windows\\TESTLIB.dll", changed);
    ASSERT_EQ(handheld->InvokeExport(u"TESTLIB", u"TestEcho", {}, output, &detail), 0) << detail;
    ASSERT_EQ(output.size(), 4u);
    EXPECT_EQ(output[0], 1);

    EXPECT_EQ(handheld->InvokeExport(u"MISSING", u"TestEcho", {}, output, &detail), kInvokeLibraryNotFound);
    EXPECT_EQ(handheld->InvokeExport(u"TESTLIB", u"NoSuchExport", {}, output, &detail),
              kInvokeExportNotFound);
    PutStoreText(*handheld, u"\\Windows\\BROKEN.dll", "garbage");
    EXPECT_EQ(handheld->InvokeExport(u"BROKEN", u"TestEcho", {}, output, &detail), kInvokeBadLibrary);
    EXPECT_FALSE(detail.empty());
    EXPECT_TRUE(output.empty());
}

TEST(InvokeExport, RestartOrCrashDuringTheCallDropsTheLink) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    handheld->Plug(true);
    ASSERT_TRUE(handheld->LinkAvailable());
    PutStoreFile(*handheld, u"\\Windows\\TESTLIB.dll", ReadHostFile(NUVA_TEST_LIBRARY));
    uint64_t generation = handheld->Status().bootGeneration;
    uint64_t link = handheld->LinkGeneration();
    std::vector<uint8_t> output;
    std::string detail;
    EXPECT_EQ(handheld->InvokeExport(u"TESTLIB", u"TestReboot", {}, output, &detail), kInvokeLinkDropped);
    EXPECT_NE(detail.find("restarted"), std::string::npos) << detail;
    EXPECT_NE(handheld->Status().bootGeneration, generation);
    EXPECT_NE(handheld->LinkGeneration(), link);
    // While it restarts, calls are refused; after the start they work again.
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    EXPECT_TRUE(handheld->LinkAvailable());
    EXPECT_EQ(handheld->InvokeExport(u"TESTLIB", u"TestEcho", {}, output, &detail), 0) << detail;

    // An output block that LocalAlloc did not hand out crashes the handheld.
    EXPECT_EQ(handheld->InvokeExport(u"TESTLIB", u"TestForeignBlock", {}, output, &detail),
              kInvokeLinkDropped);
    HandheldStatus status = handheld->Status();
    EXPECT_NE(status.crashedReason.find("TestForeignBlock"), std::string::npos) << status.crashedReason;
    EXPECT_FALSE(status.linkAvailable);
    EXPECT_EQ(handheld->InvokeExport(u"TESTLIB", u"TestEcho", {}, output, &detail), kInvokeLinkDropped);
}

}  // namespace
}  // namespace nuva::sim::test
