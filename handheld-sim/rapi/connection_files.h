// The device files one desktop connection has open, and the RAPI file calls
// on them with Win32's results and last errors. Handle numbers belong to the
// connection; every file still open when it ends is closed.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "handheld-sim/rapi/rapi_device.h"
#include "platform/cable/protocol.h"

namespace nuva::sim {

class ConnectionFiles {
  public:
    // Told, with the store still held, when a handle that wrote to a file is
    // closed (the corruption fault hooks in here).
    using WrittenFileClosed = std::function<void(FileStore& files, const std::u16string& path)>;

    ConnectionFiles(RapiDevice& device, WrittenFileClosed onWrittenClosed);
    ~ConnectionFiles();
    ConnectionFiles(const ConnectionFiles&) = delete;
    ConnectionFiles& operator=(const ConnectionFiles&) = delete;

    cable::CreateFileAnswer Create(const cable::CreateFileRequest& request);
    // The data read lies in a buffer of the connection, valid until the next
    // Read: it goes on the cable from there.
    cable::ReadFileAnswer Read(const cable::ReadFileRequest& request);
    // Writes the request's data into the file as it lies in the frame.
    // `injectFailure`: the write fails with ERROR_WRITE_FAULT, nothing written.
    cable::WriteFileAnswer Write(const cable::WriteFileRequest& request, bool injectFailure);
    cable::SetFilePointerAnswer Seek(const cable::SetFilePointerRequest& request);
    cable::BoolAnswer SetEnd(const cable::HandleRequest& request);
    cable::BoolAnswer Close(const cable::HandleRequest& request);
    cable::GetFileSizeAnswer Size(const cable::HandleRequest& request);
    cable::BoolAnswer Delete(const cable::DeleteFileRequest& request);

    void CloseAll();
    size_t OpenCount() const { return open_.size(); }

  private:
    struct Entry {
        OpenFile file;
        std::u16string path;
        bool wrote = false;
    };
    Entry* Find(uint32_t handle);
    void CloseEntry(FileStore& files, Entry& entry);

    RapiDevice& device_;
    WrittenFileClosed onWrittenClosed_;
    std::map<uint32_t, Entry> open_;
    uint32_t nextHandle_ = 1;
    // Only grows, so that reads of varying counts neither reallocate nor
    // clear it again.
    std::vector<uint8_t> readBuffer_;
};

}  // namespace nuva::sim
