// Damaged volumes: directory chains that loop or leave the volume, records
// that point past the end, impossible boot values, runs of long-name parts,
// and random damage. Every walk must end on its own, without a crash.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "fat/boot_values.h"
#include "fat/fast_fat_recovery.h"
#include "storage/byte_reader.h"
#include "tests/fat/entry_builder.h"
#include "tests/fat/fat_image_fixture.h"

namespace nuvarin {
namespace {

using test::RawEntry;
using test::TempDir;

// A FAT16 volume with 512-byte clusters: LOOPDIR holds 40 files (three
// directory clusters), ten of them deleted; two deleted files in the root;
// OTHER holds one deleted file.
class DamagedVolume : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::RequireTools({"mkfs.fat", "mcopy", "mdel"});
    base_ = new TempDir("fatbad");
    std::string img = test::ShellQuote((*base_ / "base.img").string());
    std::string dir = test::ShellQuote(base_->path().string());
    std::string script =
        "set -e; export MTOOLS_SKIP_CHECK=1; cd " + dir + "; mkfs.fat -F 16 -C -s 1 " + img + " 8192 >/dev/null; "
        "for i in $(seq 10 49); do seq 1 $((i * 20)) > F$i.TXT; done; seq 1 3000 > ROOTA.TXT; seq 1 500 > ROOTB.TXT; "
        "mmd -i " + img + " ::/LOOPDIR; mcopy -i " + img + " F*.TXT ::/LOOPDIR/; mcopy -i " + img +
        " ROOTA.TXT ROOTB.TXT ::/; for i in $(seq 10 19); do mdel -i " + img + " ::/LOOPDIR/F$i.TXT; done; "
        "mmd -i " + img + " ::/OTHER; mcopy -i " + img + " ROOTB.TXT ::/OTHER/G1.TXT; mdel -i " + img +
        " ::/OTHER/G1.TXT; mdel -i " + img + " ::/ROOTA.TXT ::/ROOTB.TXT";
    test::CommandResult r = test::RunCommand(script);
    ASSERT_EQ(r.exitCode, 0) << r.output;
  }
  static void TearDownTestSuite() {
    delete base_;
    base_ = nullptr;
  }

  void SetUp() override {
    image_ = test::ReadFile(*base_ / "base.img");
    ASSERT_FALSE(image_.empty());
    ASSERT_TRUE(ParseFatGeometry(ByteReader(image_.data(), 512), 0, image_.size() / 512, g_));
    ASSERT_EQ(g_.type, FatType::kFat16);
  }

  size_t FatOffset(uint32_t cluster) const { return g_.fatStartSector * 512 + cluster * 2; }
  uint16_t FatEntry(uint32_t cluster) const { return ByteReader(image_.data(), image_.size()).le16(FatOffset(cluster)); }
  void SetFatEntry(uint32_t cluster, uint16_t value) {
    image_[FatOffset(cluster)] = value & 0xFF;
    image_[FatOffset(cluster) + 1] = value >> 8;
  }
  size_t ClusterOffset(uint32_t cluster) const { return g_.ClusterToSector(cluster) * 512; }
  size_t RootOffset() const { return g_.ClusterToSector(0) * 512; }
  // Offset of the short entry whose 11 name bytes are `name11` inside [from, from + length).
  size_t FindEntry(size_t from, size_t length, const char* name11) const {
    for (size_t off = from; off + 32 <= from + length; off += 32)
      if (std::memcmp(image_.data() + off, name11, 11) == 0) return off;
    ADD_FAILURE() << "no entry " << name11;
    return 0;
  }
  uint32_t LoopDirCluster() const {
    size_t off = FindEntry(RootOffset(), g_.rootDirSectors * 512, "LOOPDIR    ");
    return ByteReader(image_.data() + off, 32).le16(26);
  }

  // Writes the image, scans it and walks the result.
  std::map<std::string, FoundItem> Scan(CFastFatRecovery& engine, int32_t expectedResult = 0) {
    test::WriteFile(dir_ / "damaged.img", image_);
    ScanLogIndex::Instance().NewScanFolder();
    EXPECT_EQ(engine.OpenImage(dir_ / "damaged.img", 0), 0);
    engine.SetProgressCallback(nullptr, &test::FileReports::Callback, &reports_, 100);
    EXPECT_EQ(engine.OpenLog(nullptr), expectedResult);
    return test::WalkTree(engine);
  }

