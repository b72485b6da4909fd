#include "handheld-sim/app/commands.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "formats/json.h"
#include "formats/text_encoding.h"
#include "handheld-sim/app/options.h"
#include "handheld-sim/flash/flash_bank.h"
#include "handheld-sim/store/object_store.h"

namespace nuva::sim::app {

namespace {

ControlReply Ok(std::string out = {}) {
    return ControlReply{kExitOk, std::move(out), {}};
}
ControlReply Failed(std::string why) {
    return ControlReply{kExitFailed, {}, std::move(why) + "\n"};
}
ControlReply Usage(std::string why) {
    return ControlReply{kExitUsage, {}, std::move(why) + "\n"};
}

std::string JsonReason(const std::string& reason) {
    return reason.empty() ? "null" : JsonQuote(reason);
}
const char* JsonBool(bool b) {
    return b ? "true" : "false";
}

bool ReadDesktopFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0) {
        error = "cannot read " + path;
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

std::string StoreError(uint32_t code) {
    static const std::map<uint32_t, const char*> kNames = {
        {store_error::kFileNotFound, "file not found"},
        {store_error::kPathNotFound, "path not found"},
        {store_error::kAccessDenied, "access denied"},
        {store_error::kSharingViolation, "the file is open"},
        {store_error::kDiskFull, "the handheld's store is full"},
        {store_error::kInvalidName, "invalid name"},
        {store_error::kDirectory, "not a file"},
    };
    auto it = kNames.find(code);
    return std::string(it == kNames.end() ? "error" : it->second) + " (" + std::to_string(code) + ")";
}

ControlReply FlashFaultCommand(ControlContext& context, const std::vector<std::string>& args) {
    // args: flash KIND [options]
    if (args.size() < 2) {
        return Usage(
            "fault flash needs a kind: busy, erase-error, program-error, locked, stuck, slow-erase, "
            "slow-program or clear");
    }
    if (args[1] == "clear") {
        context.handheld.WithFlash([](FlashBank& flash) { flash.ClearFaults(); });
        return Ok();
    }
    static const std::map<std::string, FlashFault::Kind> kKinds = {
        {"busy", FlashFault::Kind::kBusyForever},
        {"erase-error", FlashFault::Kind::kEraseError},
        {"program-error", FlashFault::Kind::kProgramError},
        {"locked", FlashFault::Kind::kLocked},
        {"stuck", FlashFault::Kind::kStuckBits},
        {"slow-erase", FlashFault::Kind::kSlowErase},
        {"slow-program", FlashFault::Kind::kSlowProgram}};
    auto kind = kKinds.find(args[1]);
    if (kind == kKinds.end()) {
        return Usage("unknown flash fault '" + args[1] + "'");
    }
    const uint32_t flashBytes = context.handheld.FlashBytes();
    const uint32_t blocks = flashBytes / kFlashBlockBytes;
    FlashFault fault;
    fault.kind = kind->second;
    bool offsetGiven = false;
    bool maskGiven = false;
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (i + 1 >= args.size()) {
            return Usage(option + " needs a value");
        }
        const std::string& value = args[++i];
        if (option == "--chip") {
            if (value == "both") {
                fault.chip = -1;
            } else if (value == "0" || value == "1") {
                fault.chip = value == "1" ? 1 : 0;
            } else {
                return Usage("--chip takes 0, 1 or both");
            }
        } else if (option == "--block") {
            auto block = ParseNumber(value, blocks - 1);
            if (!block) {
                return Usage("--block takes a block number from 0 to " + std::to_string(blocks - 1));
            }
            fault.blockFirst = fault.blockLast = static_cast<int32_t>(*block);
        } else if (option == "--blocks") {
            size_t dash = value.find('-');
            auto first = ParseNumber(value.substr(0, dash), blocks - 1);
            auto last =
                dash == std::string::npos ? std::nullopt : ParseNumber(value.substr(dash + 1), blocks - 1);
            if (!first || !last || *last < *first) {
                return Usage("--blocks takes FIRST-LAST within 0-" + std::to_string(blocks - 1));
            }
            fault.blockFirst = static_cast<int32_t>(*first);
            fault.blockLast = static_cast<int32_t>(*last);
        } else if (option == "--ops") {
            auto ops = ParseNumber(value, 0xFFFFFFFFu);
            if (!ops) {
                return Usage("--ops takes a count of operations");
            }
            fault.operations = static_cast<uint32_t>(*ops);
        } else if (option == "--offset") {
            auto offset = ParseNumber(value, flashBytes - 4);
            if (!offset || *offset % 4 != 0) {
                return Usage("--offset takes a word offset (a multiple of 4) inside the flash");
            }
            fault.stuckOffset = static_cast<uint32_t>(*offset);
            offsetGiven = true;
        } else if (option == "--mask") {
            auto mask = ParseNumber(value, 0xFFFFFFFFu);
            if (!mask || *mask == 0) {
                return Usage("--mask takes the non-zero mask of the bits held at 0");
            }
            fault.stuckMask = static_cast<uint32_t>(*mask);
            maskGiven = true;
        } else if (option == "--reads" || option == "--micros") {
            auto count = ParseNumber(value, 0xFFFFFFFFu);
            if (!count) {
                return Usage(option + " takes a count up to 4294967295");
            }
            uint32_t& field = option == "--reads" ? fault.busyReads : fault.busyMicros;
            field = static_cast<uint32_t>(*count);
        } else {
            return Usage("unknown flash fault option '" + option + "'");
        }
    }
    if (fault.kind == FlashFault::Kind::kStuckBits && !(offsetGiven && maskGiven)) {
        return Usage("fault flash stuck needs --offset and --mask");
    }
    // The bank refuses what does not fit it (a slow fault without a time, a
    // stuck mask outside the chosen chip) with its own words.
    std::string problem;
    context.handheld.WithFlash([&](FlashBank& flash) {
        problem = flash.CheckFault(fault);
        if (problem.empty()) {
            flash.InjectFault(fault);
        }
    });
    return problem.empty() ? Ok() : Usage("fault flash: " + problem);
}

ControlReply FaultCommand(ControlContext& context, const std::vector<std::string>& args) {
    if (args.empty()) {
        return Usage("fault needs a kind");
    }
    const std::string& what = args[0];
    RapiFaults faults;
    if (what == "flash") {
        return FlashFaultCommand(context, args);
    }
    if (what == "clear" && args.size() == 1) {
        context.service.ClearFaults();
        context.handheld.WithFlash([](FlashBank& flash) { flash.ClearFaults(); });
        return Ok();
    }
    if (what == "cable-drop" && args.size() == 2) {
        auto bytes = ParseNumber(args[1], static_cast<uint64_t>(INT64_MAX));
        if (!bytes) {
            return Usage("fault cable-drop takes a byte count");
        }
        faults.dropAfterBytes = static_cast<int64_t>(*bytes);
    } else if (what == "write-fail" && args.size() == 1) {
        faults.failNextWrite = true;
    } else if (what == "corrupt" && (args.size() == 3 || args.size() == 4)) {
        auto offset = ParseNumber(args[2], 0xFFFFFFFFu);
        auto mask = args.size() == 4 ? ParseNumber(args[3], 0xFF) : std::optional<uint64_t>(0xFF);
        if (args[1].empty() || !offset || !mask || *mask == 0) {
            return Usage("fault corrupt takes DEVICEPATH OFFSET [MASK], MASK a non-zero byte");
        }
        faults.corruptPath = Utf16FromUtf8(args[1]);
        faults.corruptOffset = static_cast<uint32_t>(*offset);
        faults.corruptMask = static_cast<uint8_t>(*mask);
    } else if (what == "agent-fail" && (args.size() == 2 || args.size() == 4)) {
        auto count = ParseNumber(args[1], 0xFFFFFFFFu);
        if (!count || *count == 0 || (args.size() == 4 && (args[2] != "--export" || args[3].empty()))) {
            return Usage("fault agent-fail takes a count of calls (at least 1) and optionally --export NAME");
        }
        faults.failAgentCalls = static_cast<uint32_t>(*count);
        if (args.size() == 4) {
            faults.failAgentExport = Utf16FromUtf8(args[3]);
        }
    } else if (what == "version-fail" && args.size() == 2) {
        auto count = ParseNumber(args[1], 0xFFFFFFFFu);
        if (!count || *count == 0) {
            return Usage("fault version-fail takes a count of version queries (at least 1)");
        }
        faults.failVersionCalls = static_cast<uint32_t>(*count);
    } else {
        return Usage("unknown fault or wrong arguments: fault " + what);
    }
    context.service.InjectFaults(faults);
    return Ok();
}

ControlReply DumpFlash(ControlContext& context, const std::vector<std::string>& args) {
    if (args.empty()) {
        return Usage("dump-flash needs a FILE");
    }
    const uint32_t flashBytes = context.handheld.FlashBytes();
    uint64_t offset = 0;
    std::optional<uint64_t> length;
    for (size_t i = 1; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) {
            return Usage(args[i] + " needs a value");
        }
        auto value = ParseNumber(args[i + 1], flashBytes);
        if (!value) {
            return Usage(args[i] + " takes a number up to the flash size (" + std::to_string(flashBytes) +
                         ")");
        }
        if (args[i] == "--offset") {
            offset = *value;
        } else if (args[i] == "--length") {
            length = *value;
        } else {
            return Usage("unknown dump-flash option '" + args[i] + "'");
        }
    }
    uint64_t count = length.value_or(flashBytes - offset);
    if (offset + count > flashBytes) {
        return Usage("the range passes the end of the flash (" + std::to_string(flashBytes) + " bytes)");
    }
    std::vector<uint8_t> cells =
        context.handheld.DumpFlash(static_cast<uint32_t>(offset), static_cast<uint32_t>(count));
    std::string error;
    if (!WriteFileAtomically(args[0], cells, error)) {
        return Failed(error);
    }
    return Ok();
}

