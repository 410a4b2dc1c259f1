// The boot-area tests and the factory's classification: hand-made boot
// sectors for the rules' corners, and real ones from mkfs.fat, mkntfs and
// mkfs.ext4 images made here.
#include "storage/boot_probes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "storage/engine_factory.h"
#include "storage/ext_stub.h"
#include "tests/support/test_support.h"

namespace nuvarin {
namespace {

class Area {
 public:
  Area() : bytes_(kProbeBytes, 0) {}
  Area& Put(size_t off, const char* text) {
    std::memcpy(bytes_.data() + off, text, std::strlen(text));
    return *this;
  }
  Area& U8(size_t off, uint8_t v) {
    bytes_[off] = v;
    return *this;
  }
  Area& U16(size_t off, uint16_t v) { return U8(off, v & 0xFF).U8(off + 1, v >> 8); }
  Area& U32(size_t off, uint32_t v) { return U16(off, v & 0xFFFF).U16(off + 2, v >> 16); }
  Area& U64(size_t off, uint64_t v) { return U32(off, static_cast<uint32_t>(v)).U32(off + 4, v >> 32); }
  Area& Signature() { return U8(510, 0x55).U8(511, 0xAA); }
  const uint8_t* data() const { return bytes_.data(); }
  size_t size() const { return bytes_.size(); }
  AreaClass Class() const { return ClassifyArea(data(), size()); }

