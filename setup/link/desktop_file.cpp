#include "setup/link/desktop_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace nuva {

DesktopFile& DesktopFile::operator=(DesktopFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

DesktopFile::~DesktopFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

DesktopFile DesktopFile::OpenForReading(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return DesktopFile(fd);
}

std::optional<size_t> DesktopFile::Read(void* buffer, size_t count) {
    if (fd_ < 0)
        return std::nullopt;
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, count);
        if (got >= 0)
            return static_cast<size_t>(got);
        if (errno != EINTR)
            return std::nullopt;
    }
}

bool DesktopFile::SeekTo(uint64_t offset) {
    if (fd_ < 0 || offset > static_cast<uint64_t>(INT64_MAX))
        return false;
    return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

std::optional<uint64_t> DesktopFile::Size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || st.st_size < 0)
        return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

}  // namespace nuva
