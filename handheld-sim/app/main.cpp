// nuva-handheld: the emulated handheld as a program. It keeps the handheld in
// a state folder, serves the cable while the handheld is plugged in and
// started, and takes commands from `nuva-handheld ctl` through a control
// socket private to the user in that folder. The handheld sits in its cradle
// (plugged in) when the program starts.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

#include "handheld-sim/app/commands.h"
#include "handheld-sim/app/control.h"
#include "handheld-sim/app/options.h"
#include "handheld-sim/rapi/rapi_device.h"
#include "handheld-sim/rapi/rapi_service.h"
#include "platform/cable/socket.h"

namespace nuva::sim::app {
namespace {

constexpr const char* kControlSocketName = "control.sock";

int Fail(int code, const std::string& message) {
    std::cerr << "nuva-handheld: " << message << "\n";
    return code;
}

std::string Absolute(const std::string& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

// Which arguments of a subcommand name desktop files: the running program
// has its own working folder, so they travel as absolute paths.
void MakeDesktopPathsAbsolute(std::vector<std::string>& command) {
    const std::string& verb = command[0];
    auto fix = [&](size_t index) {
        if (index < command.size()) {
            command[index] = Absolute(command[index]);
        }
    };
    if (verb == "screenshot" || verb == "dump-flash" || verb == "push") {
        fix(1);
    } else if (verb == "pull") {
        fix(2);
    }
}

int RunCtl(const std::vector<std::string>& args) {
    std::string error;
    auto options = ParseCtlOptions(args, error);
    if (!options) {
        std::cerr << "nuva-handheld ctl: " << error << "\n" << kUsage;
        return kExitUsage;
    }
    MakeDesktopPathsAbsolute(options->command);
    ControlReply reply;
    if (!SendControl(ControlSocketPath(Absolute(options->stateDir)), options->command, reply, error)) {
        std::cerr << "nuva-handheld ctl: " << error << "\n";
        return kExitUnreachable;
    }
    std::cout << reply.out << std::flush;
    std::cerr << reply.err << std::flush;
    return reply.exitCode;
}

// A folder with nothing in it but perhaps the control socket of a program
// that ended badly holds no handheld yet.
bool HoldsNoHandheld(const std::string& dir) {
    std::error_code ec;
    if (!std::filesystem::exists(dir, ec)) {
        return true;
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        if (entry.path().filename() != kControlSocketName) {
            return false;
        }
    }
    return !ec;
}

void ServeControl(cable::Listener& listener, ControlContext& context) {
    for (;;) {
        std::string refused;
        cable::UniqueFd fd = listener.Accept(refused);
        if (!fd.Valid()) {
            if (refused.empty()) {
                return;
            }
            std::cerr << "nuva-handheld: control: " << refused << "\n";
            continue;
        }
        // A client that never finishes its request must not hold the
        // control interface for good.
        timeval patience{10, 0};
        setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        std::vector<uint8_t> request;
        ControlReply reply;
        if (!ReadToEnd(fd.Get(), 2 * size_t{kMaxControlArgs} * kMaxControlArgBytes, request)) {
            continue;
        }
        auto command = DecodeControlRequest(request);
        reply = command ? RunControlCommand(context, *command)
                        : ControlReply{kExitUsage, {}, "the control request was malformed\n"};
        WriteAll(fd.Get(), EncodeControlReply(reply));
    }
}

int RunHandheld(const HandheldOptions& options) {
    // The signals that end the program are taken by the main thread alone;
    // every thread started from here on inherits the mask.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    cable::Endpoint cableEndpoint;
    std::string error;
    if (!cable::EndpointFromEnvironment(true, cableEndpoint, error)) {
        return Fail(kExitUsage, error);
    }
    const std::string stateDir = Absolute(options.stateDir);
    const bool factoryNew = HoldsNoHandheld(stateDir);
    if (factoryNew && !options.romImage) {
        return Fail(kExitUsage, stateDir + " holds no handheld yet: --rom IMAGE is needed to make one");
    }
    std::error_code ec;
    if (std::filesystem::create_directories(stateDir, ec)) {
        // A folder made here holds the handheld and its control socket: for
        // the owner alone. A folder the user gave is left as it is.
        std::filesystem::permissions(stateDir, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace, ec);
    }
    if (ec) {
        return Fail(kExitFailed, "cannot create " + stateDir + ": " + ec.message());
    }

    // Take the control socket first: a second program on the same handheld is
    // refused before it touches the state.
    cable::Endpoint controlEndpoint;
    if (!cable::ParseEndpoint("unix:" + ControlSocketPath(stateDir), true, controlEndpoint, error)) {
        return Fail(kExitUsage, "the state folder's path is too long for its control socket: " + error);
    }
    auto controlListener = cable::Listener::Open(controlEndpoint, error);
    if (!controlListener) {
        return Fail(kExitFailed, "control socket: " + error);
    }

    CreateError createError = CreateError::kNone;
    std::string detail;
    std::unique_ptr<Handheld> handheld;
    if (factoryNew) {
        handheld =
            Handheld::CreateFromFile(options.factory, *options.romImage, stateDir, &createError, &detail);
    } else {
        if (options.romImage || options.factoryGiven) {
            std::cerr << "nuva-handheld: " << stateDir
                      << " holds a handheld already; --rom and the factory options are not used\n";
        }
        handheld = Handheld::Open(stateDir, &createError, &detail);
    }
    if (!handheld) {
        return Fail(kExitFailed,
                    std::string(factoryNew ? "cannot make the handheld: " : "cannot open the handheld: ") +
                        DescribeCreateError(createError) + (detail.empty() ? "" : ": " + detail));
    }

    auto device = MakeHandheldDevice(*handheld);
    RapiService service(*device, cable::StderrLog("nuva-handheld: cable"));
    if (!service.Start(cableEndpoint, error)) {
        return Fail(kExitFailed, "cable: " + error);
    }
    handheld->Plug(true);
    handheld->PowerOn();

    ControlContext context{*handheld, service, [] { kill(getpid(), SIGTERM); }};
    std::thread control([&] { ServeControl(*controlListener, context); });
    std::cout << "nuva-handheld: running; cable at " << service.Bound().ToString() << ", control at "
              << controlEndpoint.path << std::endl;

    int signal = 0;
    sigwait(&endSignals, &signal);

    controlListener->Interrupt();
    control.join();
    service.Stop();
    if (!handheld->Save(&detail)) {
        return Fail(kExitFailed, "the handheld's state could not be saved: " + detail);
    }
    handheld.reset();
    return kExitOk;
}

}  // namespace
}  // namespace nuva::sim::app

int main(int argc, char** argv) {
    using namespace nuva::sim::app;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "ctl") {
        return RunCtl(std::vector<std::string>(args.begin() + 1, args.end()));
    }
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kUsage;
        return kExitOk;
    }
    std::string error;
    auto options = ParseHandheldOptions(args, error);
    if (!options) {
        std::cerr << "nuva-handheld: " << error << "\n" << kUsage;
        return kExitUsage;
    }
    return RunHandheld(*options);
}
