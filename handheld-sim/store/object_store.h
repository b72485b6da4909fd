// The handheld's object store: the RAM file system and the registry, as the
// WinCE core library (handheld-sim/machine) and the RAPI service
// (handheld-sim/rapi) serve them to programs and to the desktop.
//
// Results are Win32 error codes (ERROR_SUCCESS 0, ERROR_FILE_NOT_FOUND 2 ...),
// given here as constants of this namespace so that this header does not
// depend on either side's API header; the machine and the RAPI service hand
// them on unchanged as the "last error".
//
// Files
//   Paths are UTF-16, absolute, separated by "\" (a "/" is taken as "\" too,
//   as WinCE does); a path without a leading "\" starts at the root as well,
//   since WinCE has no current folder. One trailing separator is allowed on
//   folder paths. Names are matched without regard to case (ASCII and
//   Latin-1 letters fold) and keep the case they were created with. A name
//   is 1 to 255 characters without control characters or any of <>:"|?*,
//   and is not "." or ".."; a whole path is at most 259 characters. Anything
//   else is ERROR_INVALID_NAME.
//
//   Opening follows CreateFile: access bits kAccessRead/kAccessWrite (the
//   GENERIC_READ/GENERIC_WRITE values), share bits kShareRead/kShareWrite,
//   and the five creation dispositions. Sharing is enforced between the open
//   files of the store as Win32 does: an open that asks for an access some
//   earlier open does not share, or that refuses to share an access some
//   earlier open holds, fails with ERROR_SHARING_VIOLATION. An open without
//   read or write access takes part in no sharing check (it can still not be
//   deleted while open).
//
//   The store has a capacity (total bytes of file contents; folders are
//   free). A write or size change beyond it fails with ERROR_DISK_FULL and
//   changes nothing.
//
// Registry
//   Two roots (HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER). Sub-key paths are
//   "\"-separated, names matched without regard to case and kept as created.
//   Values keep their order of creation (setting an existing value keeps its
//   place); enumerating index 0 and deleting it repeatedly therefore empties
//   a key, ending with ERROR_NO_MORE_ITEMS. DeleteKey removes the key with
//   all its values and sub-keys, as RegDeleteKey does on the handheld itself.
//   Keys stay deletable while open: a handle to a deleted key (or to a key
//   below it) then fails every call with ERROR_KEY_DELETED.
//
// Contents replaced as a whole (a cold start restoring factory contents, or
// state loaded from disk) invalidate every open file and key handle of the
// old contents: they fail with ERROR_INVALID_HANDLE, as handles do across a
// restart.
//
// Every object here is thread-safe: the file store and the registry each
// guard their contents with one mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nuva::sim {

// Win32 error codes used by the store.
namespace store_error {
inline constexpr uint32_t kSuccess = 0;
inline constexpr uint32_t kFileNotFound = 2;
inline constexpr uint32_t kPathNotFound = 3;
inline constexpr uint32_t kAccessDenied = 5;
inline constexpr uint32_t kInvalidHandle = 6;
inline constexpr uint32_t kSharingViolation = 32;
inline constexpr uint32_t kFileExists = 80;
inline constexpr uint32_t kInvalidParameter = 87;
inline constexpr uint32_t kDiskFull = 112;
inline constexpr uint32_t kInvalidName = 123;
inline constexpr uint32_t kNegativeSeek = 131;
inline constexpr uint32_t kDirNotEmpty = 145;
inline constexpr uint32_t kAlreadyExists = 183;
inline constexpr uint32_t kNoMoreItems = 259;
inline constexpr uint32_t kDirectory = 267;  // a folder operation on a file
inline constexpr uint32_t kKeyDeleted = 1018;
}  // namespace store_error

// CreateFile's access, share and disposition values.
inline constexpr uint32_t kAccessRead = 0x80000000u;
inline constexpr uint32_t kAccessWrite = 0x40000000u;
inline constexpr uint32_t kShareRead = 0x1u;
inline constexpr uint32_t kShareWrite = 0x2u;
enum class Disposition : uint32_t {
    kCreateNew = 1,
    kCreateAlways = 2,
    kOpenExisting = 3,
    kOpenAlways = 4,
    kTruncateExisting = 5,
};
// SetFilePointer's move methods.
enum class SeekFrom : uint32_t { kBegin = 0, kCurrent = 1, kEnd = 2 };

// The RAM object store of the handheld (its RAM is partly program memory).
inline constexpr uint64_t kDefaultStoreCapacity = 48ull * 1024 * 1024;

// Case folding and comparison of names as the store does them.
std::u16string FoldCase(std::u16string_view name);
bool SameName(std::u16string_view a, std::u16string_view b);

struct EntryInfo {
    std::u16string name;  // as created
    uint64_t size = 0;    // 0 for a folder
    bool folder = false;
};

class FileStore;

