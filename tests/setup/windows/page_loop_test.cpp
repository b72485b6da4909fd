// A page's modal loop as its controller lives it: messages posted from other
// threads, timers on the scaled clock, the same window shown again, nested
// dialogs and boxes over the page, and the ways a showing ends.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <atomic>
#include <thread>

#include "formats/message_ids.h"
#include "platform/clock/clock.h"
#include "setup/resources/dialog_ids.h"
#include "setup/windows/page_messages.h"
#include "setup/windows/qt_desktop.h"
#include "tests/setup/windows/window_test_support.h"

namespace nuva {
namespace {

using namespace test;
namespace id = dialog_id;

class PageLoop : public WindowTest {
  protected:
    QtDesktop desktop_;
    PageLog log_;
};

// The type of every message event that reaches a window.
struct EventTypes final : QObject {
    bool eventFilter(QObject*, QEvent* event) override {
        if (dynamic_cast<PageMessageEvent*>(event) != nullptr) {
            types.push_back(static_cast<uint32_t>(event->type()));
        }
        return false;
    }
    std::vector<uint32_t> types;
};

TEST_F(PageLoop, MessagesFromAnotherThreadArriveInOrderOnTheWindowsThreadAsTheirOwnEventTypes) {
    constexpr uint32_t kCount = 2000;
    // Taken by the windows: asking for them again gets other types.
    EXPECT_NE(QEvent::registerEventType(static_cast<int>(WM_APP_STARTCHECK)),
              static_cast<int>(WM_APP_STARTCHECK));
    EventTypes types;
    std::thread worker;
    bool visibleAtInit = true;
    bool outOfPlace = false;
    PageScript script;
    script.init = [&](TemplateDialog& window) {
        visibleAtInit = window.windowHandle()->isVisible();
        window.installEventFilter(&types);
        window.Post(WM_APP_STARTCHECK, 0, 0);
        worker = std::thread([&window] {
            for (uint32_t i = 0; i < kCount; ++i) {
                window.Post(i % 2 == 0 ? WM_FILE_PROGRESS : WM_OVERALL_PROGRESS, i, kCount);
            }
            window.Post(WM_RUN_COMPLETE, 0, 0);
        });
    };
    script.message = [&](TemplateDialog& window, uint32_t message) {
        outOfPlace |= QThread::currentThread() != window.thread() || !window.windowHandle()->isVisible();
        if (message == WM_RUN_COMPLETE) {
            window.EndDialog(1);
        }
    };
    EXPECT_EQ(desktop_.OpenDialog(id::kUpdateProgress, LoggedPage(log_, script)), 1);
    worker.join();
    // Init comes before the window is on the screen, its start check after.
    EXPECT_FALSE(visibleAtInit);
    EXPECT_FALSE(outOfPlace);

    ASSERT_EQ(log_.events.size(), kCount + 4);
    EXPECT_EQ(log_.events[1], "message 0x8136 0 0");
    for (uint32_t i = 0; i < kCount; ++i) {
        char line[48];
        std::snprintf(line, sizeof line, "message 0x%x %u %u",
                      i % 2 == 0 ? WM_FILE_PROGRESS : WM_OVERALL_PROGRESS, i, kCount);
        ASSERT_EQ(log_.events[i + 2], line);
        EXPECT_EQ(types.types[i + 1], i % 2 == 0 ? WM_FILE_PROGRESS : WM_OVERALL_PROGRESS);
    }
    EXPECT_EQ(types.types.back(), WM_RUN_COMPLETE);
}

TEST_F(PageLoop, AShowingThatEndedTakesNoMoreMessagesNorPassesThemToTheNext) {
    // A worker that reports as long as the page listens, as the runs do.
    std::atomic<bool> stop = false;
    std::thread worker;
    PageScript script;
    script.init = [&](TemplateDialog& window) {
        worker = std::thread([&window, &stop] {
            while (!stop && window.IsAlive()) {
                window.Post(WM_FILE_PROGRESS, 1, 2);
            }
        });
    };
    script.message = [](TemplateDialog& window, uint32_t) { window.EndDialog(4); };
    EXPECT_EQ(desktop_.OpenDialog(id::kBackupProgress, LoggedPage(log_, script)), 4);
    EXPECT_FALSE(log_.window->IsAlive());
    stop = true;
    worker.join();
    EXPECT_EQ(log_.Count("message 0x812d 1 2"), 1);

    // A showing that ends while it opens leaves its message queued, and
    // arms no timer; the next showing sees only its own.
    PageScript brief;
    brief.init = [](TemplateDialog& window) {
        window.Post(WM_RUN_COMPLETE, 0, 0);
        window.EndDialog(2);
        window.ArmTimer(100, 100);
    };
    PageLog ended;
    EXPECT_EQ(desktop_.OpenDialog(id::kBackupProgress, LoggedPage(ended, brief)), 2);
    EXPECT_EQ(ended.events, (std::vector<std::string>{"init", "destroy"}));
    PageScript fresh;
    fresh.init = [](TemplateDialog& window) { window.Post(WM_APP_STARTCHECK, 5, 6); };
    fresh.message = [](TemplateDialog& window, uint32_t) { window.EndDialog(1); };
    PageLog next;
    EXPECT_EQ(desktop_.OpenDialog(id::kBackupProgress, LoggedPage(next, fresh)), 1);
    EXPECT_EQ(next.events, (std::vector<std::string>{"init", "message 0x8136 5 6", "destroy"}));
    EXPECT_EQ(next.window, log_.window);
}

TEST_F(PageLoop, TimersTickAtTheScaledPeriodUntilKilledRearmedOrTheDialogEnds) {
    SetTimeScale(0.1);
    QElapsedTimer clock;
    std::vector<qint64> fast;
    std::vector<qint64> slow;
    qint64 rearmed = -1;
    PageScript script;
    script.init = [&](TemplateDialog& window) {
        clock.start();
        window.ArmTimer(100, 200);    // 20 ms
        window.ArmTimer(200, 500);    // 50 ms
        window.ArmTimer(300, 50000);  // 5 s, until armed again
    };
    script.timer = [&](TemplateDialog& window, uint32_t timer) {
        if (timer == 300) {
            rearmed = clock.elapsed();
            window.KillTimer(300);
            return;
        }
        (timer == 100 ? fast : slow).push_back(clock.elapsed());
        if (timer == 200 && slow.size() == 1) {
            window.ArmTimer(300, 100);  // 10 ms
        } else if (timer == 200 && slow.size() == 2) {
            window.KillTimer(100);
        } else if (timer == 200 && slow.size() == 4) {
            window.EndDialog(1);
        }
    };
    EXPECT_EQ(desktop_.OpenDialog(id::kEraseCaution, LoggedPage(log_, script)), 1);
    ASSERT_EQ(slow.size(), 4u);
    ASSERT_GE(fast.size(), 2u);
    // A periodic timer's n-th tick comes n periods after it was armed at the
    // earliest (a millisecond is lost to rounding the clock).
    for (size_t n = 0; n < fast.size(); ++n) {
        EXPECT_GE(fast[n], 20 * static_cast<qint64>(n + 1) - 1) << n;
    }
    for (size_t n = 0; n < slow.size(); ++n) {
        EXPECT_GE(slow[n], 50 * static_cast<qint64>(n + 1) - 1) << n;
    }
    EXPECT_LT(slow.back(), 1000);     // scaled: 200 ms, not the nominal 2 s
    EXPECT_LE(fast.back(), slow[1]);  // killed at the second slow tick
    EXPECT_GE(rearmed, slow[0] + 9);
    EXPECT_LT(rearmed, 2000);
    EXPECT_EQ(log_.Count("timer 300"), 1);

    // Every timer stopped with the dialog.
    size_t events = log_.events.size();
    QTest::qWait(120);
    EXPECT_EQ(log_.events.size(), events);
    for (const QTimer* timer : log_.window->findChildren<QTimer*>()) {
        EXPECT_FALSE(timer->isActive());
    }

    // At scale 0 nothing waits, and a message posted first comes first.
    SetTimeScale(0);
    PageLog zero;
    script.init = [](TemplateDialog& window) {
        window.ArmTimer(100, 500);
        window.Post(WM_APP_STARTCHECK, 0, 0);
    };
    script.timer = [](TemplateDialog& window, uint32_t) { window.EndDialog(1); };
    EXPECT_EQ(desktop_.OpenDialog(id::kMainMenu, LoggedPage(zero, script)), 1);
    EXPECT_EQ(zero.events, (std::vector<std::string>{"init", "message 0x8136 0 0", "timer 100", "destroy"}));
}

TEST_F(PageLoop, TheSameWindowIsShownAgainFromItsTemplate) {
    PageScript change;
    change.up = [](TemplateDialog& window) {
        window.SetTitle("Changed");
        window.SetText(1069, "Changed heading");
        window.SetTextColour(1069, kRed);
        window.ShowControl(1023, false);
        window.EnableControl(2, false);
        window.DrawFrame(1023, kRed, 1);
        window.AddSystemMenuItem(16, "&About");
        window.EndDialog(5);
    };
    EXPECT_EQ(desktop_.OpenDialog(id::kReason, LoggedPage(log_, change)), 5);

    PageLog again;
    PageScript look;
    look.up = [](TemplateDialog& window) {
        EXPECT_EQ(window.windowTitle(), "Caution");
        EXPECT_EQ(qobject_cast<QLabel*>(window.Control(1069))->text(),
                  "The procedure CANNOT proceed due to the following reason:");
        EXPECT_FALSE(window.Control(1023)->isHidden());
        EXPECT_TRUE(window.Control(2)->isEnabled());
        EXPECT_TRUE(window.actions().isEmpty());
        EXPECT_EQ(CountRed(window.grab().toImage()), 0);
        window.EndDialog(6);
    };
    EXPECT_EQ(desktop_.OpenDialog(id::kReason, LoggedPage(again, look)), 6);
    EXPECT_EQ(again.window, log_.window);
    EXPECT_EQ(desktop_.Window(id::kReason), log_.window);
    EXPECT_EQ(again.events, (std::vector<std::string>{"init", "destroy"}));

    // Opened again from inside its own showing, a template gets a second
    // window for the time.
    PageLog inner;
    look.up = [&](TemplateDialog& window) {
        PageScript close;
        close.up = [](TemplateDialog& second) { second.EndDialog(9); };
        EXPECT_EQ(desktop_.OpenDialog(id::kReason, LoggedPage(inner, close)), 9);
        EXPECT_NE(inner.window, &window);
        window.EndDialog(8);
    };
    EXPECT_EQ(desktop_.OpenDialog(id::kReason, LoggedPage(again, look)), 8);
}

TEST_F(PageLoop, NestedDialogsAndBoxesBelongToTheirPageWhoseTimersKeepTicking) {
    std::vector<TemplateDialog*> nested;
    QStringList boxes;
    auto answerBox = [&boxes] {
        When([] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; },
             [&boxes] {
                 auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                 boxes << box->windowTitle() + "|" + box->text() + "|" +
                              (box->parentWidget() ? box->parentWidget()->objectName() : "none");
                 box->button(QMessageBox::Ok)->click();
             });
    };
    PageScript owner;
    owner.init = [](TemplateDialog& window) { window.ArmTimer(100, 100); };
    owner.up = [&](TemplateDialog& window) {
        for (int showing = 0; showing < 2; ++showing) {
            PageLog inner;
            PageScript wait;
            wait.init = [&](TemplateDialog& dialog) {
                nested.push_back(&dialog);
                int ticks = log_.Count("timer 100");
                When([this, ticks] { return log_.Count("timer 100") >= ticks + 2; },
                     [&dialog] { dialog.EndDialog(1); });
            };
            EXPECT_EQ(window.OpenDialog(id::kConnectionLost, LoggedPage(inner, wait)), 1);
        }
        answerBox();
        window.MessageBox("Copy incomplete!", "Caution");
        answerBox();
        window.UnownedMessageBox("Memory Allocate Faile", "Error");
        window.EndDialog(4);
    };
    EXPECT_EQ(desktop_.OpenDialog(id::kMainMenu, LoggedPage(log_, owner)), 4);
    ASSERT_EQ(nested.size(), 2u);
    EXPECT_EQ(nested[0], nested[1]);
    EXPECT_EQ(nested[0]->parentWidget(), log_.window);
    EXPECT_EQ(desktop_.Window(id::kConnectionLost), nullptr);
    answerBox();
    desktop_.MessageBox("Thread Create Failed..", "Error");
    EXPECT_EQ(boxes, (QStringList{"Caution|Copy incomplete!|MainMenuWindow",
                                  "Error|Memory Allocate Faile|none", "Error|Thread Create Failed..|none"}));
}

TEST_F(PageLoop, APageThatHidesItselfRunsOnUntilItEnds) {
    PageScript script;
    script.up = [](TemplateDialog& window) {
        window.HidePage();
        window.ArmTimer(100, 100);
    };
    script.timer = [](TemplateDialog& window, uint32_t) {
        EXPECT_FALSE(window.isVisible());
        window.EndDialog(1);
    };
    EXPECT_EQ(desktop_.OpenDialog(id::kUpdateProgress, LoggedPage(log_, script)), 1);
    EXPECT_EQ(log_.events, (std::vector<std::string>{"init", "timer 100", "destroy"}));
}

}  // namespace
}  // namespace nuva
