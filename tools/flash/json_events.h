// nuva-flash's machine-readable events (--json): one JSON object per line on
// standard output for every step a person at the terminal would see, while
// the human text goes to standard error. Every line carries "v" (the schema
// version, kEventSchemaVersion) and "event" (what happened); the fields of
// each event are listed in docs/nuva-flash-events.md. A reader may ignore
// fields and events it does not know; a change that takes a field away or
// changes its meaning raises the version.
//
// Events come from the console loop's thread and from the threads that wait
// for the handheld; a line is written whole under a lock. Without --json
// the object is switched off and writes nothing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuva {

inline constexpr int kEventSchemaVersion = 1;

// One event line under construction: fields in the order added.
class EventLine {
  public:
    explicit EventLine(std::string_view event);
    EventLine& Text(std::string_view key, std::string_view value);
    EventLine& Number(std::string_view key, int64_t value);
    EventLine& Flag(std::string_view key, bool value);
    EventLine& Null(std::string_view key);
    EventLine& Texts(std::string_view key, const std::vector<std::string>& values);
    // The whole object, without the line end.
    std::string Json() const { return json_ + "}"; }

  private:
    EventLine& Key(std::string_view key);
    std::string json_;
};

class FlashEvents {
  public:
    // Off: nothing is written.
    FlashEvents() = default;
    // On: lines go to `out`.
    explicit FlashEvents(std::FILE* out) : out_(out) {}
    FlashEvents(const FlashEvents&) = delete;
    FlashEvents& operator=(const FlashEvents&) = delete;

    bool On() const { return out_ != nullptr; }

    // The run begins: which command.
    void Started(std::string_view command);
    // A page or dialog has opened and shows these texts (caption first).
    void Page(uint32_t templateId, std::string_view title, const std::vector<std::string>& texts);
    // A message box.
    void Box(std::string_view title, std::string_view text);
    // A question put to the user; with `answeredBy` ("--yes") it is answered
    // yes at once, otherwise an Answer follows once one is typed.
    void Question(std::string_view text, std::optional<std::string_view> answeredBy);
    // The answer to the last question: yes or no, and where it came from
    // ("typed", or "end of input" when nobody is there to type).
    void Answer(bool yes, std::string_view by);
    // What a check found: its name, whether it passed, and what was shown.
    void Check(std::string_view name, bool ok, std::string_view text);
    // The operation is refused: the heading and each reason shown.
    void Refused(std::string_view heading, const std::vector<std::string>& reasons);
    // Progress of the whole run and of the part being copied (null when
    // the part's bar is hidden), with the status text. Repeats are dropped.
    void Progress(std::string_view page, uint32_t all, std::optional<uint32_t> part, std::string_view status);
    // Waiting for something (the handheld, the AC adapter), as the status
    // line says it.
    void Waiting(std::string_view text);
    // The handheld restarts (`into`: "flasher" after an update or restore,
    // "rom" after a backup).
    void Restart(std::string_view into);
    // The handheld answered again (or did not): what it runs, and whether
    // that is the ROM just written.
    void Handheld(bool answering, std::string_view dateCode, std::string_view version, std::string_view os,
                  std::optional<bool> runsWritten);
    // Read-back verification: `stage` "start", "progress" or "done"; `ok`
    // with "done"; bytes checked of the total; what it says.
    void Verify(std::string_view stage, std::optional<bool> ok, uint64_t doneBytes, uint64_t totalBytes,
                std::string_view text);
    // A line that names the cause of the message shown before it.
    void Cause(std::string_view text);
    // One finding of doctor: its subject, "ok", "note" or "fault", what was
    // found and what to do (empty: nothing).
    void Finding(std::string_view subject, std::string_view level, std::string_view text,
                 std::string_view advice);
    // The end: the exit code and what it means.
    void Result(int exitCode, std::string_view meaning);

    // Writes any line (for events this header does not model yet).
    void Write(const EventLine& line);

  private:
    std::FILE* out_ = nullptr;
    std::mutex mutex_;
    std::string lastProgress_;
};

// What an exit code of nuva-flash means, in the words of its help text.
std::string_view ExitMeaning(int exitCode);

}  // namespace nuva
