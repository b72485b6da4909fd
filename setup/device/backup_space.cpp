#include "setup/device/backup_space.h"

#include <sys/statvfs.h>

#include <filesystem>

namespace nuva {
namespace {

constexpr uint64_t kBackupSpaceBytes = 33554432;  // 32 MiB

}  // namespace

bool EnoughSpaceForBackup(uint64_t bytesPerSector, uint64_t sectorsPerCluster, uint64_t freeClusters) {
    if (bytesPerSector == 0 || sectorsPerCluster == 0) {
        return true;  // nothing sensible to compare with: the test is skipped
    }
    uint64_t sectors = (kBackupSpaceBytes + bytesPerSector - 1) / bytesPerSector;
    uint64_t clusters = (sectors + sectorsPerCluster - 1) / sectorsPerCluster;
    return freeClusters >= clusters;
}

bool EnoughSpaceForBackupAt(const std::string& path) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) != 0) {
        return true;
    }
    return EnoughSpaceForBackup(fs.f_frsize, 1, fs.f_bavail);
}

}  // namespace nuva