// One open file of the store: a file handle. Closes itself when destroyed.
// All calls return a store_error code; after Close (or once the store's
// contents were replaced) every call returns kInvalidHandle.
class OpenFile {
  public:
    OpenFile();
    ~OpenFile();
    OpenFile(OpenFile&& other) noexcept;
    OpenFile& operator=(OpenFile&& other) noexcept;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    bool IsOpen() const;
    // Reads up to `count` bytes at the file position; fewer (0 at or past the
    // end) is success. kAccessDenied without read access.
    uint32_t Read(void* buffer, uint32_t count, uint32_t* done);
    // Writes at the file position, extending the file (a gap past the end is
    // filled with zeros). kAccessDenied without write access; kDiskFull (and
    // nothing written) beyond the capacity.
    uint32_t Write(const void* data, uint32_t count, uint32_t* done);
    // Moves the file position like SetFilePointer: `distance` is the signed
    // move (the caller builds it from the low and high parts), positions past
    // the end are allowed, a negative result is kNegativeSeek and an unknown
    // method kInvalidParameter; the position is unchanged on failure.
    uint32_t Seek(int64_t distance, SeekFrom from, uint64_t* newPosition);
    uint32_t Seek(int64_t distance, uint32_t moveMethod, uint64_t* newPosition);
    // Makes the file end at the file position (SetEndOfFile): write access
    // needed, growth is zero-filled and counted against the capacity.
    uint32_t SetEnd();
    uint32_t Size(uint64_t* size) const;
    uint64_t Position() const;
    uint32_t Access() const;
    uint32_t Share() const;
    // The path the file was opened with (as the caller wrote it).
    const std::u16string& Path() const;
    void Close();

    struct Handle;  // opaque; defined by the store

  private:
    friend class FileStore;
    std::unique_ptr<Handle> handle_;
};

struct OpenResult {
    // kSuccess, or kAlreadyExists for an existing file opened with
    // kOpenAlways/kCreateAlways (the open succeeded: Win32 sets that as the
    // last error); any other value means `file` is not open.
    uint32_t error = store_error::kSuccess;
    OpenFile file;
    bool ok() const { return file.IsOpen(); }
};

class FileStore {
  public:
    explicit FileStore(uint64_t capacity = kDefaultStoreCapacity);
    ~FileStore();
    FileStore(const FileStore&) = delete;
    FileStore& operator=(const FileStore&) = delete;

    // CreateFile. Errors: kInvalidName, kPathNotFound (a folder on the way
    // is missing or is a file), kAccessDenied (the path is a folder),
    // kFileNotFound (kOpenExisting/kTruncateExisting on a missing file),
    // kFileExists (kCreateNew on an existing file), kSharingViolation,
    // kInvalidParameter (kTruncateExisting without write access, or an
    // unknown disposition).
    OpenResult Open(std::u16string_view path, uint32_t access, uint32_t share, Disposition disposition);
    OpenResult Open(std::u16string_view path, uint32_t access, uint32_t share, uint32_t disposition);

    // DeleteFile: kFileNotFound, kPathNotFound, kAccessDenied (a folder),
    // kSharingViolation while any handle has the file open.
    uint32_t Delete(std::u16string_view path);
    // CreateDirectory: kAlreadyExists when the name is taken (file or
    // folder), kPathNotFound when the parent is missing.
    uint32_t CreateDirectory(std::u16string_view path);
    // RemoveDirectory: kDirNotEmpty, kDirectory when the path is a file,
    // kAccessDenied for the root.
    uint32_t RemoveDirectory(std::u16string_view path);
    // The entry at `path` ("\" is the root folder).
    uint32_t Stat(std::u16string_view path, EntryInfo* info) const;
    // The entries of a folder, in order of creation.
    uint32_t List(std::u16string_view folder, std::vector<EntryInfo>* entries) const;

    // Whole-file helpers for tests and the control interface. Get reads a
    // file whatever its sharing; Put creates or replaces one (its folder must
    // exist) and fails with kSharingViolation while the file is open.
    uint32_t Get(std::u16string_view path, std::vector<uint8_t>* contents) const;
    // Whether a file holds exactly `expected` (in `same`), without copying
    // it out; the errors are Get's.
    uint32_t Holds(std::u16string_view path, std::span<const uint8_t> expected, bool* same) const;
    uint32_t Put(std::u16string_view path, std::span<const uint8_t> contents);
    uint32_t Put(std::u16string_view path, std::string_view contents);

    uint64_t Capacity() const;
    // May be set below what is used: later growth then fails.
    void SetCapacity(uint64_t bytes);
    uint64_t UsedBytes() const;
    // Handles currently open (for checks that every opened file is closed).
    size_t OpenFileCount() const;

    // Takes over `source`'s files, folders and capacity, leaving `source`
    // empty; every open handle of either store becomes invalid.
    void ReplaceContents(FileStore& source);

    struct Impl;

