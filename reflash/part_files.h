// The handheld's files as the flasher uses them: one file open at a time,
// read from the start. The flasher binds this to the WinCE file functions;
// tests bind it to files in memory.
#pragma once

#include <cstdint>

namespace nuva::reflash {

class PartFiles {
  public:
    virtual ~PartFiles() = default;

    // Opens an existing file for reading, sharing reads; false when it cannot.
    virtual bool Open(const char16_t* path) = 0;
    // The open file's size; false when it cannot be taken.
    virtual bool Size(uint32_t* bytes) = 0;
    // Reads up to `count` bytes at the file position into `buffer`.
    virtual bool Read(uint8_t* buffer, uint32_t count, uint32_t* done) = 0;
    virtual void Close() = 0;
    virtual bool Delete(const char16_t* path) = 0;
};

}  // namespace nuva::reflash
