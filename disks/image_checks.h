// Checks of an image destination before a copy starts: not on the source
// itself, a file system that can hold a file of that size, enough room.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

#include "storage/recovery_engine.h"

namespace nuvarin {

enum class ImageCheck {
  kOk = 0,
  kOnSource,          // the image would be written onto the area being copied
  kTooLargeForFat32,  // FAT32 holds files of at most 4 GiB - 1 byte
  kTooLargeForFat,    // FAT12/16 volumes hold at most 2 GiB
  kNotEnoughSpace,    // the destination's free space is not larger than the image
};

constexpr uint64_t kFat32FileLimit = 4294967296ULL;  // a file must stay below this
constexpr uint64_t kFatImageLimit = 2147483648ULL;   // larger is refused

// The size rule alone, for a destination file-system name as the volume
// reports it ("FAT32", "FAT", "exFAT", ...).
ImageCheck CheckImageSize(const std::string& destinationFileSystem, uint64_t imageBytes);
// The free-space rule alone. `existingBytes` is what the file already holds
// (it is replaced).
ImageCheck CheckFreeSpace(uint64_t freeBytes, uint64_t existingBytes, uint64_t imageBytes);

// All checks, in order: source, size, free space (skipped when the free space
// cannot be read). `source` is the disk area to be copied.
ImageCheck CheckImageDestination(const ScanTarget& source, uint64_t imageBytes,
                                 const std::filesystem::path& imagePath);

// A short English text for the command line.
std::string ImageCheckText(ImageCheck check);

}  // namespace nuvarin
