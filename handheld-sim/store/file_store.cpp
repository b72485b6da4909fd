// The RAM file system of the handheld: a tree of folders and files under
// one mutex, with Win32 open/sharing semantics and a capacity.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "handheld-sim/store/object_store.h"

namespace nuva::sim {

using namespace store_error;

namespace {

constexpr size_t kMaxPath = 259;
constexpr size_t kMaxName = 255;

struct FileNode {
    std::u16string name;
    bool folder = false;
    std::vector<uint8_t> data;
    std::vector<std::shared_ptr<FileNode>> children;
    // What the open handles of this file hold and refuse to share; handles
    // without read or write access take no part.
    uint32_t openCount = 0;
    uint32_t readers = 0;
    uint32_t writers = 0;
    uint32_t denyRead = 0;
    uint32_t denyWrite = 0;
};

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

bool IsValidName(std::u16string_view name) {
    if (name.empty() || name.size() > kMaxName || name == u"." || name == u"..") {
        return false;
    }
    for (char16_t c : name) {
        if (c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' || c == u'?' ||
            c == u'*') {
            return false;
        }
    }
    return true;
}

struct ParsedPath {
    std::vector<std::u16string_view> parts;  // empty: the root folder
    bool trailingSeparator = false;
};

uint32_t ParsePath(std::u16string_view path, ParsedPath& out) {
    out = ParsedPath{};
    if (path.size() > kMaxPath) {
        return kInvalidName;
    }
    if (!path.empty() && IsSeparator(path.front())) {
        path.remove_prefix(1);
    }
    if (!path.empty() && IsSeparator(path.back())) {
        out.trailingSeparator = true;
        path.remove_suffix(1);
    }
    if (path.empty()) {
        return kSuccess;
    }
    size_t start = 0;
    while (true) {
        size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) {
            ++end;
        }
        std::u16string_view part = path.substr(start, end - start);
        if (!IsValidName(part)) {
            return kInvalidName;
        }
        out.parts.push_back(part);
        if (end == path.size()) {
            return kSuccess;
        }
        start = end + 1;
    }
}

std::shared_ptr<FileNode> FindChild(const FileNode& folder, std::u16string_view name) {
    for (const auto& child : folder.children) {
        if (SameName(child->name, name)) {
            return child;
        }
    }
    return nullptr;
}

std::shared_ptr<FileNode> MakeNode(std::u16string_view name, bool folder) {
    auto node = std::make_shared<FileNode>();
    node->name = std::u16string(name);
    node->folder = folder;
    return node;
}

bool Participates(uint32_t access) {
    return (access & (kAccessRead | kAccessWrite)) != 0;
}

bool SharingAllows(const FileNode& node, uint32_t access, uint32_t share) {
    if (!Participates(access)) {
        return true;
    }
    if (((access & kAccessRead) != 0 && node.denyRead > 0) ||
        ((access & kAccessWrite) != 0 && node.denyWrite > 0)) {
        return false;
    }
    if ((node.readers > 0 && (share & kShareRead) == 0) || (node.writers > 0 && (share & kShareWrite) == 0)) {
        return false;
    }
    return true;
}

void AddOpen(FileNode& node, uint32_t access, uint32_t share, int delta) {
    auto adjust = [delta](uint32_t& counter, bool applies) {
        if (applies) {
            counter = static_cast<uint32_t>(static_cast<int64_t>(counter) + delta);
        }
    };
    adjust(node.openCount, true);
    if (Participates(access)) {
        adjust(node.readers, (access & kAccessRead) != 0);
        adjust(node.writers, (access & kAccessWrite) != 0);
        adjust(node.denyRead, (share & kShareRead) == 0);
        adjust(node.denyWrite, (share & kShareWrite) == 0);
    }
}

}  // namespace

struct FileStore::Impl {
    mutable std::mutex mutex;
    std::shared_ptr<FileNode> root = MakeNode(u"", true);
    uint64_t capacity = 0;
    uint64_t used = 0;
    // Bumped whenever the contents are replaced as a whole; handles of an
    // older generation are dead.
    uint64_t generation = 1;
    size_t openFiles = 0;

    // The folder that holds the last part of `path`.
    uint32_t FindParent(const ParsedPath& path, std::shared_ptr<FileNode>& parent) const {
        std::shared_ptr<FileNode> folder = root;
        for (size_t i = 0; i + 1 < path.parts.size(); ++i) {
            folder = FindChild(*folder, path.parts[i]);
            if (folder == nullptr || !folder->folder) {
                return kPathNotFound;
            }
        }
        parent = folder;
        return kSuccess;
    }

