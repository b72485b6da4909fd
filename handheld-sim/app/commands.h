// What `nuva-handheld ctl` asks of a running handheld, carried out against
// the handheld and its RAPI service.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "handheld-sim/app/control.h"
#include "handheld-sim/machine/handheld.h"
#include "handheld-sim/rapi/rapi_service.h"

namespace nuva::sim::app {

struct ControlContext {
    Handheld& handheld;
    RapiService& service;
    // Asks the program to save the handheld and end (the `quit` command).
    std::function<void()> requestQuit;
};

// Runs one command (the subcommand and its arguments). Paths of desktop
// files must be absolute: the program does not share the caller's folder.
ControlReply RunControlCommand(ControlContext& context, const std::vector<std::string>& command);

// What the RAPI service adds to the status.
struct ServiceStatus {
    bool desktopConnected = false;
    uint64_t desktopsServed = 0;  // connections greeted so far
    uint64_t versionQueries = 0;  // version queries answered so far (the desktop's link probes)
    RapiFaults pending;           // faults armed and not yet struck
};
ServiceStatus ServiceStatusOf(const RapiService& service);

// The status as a JSON object: started, plugged, ac, battery (number or
// null), rom {date_code, version, os_major, language_id}, memory_config,
// message_box ({caption, text} or null), crashed (reason or null), running
// (program or null), bricked (reason or null), link, desktop_connected,
// restarting, boot_generation, desktops_served, version_queries,
// pending_faults {cable_drop
// (bytes armed for the next connection, or null), write_fail, corrupt
// (device path or null), agent_fail, version_fail}.
std::string StatusJson(const HandheldStatus& status, const ServiceStatus& service);
// The same as "key: value" lines for people.
std::string StatusText(const HandheldStatus& status, const ServiceStatus& service);

// Writes a desktop file whole or not at all (a temporary name, then renamed).
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

}  // namespace nuva::sim::app
