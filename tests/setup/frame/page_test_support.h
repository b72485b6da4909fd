// What the page controllers' tests share: waiting for what a page's own
// thread posts, a language module in place for one test, an environment
// variable set for one test, and the checks every watching page must pass
// when the link goes.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "setup/frame/dialog_kit.h"
#include "setup/resources/dialog_ids.h"
#include "setup/resources/string_table.h"
#include "tests/setup/support/recording_view.h"

namespace nuva::test {

// Delivers what is posted to `page` (by the page, or by a thread of its
// own) until `done` holds, for a few seconds at most; false when it never
// did.
template <typename Done>
bool DeliverUntil(RecordingPageView& view, PageController& page, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        view.DeliverPosted(page);
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// A language module with `text` (string table format), loaded while the
// object lives; the built-in texts come back after it.
class LanguageModule {
  public:
    explicit LanguageModule(std::string_view text) {
        path_ = (std::filesystem::temp_directory_path() / ("nuva-pages-module-" + std::to_string(::getpid()) +
                                                           "-" + std::to_string(counter_++) + ".rc"))
                    .string();
        std::ofstream(path_, std::ios::binary) << text;
        ModuleLoadResult loaded = LoadLanguageModule(path_);
        EXPECT_TRUE(loaded.ok) << loaded.message;
    }
    ~LanguageModule() {
        UnloadLanguageModule();
        std::filesystem::remove(path_);
    }
    LanguageModule(const LanguageModule&) = delete;
    LanguageModule& operator=(const LanguageModule&) = delete;

  private:
    static inline int counter_ = 0;
    std::string path_;
};

// The three headings of ConnectionLostDialog read alike in English; this
// module tells them apart, so that a test sees the mode a page passed.
inline constexpr std::string_view kLostHeadingsModule =
    "137 \"lost, mode 0\"\n138 \"lost, mode 1\"\n139 \"lost, mode 2\"\n";

// The page showed ConnectionLostDialog once, in `mode` (with
// kLostHeadingsModule loaded), and ended with 4.
inline void ExpectConnectionLost(const RecordingPageView& view, int mode) {
    EXPECT_EQ(view.Opened(dialog_id::kConnectionLost), 1);
    const RecordingPageView::Nested* lost = view.LastNested(dialog_id::kConnectionLost);
    ASSERT_NE(lost, nullptr);
    EXPECT_EQ(lost->view->texts.at(ConnectionLostController::kHeading), "lost, mode " + std::to_string(mode));
    EXPECT_EQ(view.ends, std::vector<int>{4});
}

// An environment variable set (or unset, with nothing) for one test.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = ::getenv(name)) {
            old_ = old;
        }
        Set(value);
    }
    ~ScopedEnv() { Set(old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    void Set(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name_, value->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace nuva::test