    // The node at `path`: kPathNotFound when its folder is missing,
    // kFileNotFound when only the last part is.
    uint32_t Find(std::u16string_view text, std::shared_ptr<FileNode>& node,
                  ParsedPath* parsedOut = nullptr) const {
        ParsedPath path;
        if (uint32_t error = ParsePath(text, path); error != kSuccess) {
            return error;
        }
        if (parsedOut != nullptr) {
            *parsedOut = path;
        }
        if (path.parts.empty()) {
            node = root;
            return kSuccess;
        }
        std::shared_ptr<FileNode> parent;
        if (uint32_t error = FindParent(path, parent); error != kSuccess) {
            return error;
        }
        node = FindChild(*parent, path.parts.back());
        return node != nullptr ? kSuccess : kFileNotFound;
    }

    // A file (not a folder) named without a trailing separator.
    uint32_t FindFile(std::u16string_view text, std::shared_ptr<FileNode>& node) const {
        ParsedPath path;
        if (uint32_t error = Find(text, node, &path); error != kSuccess) {
            return error;
        }
        if (node->folder) {
            return kAccessDenied;
        }
        return path.trailingSeparator ? kInvalidName : kSuccess;
    }

    bool Fits(uint64_t oldSize, uint64_t newSize) const {
        return newSize <= oldSize || used + (newSize - oldSize) <= capacity;
    }

    void Resize(FileNode& node, uint64_t newSize) {
        used = used - node.data.size() + newSize;
        node.data.resize(static_cast<size_t>(newSize), 0);
    }
    void Append(FileNode& node, const uint8_t* bytes, size_t count) {
        used += count;
        node.data.insert(node.data.end(), bytes, bytes + count);
    }
};

struct OpenFile::Handle {
    std::shared_ptr<FileStore::Impl> store;
    std::shared_ptr<FileNode> node;
    uint64_t generation = 0;
    uint32_t access = 0;
    uint32_t share = 0;
    uint64_t position = 0;
    std::u16string path;

    // Called with the store's mutex held.
    bool Live() const { return node != nullptr && generation == store->generation; }
};

// ---- OpenFile ---------------------------------------------------------------

OpenFile::OpenFile() = default;
OpenFile::~OpenFile() {
    Close();
}
OpenFile::OpenFile(OpenFile&& other) noexcept = default;
OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::move(other.handle_);
    }
    return *this;
}

bool OpenFile::IsOpen() const {
    if (handle_ == nullptr) {
        return false;
    }
    std::lock_guard lock(handle_->store->mutex);
    return handle_->Live();
}

uint32_t OpenFile::Read(void* buffer, uint32_t count, uint32_t* done) {
    if (done != nullptr) {
        *done = 0;
    }
    if (handle_ == nullptr) {
        return kInvalidHandle;
    }
    std::lock_guard lock(handle_->store->mutex);
    if (!handle_->Live()) {
        return kInvalidHandle;
    }
    if ((handle_->access & kAccessRead) == 0) {
        return kAccessDenied;
    }
    const auto& data = handle_->node->data;
    uint64_t available = handle_->position < data.size() ? data.size() - handle_->position : 0;
    auto n = static_cast<uint32_t>(available < count ? available : count);
    if (n > 0) {
        if (buffer == nullptr) {
            return kInvalidParameter;
        }
        std::memcpy(buffer, data.data() + handle_->position, n);
    }
    handle_->position += n;
    if (done != nullptr) {
        *done = n;
    }
    return kSuccess;
}

uint32_t OpenFile::Write(const void* data, uint32_t count, uint32_t* done) {
    if (done != nullptr) {
        *done = 0;
    }
    if (handle_ == nullptr) {
        return kInvalidHandle;
    }
    std::lock_guard lock(handle_->store->mutex);
    if (!handle_->Live()) {
        return kInvalidHandle;
    }
    if ((handle_->access & kAccessWrite) == 0) {
        return kAccessDenied;
    }
    if (count == 0) {
        return kSuccess;
    }
    if (data == nullptr) {
        return kInvalidParameter;
    }
    FileNode& node = *handle_->node;
    uint64_t end = handle_->position + count;
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (end > node.data.size()) {
        if (!handle_->store->Fits(node.data.size(), end)) {
            return kDiskFull;
        }
        // A gap before the position reads as zeros; the bytes past the old
        // end are appended, not zeroed first and then overwritten, so that a
        // file written in order (every transfer) costs one copy per byte.
        if (handle_->position > node.data.size()) {
            handle_->store->Resize(node, handle_->position);
        }
        const size_t inPlace = static_cast<size_t>(node.data.size() - handle_->position);
        std::memcpy(node.data.data() + handle_->position, bytes, inPlace);
        handle_->store->Append(node, bytes + inPlace, count - inPlace);
    } else {
        std::memcpy(node.data.data() + handle_->position, bytes, count);
    }
    handle_->position = end;
    if (done != nullptr) {
        *done = count;
    }
    return kSuccess;
}