 private:
  std::vector<uint8_t> bytes_;
};

Area Ntfs(uint8_t sectorsPerCluster) {
  Area a;
  a.Put(3, "NTFS    ").U16(11, 512).U8(13, sectorsPerCluster).U64(40, 2000000).Signature();
  return a;
}

Area Fat32(uint32_t totalSectors, uint8_t sectorsPerCluster) {
  Area a;
  a.U16(11, 512).U8(13, sectorsPerCluster).U16(14, 32).U8(16, 2).U32(32, totalSectors).U32(36, 300);
  a.Put(82, "FAT32   ").Signature();
  return a;
}

Area Fat16() {
  Area a;
  a.U16(11, 512).U8(13, 4).U16(14, 1).U8(16, 2).U16(17, 512).U16(19, 40000).U16(22, 40).Signature();
  return a;
}

Area Ext(uint32_t inodes, uint32_t blocks, uint32_t logBlockSize, uint32_t firstDataBlock) {
  Area a;
  const size_t sb = 1024;
  a.U32(sb + 0, inodes).U32(sb + 4, blocks).U32(sb + 20, firstDataBlock).U32(sb + 24, logBlockSize);
  a.U32(sb + 32, 8192).U32(sb + 40, inodes).U16(sb + 56, 0xEF53).U32(sb + 84, 11);
  return a;
}

TEST(BootProbes, HandMadeBootSectors) {
  struct Case {
    const char* what;
    Area area;
    AreaClass expected;
  };
  Area bitlocker = Fat32(200000, 8);
  bitlocker.Put(3, "-FVE-FS-");
  Area bitlockerTail = Fat16();
  bitlockerTail.Put(480, "xxxxxxxx");
  for (size_t i = 0; i < 19; ++i) bitlockerTail.U8(488 + i, 0xFF);
  bitlockerTail.U8(507, 0x00).U8(508, 0x1F).U8(509, 0x2C);
  Area ntfsBadBps = Ntfs(8);
  ntfsBadBps.U16(11, 520);
  Area ntfsZeroBps = Ntfs(8);
  ntfsZeroBps.U16(11, 0);
  Area ntfsFatCount = Ntfs(8);
  ntfsFatCount.U8(16, 2);
  Area ntfsNoSignature = Ntfs(8);
  ntfsNoSignature.U8(511, 0);
  Area fat32NoLabel = Fat32(40000, 1);
  fat32NoLabel.Put(82, "FAT16   ");
  Area extGroups = Ext(4096, 8192, 2, 0);
  extGroups.U32(1024 + 40, 2048);  // two groups by inodes, one by blocks
  Area fatBadCluster = Fat16();
  fatBadCluster.U8(13, 3);

  const Case cases[] = {
      {"NTFS, 128 sectors per cluster", Ntfs(128), AreaClass::kNtfs},
      {"NTFS, 8 sectors per cluster", Ntfs(8), AreaClass::kNtfs},
      {"NTFS, 3 sectors per cluster", Ntfs(3), AreaClass::kOther},
      {"NTFS, 128 KiB clusters (byte F8)", Ntfs(0xF8), AreaClass::kNtfs},
      {"NTFS, 2 MiB clusters (byte F4)", Ntfs(0xF4), AreaClass::kNtfs},
      {"NTFS, cluster byte F3", Ntfs(0xF3), AreaClass::kOther},
      {"NTFS, cluster byte 81", Ntfs(0x81), AreaClass::kOther},
      {"NTFS, 520 bytes per sector", ntfsBadBps, AreaClass::kOther},
      {"NTFS, bytes per sector 0", ntfsZeroBps, AreaClass::kNtfs},
      {"NTFS with a FAT count", ntfsFatCount, AreaClass::kOther},
      {"NTFS without 55 AA", ntfsNoSignature, AreaClass::kOther},
      {"FAT32 below 65,525 clusters", Fat32(40000, 1), AreaClass::kFat},
      {"FAT32 above 65,525 clusters", Fat32(2000000, 8), AreaClass::kFat},
      {"FAT32 fields without its label", fat32NoLabel, AreaClass::kOther},
      {"FAT16", Fat16(), AreaClass::kFat},
      {"FAT16 with 3 sectors per cluster", fatBadCluster, AreaClass::kOther},
      {"BitLocker by its OEM name", bitlocker, AreaClass::kOther},
      {"BitLocker by its tail bytes", bitlockerTail, AreaClass::kOther},
      {"ext, 1 KiB blocks", Ext(2048, 8192, 0, 1), AreaClass::kExt},
      {"ext, 4 KiB blocks", Ext(2048, 8192, 2, 0), AreaClass::kExt},
      {"ext, 1 KiB blocks but data from block 0", Ext(2048, 8192, 0, 0), AreaClass::kOther},
      {"ext, group counts disagree", extGroups, AreaClass::kOther},
      {"zeros", Area(), AreaClass::kOther},
  };
  for (const Case& c : cases) EXPECT_EQ(c.area.Class(), c.expected) << c.what;
  EXPECT_TRUE(IsBitLockerBoot(bitlocker.data(), 512));
  EXPECT_TRUE(IsBitLockerBoot(bitlockerTail.data(), 512));
  EXPECT_FALSE(ProbeFatBoot(Fat16().data(), 511));  // too short to hold a boot sector
  EXPECT_FALSE(ProbeExtSuperblock(nullptr, 2048));
}

// Real file systems, made by their own tools.
class RealImages : public ::testing::Test {
 protected:
  test::TempDir dir{"probes"};
  void Make(const std::string& command) {
    auto r = test::RunCommand(command);
    ASSERT_EQ(r.exitCode, 0) << command << "\n" << r.output;
  }
  AreaClass ClassOf(const std::string& name) {
    auto bytes = test::ReadFile(dir / name);
    EXPECT_GE(bytes.size(), kProbeBytes);
    return ClassifyArea(bytes.data(), std::min(bytes.size(), kProbeBytes));
  }
  std::string Path(const std::string& name) { return test::ShellQuote((dir / name).string()); }
};

TEST_F(RealImages, MkfsImagesAreClassified) {
  for (const char* tool : {"mkfs.fat", "mkntfs", "mkfs.ext4"}) ASSERT_TRUE(test::HaveTool(tool)) << tool;
  Make("mkfs.fat -F 12 -C " + Path("f12.img") + " 1440");
  Make("mkfs.fat -F 16 -C " + Path("f16.img") + " 16384");
  Make("mkfs.fat -F 32 -C " + Path("f32.img") + " 40960");
  Make("mkfs.fat -F 32 -s 8 -C " + Path("f32small.img") + " 34000");  // FAT32 with few clusters
  Make("truncate -s 16M " + Path("ntfs.img") + " && mkntfs -F -Q -q -c 65536 " + Path("ntfs.img"));
  Make("truncate -s 8M " + Path("ext4.img") + " && mkfs.ext4 -q -F " + Path("ext4.img"));
  EXPECT_EQ(ClassOf("f12.img"), AreaClass::kFat);
  EXPECT_EQ(ClassOf("f16.img"), AreaClass::kFat);
  EXPECT_EQ(ClassOf("f32.img"), AreaClass::kFat);
  EXPECT_EQ(ClassOf("f32small.img"), AreaClass::kFat);
  EXPECT_EQ(ClassOf("ntfs.img"), AreaClass::kNtfs);
  EXPECT_EQ(ClassOf("ext4.img"), AreaClass::kExt);

  auto ntfs = test::ReadFile(dir / "ntfs.img");
  EXPECT_EQ(ntfs[13], 128);  // the cluster size asked for really gives 128 sectors per cluster
  auto small = test::ReadFile(dir / "f32small.img");
  uint32_t total, fatSize;
  std::memcpy(&total, small.data() + 32, 4);
  std::memcpy(&fatSize, small.data() + 36, 4);
  uint16_t reserved = static_cast<uint16_t>(small[14] | (small[15] << 8));
  EXPECT_LT((total - reserved - small[16] * fatSize) / small[13], 65525u);
}

TEST_F(RealImages, FactoryOnImages) {
  ASSERT_TRUE(test::HaveTool("mkfs.ext4"));
  Make("truncate -s 8M " + Path("ext4.img") + " && mkfs.ext4 -q -F " + Path("ext4.img"));
  auto ext = CreateEngineForImage(dir / "ext4.img", 0, false);
  ASSERT_NE(ext, nullptr);
  EXPECT_NE(dynamic_cast<CFastExtRecovery*>(ext.get()), nullptr);
  EXPECT_EQ(ext->OpenLog(nullptr), 0);
  std::vector<FoundItem> found;
  EXPECT_EQ(ext->ReadFolder(nullptr, 0, found), 0);
  EXPECT_TRUE(found.empty());
  EXPECT_EQ(ext->GetItemCount(), 0u);

  // 16 KiB less one byte: the probe cannot be read in full, whatever it holds.
  Make("head -c 16383 " + Path("ext4.img") + " > " + Path("short.img"));
  EXPECT_EQ(CreateEngineForImage(dir / "short.img", 0, false), nullptr);
  EXPECT_EQ(CreateEngineForImage(dir / "short.img", 0, true), nullptr);
  EXPECT_EQ(CreateEngineForImage(dir / "missing.img", 0, false), nullptr);

  Make("truncate -s 64K " + Path("zeros.img"));
  EXPECT_EQ(CreateEngineForImage(dir / "zeros.img", 0, false), nullptr);  // "other" has no fast engine
}

}  // namespace
}  // namespace nuvarin
