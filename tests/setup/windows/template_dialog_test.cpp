// The window a template makes, and what its controls do: widgets, places and
// texts from the template, mnemonics, what screen readers are told, colours
// and frames as drawn, and every way the user reaches the page.
#include "setup/windows/template_dialog.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "setup/resources/dialog_ids.h"
#include "setup/windows/page_windows.h"
#include "setup/windows/qt_desktop.h"
#include "tests/setup/windows/window_test_support.h"

namespace nuva {
namespace {

using namespace test;
namespace id = dialog_id;

TEST(DialogUnits, ClassicMetricsGiveThePicturesTheirPixelSizes) {
    // 8-point MS Sans Serif at 96 dpi: 6 × 13 pixels. The main menu's
    // bitmap control (80 × 184 units) and the icon's (22 × 20 units).
    DialogUnits classic(6, 13);
    EXPECT_EQ(classic.Rect(7, 7, 80, 184), QRect(11, 11, 120, 299));
    EXPECT_EQ(classic.Rect(10, 10, 22, 20), QRect(15, 16, 33, 33));
}

TEST(TemplateWindow, EveryPageIsLaidOutFromItsTemplate) {
    for (const PageWindow& page : PageWindows()) {
        SCOPED_TRACE(page.name);
        std::unique_ptr<TemplateDialog> window = MakePageWindow(page.templateId, nullptr);
        const DialogTemplate& layout = *FindDialogTemplate(page.templateId);
        const DialogUnits& units = window->Units();
        EXPECT_EQ(window->size(), QSize(units.X(layout.width), units.Y(layout.height)));
        EXPECT_EQ(window->windowTitle().toStdString(), DialogText(page.templateId, 0));
        EXPECT_FALSE(window->windowIcon().isNull());
        for (const ControlTemplate& control : layout.controls) {
            SCOPED_TRACE(control.id);
            QWidget* widget = window->findChild<QWidget*>(QStringLiteral("control-%1").arg(control.id));
            ASSERT_NE(widget, nullptr);
            EXPECT_EQ(widget->geometry(), units.Rect(control.x, control.y, control.width, control.height));
            EXPECT_EQ(widget->isHidden(), !control.visible);
            EXPECT_EQ(widget->isEnabled(), control.enabled);
        }
    }
    auto notice = MakePageWindow(id::kBackupNotice, nullptr);
    EXPECT_TRUE(qobject_cast<QPushButton*>(notice->Control(1025))->isDefault());
    EXPECT_FALSE(qobject_cast<QPushButton*>(notice->Control(1026))->isDefault());
    EXPECT_EQ(qobject_cast<QLabel*>(notice->Control(1029))->text(), "NOTICE :");
    auto menu = MakePageWindow(id::kMainMenu, nullptr);
    auto* picture = qobject_cast<QLabel*>(menu->Control(2000));
    EXPECT_FALSE(picture->pixmap().isNull());
    EXPECT_TRUE(picture->rect().contains(QRect(QPoint(), picture->pixmap().size())));
}

TEST(TemplateWindow, MnemonicsWorkWhereAKeyReachesAControlAndScreenReadersGetNoMarks) {
    auto menu = MakePageWindow(id::kMainMenu, nullptr);
    auto* button = qobject_cast<QPushButton*>(menu->Control(1025));
    menu->SetText(1025, "&Save && Exit");
    EXPECT_EQ(button->text(), "&Save && Exit");
    EXPECT_EQ(QKeySequence::mnemonic(button->text()), QKeySequence(Qt::ALT | Qt::Key_S));
    EXPECT_EQ(button->accessibleName(), "Save & Exit");
    // A text before a button lends its mnemonic to it; the last text of the
    // menu has no control after it and reads without the marks.
    EXPECT_EQ(qobject_cast<QLabel*>(menu->Control(2002))->buddy(), button);
    menu->SetText(2005, "V && &W");
    EXPECT_EQ(qobject_cast<QLabel*>(menu->Control(2005))->text(), "V & W");

    struct Expected {
        uint32_t templateId;
        uint32_t control;
        QAccessible::Role role;
        QString name;
    };
    for (const Expected& e : {Expected{id::kBackupNotice, 1025, QAccessible::Button, "< Back"},
                              Expected{id::kBackupNotice, 1029, QAccessible::StaticText, "NOTICE :"},
                              Expected{id::kUpdateInfo, 1039, QAccessible::CheckBox,
                                       "Save the current ROM to a specified location."},
                              Expected{id::kUpdateProgress, 1007, QAccessible::ProgressBar, ""},
                              Expected{id::kAbout, 2000, QAccessible::Graphic, "Vantor"}}) {
        SCOPED_TRACE(e.control);
        auto window = MakePageWindow(e.templateId, nullptr);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(window->Control(e.control));
        EXPECT_EQ(accessible->role(), e.role);
        EXPECT_EQ(accessible->text(QAccessible::Name), e.name);
    }
}

class TemplateWindowRun : public WindowTest {
  protected:
    QtDesktop desktop_;
    PageLog log_;
};

TEST_F(TemplateWindowRun, ButtonsCheckBoxesTheLinkEnterAndMnemonicsReachThePage) {
    PageScript script;
    script.up = [this](TemplateDialog& window) {
        QTest::mouseClick(window.Control(1039), Qt::LeftButton);
        EXPECT_TRUE(window.IsChecked(1039));
        QTest::mouseClick(window.Control(1003), Qt::LeftButton);  // disabled
        QTest::keyClick(&window, Qt::Key_Return);                 // but the default button
        window.EnableControl(1003, true);
        QTest::keyClick(&window, Qt::Key_Return);
        // Shortcuts go to the active window; the button shows its press
        // before it clicks.
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_B, Qt::AltModifier);
        When([this] { return log_.Count("command 1004") == 1; }, [&window] { window.EndDialog(7); });
    };
    EXPECT_EQ(desktop_.OpenDialog(id::kUpdateInfo, LoggedPage(log_, script)), 7);
    EXPECT_EQ(log_.events,
              (std::vector<std::string>{"init", "command 1039", "command 1003", "command 1004", "destroy"}));

