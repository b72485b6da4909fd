// A desktop file opened for reading, as the transfers use it: the copy of a
// byte range starts at the file's current position, so the caller positions
// it and the copy reads on from there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace nuva {

class DesktopFile {
  public:
    DesktopFile() = default;
    DesktopFile(const DesktopFile&) = delete;
    DesktopFile& operator=(const DesktopFile&) = delete;
    DesktopFile(DesktopFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    DesktopFile& operator=(DesktopFile&& other) noexcept;
    ~DesktopFile();

    // Opens an existing file for reading only; IsOpen() tells whether it
    // worked.
    static DesktopFile OpenForReading(const std::string& path);

    bool IsOpen() const { return fd_ >= 0; }

    // Reads up to `count` bytes at the current position. Returns the number
    // read (0 at the end of the file), or nothing when the read failed.
    std::optional<size_t> Read(void* buffer, size_t count);

    // Moves the current position to `offset` bytes from the start.
    bool SeekTo(uint64_t offset);

    // The file's length in bytes, or nothing when it cannot be taken.
    std::optional<uint64_t> Size() const;

  private:
    explicit DesktopFile(int fd) : fd_(fd) {}
    int fd_ = -1;
};

}  // namespace nuva
