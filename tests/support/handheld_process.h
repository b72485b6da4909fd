// A running nuva-handheld for whole-run tests and benchmarks: the emulated
// handheld as its own process, in a private state folder with a private
// cable endpoint, driven through `nuva-handheld ctl` as a tester at the
// desk would drive it.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace nuva::testing {

struct CtlResult {
    int exitCode = -1;
    std::string out;
};

class HandheldProcess {
  public:
    // `folder` is created and holds the handheld's state, its cable socket
    // and its log.
    HandheldProcess(std::string program, std::string folder);
    ~HandheldProcess();
    HandheldProcess(const HandheldProcess&) = delete;
    HandheldProcess& operator=(const HandheldProcess&) = delete;

    // Makes a factory-new handheld whose flash holds `romImage` and starts
    // it with the extra options (e.g. {"--class", "basic"}) and environment
    // (NUVA_TIME_SCALE ...). Returns once it serves the cable; false with
    // `error` when it did not come up.
    bool Start(const std::string& romImage, const std::vector<std::string>& options,
               const std::map<std::string, std::string>& environment, std::string& error);

    // "unix:<folder>/link": what NUVA_LINK must say to reach this handheld.
    const std::string& CableEndpoint() const { return endpoint_; }

    // Runs `nuva-handheld ctl --state <state> ARGS...`.
    CtlResult Ctl(const std::vector<std::string>& args) const;

    // Asks the handheld to end and waits for it; kills it if it does not.
    void Stop();

    // Ends the handheld at once, without the state save of an orderly end:
    // for a handheld whose folder is thrown away next.
    void Discard();

    // The handheld's standard error so far, for failure messages.
    std::string Log() const;

  private:
    std::string program_;
    std::string folder_;
    std::string state_;
    std::string endpoint_;
    pid_t pid_ = -1;
};

// Runs a program with arguments and collects its standard output.
CtlResult RunProgram(const std::string& program, const std::vector<std::string>& args);

}  // namespace nuva::testing
