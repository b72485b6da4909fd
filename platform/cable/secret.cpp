#include "platform/cable/secret.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace nuva::cable {

namespace {

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string Mode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// The folder, made when missing; refused unless it is this user's own real
// folder closed to everyone else.
bool PrivateFolder(const std::string& folder, bool create, std::string& error, bool& unsafe) {
    if (create && mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = Errno("cannot make the cable's key folder " + folder);
        return false;
    }
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0) {
        error = Errno("no cable key folder " + folder);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = "the cable's key folder " + folder + " is not a folder (a link or a file); refusing it";
        unsafe = true;
        return false;
    }
    if (info.st_uid != getuid()) {
        error = "the cable's key folder " + folder + " belongs to another user (uid " +
                std::to_string(info.st_uid) + "); refusing it";
        unsafe = true;
        return false;
    }
    if ((info.st_mode & 077) != 0) {
        error = "the cable's key folder " + folder + " is open to other users (mode " + Mode(info.st_mode) +
                "); make it private (chmod 700) or remove it";
        unsafe = true;
        return false;
    }
    return true;
}

char HexDigit(unsigned v) {
    return "0123456789abcdef"[v & 15];
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The file holds the secret as 64 hex digits and a newline.
constexpr size_t kFileBytes = 2 * kSecretBytes + 1;

}  // namespace

bool RandomBytes(uint8_t* out, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = getrandom(out + done, count - done, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string KeyFolder() {
    const char* named = std::getenv("NUVA_LINK_KEYS");
    if (named != nullptr && named[0] == '/') {
        return named;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        return std::string(runtime) + "/nuva-link-keys";
    }
    return "/tmp/nuva-link-keys-" + std::to_string(getuid());
}

std::string SecretPath(const Endpoint& endpoint) {
    std::string host = endpoint.host;
    for (char& c : host) {
        if (c == ':') {
            c = '_';  // "::1" as a file name that needs no quoting
        }
    }
    return KeyFolder() + "/tcp-" + host + "-" + std::to_string(endpoint.port);
}

bool CreateSecret(const Endpoint& endpoint, Secret& secret, std::string& error) {
    const std::string folder = KeyFolder();
    bool unsafe = false;
    if (!PrivateFolder(folder, true, error, unsafe)) {
        return false;
    }
    if (!RandomBytes(secret.data(), secret.size())) {
        error = Errno("no random bytes for the cable's secret");
        return false;
    }
    char text[kFileBytes];
    for (size_t i = 0; i < kSecretBytes; ++i) {
        text[2 * i] = HexDigit(secret[i] >> 4);
        text[2 * i + 1] = HexDigit(secret[i]);
    }
    text[kFileBytes - 1] = '\n';

    const std::string path = SecretPath(endpoint);
    std::string temporary = path + ".new-XXXXXX";
    int fd = mkostemp(temporary.data(), O_CLOEXEC);  // 0600 by definition
    if (fd < 0) {
        error = Errno("cannot write the cable's secret in " + folder);
        return false;
    }
    bool written = fchmod(fd, 0600) == 0 && write(fd, text, sizeof text) == static_cast<ssize_t>(sizeof text);
    written = close(fd) == 0 && written;
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        error = Errno("cannot write the cable's secret " + path);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool LoadSecret(const Endpoint& endpoint, Secret& secret, std::string& error, bool& unsafe) {
    unsafe = false;
    if (!PrivateFolder(KeyFolder(), false, error, unsafe)) {
        return false;
    }
    const std::string path = SecretPath(endpoint);
    // O_NOFOLLOW: a link planted in place of the file is not followed.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ELOOP) {
            error = "the cable's secret " + path + " is a link; refusing it";
            unsafe = true;
        } else {
            error = Errno("no secret for " + endpoint.ToString() + " at " + path +
                          " (is the handheld listening there, as this user, with the same key folder?)");
        }
        return false;
    }
    struct stat info {};
    char text[kFileBytes + 1];
    ssize_t got = -1;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == getuid() &&
        (info.st_mode & 077) == 0) {
        got = read(fd, text, sizeof text);
    }
    close(fd);
    if (!S_ISREG(info.st_mode)) {
        error = "the cable's secret " + path + " is not a regular file; refusing it";
        unsafe = true;
        return false;
    }
    if (info.st_uid != getuid()) {
        error = "the cable's secret " + path + " belongs to another user (uid " +
                std::to_string(info.st_uid) + "); refusing it";
        unsafe = true;
        return false;
    }
    if ((info.st_mode & 077) != 0) {
        error = "the cable's secret " + path + " can be used by other users (mode " + Mode(info.st_mode) +
                "); refusing it: remove it and start the handheld again";
        unsafe = true;
        return false;
    }
    // Exactly the hex digits and the newline: a file cut short or grown is
    // not a secret the handheld wrote.
    if (got != static_cast<ssize_t>(kFileBytes) || text[kFileBytes - 1] != '\n') {
        error = "the cable's secret " + path + " is damaged (not 64 hex digits)";
        return false;
    }
    for (size_t i = 0; i < kSecretBytes; ++i) {
        int high = HexValue(text[2 * i]);
        int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            error = "the cable's secret " + path + " is damaged (not 64 hex digits)";
            return false;
        }
        secret[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

void RemoveSecret(const Endpoint& endpoint) {
    unlink(SecretPath(endpoint).c_str());
}

}  // namespace nuva::cable
