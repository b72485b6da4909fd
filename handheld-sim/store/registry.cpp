// The handheld's registry: two trees of keys under one mutex. Key handles
// hold their node; deleting a key marks its whole sub-tree deleted so that
// handles into it fail instead of touching detached keys.
#include <mutex>

#include "formats/le.h"
#include "handheld-sim/store/object_store.h"

namespace nuva::sim {

using namespace store_error;

namespace {
constexpr size_t kMaxKeyName = 255;
constexpr size_t kMaxValueName = 255;
// As deep as a desktop registry may go; it also bounds the recursion of
// deleting and saving a tree.
constexpr uint32_t kMaxKeyDepth = 512;
}  // namespace

struct RegKey::Node {
    std::u16string name;
    std::vector<std::shared_ptr<Node>> children;
    std::vector<RegValue> values;
    uint32_t depth = 0;  // 0 for a root
    bool deleted = false;
};

namespace {

using Node = RegKey::Node;

std::shared_ptr<Node> NewNode(std::u16string_view name) {
    auto node = std::make_shared<Node>();
    node->name = std::u16string(name);
    return node;
}

// Splits "A\B\C"; an empty path gives no parts. Empty or over-long names
// inside the path are refused.
uint32_t SplitKeyPath(std::u16string_view path, std::vector<std::u16string_view>& parts) {
    parts.clear();
    if (path.empty()) {
        return kSuccess;
    }
    size_t start = 0;
    while (true) {
        size_t end = path.find(u'\\', start);
        std::u16string_view part = path.substr(start, end == std::u16string_view::npos ? end : end - start);
        if (part.empty() || part.size() > kMaxKeyName) {
            return kInvalidParameter;
        }
        parts.push_back(part);
        if (end == std::u16string_view::npos) {
            return kSuccess;
        }
        start = end + 1;
    }
}

std::shared_ptr<Node> FindChild(const Node& key, std::u16string_view name) {
    for (const auto& child : key.children) {
        if (SameName(child->name, name)) {
            return child;
        }
    }
    return nullptr;
}

void MarkDeleted(Node& key) {
    key.deleted = true;
    for (const auto& child : key.children) {
        MarkDeleted(*child);
    }
}

RegValue* FindValue(Node& key, std::u16string_view name) {
    for (auto& value : key.values) {
        if (SameName(value.name, name)) {
            return &value;
        }
    }
    return nullptr;
}

}  // namespace

struct Registry::Impl {
    mutable std::mutex mutex;
    std::shared_ptr<Node> roots[2] = {NewNode(u"HKEY_LOCAL_MACHINE"), NewNode(u"HKEY_CURRENT_USER")};
    // Bumped whenever the contents are replaced as a whole.
    uint64_t generation = 1;
};

// ---- RegKey -----------------------------------------------------------------

RegKey::RegKey() = default;
RegKey::~RegKey() = default;
RegKey::RegKey(const RegKey&) = default;
RegKey& RegKey::operator=(const RegKey&) = default;
bool RegKey::IsValid() const {
    return node_ != nullptr;
}
void RegKey::Reset() {
    node_.reset();
    generation_ = 0;
    owner_ = nullptr;
}

// ---- Registry ---------------------------------------------------------------

namespace {

// The node of a handle, or why it cannot be used. Called with the mutex held.
uint32_t Resolve(const Registry::Impl& impl, const std::shared_ptr<Node>& node, uint64_t generation,
                 const void* owner, Node*& out) {
    if (node == nullptr || owner != &impl || generation != impl.generation) {
        return kInvalidHandle;
    }
    if (node->deleted) {
        return kKeyDeleted;
    }
    out = node.get();
    return kSuccess;
}

}  // namespace

Registry::Registry() : impl_(std::make_unique<Impl>()) {}
Registry::~Registry() = default;

RegKey Registry::Root(RegRoot root) const {
    std::lock_guard lock(impl_->mutex);
    RegKey key;
    key.node_ = impl_->roots[root == RegRoot::kCurrentUser ? 1 : 0];
    key.generation_ = impl_->generation;
    key.owner_ = impl_.get();
    return key;
}

uint32_t Registry::OpenKey(const RegKey& parent, std::u16string_view subKey, RegKey* key) const {
    std::vector<std::u16string_view> parts;
    if (uint32_t error = SplitKeyPath(subKey, parts); error != kSuccess) {
        return error;
    }
    std::lock_guard lock(impl_->mutex);
    Node* start = nullptr;
    if (uint32_t error = Resolve(*impl_, parent.node_, parent.generation_, parent.owner_, start);
        error != kSuccess) {
        return error;
    }
    std::shared_ptr<Node> node = parent.node_;
    for (auto part : parts) {
        node = FindChild(*node, part);
        if (node == nullptr) {
            return kFileNotFound;
        }
    }
    if (key != nullptr) {
        key->node_ = node;
        key->generation_ = impl_->generation;
        key->owner_ = impl_.get();
    }
    return kSuccess;
}

uint32_t Registry::CreateKey(const RegKey& parent, std::u16string_view subKey, RegKey* key, bool* created) {
    std::vector<std::u16string_view> parts;
    if (uint32_t error = SplitKeyPath(subKey, parts); error != kSuccess) {
        return error;
    }
    std::lock_guard lock(impl_->mutex);
    Node* start = nullptr;
    if (uint32_t error = Resolve(*impl_, parent.node_, parent.generation_, parent.owner_, start);
        error != kSuccess) {
        return error;
    }
    if (start->depth + parts.size() > kMaxKeyDepth) {
        return kInvalidParameter;
    }
    bool isNew = false;
    std::shared_ptr<Node> node = parent.node_;
    for (auto part : parts) {
        std::shared_ptr<Node> child = FindChild(*node, part);
        isNew = child == nullptr;
        if (isNew) {
            child = NewNode(part);
            child->depth = node->depth + 1;
            node->children.push_back(child);
        }
        node = child;
    }
    if (created != nullptr) {
        *created = isNew;
    }
    if (key != nullptr) {
        key->node_ = node;
        key->generation_ = impl_->generation;
        key->owner_ = impl_.get();
    }
    return kSuccess;
}

uint32_t Registry::DeleteKey(const RegKey& parent, std::u16string_view subKey) {
    std::vector<std::u16string_view> parts;
    if (uint32_t error = SplitKeyPath(subKey, parts); error != kSuccess) {
        return error;
    }
    if (parts.empty()) {
        return kInvalidParameter;
    }
    std::lock_guard lock(impl_->mutex);
    Node* start = nullptr;
    if (uint32_t error = Resolve(*impl_, parent.node_, parent.generation_, parent.owner_, start);
        error != kSuccess) {
        return error;
    }
    Node* holder = start;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        std::shared_ptr<Node> next = FindChild(*holder, parts[i]);
        if (next == nullptr) {
            return kFileNotFound;
        }
        holder = next.get();
    }
    auto& children = holder->children;
    for (auto it = children.begin(); it != children.end(); ++it) {
        if (SameName((*it)->name, parts.back())) {
            MarkDeleted(**it);
            children.erase(it);
            return kSuccess;
        }
    }
    return kFileNotFound;
}