uint32_t OpenFile::Seek(int64_t distance, SeekFrom from, uint64_t* newPosition) {
    if (handle_ == nullptr) {
        return kInvalidHandle;
    }
    std::lock_guard lock(handle_->store->mutex);
    if (!handle_->Live()) {
        return kInvalidHandle;
    }
    int64_t base = 0;
    switch (from) {
        case SeekFrom::kBegin:
            base = 0;
            break;
        case SeekFrom::kCurrent:
            base = static_cast<int64_t>(handle_->position);
            break;
        case SeekFrom::kEnd:
            base = static_cast<int64_t>(handle_->node->data.size());
            break;
        default:
            return kInvalidParameter;
    }
    // Positions stay far below 2^62 (the store holds megabytes), so only a
    // huge distance can overflow; it is refused like a negative result.
    if ((distance > 0 && base > INT64_MAX - distance) || base + distance < 0) {
        return kNegativeSeek;
    }
    handle_->position = static_cast<uint64_t>(base + distance);
    if (newPosition != nullptr) {
        *newPosition = handle_->position;
    }
    return kSuccess;
}

uint32_t OpenFile::Seek(int64_t distance, uint32_t moveMethod, uint64_t* newPosition) {
    if (moveMethod > static_cast<uint32_t>(SeekFrom::kEnd)) {
        return handle_ == nullptr ? kInvalidHandle : kInvalidParameter;
    }
    return Seek(distance, static_cast<SeekFrom>(moveMethod), newPosition);
}

uint32_t OpenFile::SetEnd() {
    if (handle_ == nullptr) {
        return kInvalidHandle;
    }
    std::lock_guard lock(handle_->store->mutex);
    if (!handle_->Live()) {
        return kInvalidHandle;
    }
    if ((handle_->access & kAccessWrite) == 0) {
        return kAccessDenied;
    }
    FileNode& node = *handle_->node;
    if (!handle_->store->Fits(node.data.size(), handle_->position)) {
        return kDiskFull;
    }
    handle_->store->Resize(node, handle_->position);
    return kSuccess;
}

uint32_t OpenFile::Size(uint64_t* size) const {
    if (handle_ == nullptr) {
        return kInvalidHandle;
    }
    std::lock_guard lock(handle_->store->mutex);
    if (!handle_->Live()) {
        return kInvalidHandle;
    }
    if (size != nullptr) {
        *size = handle_->node->data.size();
    }
    return kSuccess;
}

uint64_t OpenFile::Position() const {
    return handle_ != nullptr ? handle_->position : 0;
}
uint32_t OpenFile::Access() const {
    return handle_ != nullptr ? handle_->access : 0;
}
uint32_t OpenFile::Share() const {
    return handle_ != nullptr ? handle_->share : 0;
}

const std::u16string& OpenFile::Path() const {
    static const std::u16string none;
    return handle_ != nullptr ? handle_->path : none;
}

void OpenFile::Close() {
    if (handle_ == nullptr) {
        return;
    }
    {
        std::lock_guard lock(handle_->store->mutex);
        if (handle_->Live()) {
            AddOpen(*handle_->node, handle_->access, handle_->share, -1);
            --handle_->store->openFiles;
        }
    }
    handle_.reset();
}

// ---- FileStore --------------------------------------------------------------

FileStore::FileStore(uint64_t capacity) : impl_(std::make_shared<Impl>()) {
    impl_->capacity = capacity;
}
FileStore::~FileStore() = default;

OpenResult FileStore::Open(std::u16string_view text, uint32_t access, uint32_t share, uint32_t disposition) {
    if (disposition < static_cast<uint32_t>(Disposition::kCreateNew) ||
        disposition > static_cast<uint32_t>(Disposition::kTruncateExisting)) {
        OpenResult result;
        result.error = kInvalidParameter;
        return result;
    }
    return Open(text, access, share, static_cast<Disposition>(disposition));
}

