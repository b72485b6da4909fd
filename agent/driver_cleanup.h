// DriverCleanup: removes the registry keys of the built-in drivers that must
// not load at the next start (the cable drivers among them) and the built-in
// storage's auto-load key, so that the start after an update's restart runs
// the flasher with nothing else attached.
#pragma once

namespace nuva::agent {

// Ignores every registry failure and goes on with the next key.
void DriverCleanup();

}  // namespace nuva::agent