  static TempDir* base_;
  TempDir dir_{"fatdamaged"};
  std::vector<uint8_t> image_;
  FatGeometry g_;
  test::FileReports reports_;
};
TempDir* DamagedVolume::base_ = nullptr;

size_t CountFiles(const std::map<std::string, FoundItem>& tree) {
  size_t n = 0;
  for (const auto& [path, item] : tree) n += item.isFolder ? 0 : 1;
  return n;
}

TEST_F(DamagedVolume, Baseline) {
  CFastFatRecovery engine;
  auto tree = Scan(engine);
  EXPECT_EQ(CountFiles(tree), 13u);
  EXPECT_EQ(tree.count("loopdir/!10.txt"), 1u);
  EXPECT_EQ(tree.count("!ootb.txt"), 1u);
}

TEST_F(DamagedVolume, DirectoryChainThatLoopsEnds) {
  uint32_t c = LoopDirCluster();
  std::vector<uint32_t> chain{c};
  while (chain.size() < 10 && FatEntry(chain.back()) < 0xFFF8) chain.push_back(FatEntry(chain.back()));
  ASSERT_EQ(chain.size(), 3u);
  SetFatEntry(chain.back(), static_cast<uint16_t>(chain.front()));  // last cluster leads back to the first
  CFastFatRecovery engine;
  auto tree = Scan(engine);
  EXPECT_EQ(CountFiles(tree), 13u);
}

TEST_F(DamagedVolume, ChainIntoAnotherFolderEndsTheDirectory) {
  size_t other = FindEntry(RootOffset(), g_.rootDirSectors * 512, "OTHER      ");
  uint16_t otherCluster = ByteReader(image_.data() + other, 32).le16(26);
  SetFatEntry(LoopDirCluster(), otherCluster);
  CFastFatRecovery engine;
  auto tree = Scan(engine);
  EXPECT_EQ(CountFiles(tree), 13u);
  // OTHER's deleted file is logged once, under OTHER.
  ASSERT_EQ(tree.count("other/"), 1u);
  std::vector<FoundItem> children;
  ASSERT_EQ(engine.ReadFolder(&tree.at("other/"), 1, children), 0);
  EXPECT_EQ(children.size(), 1u);
  EXPECT_EQ(engine.GetItemCount(), 15u);  // 13 files, LOOPDIR and OTHER
}

TEST_F(DamagedVolume, ChainPastTheEndEndsTheDirectory) {
  uint32_t c = LoopDirCluster();
  SetFatEntry(c, 0xFFF0);  // far beyond the last cluster of an 8 MiB volume
  CFastFatRecovery engine;
  auto tree = Scan(engine);
  // The deleted entries sit in the first cluster (F10..F19 were copied first).
  EXPECT_EQ(CountFiles(tree), 13u);
}

TEST_F(DamagedVolume, RecordPastTheEndIsAnError) {
  size_t off = FindEntry(RootOffset(), g_.rootDirSectors * 512, "\xE5OOTA   TXT");
  image_[off + 26] = 0xF0;
  image_[off + 27] = 0xFF;
  CFastFatRecovery engine;
  auto tree = Scan(engine);
  ASSERT_EQ(tree.count("!oota.txt"), 1u);
  reports_.ends.clear();
  int32_t rc = engine.RecoverItem(&tree.at("!oota.txt"), dir_ / "out.txt", 0);
  EXPECT_NE(rc, 0);
  ASSERT_FALSE(reports_.ends.empty());
  EXPECT_NE(reports_.ends.back().second, 0);
}

TEST_F(DamagedVolume, FileThatCannotBeCompletedIsAnError) {
  // A size larger than all the free space behind the file.
  size_t off = FindEntry(RootOffset(), g_.rootDirSectors * 512, "\xE5OOTB   TXT");
  image_[off + 28] = 0x00;
  image_[off + 29] = 0x00;
  image_[off + 30] = 0x90;  // 9 MiB on an 8 MiB volume
  image_[off + 31] = 0x00;
  CFastFatRecovery engine;
  auto tree = Scan(engine);
  ASSERT_EQ(tree.count("!ootb.txt"), 1u);
  reports_.ends.clear();
  EXPECT_EQ(engine.RecoverItem(&tree.at("!ootb.txt"), dir_ / "out.txt", 0), 30);
  ASSERT_EQ(reports_.ends.size(), 1u);
  EXPECT_EQ(reports_.ends[0].second, 30);
}