ControlReply FileCommand(ControlContext& context, const std::string& verb,
                         const std::vector<std::string>& args) {
    std::string error;
    if (verb == "pull") {
        if (args.size() != 2) {
            return Usage("pull takes DEVICEPATH FILE");
        }
        std::vector<uint8_t> contents;
        uint32_t result = context.handheld.Store().Files().Get(Utf16FromUtf8(args[0]), &contents);
        if (result != store_error::kSuccess) {
            return Failed(args[0] + ": " + StoreError(result));
        }
        if (!WriteFileAtomically(args[1], contents, error)) {
            return Failed(error);
        }
        return Ok();
    }
    if (verb == "push") {
        if (args.size() != 2) {
            return Usage("push takes FILE DEVICEPATH");
        }
        std::vector<uint8_t> contents;
        if (!ReadDesktopFile(args[0], contents, error)) {
            return Failed(error);
        }
        uint32_t result = context.handheld.Store().Files().Put(Utf16FromUtf8(args[1]), contents);
        if (result != store_error::kSuccess) {
            return Failed(args[1] + ": " + StoreError(result));
        }
        return Ok();
    }
    // ls
    if (args.size() != 1) {
        return Usage("ls takes DEVICEPATH");
    }
    std::vector<EntryInfo> entries;
    uint32_t result = context.handheld.Store().Files().List(Utf16FromUtf8(args[0]), &entries);
    if (result != store_error::kSuccess) {
        return Failed(args[0] + ": " + StoreError(result));
    }
    std::string out;
    for (const EntryInfo& entry : entries) {
        out += (entry.folder ? std::string("<DIR>") : std::to_string(entry.size)) + "\t" +
               Utf8FromUtf16(entry.name) + "\n";
    }
    return Ok(out);
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
    std::string temporary = path + ".part-" + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::filesystem::remove(temporary);
            error = "cannot write " + path;
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::filesystem::remove(temporary);
        error = "cannot write " + path + ": " + ec.message();
        return false;
    }
    return true;
}

