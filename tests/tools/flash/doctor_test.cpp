// What doctor makes of a set of facts, and the cause lines after a failed
// command: each fault is named, with something to do, and healthy facts
// raise no fault.
#include "tools/flash/doctor.h"

#include <gtest/gtest.h>

namespace nuva {
namespace {

EndpointFacts Listening() {
    EndpointFacts e;
    e.variable = "unix:/run/h/link";
    e.parsed = true;
    e.endpoint = "unix:/run/h/link";
    e.isUnix = true;
    e.exists = e.isSocket = e.ownedByUser = e.reachable = true;
    e.mode = 0600;
    e.listen = EndpointFacts::Listen::kListening;
    return e;
}

DoctorFacts Healthy() {
    DoctorFacts f;
    f.endpoint = Listening();
    f.handheld = {true, true, true, true, true, 90u, "A02 (03050300)", "Advanced"};
    f.installation.folder = "/inst/";
    f.installation.iniReadable = true;
    ImageFacts image;
    image.className = "Advanced";
    image.key = "HIMODEL";
    image.named = "images\\a.nb0";
    image.path = "/inst/images/a.nb0";
    image.present = image.headerAccepted = true;
    image.rom = "A03 (04100300)";
    image.sumRight = true;
    f.installation.images = {image};
    f.installation.agentPath = "/inst/NUVA7INVOKE.DLL";
    f.installation.flasherPath = "/inst/Reflash.exe";
    f.installation.agentPresent = f.installation.flasherPresent = true;
    f.space = {"/home/u", true, true, true};
    return f;
}

// The faults among the findings, as "subject: text".
std::vector<std::string> Faults(const std::vector<Finding>& findings) {
    std::vector<std::string> out;
    for (const Finding& f : findings) {
        if (f.level == FindingLevel::kFault) {
            EXPECT_FALSE(f.advice.empty()) << f.text;
            out.push_back(f.subject + ": " + f.text);
        }
    }
    return out;
}

bool Mentions(const std::vector<std::string>& lines, const std::string& what) {
    for (const std::string& line : lines) {
        if (line.find(what) != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST(Doctor, AHealthySetupHasNoFaultAndExitsZero) {
    std::vector<Finding> findings = Diagnose(Healthy());
    EXPECT_TRUE(Faults(findings).empty());
    EXPECT_EQ(DoctorExitCode(findings), 0);
    ASSERT_FALSE(findings.empty());
    EXPECT_EQ(FindingLines(findings.front())[0], "[ok] cable: A handheld listens at unix:/run/h/link.");
}

TEST(Doctor, EachCableFaultIsNamedAndEndsTheLinkChecks) {
    struct Case {
        void (*spoil)(EndpointFacts&);
        const char* named;
    };
    const Case cases[] = {
        {[](EndpointFacts& e) { e.parsed = false, e.parseError = "no such scheme"; },
         "is not a cable endpoint"},
        {[](EndpointFacts& e) { e.exists = false; }, "No cable socket at /run/h/link"},
        {[](EndpointFacts& e) { e.isSocket = false; }, "is not a socket"},
        {[](EndpointFacts& e) { e.ownedByUser = false; }, "belongs to another user"},
        {[](EndpointFacts& e) { e.reachable = false, e.mode = 0; }, "cannot be opened by you (mode 0000"},
        {[](EndpointFacts& e) { e.listen = EndpointFacts::Listen::kNobody; }, "Nothing listens at"},
    };
    for (const Case& c : cases) {
        DoctorFacts f = Healthy();
        c.spoil(f.endpoint);
        f.handheld = {};
        std::vector<Finding> findings = Diagnose(f);
        std::vector<std::string> faults = Faults(findings);
        ASSERT_EQ(faults.size(), 1u) << c.named;
        EXPECT_TRUE(Mentions(faults, c.named)) << faults[0];
        EXPECT_EQ(DoctorExitCode(findings), 4);
    }
}

TEST(Doctor, TheEmulatedHandheldSaysWhyItDoesNotAnswer) {
    struct Case {
        void (*state)(EmulatorFacts&);
        const char* named;
        const char* advice;
    };
    const Case cases[] = {
        {[](EmulatorFacts& m) { m.bricked = "no valid ROM identity block"; }, "bricked", "factory ROM"},
        {[](EmulatorFacts& m) { m.crashed = "flash not in read-array mode"; },
         "crashed: flash not in read-array mode", "reset warm"},
        {[](EmulatorFacts& m) { m.plugged = false; }, "not plugged", "ctl --state /s plug"},
        {[](EmulatorFacts& m) { m.started = false; }, "has not started", "reset warm"},
    };
    for (const Case& c : cases) {
        EmulatorFacts m;
        m.stateDir = "/s";
        m.reached = m.started = m.plugged = m.link = true;
        c.state(m);
        std::vector<Finding> findings = DiagnoseLink(Listening(), HandheldFacts{}, m);
        bool named = false;
        for (const Finding& f : findings) {
            if (f.level == FindingLevel::kFault && f.text.find(c.named) != std::string::npos) {
                named = true;
                EXPECT_NE(f.advice.find(c.advice), std::string::npos) << f.advice;
            }
        }
        EXPECT_TRUE(named) << c.named;
        EXPECT_EQ(DoctorExitCode(findings), 4);
    }
    // Without its state folder doctor cannot tell which, and says how to.
    std::vector<Finding> unknown = DiagnoseLink(Listening(), HandheldFacts{}, EmulatorFacts{});
    EXPECT_TRUE(Mentions(Faults(unknown), "does not answer on the cable"));
    // A restart and a message box are notes: the handheld may come back.
    EmulatorFacts restarting;
    restarting.stateDir = "/s";
    restarting.reached = restarting.plugged = restarting.restarting = true;
    restarting.messageBox = "Reflash: Update failed";
    std::vector<Finding> notes = DiagnoseLink(Listening(), HandheldFacts{}, restarting);
    EXPECT_TRUE(Faults(notes).empty());
    ASSERT_GE(notes.size(), 3u);
    EXPECT_NE(notes[1].text.find("Reflash: Update failed"), std::string::npos);
    EXPECT_NE(notes[2].text.find("restarting"), std::string::npos);
}

TEST(Doctor, TheHandheldsAgentPowerAndModelAreJudged) {
    DoctorFacts f = Healthy();
    f.handheld.acOnline = false;
    f.handheld.batteryPercent = 39;
    std::vector<Finding> findings = Diagnose(f);
    EXPECT_TRUE(Faults(findings).empty());
    int notes = 0;
    for (const Finding& finding : findings) {
        notes += finding.level == FindingLevel::kNote ? 1 : 0;
    }
    EXPECT_EQ(notes, 2);  // the AC adapter and the battery below 40 %
    f.handheld.batteryPercent = 40;
    f.handheld.acOnline = true;
    for (const Finding& finding : Diagnose(f)) {
        EXPECT_EQ(finding.level, FindingLevel::kOk) << finding.text;
    }

    f.handheld.supported = false;
    EXPECT_TRUE(Mentions(Faults(Diagnose(f)), "not a supported model"));
    f.handheld.infoRead = false;
    EXPECT_TRUE(Mentions(Faults(Diagnose(f)), "its agent library does not"));
    f.handheld.agentInstalled = false;
    EXPECT_TRUE(Mentions(Faults(Diagnose(f)), "could not be copied"));
}

TEST(Doctor, InstallationAndDiskFaultsAreNamedWithTheirFiles) {
    DoctorFacts f = Healthy();
    f.installation.images[0].sumRight = false;
    f.installation.images[0].sumProblem = "its contents do not add up to the sum its header records";
    std::vector<std::string> faults = Faults(Diagnose(f));
    EXPECT_TRUE(Mentions(faults, "/inst/images/a.nb0 is damaged: its contents do not add up")) << faults[0];
    EXPECT_TRUE(Mentions(faults, "No usable update image"));
    EXPECT_EQ(DoctorExitCode(Diagnose(f)), 3);

    f = Healthy();
    f.installation.images[0].present = false;
    f.installation.agentPresent = false;
    f.installation.flasherPresent = false;
    f.space.writable = false;
    faults = Faults(Diagnose(f));
    EXPECT_TRUE(Mentions(faults, "The update image for the Advanced class, /inst/images/a.nb0, is missing."));
    EXPECT_TRUE(Mentions(faults, "agent library /inst/NUVA7INVOKE.DLL is missing"));
    EXPECT_TRUE(Mentions(faults, "flasher /inst/Reflash.exe is missing"));
    EXPECT_TRUE(Mentions(faults, "The folder /home/u is read-only"));
}

TEST(Doctor, TheEmulatorsStatusIsReadFieldByField) {
    const std::string status =
        "{\"started\":false,\"plugged\":true,\"ac\":true,\"battery\":null,\"rom\":{},\"message_box\":"
        "{\"caption\":\"Reflash\",\"text\":\"Update failed\"},\"crashed\":\"flash not in read-array mode\","
        "\"bricked\":null,\"link\":false,\"restarting\":false}\n";
    EmulatorFacts m;
    std::string error;
    ASSERT_TRUE(EmulatorFactsFromStatus(status, m, error)) << error;
    EXPECT_TRUE(m.reached);
    EXPECT_EQ(m.crashed, "flash not in read-array mode");
    EXPECT_EQ(m.bricked, "");
    EXPECT_FALSE(m.batteryPercent);
    EXPECT_EQ(*m.messageBox, "Reflash: Update failed");

    for (const char* bad :
         {"{\"started\":1}", "[]", "{\"started\":true", "",
          "{\"started\":true,\"plugged\":true,\"ac\":true,\"battery\":101,\"message_box\":null,"
          "\"crashed\":null,\"bricked\":null,\"link\":true,\"restarting\":false}"}) {
        EmulatorFacts none;
        EXPECT_FALSE(EmulatorFactsFromStatus(bad, none, error)) << bad;
        EXPECT_FALSE(none.reached) << bad;
    }
}

TEST(Doctor, CauseLinesNameWhatIsKnownAndNothingElse) {
    CauseFacts f;
    f.command = FlashCommand::kBackup;
    f.installation = Healthy().installation;
    EXPECT_TRUE(Causes(f).empty());  // nothing shown, nothing to explain

    f.copyIncompleteShown = true;
    f.saveFolder = "/ro";
    f.saveFolderExists = true;
    EXPECT_EQ(Causes(f), std::vector<std::string>{"Cause: the folder /ro is read-only."});
    f.saveFolderWritable = true;
    EXPECT_TRUE(Causes(f).empty());  // a failure whose cause is not known gets no line
    f.installation.agentPresent = false;
    EXPECT_EQ(Causes(f),
              std::vector<std::string>{"Cause: the agent library /inst/NUVA7INVOKE.DLL is missing."});
    f.installation.agentPresent = true;
    f.copyIncompleteShown = false;
    f.agentUnread = true;
    EXPECT_TRUE(Causes(f).empty());  // the agent is there: its failure has another cause
    f.installation.agentPresent = false;
    EXPECT_EQ(Causes(f),
              std::vector<std::string>{"Cause: the agent library /inst/NUVA7INVOKE.DLL is missing."});
    f.agentUnread = false;
    f.copyIncompleteShown = true;
    f.installation.agentPresent = true;
    f.installation.flasherPresent = false;
    EXPECT_TRUE(Causes(f).empty());  // a backup does not need the flasher
    f.command = FlashCommand::kUpdate;
    EXPECT_EQ(Causes(f), std::vector<std::string>{"Cause: the flasher /inst/Reflash.exe is missing."});

    CauseFacts image;
    image.imageMissingShown = true;
    image.installation = Healthy().installation;
    image.installation.images[0].present = false;
    ImageFacts basic;
    basic.className = "Basic";
    basic.key = "LOWMODEL";
    image.installation.images.push_back(basic);
    image.memoryClass = "Advanced";
    EXPECT_EQ(Causes(image),
              std::vector<std::string>{
                  "Cause: the update image /inst/images/a.nb0 that setup.ini names is missing."});
    image.memoryClass = "Basic";
    EXPECT_EQ(Causes(image),
              std::vector<std::string>{"Cause: setup.ini in /inst/ names no update image for the "
                                       "Basic class (LOWMODEL)."});

    CauseFacts model;
    model.wrongModelShown = true;
    EXPECT_TRUE(Causes(model).empty());  // not asked again: nothing known
    model.supportedNow = false;
    EXPECT_TRUE(Causes(model).empty());  // the message was right
    model.supportedNow = true;
    ASSERT_EQ(Causes(model).size(), 1u);
    EXPECT_NE(Causes(model)[0].find("one call of the agent library on the handheld failed"),
              std::string::npos);
}

}  // namespace
}  // namespace nuva

namespace nuva {
namespace {

TEST(DoctorCommandLine, DoctorTakesAnOptionalFileAndItsOwnOptionsOnly) {
    std::string error;
    std::optional<FlashOptions> o = ParseFlashOptions({"doctor"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->command, FlashCommand::kDoctor);
    EXPECT_TRUE(o->file.empty());
    o = ParseFlashOptions({"doctor", "/tmp/x.ris", "--state", "/s", "--json"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->file, "/tmp/x.ris");
    EXPECT_EQ(o->stateDir, "/s");
    EXPECT_TRUE(o->json);
    o = ParseFlashOptions({"update", "--yes", "--json"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_TRUE(o->json);

    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"doctor", "a", "b"},
                                                  {"update", "--state", "/s"},
                                                  {"doctor", "--state"},
                                                  {"doctor", "--restart-timeout", "5"},
                                                  {"doctor", "--force"}}) {
        EXPECT_FALSE(ParseFlashOptions(wrong, error)) << wrong[1];
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace nuva
