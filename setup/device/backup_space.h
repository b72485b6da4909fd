// Whether the disk chosen for a ROM backup has room for it: the free-space
// rule of the Save As step, which the backup pages apply before they let a
// backup start.
#pragma once

#include <cstdint>
#include <string>

namespace nuva {

// Room for 32 MiB, counted in whole clusters of whole sectors.
bool EnoughSpaceForBackup(uint64_t bytesPerSector, uint64_t sectorsPerCluster, uint64_t freeClusters);
// The same rule for the file system that would hold `path`; true when its
// free space cannot be asked (the test is then skipped).
bool EnoughSpaceForBackupAt(const std::string& path);

}  // namespace nuva