ServiceStatus ServiceStatusOf(const RapiService& service) {
    return ServiceStatus{service.Connected(), service.ConnectionsServed(), service.VersionQueriesAnswered(),
                         service.PendingFaults()};
}

std::string StatusJson(const HandheldStatus& s, const ServiceStatus& service) {
    std::string j = "{";
    j += "\"started\":" + std::string(JsonBool(s.started));
    j += ",\"plugged\":" + std::string(JsonBool(s.plugged));
    j += ",\"ac\":" + std::string(JsonBool(s.acOnline));
    j += ",\"battery\":" + (s.batteryPercent ? std::to_string(*s.batteryPercent) : std::string("null"));
    j += ",\"rom\":{\"date_code\":" + JsonQuote(s.rom.dateCode) + ",\"version\":" + JsonQuote(s.rom.version) +
         ",\"os_major\":" + std::to_string(s.rom.osMajor) +
         ",\"language_id\":" + std::to_string(s.rom.languageId) + "}";
    j += ",\"memory_config\":" + std::to_string(s.memoryConfig);
    j += ",\"message_box\":" + (s.messageBox
                                    ? "{\"caption\":" + JsonQuote(Utf8FromUtf16(s.messageBox->caption)) +
                                          ",\"text\":" + JsonQuote(Utf8FromUtf16(s.messageBox->text)) + "}"
                                    : std::string("null"));
    j += ",\"crashed\":" + JsonReason(s.crashedReason);
    j += ",\"running\":" + (s.runningPrograms.empty() ? std::string("null")
                                                      : JsonQuote(Utf8FromUtf16(s.runningPrograms.front())));
    j += ",\"bricked\":" + JsonReason(s.brickedReason);
    j += ",\"link\":" + std::string(JsonBool(s.linkAvailable));
    j += ",\"desktop_connected\":" + std::string(JsonBool(service.desktopConnected));
    j += ",\"restarting\":" + std::string(JsonBool(s.restarting));
    j += ",\"boot_generation\":" + std::to_string(s.bootGeneration);
    j += ",\"desktops_served\":" + std::to_string(service.desktopsServed);
    j += ",\"version_queries\":" + std::to_string(service.versionQueries);
    const RapiFaults& f = service.pending;
    j += ",\"pending_faults\":{\"cable_drop\":" +
         (f.dropAfterBytes >= 0 ? std::to_string(f.dropAfterBytes) : std::string("null")) +
         ",\"write_fail\":" + JsonBool(f.failNextWrite) + ",\"corrupt\":" +
         (f.corruptPath.empty() ? std::string("null") : JsonQuote(Utf8FromUtf16(f.corruptPath))) +
         ",\"agent_fail\":" + std::to_string(f.failAgentCalls) +
         ",\"version_fail\":" + std::to_string(f.failVersionCalls) + "}";
    return j + "}\n";
}

