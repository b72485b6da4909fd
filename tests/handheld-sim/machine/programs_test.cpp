// Handheld code run by the machine: start-up programs loaded from the file
// store, and library exports called as the RAPI service calls them.
#include <gtest/gtest.h>

#include <thread>

#include "formats/le.h"
#include "formats/text_encoding.h"
#include "machine_test_support.h"
#include "platform/wince/nuva_platform.h"
#include "platform/wince/wince.h"

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
            EXPECT_EQ(record.outcome, StartupRecord::Outcome::kShortcut) << Utf8FromUtf16(record.name);
        }
    }
    EXPECT_TRUE(found);
    EXPECT_FALSE(handheld->PressOk());
}

// Shows a message box from a program on its own thread (MessageBoxW waits
// for OK); the thread ends when the box is dismissed.
std::thread ShowBox(Handheld& handheld, std::u16string text, std::u16string caption) {
    return std::thread([&handheld, text = std::move(text), caption = std::move(caption)] {
        int answer = 0;
        EXPECT_EQ(handheld.RunAsProgram(
                      [&] { answer = MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK); }),
                  ProgramEnd::kReturned);
        EXPECT_EQ(answer, IDOK);
    });
}

// The frame buffer as a program reads it through the bus.
std::vector<uint16_t> FrameBufferAsProgramsSeeIt(Handheld& handheld) {
    std::vector<ULONG> words(240 * 320 / 2);
    EXPECT_EQ(handheld.RunAsProgram([&] {
        READ_REGISTER_BUFFER_ULONG(reinterpret_cast<volatile ULONG*>(uintptr_t{NUVA_FRAME_BUFFER}),
                                   words.data(), static_cast<ULONG>(words.size()));
    }),
              ProgramEnd::kReturned);
    std::vector<uint16_t> pixels;
    for (ULONG word : words) {
        pixels.push_back(static_cast<uint16_t>(word & 0xFFFF));
        pixels.push_back(static_cast<uint16_t>(word >> 16));
    }
    return pixels;
}

TEST(MessageBoxes, ShowOverTheProgramsPixelsInScreenAndScreenshotUntilOk) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    const std::vector<uint16_t> home = handheld->Screen();
    ASSERT_FALSE(FindText(home, "\\TEMP\\5", kWhite, kDarkBlue));

    std::thread program = ShowBox(*handheld, u"CheckSum() Fail ..\nPlease Cold Reset", u"\\TEMP\\5");
    ASSERT_TRUE(handheld->WaitForMessageBox(10s));
    const std::vector<uint16_t> screen = handheld->Screen();
    // The caption on the title band, the text below it from the same column,
    // its line break kept, and the OK button centred under it.
    const auto caption = FindText(screen, "\\TEMP\\5", kWhite, kDarkBlue);
    ASSERT_TRUE(caption.has_value());
    const auto text = FindText(screen, "CheckSum() Fail ..", kBlack, kWhite);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text->first, caption->first);
    EXPECT_GT(text->second, caption->second + 15);
    EXPECT_TRUE(ShowsText(screen, text->first, text->second + 15, "Please Cold Reset", kBlack, kWhite));
    const auto ok = FindText(screen, "OK", kBlack, kWhite);
    ASSERT_TRUE(ok.has_value());
    EXPECT_EQ(ok->first + 8, 120);
    EXPECT_GT(ok->second, text->second + 30);
    // Only the box covers the home screen: its title band still shows.
    EXPECT_TRUE(ShowsText(screen, 8, 0, "Start", kWhite, kDarkBlue));
    // Underneath, the frame buffer holds what was drawn before.
    EXPECT_EQ(FrameBufferAsProgramsSeeIt(*handheld), home);

    // The picture of the screen shows the box.
    TempFolder folder{"nuva-machine"};
    std::string detail;
    ASSERT_TRUE(handheld->SaveScreenshot(folder.Join("box.png"), &detail)) << detail;
    uint32_t width = 0;
    uint32_t height = 0;
    const std::vector<uint16_t> picture = ReadPngPixels(folder.Join("box.png"), width, height);
    EXPECT_TRUE(ShowsText(picture, caption->first, caption->second, "\\TEMP\\5", kWhite, kDarkBlue));
    EXPECT_TRUE(ShowsText(picture, text->first, text->second, "CheckSum() Fail ..", kBlack, kWhite));
    EXPECT_EQ(picture, screen);

    // OK: the program goes on and the pixels under the box are back.
    EXPECT_TRUE(handheld->PressOk());
    program.join();
    EXPECT_EQ(handheld->Screen(), home);
    ASSERT_TRUE(handheld->SaveScreenshot(folder.Join("after.png"), &detail)) << detail;
    EXPECT_EQ(ReadPngPixels(folder.Join("after.png"), width, height), home);

    // A long text is wrapped at spaces to the box; a caption outside ASCII
    // shows in the code page's letters.
    program = ShowBox(*handheld, u"The image part could not be read from the storage card", u"Pr\u00fcfung");
    ASSERT_TRUE(handheld->WaitForMessageBox(10s));
    const std::vector<uint16_t> wrapped = handheld->Screen();
    EXPECT_TRUE(FindText(wrapped,
                         "Pr\x81"
                         "fung",
                         kWhite, kDarkBlue)
                    .has_value());
    const auto first = FindText(wrapped, "The image part could not", kBlack, kWhite);
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(
        ShowsText(wrapped, first->first, first->second + 15, "be read from the storage", kBlack, kWhite));
    EXPECT_TRUE(ShowsText(wrapped, first->first, first->second + 30, "card", kBlack, kWhite));
    EXPECT_TRUE(handheld->PressOk());
    program.join();
    EXPECT_EQ(handheld->Screen(), home);
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

