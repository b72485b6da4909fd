#include "setup/link/program_folder.h"

#include <unistd.h>
#include <vector>

namespace nuva {
namespace {

constexpr size_t kPathStep = 1024;
// Far beyond any path the system hands out; only a reader that never stops
// filling the buffer reaches it.
constexpr size_t kPathLimit = 1024 * 1024;

}  // namespace

std::string ReadGrowingPath(const std::function<long(char* buffer, size_t capacity)>& read) {
    for (size_t size = kPathStep; size <= kPathLimit; size += kPathStep) {
        std::vector<char> buffer(size);
        const long length = read(buffer.data(), size);
        if (length <= 0)
            return {};
        // A path that fills the buffer may have been cut: try a larger one.
        if (static_cast<size_t>(length) + 1 >= size)
            continue;
        return std::string(buffer.data(), static_cast<size_t>(length));
    }
    return {};
}

std::string ProgramFolder() {
    const std::string path = ReadGrowingPath([](char* buffer, size_t capacity) {
        return static_cast<long>(::readlink("/proc/self/exe", buffer, capacity));
    });
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return path.substr(0, slash + 1);
}

}  // namespace nuva
