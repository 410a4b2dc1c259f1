// The checks before an image is written: file-system size limits, free space
// and the source's own volume.
#include "disks/image_checks.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

using namespace nuvarin;

namespace {

TEST(ImageChecks, SizeLimitsByDestinationFileSystem) {
  const uint64_t GiB = 1ULL << 30;
  struct Case {
    const char* fs;
    uint64_t bytes;
    ImageCheck want;
  } cases[] = {
      {"FAT32", 3 * GiB, ImageCheck::kOk},  // FAT32 holds files up to 4 GiB - 1
      {"FAT32", 4 * GiB - 1, ImageCheck::kOk},
      {"FAT32", 4 * GiB, ImageCheck::kTooLargeForFat32},
      {"fat32", 5 * GiB, ImageCheck::kTooLargeForFat32},
      {"FAT", 2 * GiB, ImageCheck::kOk},
      {"FAT", 2 * GiB + 1, ImageCheck::kTooLargeForFat},
      {"msdos", 3 * GiB, ImageCheck::kTooLargeForFat},
      {"exFAT", 100 * GiB, ImageCheck::kOk},  // shares the letters, not the limits
      {"NTFS", 100 * GiB, ImageCheck::kOk},
      {"ext4", 100 * GiB, ImageCheck::kOk},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckImageSize(c.fs, c.bytes), c.want) << c.fs << " " << c.bytes;
  }
}

TEST(ImageChecks, FreeSpaceMustBeLargerThanTheImage) {
  EXPECT_EQ(CheckFreeSpace(1000, 0, 999), ImageCheck::kOk);
  EXPECT_EQ(CheckFreeSpace(1000, 0, 1000), ImageCheck::kNotEnoughSpace);
  // A file that is replaced gives its room back.
  EXPECT_EQ(CheckFreeSpace(1000, 500, 1200), ImageCheck::kOk);
  EXPECT_EQ(CheckFreeSpace(UINT64_MAX, UINT64_MAX, 5), ImageCheck::kOk);
}

TEST(ImageChecks, DestinationOnAnotherFileSystemWithRoomPasses) {
  test::TempDir dir("disks-checks");
  ScanTarget source;
  source.diskIndex = 100000;  // no such disk: nothing of it can hold the folder
  source.sectorCount = 10;
  EXPECT_EQ(CheckImageDestination(source, 4096, dir / "a.img"), ImageCheck::kOk);
  EXPECT_EQ(CheckImageDestination(source, UINT64_MAX / 2, dir / "a.img"), ImageCheck::kNotEnoughSpace);
  EXPECT_FALSE(ImageCheckText(ImageCheck::kNotEnoughSpace).empty());
}

}  // namespace
