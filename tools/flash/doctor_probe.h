// The facts doctor judges, gathered: the cable endpoint's socket, the
// handheld through the cable, the emulated handheld through its control
// program, the installation folder and the disk. Nothing here decides what a
// fact means (doctor.h does).
#pragma once

#include <chrono>
#include <string>

#include "setup/link/handheld_port.h"
#include "tools/flash/doctor.h"

namespace nuva {

// NUVA_LINK (or the default endpoint): parsed, its socket looked at, and a
// connection tried (and closed at once).
EndpointFacts ProbeEndpoint();

// The handheld through the cable: the link brought up within `wait`, the
// agent installed and its record read. Starts the connection monitor's
// initialisation and stops it again.
HandheldFacts ProbeHandheld(HandheldPort& port, std::chrono::nanoseconds wait);

// The emulated handheld whose state folder is `stateDir`, through
// `nuva-handheld ctl status --json` (the program beside nuva-flash, else the
// one on PATH). Not asked when `stateDir` is empty.
EmulatorFacts ProbeEmulator(const std::string& stateDir, const std::string& installFolder);

// The installation folder (with trailing '/'): setup.ini, the update images
// and their sums, the agent library and the flasher.
InstallationFacts ProbeInstallation(const std::string& folder);

// The folder a backup would be saved in.
SpaceFacts ProbeSpace(const std::string& folder);

// Whether a folder exists and can be written by this user.
void ProbeFolder(const std::string& folder, bool& exists, bool& writable);

}  // namespace nuva
