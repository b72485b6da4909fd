#include "handheld-sim/rapi/connection_files.h"

#include <limits>

namespace nuva::sim {

namespace {

constexpr uint32_t kTrue = 1;
constexpr uint32_t kFalse = 0;
constexpr uint32_t kInvalidFileSize = 0xFFFFFFFFu;
constexpr uint32_t kInvalidSetFilePointer = 0xFFFFFFFFu;

}  // namespace

ConnectionFiles::ConnectionFiles(RapiDevice& device, WrittenFileClosed onWrittenClosed)
    : device_(device), onWrittenClosed_(std::move(onWrittenClosed)) {}

ConnectionFiles::~ConnectionFiles() {
    CloseAll();
}

ConnectionFiles::Entry* ConnectionFiles::Find(uint32_t handle) {
    auto it = open_.find(handle);
    return it == open_.end() ? nullptr : &it->second;
}

void ConnectionFiles::CloseEntry(FileStore& files, Entry& entry) {
    entry.file.Close();
    if (entry.wrote && onWrittenClosed_) {
        onWrittenClosed_(files, entry.path);
    }
}

cable::CreateFileAnswer ConnectionFiles::Create(const cable::CreateFileRequest& request) {
    cable::CreateFileAnswer answer;
    device_.WithFiles([&](FileStore& files) {
        OpenResult opened = files.Open(request.name, request.access, request.share, request.disposition);
        answer.lastError = opened.error;
        if (!opened.ok()) {
            return;
        }
        if (nextHandle_ == 0) {  // 2^32 opens on one connection: numbers would repeat
            answer.lastError = store_error::kInvalidParameter;
            return;
        }
        uint32_t handle = nextHandle_++;
        open_.emplace(handle, Entry{std::move(opened.file), request.name, false});
        answer.result = handle;
    });
    return answer;
}

cable::ReadFileAnswer ConnectionFiles::Read(const cable::ReadFileRequest& request) {
    cable::ReadFileAnswer answer;
    device_.WithFiles([&](FileStore&) {
        Entry* entry = Find(request.handle);
        if (entry == nullptr) {
            answer.lastError = store_error::kInvalidHandle;
            return;
        }
        // The count was checked against the cable's cap when it was decoded.
        if (readBuffer_.size() < request.count) {
            readBuffer_.resize(request.count);
        }
        uint32_t done = 0;
        answer.lastError = entry->file.Read(readBuffer_.data(), request.count, &done);
        const bool ok = answer.lastError == store_error::kSuccess;
        answer.data = std::span<const uint8_t>(readBuffer_.data(), ok ? done : 0);
        answer.result = ok ? kTrue : kFalse;
    });
    return answer;
}

cable::WriteFileAnswer ConnectionFiles::Write(const cable::WriteFileRequest& request, bool injectFailure) {
    cable::WriteFileAnswer answer;
    device_.WithFiles([&](FileStore&) {
        Entry* entry = Find(request.handle);
        if (entry == nullptr) {
            answer.lastError = store_error::kInvalidHandle;
            return;
        }
        if (injectFailure) {
            answer.lastError = ERROR_WRITE_FAULT;
            return;
        }
        uint32_t done = 0;
        answer.lastError =
            entry->file.Write(request.data.data(), static_cast<uint32_t>(request.data.size()), &done);
        answer.written = done;
        entry->wrote = entry->wrote || done > 0;
        answer.result = answer.lastError == store_error::kSuccess ? kTrue : kFalse;
    });
    return answer;
}

cable::SetFilePointerAnswer ConnectionFiles::Seek(const cable::SetFilePointerRequest& request) {
    cable::SetFilePointerAnswer answer;
    answer.result = kInvalidSetFilePointer;
    device_.WithFiles([&](FileStore&) {
        Entry* entry = Find(request.handle);
        if (entry == nullptr) {
            answer.lastError = store_error::kInvalidHandle;
            return;
        }
        // Without a high part the distance is a signed 32-bit value; with one,
        // the two make a signed 64-bit distance.
        int64_t distance =
            request.hasHigh
                ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(request.high)) << 32) |
                                       static_cast<uint32_t>(request.distance))
                : int64_t{request.distance};
        uint64_t before = entry->file.Position();
        uint64_t position = 0;
        answer.lastError = entry->file.Seek(distance, request.method, &position);
        if (answer.lastError != store_error::kSuccess) {
            answer.high = request.high;
            return;
        }
        if (!request.hasHigh && position > std::numeric_limits<uint32_t>::max()) {
            // The caller could not be told the position: Win32 refuses the move.
            uint64_t ignored = 0;
            entry->file.Seek(static_cast<int64_t>(before), SeekFrom::kBegin, &ignored);
            answer.lastError = store_error::kInvalidParameter;
            return;
        }
        answer.result = static_cast<uint32_t>(position);
        answer.high = static_cast<int32_t>(position >> 32);
    });
    return answer;
}

cable::BoolAnswer ConnectionFiles::SetEnd(const cable::HandleRequest& request) {
    cable::BoolAnswer answer;
    device_.WithFiles([&](FileStore&) {
        Entry* entry = Find(request.handle);
        if (entry == nullptr) {
            answer.lastError = store_error::kInvalidHandle;
            return;
        }
        answer.lastError = entry->file.SetEnd();
        entry->wrote = true;
        answer.result = answer.lastError == store_error::kSuccess ? kTrue : kFalse;
    });
    return answer;
}

cable::BoolAnswer ConnectionFiles::Close(const cable::HandleRequest& request) {
    cable::BoolAnswer answer;
    device_.WithFiles([&](FileStore& files) {
        auto it = open_.find(request.handle);
        if (it == open_.end()) {
            answer.lastError = store_error::kInvalidHandle;
            return;
        }
        CloseEntry(files, it->second);
        open_.erase(it);
        answer.result = kTrue;
    });
    return answer;
}

cable::GetFileSizeAnswer ConnectionFiles::Size(const cable::HandleRequest& request) {
    cable::GetFileSizeAnswer answer;
    answer.result = kInvalidFileSize;
    device_.WithFiles([&](FileStore&) {
        Entry* entry = Find(request.handle);
        if (entry == nullptr) {
            answer.lastError = store_error::kInvalidHandle;
            return;
        }
        uint64_t size = 0;
        answer.lastError = entry->file.Size(&size);
        if (answer.lastError == store_error::kSuccess) {
            answer.result = static_cast<uint32_t>(size);
            answer.high = static_cast<uint32_t>(size >> 32);
        }
    });
    return answer;
}

cable::BoolAnswer ConnectionFiles::Delete(const cable::DeleteFileRequest& request) {
    cable::BoolAnswer answer;
    device_.WithFiles([&](FileStore& files) {
        answer.lastError = files.Delete(request.name);
        answer.result = answer.lastError == store_error::kSuccess ? kTrue : kFalse;
    });
    return answer;
}

void ConnectionFiles::CloseAll() {
    if (open_.empty()) {
        return;
    }
    device_.WithFiles([&](FileStore& files) {
        for (auto& [handle, entry] : open_) {
            CloseEntry(files, entry);
        }
    });
    open_.clear();
}

}  // namespace nuva::sim