OpenResult FileStore::Open(std::u16string_view text, uint32_t access, uint32_t share,
                           Disposition disposition) {
    OpenResult result;
    auto fail = [&result](uint32_t error) {
        result.error = error;
        return std::move(result);
    };
    if (disposition < Disposition::kCreateNew || disposition > Disposition::kTruncateExisting) {
        return fail(kInvalidParameter);
    }
    if (disposition == Disposition::kTruncateExisting && (access & kAccessWrite) == 0) {
        return fail(kInvalidParameter);
    }
    ParsedPath path;
    if (uint32_t error = ParsePath(text, path); error != kSuccess) {
        return fail(error);
    }
    if (path.parts.empty()) {
        return fail(kAccessDenied);  // the root folder
    }
    if (path.trailingSeparator) {
        return fail(kInvalidName);
    }

    std::lock_guard lock(impl_->mutex);
    std::shared_ptr<FileNode> parent;
    if (uint32_t error = impl_->FindParent(path, parent); error != kSuccess) {
        return fail(error);
    }
    std::shared_ptr<FileNode> node = FindChild(*parent, path.parts.back());
    uint32_t outcome = kSuccess;
    if (node != nullptr) {
        if (node->folder) {
            return fail(kAccessDenied);
        }
        if (disposition == Disposition::kCreateNew) {
            return fail(kFileExists);
        }
        if (!SharingAllows(*node, access, share)) {
            return fail(kSharingViolation);
        }
        if (disposition == Disposition::kCreateAlways || disposition == Disposition::kTruncateExisting) {
            impl_->Resize(*node, 0);
        }
        if (disposition == Disposition::kCreateAlways || disposition == Disposition::kOpenAlways) {
            outcome = kAlreadyExists;
        }
    } else {
        if (disposition == Disposition::kOpenExisting || disposition == Disposition::kTruncateExisting) {
            return fail(kFileNotFound);
        }
        node = MakeNode(path.parts.back(), false);
        parent->children.push_back(node);
    }

    auto handle = std::make_unique<OpenFile::Handle>();
    handle->store = impl_;
    handle->node = node;
    handle->generation = impl_->generation;
    handle->access = access;
    handle->share = share;
    handle->path = std::u16string(text);
    AddOpen(*node, access, share, +1);
    ++impl_->openFiles;
    result.file.handle_ = std::move(handle);
    result.error = outcome;
    return result;
}

uint32_t FileStore::Delete(std::u16string_view text) {
    ParsedPath path;
    if (uint32_t error = ParsePath(text, path); error != kSuccess) {
        return error;
    }
    if (path.parts.empty()) {
        return kAccessDenied;
    }
    if (path.trailingSeparator) {
        return kInvalidName;
    }
    std::lock_guard lock(impl_->mutex);
    std::shared_ptr<FileNode> parent;
    if (uint32_t error = impl_->FindParent(path, parent); error != kSuccess) {
        return error;
    }
    auto& children = parent->children;
    for (auto it = children.begin(); it != children.end(); ++it) {
        if (!SameName((*it)->name, path.parts.back())) {
            continue;
        }
        if ((*it)->folder) {
            return kAccessDenied;
        }
        if ((*it)->openCount > 0) {
            return kSharingViolation;
        }
        impl_->Resize(**it, 0);
        children.erase(it);
        return kSuccess;
    }
    return kFileNotFound;
}

uint32_t FileStore::CreateDirectory(std::u16string_view text) {
    ParsedPath path;
    if (uint32_t error = ParsePath(text, path); error != kSuccess) {
        return error;
    }
    if (path.parts.empty()) {
        return kAlreadyExists;
    }
    std::lock_guard lock(impl_->mutex);
    std::shared_ptr<FileNode> parent;
    if (uint32_t error = impl_->FindParent(path, parent); error != kSuccess) {
        return error;
    }
    if (FindChild(*parent, path.parts.back()) != nullptr) {
        return kAlreadyExists;
    }
    parent->children.push_back(MakeNode(path.parts.back(), true));
    return kSuccess;
}

uint32_t FileStore::RemoveDirectory(std::u16string_view text) {
    ParsedPath path;
    if (uint32_t error = ParsePath(text, path); error != kSuccess) {
        return error;
    }
    if (path.parts.empty()) {
        return kAccessDenied;
    }
    std::lock_guard lock(impl_->mutex);
    std::shared_ptr<FileNode> parent;
    if (uint32_t error = impl_->FindParent(path, parent); error != kSuccess) {
        return error;
    }
    auto& children = parent->children;
    for (auto it = children.begin(); it != children.end(); ++it) {
        if (!SameName((*it)->name, path.parts.back())) {
            continue;
        }
        if (!(*it)->folder) {
            return kDirectory;
        }
        if (!(*it)->children.empty()) {
            return kDirNotEmpty;
        }
        children.erase(it);
        return kSuccess;
    }
    return kFileNotFound;
}

