// The secret of a TCP cable: what lets each end of a loopback TCP connection
// prove to the other that it belongs to the user who started the handheld.
//
// A TCP port on loopback is open to every local user, unlike a unix socket
// whose peer's user the kernel tells. So the handheld's listener makes a fresh
// random secret when it binds its port and keeps it in a file that only its
// owner can read; the desktop reads it from there. The file is named by the
// endpoint ("tcp-127.0.0.1-5679") in the user's key folder:
//   $NUVA_LINK_KEYS when set, else $XDG_RUNTIME_DIR/nuva-link-keys, else
//   /tmp/nuva-link-keys-<uid>.
// The folder must be a real folder of this user with no access for anyone
// else (0700); the file a regular file of this user that nobody else can read,
// write or run (0600). Anything else is refused, with a message saying what
// is wrong, rather than trusted: a secret another user could read or replace
// authenticates nobody.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/cable/endpoint.h"

namespace nuva::cable {

inline constexpr size_t kSecretBytes = 32;
using Secret = std::array<uint8_t, kSecretBytes>;

// The key folder for this process (see above).
std::string KeyFolder();
// The secret file of a TCP endpoint inside KeyFolder().
std::string SecretPath(const Endpoint& endpoint);

// Makes a fresh random secret for `endpoint` (the bound one: a real port),
// creating the key folder when it is missing, and replaces any older file
// atomically, so a desktop never reads half a secret. False with `error`.
bool CreateSecret(const Endpoint& endpoint, Secret& secret, std::string& error);

// Reads the secret of `endpoint`. False with `error`; `unsafe` is set when
// the folder or file exists but could be read or replaced by someone else
// (not merely missing: the handheld may not have started yet).
bool LoadSecret(const Endpoint& endpoint, Secret& secret, std::string& error, bool& unsafe);

// Removes the secret file of `endpoint` (the listener that made it ends).
void RemoveSecret(const Endpoint& endpoint);

// `count` bytes from the kernel's random source; false when it fails.
bool RandomBytes(uint8_t* out, size_t count);

}  // namespace nuva::cable
