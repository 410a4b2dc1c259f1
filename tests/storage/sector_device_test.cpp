// Sector devices over image files: sector counts, the end-of-source bound,
// read faults in the middle of a run, and read-only opening.
#include "storage/sector_device.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "platform/error_codes.h"
#include "platform/file_io.h"
#include "tests/support/test_support.h"

namespace nuvarin {
namespace {

// An image whose every byte tells its position, so misplaced reads show.
std::vector<uint8_t> PatternBytes(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i / 512) * 7 + i % 251);
  return bytes;
}

TEST(SectorDevice, ShortTailIsNotAddressable) {
  test::TempDir dir{"sectors"};
  test::WriteFile(dir / "tiny.img", PatternBytes(1000));
  SectorDevice dev;
  ASSERT_EQ(OpenImageFile(dir / "tiny.img", dev), kOk);
  EXPECT_EQ(dev.sectorCount, 1u);
  EXPECT_EQ(dev.bytesPerSector, 512u);
  std::vector<uint8_t> buf(1024, 0xEE);
  uint64_t got = 9;
  EXPECT_EQ(ReadSectors(1, dev, buf.data(), 0, 512, got), kOk);
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 512), std::vector<uint8_t>(PatternBytes(512)));
  std::fill(buf.begin(), buf.end(), 0xEE);
  EXPECT_EQ(ReadSectors(2, dev, buf.data(), 0, 512, got), kErrInvalidParameter);
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](uint8_t b) { return b == 0xEE; }));  // nothing read
}

TEST(SectorDevice, RunsEndingAtTheLastSector) {
  test::TempDir dir{"sectors"};
  test::WriteFile(dir / "d.img", PatternBytes(8 * 512));
  SectorDevice dev;
  ASSERT_EQ(OpenImageFile(dir / "d.img", dev), kOk);
  std::vector<uint8_t> buf(8 * 512);
  uint64_t got = 0;
  struct Case {
    uint64_t start, count;
    int32_t result;
  };
  const Case cases[] = {{4, 4, kOk},
                        {0, 8, kOk},
                        {7, 1, kOk},
                        {4, 5, kErrInvalidParameter},
                        {8, 1, kErrInvalidParameter},
                        {UINT64_MAX, 2, kErrInvalidParameter},
                        {8, 0, kOk}};
  for (const Case& c : cases) {
    EXPECT_EQ(ReadSectors(c.count, dev, buf.data(), c.start, 512, got), c.result)
        << c.start << "+" << c.count;
    EXPECT_EQ(got, c.result == kOk ? c.count : 0u);
  }
  auto whole = PatternBytes(8 * 512);
  ASSERT_EQ(ReadSectors(4, dev, buf.data(), 4, 512, got), kOk);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 4 * 512, whole.begin() + 4 * 512));
}

TEST(SectorDevice, ReadFaultInTheMiddleCountsTheSectorsBefore) {
  test::TempDir dir{"sectors"};
  const size_t sectors = 512;
  auto bytes = PatternBytes(sectors * 512);
  test::WriteFile(dir / "bad.img", bytes);
  SectorDevice dev;
  ASSERT_EQ(OpenImageFile(dir / "bad.img", dev), kOk);
  std::vector<uint8_t> buf(sectors * 512);
  // Reads go in 64 KiB pieces (128 sectors): a bad sector fails its piece,
  // and the whole pieces before it arrive.
  struct Case {
    uint64_t badSector;
    uint64_t expectedRead;
  };
  for (const Case& c : {Case{200, 128}, Case{128, 128}, Case{0, 0}, Case{511, 384}}) {
    platform::SetReadFaults(dev.handle, {{c.badSector * 512, 512}});
    uint64_t got = 99;
    EXPECT_EQ(ReadSectors(sectors, dev, buf.data(), 0, 512, got), kErrReadFault) << c.badSector;
    EXPECT_EQ(got, c.expectedRead) << c.badSector;
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + got * 512, bytes.begin()));
  }
  platform::SetReadFaults(dev.handle, {});
  uint64_t got = 0;
  EXPECT_EQ(ReadSectors(sectors, dev, buf.data(), 0, 512, got), kOk);
  EXPECT_EQ(got, sectors);
  EXPECT_EQ(buf, bytes);
}

TEST(SectorDevice, ReadBytesAndOpenFailures) {
  test::TempDir dir{"sectors"};
  test::WriteFile(dir / "b.img", PatternBytes(3000));
  SectorDevice dev;
  EXPECT_EQ(OpenImageFile(dir / "missing.img", dev), kErrFileNotFound);
  EXPECT_FALSE(dev.IsOpen());
  ASSERT_EQ(OpenImageFile(dir / "b.img", dev), kOk);
  std::vector<uint8_t> buf(4000);
  uint64_t got = 7;
  EXPECT_EQ(ReadBytes(0, dev.handle, buf.data(), got), kOk);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(ReadBytes(4000, dev.handle, buf.data(), got), kErrReadFault);  // the file ends at 3000
  EXPECT_EQ(got, 3000u);
  uint64_t size = 0;
  EXPECT_EQ(GetImageFileSize(dir / "b.img", size), kOk);
  EXPECT_EQ(size, 3000u);
}

TEST(SectorDevice, SourcesAreOpenedReadOnly) {
  test::TempDir dir{"sectors"};
  test::WriteFile(dir / "ro.img", PatternBytes(1024));
  SectorDevice dev;
  ASSERT_EQ(OpenImageFile(dir / "ro.img", dev), kOk);
  EXPECT_NE(platform::WriteAllAt(dev.handle, "x", 1, 0), kOk);
  EXPECT_EQ(test::ReadFile(dir / "ro.img"), PatternBytes(1024));
  dev.Close();
  EXPECT_FALSE(dev.IsOpen());
  EXPECT_EQ(dev.sectorCount, 0u);
  dev.Close();  // closing twice does nothing
}

}  // namespace
}  // namespace nuvarin
