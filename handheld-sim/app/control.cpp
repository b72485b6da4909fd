#include "handheld-sim/app/control.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "formats/le.h"
#include "platform/cable/endpoint.h"
#include "platform/cable/socket.h"

namespace nuva::sim::app {

namespace {

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    StoreLe32(b, v);
    out.insert(out.end(), b, b + 4);
}

void PutText(std::vector<uint8_t>& out, const std::string& text) {
    PutU32(out, static_cast<uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

class Cursor {
  public:
    explicit Cursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    bool U32(uint32_t& v) {
        if (bytes_.size() - pos_ < 4) {
            return false;
        }
        v = LoadLe32(bytes_.data() + pos_);
        pos_ += 4;
        return true;
    }
    bool Text(std::string& text, uint32_t max) {
        uint32_t length = 0;
        if (!U32(length) || length > max || bytes_.size() - pos_ < length) {
            return false;
        }
        text.assign(reinterpret_cast<const char*>(bytes_.data() + pos_), length);
        pos_ += length;
        return true;
    }
    bool AtEnd() const { return pos_ == bytes_.size(); }

  private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
};

}  // namespace

std::vector<uint8_t> EncodeControlRequest(const std::vector<std::string>& command) {
    std::vector<uint8_t> out;
    PutU32(out, static_cast<uint32_t>(command.size()));
    for (const std::string& arg : command) {
        PutText(out, arg);
    }
    return out;
}

std::optional<std::vector<std::string>> DecodeControlRequest(std::span<const uint8_t> bytes) {
    Cursor cursor(bytes);
    uint32_t count = 0;
    if (!cursor.U32(count) || count == 0 || count > kMaxControlArgs) {
        return std::nullopt;
    }
    std::vector<std::string> command(count);
    for (std::string& arg : command) {
        if (!cursor.Text(arg, kMaxControlArgBytes)) {
            return std::nullopt;
        }
    }
    if (!cursor.AtEnd()) {
        return std::nullopt;
    }
    return command;
}

std::vector<uint8_t> EncodeControlReply(const ControlReply& reply) {
    std::vector<uint8_t> out;
    PutU32(out, static_cast<uint32_t>(reply.exitCode));
    PutText(out, reply.out);
    PutText(out, reply.err);
    return out;
}

std::optional<ControlReply> DecodeControlReply(std::span<const uint8_t> bytes) {
    Cursor cursor(bytes);
    ControlReply reply;
    uint32_t code = 0;
    if (!cursor.U32(code) || code > 255 || !cursor.Text(reply.out, kMaxControlText) ||
        !cursor.Text(reply.err, kMaxControlText) || !cursor.AtEnd()) {
        return std::nullopt;
    }
    reply.exitCode = static_cast<int>(code);
    return reply;
}

bool ReadToEnd(int fd, size_t limit, std::vector<uint8_t>& bytes) {
    bytes.clear();
    uint8_t buffer[65536];
    for (;;) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        if (bytes.size() + static_cast<size_t>(n) > limit) {
            return false;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
}

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool SendControl(const std::string& socketPath, const std::vector<std::string>& command, ControlReply& reply,
                 std::string& error) {
    cable::Endpoint endpoint;
    if (!cable::ParseEndpoint("unix:" + socketPath, false, endpoint, error)) {
        return false;
    }
    cable::UniqueFd fd = cable::ConnectTo(endpoint, error);
    if (!fd.Valid()) {
        error = "no handheld runs with that state folder (" + error + ")";
        return false;
    }
    if (!WriteAll(fd.Get(), EncodeControlRequest(command)) || shutdown(fd.Get(), SHUT_WR) != 0) {
        error = "the handheld closed the control connection";
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!ReadToEnd(fd.Get(), 3 * size_t{kMaxControlText}, bytes)) {
        error = "the handheld's reply could not be read";
        return false;
    }
    auto decoded = DecodeControlReply(bytes);
    if (!decoded) {
        error = "the handheld ended without a reply (" + std::to_string(bytes.size()) + " bytes)";
        return false;
    }
    reply = std::move(*decoded);
    return true;
}

}  // namespace nuva::sim::app
