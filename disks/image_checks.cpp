#include "disks/image_checks.h"

#include <system_error>

#include "disks/area_resolver.h"
#include "platform/error_codes.h"
#include "platform/text.h"
#include "platform/volume.h"

namespace fs = std::filesystem;

namespace nuvarin {

ImageCheck CheckImageSize(const std::string& destinationFileSystem, uint64_t imageBytes) {
  std::string name = platform::AsciiLower(destinationFileSystem);
  // exFAT shares the letters but has no such limits.
  if (name.find("exfat") != std::string::npos) return ImageCheck::kOk;
  if (name.find("fat32") != std::string::npos) {
    return imageBytes >= kFat32FileLimit ? ImageCheck::kTooLargeForFat32 : ImageCheck::kOk;
  }
  if (name.find("fat") != std::string::npos || name == "msdos") {
    return imageBytes > kFatImageLimit ? ImageCheck::kTooLargeForFat : ImageCheck::kOk;
  }
  return ImageCheck::kOk;
}

ImageCheck CheckFreeSpace(uint64_t freeBytes, uint64_t existingBytes, uint64_t imageBytes) {
  uint64_t room = freeBytes + existingBytes;
  if (room < freeBytes) room = UINT64_MAX;
  return room > imageBytes ? ImageCheck::kOk : ImageCheck::kNotEnoughSpace;
}

ImageCheck CheckImageDestination(const ScanTarget& source, uint64_t imageBytes, const fs::path& imagePath) {
  if (DestinationOnScannedArea(source, imagePath)) return ImageCheck::kOnSource;
  std::string fsName;
  if (platform::FileSystemOfPath(imagePath, fsName) == kOk) {
    ImageCheck size = CheckImageSize(fsName, imageBytes);
    if (size != ImageCheck::kOk) return size;
  }
  fs::path folder = imagePath.parent_path().empty() ? fs::path(".") : imagePath.parent_path();
  uint64_t freeBytes = 0;
  if (platform::FreeBytesAt(folder, freeBytes) != kOk) return ImageCheck::kOk;
  std::error_code ec;
  uint64_t existing = fs::is_regular_file(imagePath, ec) ? fs::file_size(imagePath, ec) : 0;
  if (ec) existing = 0;
  return CheckFreeSpace(freeBytes, existing, imageBytes);
}

std::string ImageCheckText(ImageCheck check) {
  switch (check) {
    case ImageCheck::kOk:
      return {};
    case ImageCheck::kOnSource:
      return "The image file would lie on the disk or partition being copied. Choose a destination on "
             "another disk.";
    case ImageCheck::kTooLargeForFat32:
      return "The destination is a FAT32 volume, which cannot hold files of 4 GB or more. Choose another "
             "destination.";
    case ImageCheck::kTooLargeForFat:
      return "The destination is a FAT volume, which cannot hold files larger than 2 GB. Choose another "
             "destination.";
    case ImageCheck::kNotEnoughSpace:
      return "There is not enough free space at the destination for the image.";
  }
  return {};
}

}  // namespace nuvarin
