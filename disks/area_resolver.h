// Turns what a user names on the command line (a block device such as
// /dev/sdb or /dev/sdb1, or a number from `nuvarin disks`) into the disk area
// a scan runs on, and guards destinations against writing onto that area.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

#include "storage/recovery_engine.h"

namespace nuvarin {

// True when `text` names a block device or a listed number; fills `target`
// (diskIndex, startSector, sectorCount, driveLetter) and a short description.
// On failure returns false with a message that says what to do. `diskDevice`
// receives the whole disk's device (/dev/sdb): disk numbers move when disks
// come and go, the device stays.
bool ResolveBlockTarget(const std::string& text, ScanTarget& target, std::string& description,
                        std::string& error, std::filesystem::path* diskDevice = nullptr);

// True when the file system holding `destination` sits on the scanned
// partition or disk (for a disk: any of its partitions).
bool DestinationOnScannedArea(const ScanTarget& target, const std::filesystem::path& destination);

}  // namespace nuvarin