TEST_F(DamagedVolume, ImpossibleBootValues) {
  struct Patch {
    const char* what;
    size_t offset;
    std::vector<uint8_t> bytes;
  };
  const Patch patches[] = {
      {"zero sectors per cluster", 13, {0}},
      {"zero bytes per sector", 11, {0, 0}},
      {"odd bytes per sector", 11, {0x01, 0x03}},
      {"absurd total sectors", 32, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"absurd FAT size", 22, {0xFF, 0xFF}},
      {"no FATs", 16, {0}},
      {"huge reserved area", 14, {0xFF, 0xFF}},
  };
  std::vector<uint8_t> original = image_;
  for (const Patch& p : patches) {
    SCOPED_TRACE(p.what);
    image_ = original;
    std::copy(p.bytes.begin(), p.bytes.end(), image_.begin() + p.offset);
    CFastFatRecovery engine;
    auto tree = Scan(engine);
    for (auto& [path, item] : tree) {
      std::vector<uint8_t> buffer(4096);
      uint32_t size = static_cast<uint32_t>(buffer.size());
      std::filesystem::path out;
      if (!item.isFolder) engine.PreviewItem(&item, out, buffer.data(), size, nullptr, nullptr);
    }
  }
}

TEST_F(DamagedVolume, TwentyLongNamePartsEndTheDirectory) {
  // Behind the root's entries: N long-name parts and then a deleted file.
  const std::vector<uint8_t> original = image_;
  auto build = [&](int parts) {
    std::vector<uint8_t> img = original;
    size_t at = RootOffset();
    while (img[at] != 0) at += 32;  // behind the last entry in use
    RawEntry file = RawEntry::Short("\xE5ONGFILETXT", 0x20, 0, 0);
    for (int i = 0; i < parts; ++i) {
      // Sequence numbers stay at most 18, so every part is plausible by itself.
      RawEntry part = RawEntry::Long(static_cast<uint8_t>(1 + i % 18), u"abcdefghijklm", RawEntry::Checksum(file));
      std::memcpy(img.data() + at, part.b.data(), 32);
      at += 32;
    }
    std::memcpy(img.data() + at, file.b.data(), 32);
    std::memset(img.data() + at + 32, 0, 32);
    return img;
  };
  image_ = build(19);
  {
    CFastFatRecovery engine;
    auto tree = Scan(engine);
    std::string name;
    for (int i = 0; i < 19; ++i) name += "abcdefghijklm";
    EXPECT_EQ(tree.count(name), 1u);
    EXPECT_EQ(CountFiles(tree), 14u);
  }
  image_ = build(20);
  {
    CFastFatRecovery engine;
    auto tree = Scan(engine);
    // The root's scan ended at the 20th part: what came before is still there.
    EXPECT_EQ(CountFiles(tree), 13u);
    for (const auto& [path, item] : tree) EXPECT_EQ(path.find("abcdefghijklm"), std::string::npos) << path;
  }
}

TEST_F(DamagedVolume, RandomDamageNeverHangsOrCrashes) {
  std::mt19937 random(20240305);
  std::vector<uint8_t> original = image_;
  const size_t metadataEnd = ClusterOffset(LoopDirCluster()) + 3 * 512;
  for (int round = 0; round < 60; ++round) {
    image_ = original;
    int flips = 1 + static_cast<int>(random() % 64);
    for (int i = 0; i < flips; ++i) {
      size_t off = 11 + random() % (metadataEnd - 11);
      image_[off] = static_cast<uint8_t>(random());
    }
    CFastFatRecovery engine;
    test::WriteFile(dir_ / "damaged.img", image_);
    ScanLogIndex::Instance().NewScanFolder();
    engine.OpenImage(dir_ / "damaged.img", 0);
    engine.SetProgressCallback(nullptr, &test::FileReports::Callback, &reports_, 100);
    engine.OpenLog(nullptr);
    engine.LoadAllocationBitmap();
    uint64_t pos = 0, len = 0;
    for (int k = 0; k < 1000 && engine.NextFreeExtent(pos, len) == 1 && len != 0; ++k) pos += len;
    auto tree = test::WalkTree(engine);
    for (auto& [path, item] : tree) {
      if (item.isFolder) continue;
      std::vector<uint8_t> buffer(65536);
      uint32_t size = static_cast<uint32_t>(buffer.size());
      std::filesystem::path out;
      engine.PreviewItem(&item, out, buffer.data(), size, nullptr, nullptr);
    }
  }
  SUCCEED();
}

}  // namespace
}  // namespace nuvarin
