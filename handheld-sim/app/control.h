// The control socket of a running nuva-handheld: a unix socket private to the
// user in the handheld's state folder. A client connects, sends one command
// (its arguments), closes its sending side and reads one reply: the exit
// code and the texts for standard output and standard error.
//
// Wire format, little-endian: request = u32 argument count (at most
// kMaxControlArgs), then per argument u32 length (at most kMaxControlArgBytes)
// and its bytes; reply = u32 exit code, u32 length and bytes of the output,
// u32 length and bytes of the error text (each at most kMaxControlText).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace nuva::sim::app {

inline constexpr uint32_t kMaxControlArgs = 32;
inline constexpr uint32_t kMaxControlArgBytes = 4096;
inline constexpr uint32_t kMaxControlText = 16u * 1024 * 1024;

struct ControlReply {
    int exitCode = 0;
    std::string out;
    std::string err;
};

std::vector<uint8_t> EncodeControlRequest(const std::vector<std::string>& command);
std::optional<std::vector<std::string>> DecodeControlRequest(std::span<const uint8_t> bytes);
std::vector<uint8_t> EncodeControlReply(const ControlReply& reply);
std::optional<ControlReply> DecodeControlReply(std::span<const uint8_t> bytes);

// Reads until the peer closes its sending side, at most `limit` bytes.
bool ReadToEnd(int fd, size_t limit, std::vector<uint8_t>& bytes);
bool WriteAll(int fd, std::span<const uint8_t> bytes);

// Sends `command` to the handheld whose control socket is `socketPath`.
// False with `error` when no handheld answers there.
bool SendControl(const std::string& socketPath, const std::vector<std::string>& command, ControlReply& reply,
                 std::string& error);

}  // namespace nuva::sim::app
