// FAT entries of all three widths, the next-cluster rule, the 16 MiB window
// over a FAT larger than it, and the free extents the deep scan sweeps,
// checked against The Sleuth Kit's list of unallocated sectors.
#include <gtest/gtest.h>

#include <set>

#include "fat/fast_fat_recovery.h"
#include "fat/fat_table.h"
#include "fat/volume_io.h"
#include "tests/fat/fat_image_fixture.h"

namespace nuvarin {
namespace {

using test::TempDir;

std::filesystem::path MakeVolume(const TempDir& dir, const std::string& name, const std::string& mkfsArgs,
                                 const std::string& kilobytes = "2200000") {
  std::filesystem::path img = dir / name;
  test::CommandResult r = test::RunCommand("mkfs.fat -C " + mkfsArgs + " " + test::ShellQuote(img.string()) + " " +
                                           kilobytes + " >/dev/null");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  return img;
}

struct OpenVolume {
  SectorDevice device;
  FatGeometry geometry;
  FatTable table;
  explicit OpenVolume(const std::filesystem::path& image) {
    EXPECT_EQ(OpenImageFile(image, device), 0);
    std::vector<uint8_t> boot(512);
    uint64_t got = 0;
    EXPECT_EQ(ReadVolumeSectors(device, 512, 0, 1, boot.data(), got), 0);
    EXPECT_TRUE(ParseFatGeometry(ByteReader(boot.data(), boot.size()), 0, device.sectorCount, geometry));
    table.Attach(&device, geometry);
  }
};

// Writes 12-bit FAT entries the way the format packs them.
void PutFat12(std::vector<uint8_t>& image, size_t fatOffset, uint32_t cluster, uint16_t value) {
  size_t at = fatOffset + cluster + cluster / 2;
  if (cluster & 1) {
    image[at] = static_cast<uint8_t>((image[at] & 0x0F) | ((value & 0x0F) << 4));
    image[at + 1] = static_cast<uint8_t>(value >> 4);
  } else {
    image[at] = static_cast<uint8_t>(value);
    image[at + 1] = static_cast<uint8_t>((image[at + 1] & 0xF0) | ((value >> 8) & 0x0F));
  }
}

TEST(FatTable, TwelveBitEntriesAndTheNextClusterRule) {
  test::RequireTools({"mkfs.fat"});
  TempDir dir("fattable");
  std::filesystem::path img = MakeVolume(dir, "floppy.img", "-F 12 -s 1 -r 224", "1440");
  std::vector<uint8_t> bytes = test::ReadFile(img);
  const size_t fat = 512;  // one reserved sector
  // cluster -> value
  const std::pair<uint32_t, uint16_t> chain[] = {
      {2, 0x003}, {3, 0x007}, {4, 0x000}, {5, 0x000}, {6, 0x000}, {7, 0xFFF}, {8, 0xB40},
      {9, 0xFF7}, {10, 0xFF8}, {11, 0x001}, {12, 0x000}, {13, 0x5A5}, {2847, 0x000}, {2848, 0x000},
  };
  for (auto [c, v] : chain) PutFat12(bytes, fat, c, v);
  test::WriteFile(img, bytes);

  OpenVolume v(img);
  ASSERT_EQ(v.geometry.type, FatType::kFat12);
  ASSERT_EQ(v.geometry.MaxCluster(), 2848u);
  for (auto [c, value] : chain) {
    uint32_t got = 0;
    ASSERT_EQ(v.table.ReadFatEntry(c, got), 0) << c;
    EXPECT_EQ(got, value) << c;
  }
  struct Next {
    uint32_t cluster;
    uint32_t next;
    const char* why;
  };
  const Next rules[] = {
      {2, 3, "a live chain"},
      {3, 7, "a live chain with a gap"},
      {4, 5, "a cleared chain runs into the next free cluster"},
      {6, 0, "a cleared chain stops before a cluster in use"},
      {7, 0, "end of chain"},
      {8, 0, "a number past the last cluster"},
      {9, 0, "the bad-cluster mark"},
      {10, 0, "an end mark"},
      {11, 0, "the reserved number 1"},
      {12, 0, "a free cluster before one in use"},
      {2848, 0, "the last cluster has no cluster behind it"},
  };
  for (const Next& r : rules) EXPECT_EQ(v.table.NextCluster(r.cluster), r.next) << r.why;
  uint32_t value = 0;
  EXPECT_NE(v.table.ReadFatEntry(0x10000, value), 0) << "a cluster the FAT has no entry for";
}

TEST(FatTable, WindowMovesOverALargeFat) {
  test::RequireTools({"mkfs.fat"});
  TempDir dir("fatwindow");
  // A sparse 2.2 GB FAT32 volume with 512-byte clusters: its FAT is 16.5 MiB.
  std::filesystem::path big = MakeVolume(dir, "big.img", "-F 32 -s 1");
  OpenVolume probe(big);
  ASSERT_GT(static_cast<uint64_t>(probe.geometry.sectorsPerFat) * 512, FatTable::kWindowBytes);
  const uint64_t fatOffset = probe.geometry.fatStartSector * 512;
  const uint32_t far = probe.geometry.MaxCluster() - 5;  // its entry lies in the second window
  {
    std::FILE* f = std::fopen(big.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    auto put = [&](uint32_t cluster, uint32_t value) {
      std::fseek(f, static_cast<long>(fatOffset + cluster * 4ull), SEEK_SET);
      uint8_t b[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
      std::fwrite(b, 1, 4, f);
    };
    put(3, far);
    put(far, 0x1FFFFFFF);  // reserved high bits set: still an end mark
    put(far + 1, 4);
    std::fclose(f);
  }
  OpenVolume v(big);
  EXPECT_EQ(v.table.NextCluster(3), far);
  EXPECT_EQ(v.table.NextCluster(far), 0u);
  EXPECT_EQ(v.table.NextCluster(far + 1), 4u);
  EXPECT_EQ(v.table.NextCluster(3), far);  // back to the first window
  uint32_t value = 0;
  ASSERT_EQ(v.table.ReadFatEntry(far, value), 0);
  EXPECT_EQ(value, 0x0FFFFFFFu);
}

// The sectors NextFreeExtent hands out, from position 0 on.
std::set<uint64_t> FreeSectors(CFastFatRecovery& engine) {
  std::set<uint64_t> out;
  uint64_t pos = 0, len = 0;
  for (int guard = 0; guard < 100000; ++guard) {
    if (engine.NextFreeExtent(pos, len) != 1 || len == 0) break;
    for (uint64_t s = pos; s < pos + len; ++s) out.insert(s);
    pos += len;
  }
  return out;
}

class FreeExtents : public ::testing::TestWithParam<const char*> {};

TEST_P(FreeExtents, AgreeWithTheOracle) {
  test::RequireTools({"mkfs.fat", "mcopy", "mdeltree", "faketime", "convert", "blkls"});
  TempDir dir("fatfree");
  test::FatVolume vol = test::BuildFatVolume(dir, GetParam());
  CFastFatRecovery engine;
  ASSERT_EQ(engine.OpenImage(vol.image, 0), 0);
  ASSERT_EQ(engine.LoadAllocationBitmap(), 0);
  std::set<uint64_t> ours = FreeSectors(engine);
  test::CommandResult r = test::RunCommand("blkls -l " + test::ShellQuote(vol.image.string()));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  // blkls counts the volume's sectors; positions count the image's 512-byte ones.
  const uint64_t ratio = engine.Geometry().bytesPerSector / 512;
  std::set<uint64_t> theirs;
  for (const std::string& line : test::Lines(r.output)) {
    if (line.size() > 2 && line.compare(line.size() - 2, 2, "|f") == 0 && std::isdigit(line[0]))
      for (uint64_t k = 0; k < ratio; ++k) theirs.insert(std::stoull(line) * ratio + k);
  }
  ASSERT_FALSE(theirs.empty());
  EXPECT_EQ(ours, theirs);

  // Past the end of the area: the area's end, nothing free.
  uint64_t pos = std::filesystem::file_size(vol.image) / 512 + 10, len = 7;
  EXPECT_EQ(engine.NextFreeExtent(pos, len), 1);
  EXPECT_EQ(pos, std::filesystem::file_size(vol.image) / 512);
  EXPECT_EQ(len, 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FreeExtents, ::testing::Values("12", "16", "16-4k"));

}  // namespace
}  // namespace nuvarin
