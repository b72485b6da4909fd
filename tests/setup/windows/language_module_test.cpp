// A language module that replaces every text of the program changes every
// text the windows show: captions, labels, buttons, group titles, the
// pictures' descriptions and what screen readers are told. A window holds no
// text of its own.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "setup/resources/dialog_templates.h"
#include "setup/resources/resource_file.h"
#include "setup/resources/string_table.h"
#include "setup/windows/page_windows.h"
#include "setup/windows/template_dialog.h"
#include "tests/setup/support/marked_module.h"

namespace nuva {
namespace {

using test::kMark;

bool Marked(const QString& text) {
    return text.startsWith(QString::fromLatin1(kMark)) || text.startsWith(QStringLiteral("XX&"));
}

TEST(LanguageModule, ChangesEveryTextTheWindowsShow) {
    std::filesystem::path file = std::filesystem::temp_directory_path() / "nuva-marked-module.rc";
    std::ofstream(file) << test::MarkedModule();
    ModuleLoadResult loaded = LoadLanguageModule(file.string());
    ASSERT_TRUE(loaded.ok) << loaded.message;

    int checked = 0;
    for (const PageWindow& page : PageWindows()) {
        SCOPED_TRACE(page.name);
        std::unique_ptr<TemplateDialog> window = MakePageWindow(page.templateId, nullptr);
        EXPECT_TRUE(Marked(window->windowTitle())) << window->windowTitle().toStdString();
        for (const ControlTemplate& control : FindDialogTemplate(page.templateId)->controls) {
            if (BuiltInResources().texts.count({page.templateId, control.id}) == 0 ||
                DialogText(page.templateId, control.id) == kMark) {
                continue;  // a control without a text of its own (a bar, an empty frame)
            }
            SCOPED_TRACE(control.id);
            QWidget* widget = window->Control(control.id);
            ASSERT_NE(widget, nullptr);
            QString shown;
            if (auto* label = qobject_cast<QLabel*>(widget); label != nullptr && label->pixmap().isNull()) {
                shown = label->text();
            } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
                shown = button->text();
            } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
                shown = group->title();
            }
            if (!shown.isEmpty()) {
                EXPECT_TRUE(Marked(shown)) << shown.toStdString();
            }
            // A screen reader hears the module's text too; pictures are
            // described by theirs.
            EXPECT_TRUE(widget->accessibleName().startsWith(QString::fromLatin1(kMark)))
                << widget->accessibleName().toStdString();
            ++checked;
        }
    }
    // Every control text of the program was on a window.
    int texts = 0;
    for (const auto& [key, text] : BuiltInResources().texts) {
        texts += key.templateId != 0 && key.controlId != 0 && !text.empty() ? 1 : 0;
    }
    EXPECT_EQ(checked, texts);
    UnloadLanguageModule();
    std::filesystem::remove(file);

    // Without the module the built-in texts are back.
    std::unique_ptr<TemplateDialog> menu = MakePageWindow(102, nullptr);
    EXPECT_EQ(menu->windowTitle().toStdString(), "Brel Nuva Reflash");
}

}  // namespace
}  // namespace nuva