TEST(StartupPrograms, WhatRanBeforeARestartIsNotReportedAsRunningInTheNextStart) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    InstallTestProgram(*handheld, "box Waiting|Held until the restart\n");
    uint64_t generation = handheld->Status().bootGeneration;
    handheld->Reset(ResetKind::kWarm);
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    ASSERT_TRUE(handheld->WaitForMessageBox(10s));
    HandheldStatus before = handheld->Status();
    ASSERT_EQ(before.runningPrograms.size(), 1u);

    // The status at once after the restart request: the program of the start
    // that ended may still be unwinding, but it belongs to no start now.
    handheld->Reset(ResetKind::kWarm);
    HandheldStatus after = handheld->Status();
    EXPECT_GT(after.bootGeneration, before.bootGeneration);
    EXPECT_TRUE(after.runningPrograms.empty());
    EXPECT_FALSE(after.messageBox.has_value());
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
    // A library cut short (as a copy that stopped part way) does not load,
    // wherever it was cut, and the handheld goes on.
    const std::vector<uint8_t> whole = ReadHostFile(NUVA_TEST_LIBRARY);
    for (size_t cut : {size_t{40}, size_t{64}, size_t{100}, size_t{1000}, whole.size() / 2}) {
        SCOPED_TRACE(cut);
        PutStoreFile(*handheld, u"\\Windows\\CUT.dll",
                     std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
        EXPECT_EQ(handheld->InvokeExport(u"CUT", u"TestEcho", {}, output, &detail), kInvokeBadLibrary);
        EXPECT_NE(detail.find("CUT"), std::string::npos) << detail;
    }
    ASSERT_EQ(handheld->InvokeExport(u"TESTLIB", u"TestEcho", {}, output, &detail), 0) << detail;
    PutStoreText(*handheld, u"\\Windows\\BROKEN.dll", "garbage");
    EXPECT_EQ(handheld->InvokeExport(u"BROKEN", u"TestEcho", {}, output, &detail), kInvokeBadLibrary);
    EXPECT_FALSE(detail.empty());
    EXPECT_TRUE(output.empty());
}

// One thread runs call after call; each call still finds what a new thread
// starts with, before and after a restart that ended the thread in a call.
TEST(InvokeExport, EveryCallStartsWithAFreshThreadState) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    PutStoreFile(*handheld, u"\\Windows\\TESTLIB.dll", ReadHostFile(NUVA_TEST_LIBRARY));
    std::vector<uint8_t> output;
    std::string detail;
    auto expectFresh = [&] {
        ASSERT_EQ(handheld->InvokeExport(u"TESTLIB", u"TestThreadState", {}, output, &detail), 0) << detail;
        ASSERT_EQ(output.size(), 8u);
        EXPECT_EQ(LoadLe32(output.data()), 0u);        // ERROR_SUCCESS
        EXPECT_EQ(LoadLe32(output.data() + 4), 251u);  // THREAD_PRIORITY_NORMAL
    };
    for (int call = 0; call < 3; ++call) {
        SCOPED_TRACE(call);
        expectFresh();
    }
    const uint64_t generation = handheld->Status().bootGeneration;
    EXPECT_EQ(handheld->InvokeExport(u"TESTLIB", u"TestReboot", {}, output, &detail), kInvokeLinkDropped);
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    expectFresh();
    expectFresh();
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
