// nuva-flash --json and doctor against a running emulated handheld: every
// line of a whole update, backup and restore is one strict JSON object of
// the schema, the human text goes to standard error, and doctor names the
// faults a test sets up.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "formats/json.h"
#include "tests/e2e/flash/flash_e2e_support.h"
#include "tests/support/eventually.h"

namespace flash_e2e {
namespace {

using nuva::JsonValue;
using nuva::imagegen::OsFamily;
namespace fs = std::filesystem;

bool Has(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

const nuva::imagegen::ImageSpec kA02 = Rom(OsFamily::k2003, "03050300", "A02");
const nuva::imagegen::ImageSpec kA03 = Rom(OsFamily::k2003, "04100300", "A03");

class FlashJsonE2E : public FlashE2E {
  protected:
    // nuva-flash with its standard error in a file of its own; the exit
    // code, standard output in `out`, standard error in `err`.
    int RunSplit(const std::string& installation, std::vector<std::string> args, std::string& out,
                 std::string& err, const std::string& link = "") {
        const std::string errFile = Path("stderr-" + std::to_string(++runs_));
        std::vector<std::string> all{"-c", "p=$0; e=$1; shift; exec \"$p\" \"$@\" 2>\"$e\"",
                                     installation + "/nuva-flash", errFile};
        all.insert(all.end(), args.begin(), args.end());
        FlashRun run("/bin/sh", all,
                     !link.empty() ? link
                     : handheld_   ? handheld_->CableEndpoint()
                                   : "unix:" + Path("no-handheld"));
        int code = run.Finish(std::chrono::seconds(300));
        out = run.Output();
        Bytes bytes = ReadFile(errFile);
        err.assign(bytes.begin(), bytes.end());
        return code;
    }

    // Every line a versioned object; the events in order.
    static std::vector<JsonValue> Events(const std::string& out) {
        std::vector<JsonValue> events;
        size_t start = 0;
        while (start < out.size()) {
            size_t end = out.find('\n', start);
            EXPECT_NE(end, std::string::npos) << "an unended last line";
            if (end == std::string::npos) {
                break;
            }
            std::string error;
            std::optional<JsonValue> line = nuva::ParseJson(out.substr(start, end - start), error);
            EXPECT_TRUE(line && line->IsObject()) << out.substr(start, end - start) << ": " << error;
            if (line) {
                const JsonValue* v = line->Find("v");
                const JsonValue* event = line->Find("event");
                EXPECT_TRUE(v != nullptr && v->AsNumber() == 1) << out.substr(start, end - start);
                EXPECT_TRUE(event != nullptr && event->IsString()) << out.substr(start, end - start);
                events.push_back(*line);
            }
            start = end + 1;
        }
        return events;
    }

    static const JsonValue* First(const std::vector<JsonValue>& events, const std::string& name) {
        for (const JsonValue& e : events) {
            if (e.Find("event")->AsString() == name) {
                return &e;
            }
        }
        return nullptr;
    }

    static std::string Installation(const std::string& into) {
        fs::copy(DemoInstallation(), into, fs::copy_options::recursive);
        return into;
    }

    int runs_ = 0;
};

TEST_F(FlashJsonE2E, EveryLineOfAnUpdateABackupAndARestoreIsAnEventOfTheSchema) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02)));
    const std::string ris = Path("a02.ris");
    std::string out;
    std::string err;
    ASSERT_EQ(RunSplit(DemoInstallation(), {"backup", ris, "--yes", "--json"}, out, err), 0) << out << err;
    std::vector<JsonValue> backup = Events(out);
    ASSERT_FALSE(backup.empty());
    EXPECT_EQ(backup.front().Find("command")->AsString(), "backup");
    EXPECT_EQ(backup.back().Find("event")->AsString(), "result");
    EXPECT_EQ(backup.back().Find("exit")->AsNumber(), 0);
    EXPECT_TRUE(Has(err, "The ROM image has been saved successfully!")) << err;
    EXPECT_FALSE(Has(out, "saved successfully!\n")) << "human text on standard output";

    ASSERT_EQ(RunSplit(DemoInstallation(), {"update", "--yes", "--json"}, out, err), 0) << out << err;
    std::vector<JsonValue> update = Events(out);
    ASSERT_NE(First(update, "question"), nullptr) << out;
    EXPECT_EQ(First(update, "question")->Find("by")->AsString(), "--yes");
    const JsonValue* columns = First(update, "columns");
    ASSERT_NE(columns, nullptr) << out;
    EXPECT_EQ(columns->Find("image")->Items().at(1).AsString(), "A03(04100300EN)");
    bool fullBar = false;
    for (const JsonValue& e : update) {
        fullBar = fullBar || (e.Find("event")->AsString() == "progress" && e.Find("all")->AsNumber() == 100);
    }
    EXPECT_TRUE(fullBar) << out;
    ASSERT_NE(First(update, "restart"), nullptr) << out;
    const JsonValue* answered = First(update, "handheld");
    ASSERT_NE(answered, nullptr) << out;
    EXPECT_TRUE(answered->Find("runs_written")->AsBool());
    EXPECT_EQ(answered->Find("date_code")->AsString(), "04100300");
    // The read-back follows the handheld's answer: a start, then a done
    // that found every byte it counted at the start.
    std::vector<const JsonValue*> verify;
    for (const JsonValue& e : update) {
        if (e.Find("event")->AsString() == "verify") {
            verify.push_back(&e);
        }
    }
    ASSERT_GE(verify.size(), 2u) << out;
    EXPECT_EQ(verify.front()->Find("stage")->AsString(), "start");
    EXPECT_EQ(verify.back()->Find("stage")->AsString(), "done");
    EXPECT_TRUE(verify.back()->Find("ok")->AsBool()) << out;
    EXPECT_GT(verify.front()->Find("total")->AsNumber(), 0);
    EXPECT_EQ(verify.back()->Find("done")->AsNumber(), verify.front()->Find("total")->AsNumber());
    EXPECT_LT(answered, verify.front()) << "verified before the handheld answered";
    EXPECT_EQ(update.back().Find("exit")->AsNumber(), 0);
    EXPECT_EQ(RomIdentity(), Identity(kA03));

    ASSERT_EQ(RunSplit(DemoInstallation(), {"restore", ris, "--yes", "--json"}, out, err), 0) << out << err;
    std::vector<JsonValue> restore = Events(out);
    ASSERT_NE(First(restore, "handheld"), nullptr) << out;
    EXPECT_EQ(First(restore, "handheld")->Find("date_code")->AsString(), "03050300");
    EXPECT_EQ(restore.back().Find("event")->AsString(), "result");
    EXPECT_EQ(RomIdentity(), Identity(kA02));
}

