#include "tests/setup/windows/window_test_support.h"

#include <QDialog>
#include <QDir>
#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/clock/clock.h"

namespace nuva::test {

int PageLog::Count(const std::string& event) const {
    return static_cast<int>(std::count(events.begin(), events.end(), event));
}

namespace {

class Scripted final : public PageController {
  public:
    Scripted(TemplateDialog& window, PageLog& log, PageScript script)
        : window_(window), log_(log), script_(std::move(script)) {
        log_.window = &window_;
    }

    void Init() override {
        log_.events.push_back("init");
        if (script_.init) {
            script_.init(window_);
        }
        if (script_.up) {
            Later([&window = window_, up = script_.up] { up(window); });
        }
    }
    void OnTimer(uint32_t id) override {
        log_.events.push_back("timer " + std::to_string(id));
        if (script_.timer) {
            script_.timer(window_, id);
        }
    }
    void OnMessage(uint32_t message, uint32_t wParam, uint32_t lParam) override {
        char line[48];
        std::snprintf(line, sizeof line, "message 0x%x %u %u", message, wParam, lParam);
        log_.events.push_back(line);
        if (script_.message) {
            script_.message(window_, message);
        }
    }
    void OnCommand(uint32_t control) override { log_.events.push_back("command " + std::to_string(control)); }
    void OnEscape() override {
        log_.events.push_back("escape");
        if (script_.escape) {
            script_.escape(window_);
        }
    }
    void OnClose() override { log_.events.push_back("close"); }
    void OnPointerOver(uint32_t control) override {
        log_.events.push_back("pointer " + std::to_string(control));
    }
    void Destroy() override { log_.events.push_back("destroy"); }

  private:
    TemplateDialog& window_;
    PageLog& log_;
    PageScript script_;
};

}  // namespace

PageMaker LoggedPage(PageLog& log, PageScript script) {
    return [&log, script = std::move(script)](PageView& view) {
        return std::make_unique<Scripted>(dynamic_cast<TemplateDialog&>(view), log, script);
    };
}

void Later(std::function<void()> act) {
    QTimer::singleShot(0, qApp, std::move(act));
}

void When(std::function<bool()> ready, std::function<void()> act) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, qApp, [poll, ready = std::move(ready), act = std::move(act)] {
        if (ready()) {
            poll->stop();
            poll->deleteLater();
            act();
        }
    });
    poll->start(2);
}

void SavePicture(QWidget& window, const QString& file) {
    QDir folder(QStringLiteral(NUVA_TEST_PICTURES));
    folder.mkpath(QStringLiteral("."));
    EXPECT_TRUE(window.grab().save(folder.filePath(file))) << file.toStdString();
}

bool IsRed(QColor colour) {
    return colour.red() >= 200 && colour.green() <= 60 && colour.blue() <= 60;
}

int CountRed(const QImage& image) {
    int red = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            red += IsRed(image.pixelColor(x, y)) ? 1 : 0;
        }
    }
    return red;
}

void WindowTest::SetUp() {
    scale_ = TimeScale();
    watchdog_ = std::make_unique<QTimer>();
    watchdog_->setSingleShot(true);
    QObject::connect(watchdog_.get(), &QTimer::timeout, [] {
        ADD_FAILURE() << "A modal window was still open after 20 s";
        // A box or a file dialog first, then the pages under it.
        auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (modal != nullptr && dynamic_cast<TemplateDialog*>(modal) == nullptr) {
            modal->reject();
        }
        for (QWidget* widget : QApplication::allWidgets()) {
            if (auto* page = dynamic_cast<TemplateDialog*>(widget); page != nullptr && page->Running()) {
                page->EndDialog(-1);
            }
        }
    });
    watchdog_->start(20000);
}

void WindowTest::TearDown() {
    watchdog_.reset();
    SetTimeScale(scale_);
}

}  // namespace nuva::test
