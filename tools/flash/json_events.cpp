#include "tools/flash/json_events.h"

#include "formats/json.h"
#include "tools/flash/options.h"

namespace nuva {

EventLine::EventLine(std::string_view event) {
    json_ = "{\"v\":" + std::to_string(kEventSchemaVersion) + ",\"event\":" + JsonQuote(event);
}

EventLine& EventLine::Key(std::string_view key) {
    json_ += "," + JsonQuote(key) + ":";
    return *this;
}

EventLine& EventLine::Text(std::string_view key, std::string_view value) {
    Key(key).json_ += JsonQuote(value);
    return *this;
}

EventLine& EventLine::Number(std::string_view key, int64_t value) {
    Key(key).json_ += std::to_string(value);
    return *this;
}

EventLine& EventLine::Flag(std::string_view key, bool value) {
    Key(key).json_ += value ? "true" : "false";
    return *this;
}

EventLine& EventLine::Null(std::string_view key) {
    Key(key).json_ += "null";
    return *this;
}

EventLine& EventLine::Texts(std::string_view key, const std::vector<std::string>& values) {
    Key(key).json_ += "[";
    for (size_t i = 0; i < values.size(); ++i) {
        json_ += (i == 0 ? "" : ",") + JsonQuote(values[i]);
    }
    json_ += "]";
    return *this;
}

void FlashEvents::Write(const EventLine& line) {
    if (out_ == nullptr) {
        return;
    }
    std::string text = line.Json() + "\n";
    std::lock_guard lock(mutex_);
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
}

void FlashEvents::Started(std::string_view command) {
    Write(EventLine("start").Text("program", "nuva-flash").Text("command", command));
}

void FlashEvents::Page(uint32_t templateId, std::string_view title, const std::vector<std::string>& texts) {
    Write(EventLine("page").Number("id", templateId).Text("title", title).Texts("texts", texts));
}

void FlashEvents::Box(std::string_view title, std::string_view text) {
    Write(EventLine("box").Text("title", title).Text("text", text));
}

void FlashEvents::Question(std::string_view text, std::optional<std::string_view> answeredBy) {
    EventLine line("question");
    line.Text("text", text);
    if (answeredBy) {
        line.Flag("yes", true).Text("by", *answeredBy);
    } else {
        line.Null("yes");
    }
    Write(line);
}

void FlashEvents::Answer(bool yes, std::string_view by) {
    Write(EventLine("answer").Flag("yes", yes).Text("by", by));
}

void FlashEvents::Check(std::string_view name, bool ok, std::string_view text) {
    Write(EventLine("check").Text("name", name).Flag("ok", ok).Text("text", text));
}

void FlashEvents::Refused(std::string_view heading, const std::vector<std::string>& reasons) {
    Write(EventLine("refused").Text("heading", heading).Texts("reasons", reasons));
}

void FlashEvents::Progress(std::string_view page, uint32_t all, std::optional<uint32_t> part,
                           std::string_view status) {
    if (out_ == nullptr) {
        return;
    }
    EventLine line("progress");
    line.Text("page", page).Number("all", all);
    if (part) {
        line.Number("part", *part);
    } else {
        line.Null("part");
    }
    line.Text("status", status);
    {
        // A page redraws its bars for every change of any of them; the
        // same line twice says nothing new.
        std::lock_guard lock(mutex_);
        std::string json = line.Json();
        if (json == lastProgress_) {
            return;
        }
        lastProgress_ = json;
    }
    Write(line);
}

void FlashEvents::Waiting(std::string_view text) {
    Write(EventLine("waiting").Text("text", text));
}

void FlashEvents::Restart(std::string_view into) {
    Write(EventLine("restart").Text("into", into));
}

void FlashEvents::Handheld(bool answering, std::string_view dateCode, std::string_view version,
                           std::string_view os, std::optional<bool> runsWritten) {
    EventLine line("handheld");
    line.Flag("answering", answering);
    if (answering) {
        line.Text("date_code", dateCode).Text("version", version).Text("os", os);
    }
    if (runsWritten) {
        line.Flag("runs_written", *runsWritten);
    } else {
        line.Null("runs_written");
    }
    Write(line);
}

void FlashEvents::Verify(std::string_view stage, std::optional<bool> ok, uint64_t doneBytes,
                         uint64_t totalBytes, std::string_view text) {
    EventLine line("verify");
    line.Text("stage", stage);
    if (ok) {
        line.Flag("ok", *ok);
    } else {
        line.Null("ok");
    }
    line.Number("done", static_cast<int64_t>(doneBytes))
        .Number("total", static_cast<int64_t>(totalBytes))
        .Text("text", text);
    Write(line);
}

void FlashEvents::Cause(std::string_view text) {
    Write(EventLine("cause").Text("text", text));
}

void FlashEvents::Finding(std::string_view subject, std::string_view level, std::string_view text,
                          std::string_view advice) {
    Write(EventLine("finding")
              .Text("subject", subject)
              .Text("level", level)
              .Text("text", text)
              .Text("advice", advice));
}

void FlashEvents::Result(int exitCode, std::string_view meaning) {
    Write(EventLine("result").Number("exit", exitCode).Text("meaning", meaning));
}

std::string_view ExitMeaning(int exitCode) {
    switch (exitCode) {
        case flash_exit::kDone:
            return "done";
        case flash_exit::kUsage:
            return "the command line is wrong";
        case flash_exit::kRefused:
            return "refused or cancelled";
        case flash_exit::kCheckFailed:
            return "a check failed";
        case flash_exit::kConnectionLost:
            return "no handheld connected, or the connection was lost";
        case flash_exit::kRunFailed:
            return "the update, restore or backup failed";
        case flash_exit::kNoReturn:
            return "the handheld did not answer again after its restart";
        default:
            return "unknown";
    }
}

}  // namespace nuva