TEST_F(FlashJsonE2E, ARefusalIsAnEventWithItsReasons) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA03)));
    std::string out;
    std::string err;
    EXPECT_EQ(RunSplit(DemoInstallation(), {"update", "--yes", "--json"}, out, err), 2) << out << err;
    std::vector<JsonValue> events = Events(out);
    const JsonValue* refused = First(events, "refused");
    ASSERT_NE(refused, nullptr) << out;
    ASSERT_EQ(refused->Find("reasons")->Items().size(), 1u);
    EXPECT_TRUE(
        Has(refused->Find("reasons")->Items()[0].AsString(), "The update is the same as your current ROM"));
    EXPECT_EQ(events.back().Find("exit")->AsNumber(), 2);
}

TEST_F(FlashJsonE2E, DoctorNamesEachFaultItFinds) {
    std::string out;
    std::string err;
    // No socket at all, then a socket nobody listens on: the command that
    // finds no handheld ends with the short diagnosis.
    EXPECT_EQ(RunSplit(DemoInstallation(), {"info"}, out, err), 4) << out << err;
    EXPECT_TRUE(Has(out, "Connect your device to a computer")) << out;
    EXPECT_TRUE(Has(out, "[fault] cable: No cable socket at " + Path("no-handheld"))) << out;
    {
        const std::string stale = Path("stale");
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", stale.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
        EXPECT_EQ(RunSplit(DemoInstallation(), {"doctor"}, out, err, "unix:" + stale), 4) << out;
        EXPECT_TRUE(Has(out, "[fault] cable: Nothing listens at unix:" + stale)) << out;
    }

    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02)));
    EXPECT_EQ(RunSplit(DemoInstallation(), {"doctor", "--state", Path("hh/state")}, out, err), 0) << out;
    EXPECT_TRUE(Has(out, "[ok] handheld: The handheld answers: ROM A02 (03050300), Advanced")) << out;
    EXPECT_TRUE(Has(out, "[ok] installation: The update image for the Advanced class is")) << out;

    // The socket's permissions spoiled.
    const std::string link = handheld_->CableEndpoint().substr(5);
    ASSERT_EQ(::chmod(link.c_str(), 0), 0);
    EXPECT_EQ(RunSplit(DemoInstallation(), {"doctor", "--json"}, out, err), 4) << out;
    EXPECT_TRUE(Has(out, "cannot be opened by you (mode 0000")) << out;
    ASSERT_EQ(::chmod(link.c_str(), 0600), 0);

    // A missing image and a damaged one.
    const std::string missing = Installation(Path("missing"));
    fs::remove(missing + "/images/A03-basic.nb0");
    EXPECT_EQ(RunSplit(missing, {"doctor"}, out, err), 3) << out;
    EXPECT_TRUE(Has(out, "[fault] installation: The update image for the Basic class, " + missing +
                             "/images/A03-basic.nb0, is missing."))
        << out;
    const std::string damaged = Installation(Path("damaged"));
    {
        const std::string image = damaged + "/images/A03-advanced.nb0";
        Bytes bytes = ReadFile(image);
        ASSERT_GT(bytes.size(), 100000u);
        bytes[100000] ^= 0x01;
        ASSERT_TRUE(WriteFile(image, bytes));
    }
    EXPECT_EQ(RunSplit(damaged, {"doctor"}, out, err), 3) << out;
    EXPECT_TRUE(Has(out, damaged + "/images/A03-advanced.nb0 is damaged: its contents do not add up")) << out;

    // A crash is only seen by the handheld itself: a start-up program that
    // waits with interrupts masked crashes it at the next start.
    ASSERT_EQ(Ctl({"push", NUVA_CRASH_PROGRAM, "\\Windows\\StartUp\\crash.exe"}).exitCode, 0);
    ASSERT_EQ(Ctl({"reset", "warm"}).exitCode, 0);
    ASSERT_TRUE(nuva::testing::Eventually([&] { return Has(Status(), "\"crashed\":\""); },
                                          std::chrono::seconds(30), std::chrono::milliseconds(100)))
        << Status();
    EXPECT_EQ(RunSplit(DemoInstallation(), {"doctor", "--state", Path("hh/state")}, out, err), 4) << out;
    EXPECT_TRUE(Has(out, "[fault] handheld: The handheld has crashed: Sleep with interrupts masked")) << out;

    // A bricked handheld is one whose flash fails its ROM's check.
    handheld_.reset();
    fs::remove_all(Path("hh"));  // a new handheld, not the one kept there
    Bytes rom = ReadFile(FactoryRom("bricked.nb0", kA02));
    rom[0x100000] ^= 0xFF;
    ASSERT_TRUE(WriteFile(Path("bricked.nb0"), rom));
    ASSERT_NO_FATAL_FAILURE(StartHandheld(Path("bricked.nb0")));
    EXPECT_EQ(RunSplit(DemoInstallation(), {"doctor", "--state", Path("hh/state")}, out, err), 4) << out;
    EXPECT_TRUE(Has(out, "[fault] handheld: The handheld does not start")) << out;
    EXPECT_TRUE(Has(out, "It is bricked")) << out;
}