uint32_t FileStore::Stat(std::u16string_view text, EntryInfo* info) const {
    std::lock_guard lock(impl_->mutex);
    std::shared_ptr<FileNode> node;
    ParsedPath path;
    if (uint32_t error = impl_->Find(text, node, &path); error != kSuccess) {
        return error;
    }
    if (path.trailingSeparator && !node->folder) {
        return kInvalidName;
    }
    if (info != nullptr) {
        info->name = node->name;
        info->size = node->folder ? 0 : node->data.size();
        info->folder = node->folder;
    }
    return kSuccess;
}

uint32_t FileStore::List(std::u16string_view folder, std::vector<EntryInfo>* entries) const {
    std::lock_guard lock(impl_->mutex);
    std::shared_ptr<FileNode> node;
    if (uint32_t error = impl_->Find(folder, node); error != kSuccess) {
        return error == kFileNotFound ? kPathNotFound : error;
    }
    if (!node->folder) {
        return kDirectory;
    }
    if (entries != nullptr) {
        entries->clear();
        for (const auto& child : node->children) {
            entries->push_back(EntryInfo{child->name, child->folder ? 0 : child->data.size(), child->folder});
        }
    }
    return kSuccess;
}

uint32_t FileStore::Get(std::u16string_view text, std::vector<uint8_t>* contents) const {
    std::lock_guard lock(impl_->mutex);
    std::shared_ptr<FileNode> node;
    if (uint32_t error = impl_->FindFile(text, node); error != kSuccess) {
        return error;
    }
    if (contents != nullptr) {
        *contents = node->data;
    }
    return kSuccess;
}

uint32_t FileStore::Holds(std::u16string_view text, std::span<const uint8_t> expected, bool* same) const {
    std::lock_guard lock(impl_->mutex);
    std::shared_ptr<FileNode> node;
    if (uint32_t error = impl_->FindFile(text, node); error != kSuccess) {
        return error;
    }
    *same = std::equal(node->data.begin(), node->data.end(), expected.begin(), expected.end());
    return kSuccess;
}

uint32_t FileStore::Put(std::u16string_view text, std::span<const uint8_t> contents) {
    ParsedPath path;
    if (uint32_t error = ParsePath(text, path); error != kSuccess) {
        return error;
    }
    if (path.parts.empty()) {
        return kAccessDenied;
    }
    if (path.trailingSeparator) {
        return kInvalidName;
    }
    std::lock_guard lock(impl_->mutex);
    std::shared_ptr<FileNode> parent;
    if (uint32_t error = impl_->FindParent(path, parent); error != kSuccess) {
        return error;
    }
    std::shared_ptr<FileNode> node = FindChild(*parent, path.parts.back());
    if (node != nullptr && node->folder) {
        return kAccessDenied;
    }
    if (node != nullptr && node->openCount > 0) {
        return kSharingViolation;
    }
    uint64_t oldSize = node != nullptr ? node->data.size() : 0;
    if (!impl_->Fits(oldSize, contents.size())) {
        return kDiskFull;
    }
    if (node == nullptr) {
        node = MakeNode(path.parts.back(), false);
        parent->children.push_back(node);
    }
    impl_->used = impl_->used - oldSize + contents.size();
    node->data.assign(contents.begin(), contents.end());
    return kSuccess;
}

uint32_t FileStore::Put(std::u16string_view path, std::string_view contents) {
    return Put(path,
               std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(contents.data()), contents.size()));
}

uint64_t FileStore::Capacity() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->capacity;
}

void FileStore::SetCapacity(uint64_t bytes) {
    std::lock_guard lock(impl_->mutex);
    impl_->capacity = bytes;
}

uint64_t FileStore::UsedBytes() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->used;
}

size_t FileStore::OpenFileCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->openFiles;
}

void FileStore::ReplaceContents(FileStore& source) {
    if (&source == this) {
        return;
    }
    std::scoped_lock lock(impl_->mutex, source.impl_->mutex);
    impl_->root = std::move(source.impl_->root);
    impl_->used = source.impl_->used;
    impl_->capacity = source.impl_->capacity;
    source.impl_->root = MakeNode(u"", true);
    source.impl_->used = 0;
    // The moved nodes may still count handles of the source: those handles
    // are dead now, so the counts start again from zero.
    auto clearCounts = [](auto& self, FileNode& node) -> void {
        node.openCount = node.readers = node.writers = node.denyRead = node.denyWrite = 0;
        for (const auto& child : node.children) {
            self(self, *child);
        }
    };
    clearCounts(clearCounts, *impl_->root);
    for (Impl* impl : {impl_.get(), source.impl_.get()}) {
        ++impl->generation;
        impl->openFiles = 0;
    }
}

}  // namespace nuva::sim