std::string StatusText(const HandheldStatus& s, const ServiceStatus& service) {
    auto yes = [](bool b) { return b ? "yes" : "no"; };
    char config[16];
    std::snprintf(config, sizeof config, "0x%08X", s.memoryConfig);
    std::string t;
    t += std::string("started: ") + yes(s.started) + (s.restarting ? " (restarting)" : "") + "\n";
    t += std::string("plugged: ") + yes(s.plugged) + "\n";
    t += std::string("link: ") + yes(s.linkAvailable) +
         (service.desktopConnected ? " (desktop connected)" : "") + "\n";
    t += std::string("ac: ") + (s.acOnline ? "on" : "off") + "\n";
    t += "battery: " + (s.batteryPercent ? std::to_string(*s.batteryPercent) + " %" : std::string("none")) +
         "\n";
    t += "rom: " + s.rom.dateCode + " " + s.rom.version + ", OS " + std::to_string(s.rom.osMajor) +
         ", language " + std::to_string(s.rom.languageId) + "\n";
    t += std::string("memory config: ") + config + "\n";
    if (s.messageBox) {
        t += "message box: " + Utf8FromUtf16(s.messageBox->caption) + ": " +
             Utf8FromUtf16(s.messageBox->text) + "\n";
    }
    if (!s.runningPrograms.empty()) {
        t += "running: " + Utf8FromUtf16(s.runningPrograms.front()) + "\n";
    }
    if (!s.crashedReason.empty()) {
        t += "crashed: " + s.crashedReason + "\n";
    }
    if (!s.brickedReason.empty()) {
        t += "bricked: " + s.brickedReason + "\n";
    }
    t += "desktops served: " + std::to_string(service.desktopsServed) +
         ", version queries answered: " + std::to_string(service.versionQueries) + "\n";
    const RapiFaults& f = service.pending;
    std::string armed;
    auto add = [&armed](const std::string& fault) { armed += (armed.empty() ? "" : ", ") + fault; };
    if (f.dropAfterBytes >= 0) {
        add("cable-drop " + std::to_string(f.dropAfterBytes));
    }
    if (f.failNextWrite) {
        add("write-fail");
    }
    if (!f.corruptPath.empty()) {
        add("corrupt " + Utf8FromUtf16(f.corruptPath));
    }
    if (f.failAgentCalls > 0) {
        add("agent-fail " + std::to_string(f.failAgentCalls) +
            (f.failAgentExport.empty() ? "" : " --export " + Utf8FromUtf16(f.failAgentExport)));
    }
    if (f.failVersionCalls > 0) {
        add("version-fail " + std::to_string(f.failVersionCalls));
    }
    if (!armed.empty()) {
        t += "pending faults: " + armed + "\n";
    }
    return t;
}