TEST_F(FlashJsonE2E, AMissingImageKeepsItsMessageAndGetsACauseLine) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02)));
    const std::string inst = Installation(Path("noimage"));
    fs::remove(inst + "/images/A03-advanced.nb0");
    std::string out;
    std::string err;
    EXPECT_EQ(RunSplit(inst, {"update", "--yes"}, out, err), 3) << out;
    EXPECT_TRUE(
        Has(out, "The Reflash file can not be found. Reinstall the Reflash .\nCause: the update image " +
                     inst + "/images/A03-advanced.nb0 that setup.ini names is missing."))
        << out;
}

}  // namespace
}  // namespace flash_e2e

namespace flash_e2e {
namespace {

TEST_F(FlashJsonE2E, ASingleFailedAgentCallShownAsWrongModelAndAMissingAgentGetTheirCauses) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02)));
    std::string out;
    std::string err;
    Ctl({"fault", "agent-fail", "1"});
    EXPECT_EQ(RunSplit(DemoInstallation(), {"info", "--json"}, out, err), 3) << out << err;
    EXPECT_TRUE(Has(err,
                    "Cause: one call of the agent library on the handheld failed; asked again, the handheld "
                    "reports a supported model. Run the command again."))
        << err;
    std::vector<JsonValue> events = Events(out);
    ASSERT_NE(First(events, "cause"), nullptr) << out;
    EXPECT_EQ(events.back().Find("exit")->AsNumber(), 3);

    const std::string noAgent = Installation(Path("noagent"));
    fs::remove(noAgent + "/NUVA7INVOKE.DLL");
    EXPECT_NE(RunSplit(noAgent, {"backup", Path("x.ris"), "--yes"}, out, err), 0) << out;
    EXPECT_TRUE(Has(out, "Cause: the agent library " + noAgent + "/NUVA7INVOKE.DLL is missing.")) << out;
}

}  // namespace
}  // namespace flash_e2e

namespace flash_e2e {
namespace {

TEST_F(FlashJsonE2E, ABackupIntoAReadOnlyFolderKeepsItsMessageAndNamesTheFolder) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02)));
    const std::string folder = Path("read-only");
    fs::create_directories(folder);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    // The owner's write bit does not stop root; an immutable folder does.
    const bool root = ::geteuid() == 0;
    if (root && std::system(("chattr +i '" + folder + "' 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "running as root on a file system without immutable folders";
    }
    std::string out;
    std::string err;
    const int code = RunSplit(DemoInstallation(), {"backup", folder + "/rom.ris", "--yes"}, out, err);
    if (root) {
        std::system(("chattr -i '" + folder + "'").c_str());
    }
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(code, 5) << out;
    EXPECT_TRUE(Has(out, "Copy incomplete! The reflash  procedure CANNOT proceed.")) << out;
    EXPECT_TRUE(Has(out, "Cause: the folder " + folder + " is read-only.")) << out;
    EXPECT_TRUE(fs::is_empty(folder));
}

}  // namespace
}  // namespace flash_e2e
