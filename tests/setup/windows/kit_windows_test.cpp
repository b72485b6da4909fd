// The shared dialogs' real controllers in their Qt windows, against a
// scripted handheld, and a picture of every page for people to look at.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>

#include "setup/frame/dialog_kit.h"
#include "setup/resources/dialog_ids.h"
#include "setup/resources/string_ids.h"
#include "setup/resources/string_table.h"
#include "setup/windows/page_windows.h"
#include "setup/windows/qt_desktop.h"
#include "tests/setup/support/fake_handheld_port.h"
#include "tests/setup/windows/window_test_support.h"

namespace nuva {
namespace {

using namespace test;
namespace id = dialog_id;

class KitWindows : public WindowTest {
  protected:
    // Acts on the desktop's window of `templateId` once it is up.
    void OnWindow(uint32_t templateId, std::function<void(TemplateDialog&)> act) {
        auto window = [this, templateId] { return desktop_.Window(templateId); };
        When([window] { return window() != nullptr && window()->isVisible(); },
             [window, act = std::move(act)] { act(*window()); });
    }

    QtDesktop desktop_;
    FakeHandheldPort port_;
};

TEST_F(KitWindows, ConnectionLostFramesItsHintInRedAndEndsWithOk) {
    OnWindow(id::kConnectionLost, [](TemplateDialog& window) {
        EXPECT_EQ(
            qobject_cast<QLabel*>(window.Control(ConnectionLostController::kHeading))->text().toStdString(),
            LoadString(string_id::kConnectionLostHeading1));
        SavePicture(window, "144-mode-1.png");
        QImage image = window.grab().toImage();
        QRect frame = window.Control(ConnectionLostController::kHint)->geometry().adjusted(-1, -1, 1, 1);
        for (QPoint at :
             {frame.topLeft(), frame.topRight(), frame.bottomLeft(), frame.bottomRight(),
              QPoint(frame.center().x(), frame.top()), QPoint(frame.left(), frame.center().y())}) {
            EXPECT_EQ(image.pixelColor(at), QColor(255, 0, 0)) << at.x() << "," << at.y();
        }
        EXPECT_NE(image.pixelColor(frame.topLeft() - QPoint(1, 1)), QColor(255, 0, 0));
        QTest::keyClick(&window, Qt::Key_Escape);  // not OK
        QTest::mouseClick(window.Control(kIdOk), Qt::LeftButton);
    });
    EXPECT_EQ(ShowConnectionLost(desktop_, 1), 1);
}

TEST_F(KitWindows, ReasonListsItsReasonsAndEndsWithEsc) {
    OnWindow(id::kReason, [](TemplateDialog& window) {
        QString reasons = qobject_cast<QLabel*>(window.Control(ReasonController::kReasonList))->text();
        EXPECT_TRUE(reasons.contains("Battery power is less than 40%")) << reasons.toStdString();
        EXPECT_TRUE(reasons.contains("AC adapter is not connected")) << reasons.toStdString();
        SavePicture(window, "136-two-reasons.png");
        QTest::keyClick(&window, Qt::Key_Escape);
    });
    ReasonFlags reasons;
    reasons.noAcPower = true;
    reasons.lowBattery = true;
    EXPECT_EQ(ShowReason(desktop_, 0, reasons), 2);
}

TEST_F(KitWindows, EraseCautionEnablesContinueOnceTheHandheldIsOnAcPower) {
    port_.info.AcOnline = 0;
    OnWindow(id::kEraseCaution, [this](TemplateDialog& caution) {
        QWidget* proceed = caution.Control(EraseCautionController::kContinueButton);
        int queries = port_.Count("query");
        When([this, queries] { return port_.Count("query") >= queries + 3; },
             [this, proceed] {
                 // On battery the ticks keep Continue disabled.
                 EXPECT_FALSE(proceed->isEnabled());
                 port_.info.AcOnline = 1;
                 When([proceed] { return proceed->isEnabled(); },
                      [proceed] { QTest::mouseClick(proceed, Qt::LeftButton); });
             });
    });
    EXPECT_EQ(ShowEraseCaution(desktop_, port_, EraseCautionController::Mode::kUpdateOrBackup), 1);
}

TEST_F(KitWindows, EveryPageHasAPicture) {
    for (const PageWindow& page : PageWindows()) {
        PageLog log;
        PageScript script;
        script.up = [&page](TemplateDialog& window) {
            SavePicture(window, QStringLiteral("%1.png").arg(page.templateId));
            window.EndDialog(0);
        };
        desktop_.OpenDialog(page.templateId, LoggedPage(log, script));
        EXPECT_EQ(log.events, (std::vector<std::string>{"init", "destroy"})) << page.name;
    }
}

}  // namespace
}  // namespace nuva