    PageLog link;
    script.up = [](TemplateDialog& window) {
        QTest::mouseClick(window.Control(1064), Qt::LeftButton);
        window.EndDialog(1);
    };
    desktop_.OpenDialog(id::kBackupNotice, LoggedPage(link, script));
    EXPECT_EQ(link.Count("command 1064"), 1);
}

TEST_F(TemplateWindowRun, EscAndTheCloseBoxOnlyTellThePageAndOnlyWithASystemMenu) {
    PageScript script;
    script.up = [](TemplateDialog& window) {
        QTest::keyClick(&window, Qt::Key_Escape);
        window.close();
        QApplication::processEvents();
        EXPECT_TRUE(window.isVisible());
        window.EndDialog(3);
    };
    EXPECT_EQ(desktop_.OpenDialog(id::kWrongModel, LoggedPage(log_, script)), 3);
    EXPECT_EQ(log_.events, (std::vector<std::string>{"init", "escape", "close", "destroy"}));
    EXPECT_TRUE(log_.window->windowFlags() & Qt::WindowCloseButtonHint);

    PageLog progress;
    EXPECT_EQ(desktop_.OpenDialog(id::kUpdateProgress, LoggedPage(progress, script)), 3);
    EXPECT_EQ(progress.events, (std::vector<std::string>{"init", "escape", "destroy"}));
    EXPECT_FALSE(progress.window->windowFlags() & (Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint));

    PageLog ending;
    script.up = [](TemplateDialog& window) { QTest::keyClick(&window, Qt::Key_Escape); };
    script.escape = [](TemplateDialog& window) { window.EndDialog(2); };
    EXPECT_EQ(desktop_.OpenDialog(id::kReason, LoggedPage(ending, script)), 2);
}

TEST_F(TemplateWindowRun, RedTextAndTheRedFrameAreDrawn) {
    PageScript script;
    script.init = [](TemplateDialog& window) {
        window.SetTextColour(1029, kRed);
        window.SetUnderlined(1064);
        window.DrawFrame(1030, kRed, 2);
    };
    script.up = [](TemplateDialog& window) {
        SavePicture(window, "137-coloured.png");
        EXPECT_GT(CountRed(window.Control(1029)->grab().toImage()), 10);
        EXPECT_EQ(CountRed(window.Control(2000)->grab().toImage()), 0);
        EXPECT_TRUE(window.Control(1064)->font().underline());
        // The frame runs along the hidden group box, two pixels out, one
        // pixel wide.
        QImage image = window.grab().toImage();
        QRect frame = window.Control(1030)->geometry().adjusted(-2, -2, 2, 2);
        for (int x = frame.left(); x <= frame.right(); x += 7) {
            EXPECT_TRUE(IsRed(image.pixelColor(x, frame.top())) && IsRed(image.pixelColor(x, frame.bottom())))
                << x;
        }
        for (int y = frame.top(); y <= frame.bottom(); y += 5) {
            EXPECT_TRUE(IsRed(image.pixelColor(frame.left(), y)) && IsRed(image.pixelColor(frame.right(), y)))
                << y;
        }
        EXPECT_FALSE(IsRed(image.pixelColor(frame.left() - 1, frame.center().y())));
        EXPECT_FALSE(IsRed(image.pixelColor(frame.left() + 1, frame.center().y())));
        window.EndDialog(1);
    };
    desktop_.OpenDialog(id::kBackupNotice, LoggedPage(log_, script));
}

TEST_F(TemplateWindowRun, ThePointerIsToldOnceAMoveAndTheSystemItemIsInTheContextMenuAndOnF1) {
    PageScript script;
    script.init = [](TemplateDialog& window) { window.AddSystemMenuItem(16, "&About Vantor..."); };
    script.up = [](TemplateDialog& window) {
        QTest::mouseMove(window.Control(2002));
        QTest::mouseMove(window.Control(1025));  // disabled
        QTest::mouseMove(window.Control(2));
        QTest::mouseMove(&window, QPoint(window.width() - 2, 2));  // the page itself
        ASSERT_EQ(window.actions().size(), 1);
        EXPECT_EQ(window.contextMenuPolicy(), Qt::ActionsContextMenu);
        EXPECT_EQ(window.actions().front()->text(), "&About Vantor...");
        window.actions().front()->trigger();
        QTest::keyClick(&window, Qt::Key_F1);
        window.EndDialog(2);
    };
    desktop_.OpenDialog(id::kMainMenu, LoggedPage(log_, script));
    EXPECT_EQ(log_.events, (std::vector<std::string>{"init", "pointer 2002", "pointer 1025", "pointer 2",
                                                     "pointer 0", "command 16", "command 16", "destroy"}));
}

}  // namespace
}  // namespace nuva
