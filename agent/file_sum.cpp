#include "agent/file_sum.h"

#include "formats/byte_sum.h"
#include "platform/wince/wince.h"

namespace nuva::agent {
namespace {

constexpr UINT kBufferBytes = 32 * 1024;
constexpr DWORD kPieceBytes = 16 * 1024;

// Only a file that exists is summed: asking about a path must not leave an
// empty file behind in the handheld's store.
class File {
  public:
    explicit File(const char16_t* path)
        : handle_(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~File() {
        if (IsOpen()) {
            CloseHandle(handle_);
        }
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE Handle() const { return handle_; }

  private:
    HANDLE handle_;
};

class LocalBlock {
  public:
    explicit LocalBlock(UINT bytes) : block_(LocalAlloc(LPTR, bytes)) {}
    ~LocalBlock() {
        if (block_ != nullptr) {
            LocalFree(block_);
        }
    }
    LocalBlock(const LocalBlock&) = delete;
    LocalBlock& operator=(const LocalBlock&) = delete;
    BYTE* Bytes() const { return static_cast<BYTE*>(block_); }

  private:
    HLOCAL block_;
};

}  // namespace

bool FileByteSum(const char16_t* path, uint32_t& sum) {
    const File file(path);
    if (!file.IsOpen()) {
        return false;
    }
    const DWORD size = GetFileSize(file.Handle(), nullptr);
    if (size == 0 || size == INVALID_FILE_SIZE) {
        return false;
    }
    const LocalBlock buffer(kBufferBytes);
    if (buffer.Bytes() == nullptr) {
        return false;
    }
    uint32_t total = 0;
    DWORD left = size;
    while (left > 0) {
        const DWORD piece = left < kPieceBytes ? left : kPieceBytes;
        DWORD got = 0;
        if (ReadFile(file.Handle(), buffer.Bytes(), piece, &got, nullptr) == FALSE || got == 0 ||
            got > piece) {
            return false;
        }
        total = ByteSum(buffer.Bytes(), got, total);
        left -= got;
    }
    sum = total;
    return true;
}

}  // namespace nuva::agent