  private:
    std::shared_ptr<Impl> impl_;
};

enum class RegRoot : uint32_t { kLocalMachine, kCurrentUser };

// Registry value types used on the handheld.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;

struct RegValue {
    std::u16string name;
    uint32_t type = kRegNone;
    std::vector<uint8_t> data;
};

class Registry;

// A key handle. A default-constructed one is invalid (kInvalidHandle).
// Copies refer to the same key; a key is "closed" by dropping its handles.
class RegKey {
  public:
    RegKey();
    ~RegKey();
    RegKey(const RegKey&);
    RegKey& operator=(const RegKey&);
    bool IsValid() const;
    void Reset();

    struct Node;  // opaque; defined by the registry

  private:
    friend class Registry;
    std::shared_ptr<Node> node_;
    uint64_t generation_ = 0;
    const void* owner_ = nullptr;
};

class Registry {
  public:
    Registry();
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    RegKey Root(RegRoot root) const;

    // RegOpenKeyEx: an empty `subKey` opens `parent` again. kFileNotFound
    // when a key on the way is missing; kInvalidHandle, kKeyDeleted for a
    // bad parent; kInvalidParameter for an empty name inside the path or a
    // name over 255 characters.
    uint32_t OpenKey(const RegKey& parent, std::u16string_view subKey, RegKey* key) const;
    // RegCreateKeyEx: creates every missing key on the way; `created` (when
    // given) says whether the last key was new.
    uint32_t CreateKey(const RegKey& parent, std::u16string_view subKey, RegKey* key,
                       bool* created = nullptr);
    // RegDeleteKey: removes the key, its values and sub-keys. kFileNotFound
    // when missing; kInvalidParameter for an empty `subKey`.
    uint32_t DeleteKey(const RegKey& parent, std::u16string_view subKey);

    uint32_t SetValue(const RegKey& key, std::u16string_view name, uint32_t type,
                      std::span<const uint8_t> data);
    // REG_SZ with its terminating zero, and REG_DWORD, little-endian.
    uint32_t SetString(const RegKey& key, std::u16string_view name, std::u16string_view text);
    uint32_t SetDword(const RegKey& key, std::u16string_view name, uint32_t value);
    // kFileNotFound when the value does not exist.
    uint32_t QueryValue(const RegKey& key, std::u16string_view name, RegValue* value) const;
    // kNoMoreItems past the last value or sub-key.
    uint32_t EnumValue(const RegKey& key, uint32_t index, RegValue* value) const;
    uint32_t EnumKey(const RegKey& key, uint32_t index, std::u16string* name) const;
    uint32_t DeleteValue(const RegKey& key, std::u16string_view name);

    // Whether the key exists (for the machine's start-up and for tests).
    bool KeyExists(RegRoot root, std::u16string_view path) const;

    // Takes over `source`'s keys, leaving it empty; every key handle of
    // either registry becomes invalid.
    void ReplaceContents(Registry& source);

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

// The whole store of one handheld.
struct ObjectStore {
    explicit ObjectStore(uint64_t capacity = kDefaultStoreCapacity) : files(capacity) {}
    FileStore files;
    Registry registry;
};

// The driver keys under HKEY_LOCAL_MACHINE\Drivers\BuiltIn of a factory-new
// handheld, and the storage manager's auto-load key of the built-in storage.
inline constexpr std::u16string_view kBuiltInDriversKey = u"Drivers\\BuiltIn";
inline constexpr std::u16string_view kPsmAutoLoadKey = u"System\\StorageManager\\AutoLoad\\PSM";
inline constexpr std::u16string_view kStartupFolder = u"\\Windows\\StartUp";

// Replaces the store's contents with those of a factory-new handheld (what a
// cold start restores), keeping the capacity:
//   \Windows\, \Windows\StartUp\ (with the shortcuts poutlook.lnk and
//   Welcome.lnk), \TEMP\, \My Documents\;
//   HKLM\Drivers\BuiltIn\<driver> for ExtConnDrv, FlshDrv, IrCOMM, IrDA,
//   sdmmcloader, Serial, USB, WaveDev, GSM610, NDIS, Battery and
//   PowerManager (Dll, Prefix, Index, Order values), and
//   HKLM\System\StorageManager\AutoLoad\PSM.
void ResetToFactory(ObjectStore& store);
std::unique_ptr<ObjectStore> MakeFactoryStore(uint64_t capacity = kDefaultStoreCapacity);

// The whole store (capacity, folders, files, registry) as a versioned byte
// blob, and back. LoadStore checks every field and length; a damaged or
// foreign blob is refused with a reason in `error` and `store` is left as it
// was; on success `store`'s contents are replaced.
std::vector<uint8_t> SaveStore(const ObjectStore& store);
bool LoadStore(std::span<const uint8_t> blob, ObjectStore& store, std::string* error);

}  // namespace nuva::sim