uint32_t Registry::SetValue(const RegKey& key, std::u16string_view name, uint32_t type,
                            std::span<const uint8_t> data) {
    if (name.size() > kMaxValueName) {
        return kInvalidParameter;
    }
    std::lock_guard lock(impl_->mutex);
    Node* node = nullptr;
    if (uint32_t error = Resolve(*impl_, key.node_, key.generation_, key.owner_, node); error != kSuccess) {
        return error;
    }
    RegValue* value = FindValue(*node, name);
    if (value == nullptr) {
        node->values.push_back(RegValue{std::u16string(name), type, {}});
        value = &node->values.back();
    }
    value->type = type;
    value->data.assign(data.begin(), data.end());
    return kSuccess;
}

uint32_t Registry::SetString(const RegKey& key, std::u16string_view name, std::u16string_view text) {
    std::vector<uint8_t> bytes((text.size() + 1) * 2, 0);
    for (size_t i = 0; i < text.size(); ++i) {
        StoreLe16(bytes.data() + 2 * i, text[i]);
    }
    return SetValue(key, name, kRegSz, bytes);
}

uint32_t Registry::SetDword(const RegKey& key, std::u16string_view name, uint32_t value) {
    uint8_t bytes[4];
    StoreLe32(bytes, value);
    return SetValue(key, name, kRegDword, bytes);
}

uint32_t Registry::QueryValue(const RegKey& key, std::u16string_view name, RegValue* value) const {
    std::lock_guard lock(impl_->mutex);
    Node* node = nullptr;
    if (uint32_t error = Resolve(*impl_, key.node_, key.generation_, key.owner_, node); error != kSuccess) {
        return error;
    }
    const RegValue* found = FindValue(*node, name);
    if (found == nullptr) {
        return kFileNotFound;
    }
    if (value != nullptr) {
        *value = *found;
    }
    return kSuccess;
}

uint32_t Registry::EnumValue(const RegKey& key, uint32_t index, RegValue* value) const {
    std::lock_guard lock(impl_->mutex);
    Node* node = nullptr;
    if (uint32_t error = Resolve(*impl_, key.node_, key.generation_, key.owner_, node); error != kSuccess) {
        return error;
    }
    if (index >= node->values.size()) {
        return kNoMoreItems;
    }
    if (value != nullptr) {
        *value = node->values[index];
    }
    return kSuccess;
}

uint32_t Registry::EnumKey(const RegKey& key, uint32_t index, std::u16string* name) const {
    std::lock_guard lock(impl_->mutex);
    Node* node = nullptr;
    if (uint32_t error = Resolve(*impl_, key.node_, key.generation_, key.owner_, node); error != kSuccess) {
        return error;
    }
    if (index >= node->children.size()) {
        return kNoMoreItems;
    }
    if (name != nullptr) {
        *name = node->children[index]->name;
    }
    return kSuccess;
}

uint32_t Registry::DeleteValue(const RegKey& key, std::u16string_view name) {
    std::lock_guard lock(impl_->mutex);
    Node* node = nullptr;
    if (uint32_t error = Resolve(*impl_, key.node_, key.generation_, key.owner_, node); error != kSuccess) {
        return error;
    }
    for (auto it = node->values.begin(); it != node->values.end(); ++it) {
        if (SameName(it->name, name)) {
            node->values.erase(it);
            return kSuccess;
        }
    }
    return kFileNotFound;
}

bool Registry::KeyExists(RegRoot root, std::u16string_view path) const {
    return OpenKey(Root(root), path, nullptr) == kSuccess;
}

void Registry::ReplaceContents(Registry& source) {
    if (&source == this) {
        return;
    }
    std::scoped_lock lock(impl_->mutex, source.impl_->mutex);
    for (int i = 0; i < 2; ++i) {
        impl_->roots[i] = std::move(source.impl_->roots[i]);
    }
    source.impl_->roots[0] = NewNode(u"HKEY_LOCAL_MACHINE");
    source.impl_->roots[1] = NewNode(u"HKEY_CURRENT_USER");
    ++impl_->generation;
    ++source.impl_->generation;
}

}  // namespace nuva::sim