ControlReply RunControlCommand(ControlContext& context, const std::vector<std::string>& command) {
    if (command.empty()) {
        return Usage("no command");
    }
    const std::string& verb = command[0];
    const std::vector<std::string> args(command.begin() + 1, command.end());
    Handheld& handheld = context.handheld;
    if (verb == "status") {
        if (!args.empty() && !(args.size() == 1 && args[0] == "--json")) {
            return Usage("status takes only --json");
        }
        HandheldStatus status = handheld.Status();
        ServiceStatus service = ServiceStatusOf(context.service);
        return Ok(args.empty() ? StatusText(status, service) : StatusJson(status, service));
    }
    if ((verb == "plug" || verb == "unplug" || verb == "press-ok" || verb == "quit") && !args.empty()) {
        return Usage(verb + " takes no arguments");
    }
    if (verb == "plug" || verb == "unplug") {
        handheld.Plug(verb == "plug");
        return Ok();
    }
    if (verb == "ac") {
        if (args.size() != 1 || (args[0] != "on" && args[0] != "off")) {
            return Usage("ac takes on or off");
        }
        handheld.SetAc(args[0] == "on");
        return Ok();
    }
    if (verb == "battery") {
        if (args.size() == 1 && args[0] == "none") {
            handheld.SetBattery(std::nullopt);
            return Ok();
        }
        auto percent = args.size() == 1 ? ParseNumber(args[0], 100) : std::nullopt;
        if (!percent) {
            return Usage("battery takes a percentage from 0 to 100, or none");
        }
        handheld.SetBattery(static_cast<uint8_t>(*percent));
        return Ok();
    }
    if (verb == "reset") {
        if (args.size() != 1 || (args[0] != "warm" && args[0] != "cold")) {
            return Usage("reset takes warm or cold");
        }
        handheld.Reset(args[0] == "warm" ? ResetKind::kWarm : ResetKind::kCold);
        return Ok();
    }
    if (verb == "screenshot") {
        if (args.size() != 1) {
            return Usage("screenshot takes FILE.png");
        }
        std::string detail;
        if (!handheld.SaveScreenshot(args[0], &detail)) {
            return Failed("cannot save the screenshot: " + detail);
        }
        return Ok();
    }
    if (verb == "dump-flash") {
        return DumpFlash(context, args);
    }
    if (verb == "pull" || verb == "push" || verb == "ls") {
        return FileCommand(context, verb, args);
    }
    if (verb == "fault") {
        return FaultCommand(context, args);
    }
    if (verb == "press-ok") {
        return handheld.PressOk() ? Ok() : Failed("no message box is up");
    }
    if (verb == "quit") {
        context.requestQuit();
        return Ok();
    }
    return Usage("unknown subcommand '" + verb + "'");
}

}  // namespace nuva::sim::app
