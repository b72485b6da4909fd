// The greeting that opens every TCP cable connection, before any frame:
// each end proves that it knows the cable's secret (secret.h) without
// sending it.
//
//   desktop  -> handheld   "NVAUTH01", desktop nonce (32 bytes)
//   handheld -> desktop    "NVAUTH01", handheld nonce (32), handheld proof (32)
//   desktop  -> handheld   desktop proof (32)
//   handheld -> desktop    1 (one byte: taken)
//
// A proof is HMAC-SHA-256 under the secret over a label naming the side that
// proves ("nuva handheld" or "nuva desktop") and both nonces. Fresh nonces on
// both sides make an old proof worthless, and the labels keep a proof of one
// side from being sent back as the other's. The desktop checks the handheld's
// proof before it gives its own, so a listener that does not know the secret
// learns nothing and is refused; the handheld takes nothing but the proof
// until it has checked it. Proofs are compared in constant time.
//
// The greeting must finish within kHandshakeLimit of real time: a connection
// that stalls is dropped. It is real time, not the scaled clock, because it
// bounds what a stranger can hold up, not anything the handheld models.
#pragma once

#include <chrono>
#include <span>
#include <string>

#include "platform/cable/secret.h"

namespace nuva::cable {

inline constexpr std::chrono::milliseconds kHandshakeLimit{5000};
inline constexpr size_t kNonceBytes = 32;
inline constexpr size_t kProofBytes = 32;

enum class Side { kHandheld, kDesktop };

// The proof `side` gives for the pair of nonces.
std::array<uint8_t, kProofBytes> Proof(const Secret& secret, Side side, std::span<const uint8_t> desktopNonce,
                                       std::span<const uint8_t> handheldNonce);
// Whether `proof` is the one `side` must give (compared in constant time).
bool ProofHolds(const Secret& secret, Side side, std::span<const uint8_t> desktopNonce,
                std::span<const uint8_t> handheldNonce, std::span<const uint8_t> proof);

// The desktop's half over a connected socket. False with `error` (and
// `foreign` set when the listener failed to prove the secret).
bool GreetAsDesktop(int fd, const Secret& secret, std::string& error, bool& foreign);
// The handheld's half over an accepted socket. False with `error`; false
// with `error` empty when `wakeFd` (when not -1) became readable while it
// waited for the desktop, so that a stranger that says nothing cannot hold
// up a listener that is asked to stop.
bool GreetAsHandheld(int fd, const Secret& secret, std::string& error, int wakeFd = -1);

}  // namespace nuva::cable
