// The deleted-file scan on real volumes made by mkfs.fat and mtools, checked
// against The Sleuth Kit and against the files as they were written.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "fat/fast_fat_recovery.h"
#include "storage/byte_reader.h"
#include "tests/fat/fat_image_fixture.h"

namespace nuvarin {
namespace {

using test::BuildFatVolume;
using test::FatVolume;
using test::TempDir;

// TSK shows the lost first letter of a deleted 8.3 name as "_", we show "!".
std::string AsOracleName(std::string path) {
  size_t slash = path.rfind('/', path.size() >= 2 ? path.size() - 2 : 0);
  size_t first = slash == std::string::npos ? 0 : slash + 1;
  if (first < path.size() && path[first] == '!') path[first] = '_';
  return path;
}

class FatVolumeScan : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    test::RequireTools({"mkfs.fat", "mcopy", "mdeltree", "faketime", "convert", "fls", "icat"});
    volume_ = BuildFatVolume(dir_, GetParam());
    engine_.SetProgressCallback(nullptr, &test::FileReports::Callback, &reports_, 100);
    ASSERT_EQ(test::OpenAndScan(engine_, volume_.image), 0);
    tree_ = test::WalkTree(engine_);
  }

  TempDir dir_{"fatscan"};
  FatVolume volume_;
  CFastFatRecovery engine_;
  test::FileReports reports_;
  std::map<std::string, FoundItem> tree_;
};

TEST_P(FatVolumeScan, ListsWhatTheOracleLists) {
  std::map<std::string, test::OracleEntry> oracle = test::OracleDeleted(volume_.image);
  std::set<std::string> ours, theirs;
  std::set<std::string> ourDeletedFolders, theirFolders;
  for (const auto& [path, item] : tree_) {
    if (item.isFolder) {
      EXPECT_EQ(uint32_t{item.sourceKind}, kSourceFastFat);
      if (item.isDeleted) ourDeletedFolders.insert(path.substr(0, path.size() - 1));
    } else {
      ours.insert(AsOracleName(path));
    }
  }
  for (const auto& [path, entry] : oracle) (entry.isFolder ? theirFolders : theirs).insert(path);
  EXPECT_EQ(ours, theirs);
  EXPECT_EQ(ourDeletedFolders, theirFolders);
  // Live folders only appear on the way to a finding.
  EXPECT_EQ(tree_.count("Photos/"), 1u);
  EXPECT_EQ(uint32_t{tree_.at("Photos/").isDeleted}, 0u);
  EXPECT_EQ(tree_.count("Photos/2024/BEACH.JPG"), 0u);
  EXPECT_EQ(tree_.count("keep.txt"), 0u);
}

TEST_P(FatVolumeScan, RecoversDeletedFilesByteExact) {
  std::map<std::string, test::OracleEntry> oracle = test::OracleDeleted(volume_.image);
  std::vector<uint8_t> list = test::ReadFile(volume_.originals / "deleted.txt");
  std::vector<std::string> deleted = test::Lines(std::string(list.begin(), list.end()));
  ASSERT_EQ(deleted.size(), 6u);
  for (const std::string& path : deleted) {
    SCOPED_TRACE(path);
    auto it = tree_.find(path);
    ASSERT_NE(it, tree_.end());
    const FoundItem& item = it->second;
    EXPECT_EQ(uint32_t{item.contentCheck}, 1u);
    std::filesystem::path out = dir_ / "out" / std::to_string(item.itemId);
    reports_.ends.clear();
    EXPECT_EQ(engine_.RecoverItem(&item, out, 0), 0);
    std::vector<uint8_t> original = test::ReadFile(volume_.originals / path);
    EXPECT_EQ(test::ReadFile(out), original);
    EXPECT_EQ(test::OracleBytes(volume_.image, oracle.at(path).inode), original);
    ASSERT_EQ(reports_.ends.size(), 1u);
    EXPECT_EQ(reports_.ends[0].second, 0);
  }
}

TEST_P(FatVolumeScan, FolderPathsAndDeletedFolderWalk) {
  const FoundItem& report = tree_.at("Docs/Work/Quarterly Report Ünïcode.txt");
  std::string path;
  ASSERT_EQ(engine_.GetItemPath(&report, path), 0);
  EXPECT_EQ(path, "Docs/Work/");

  const FoundItem& old = tree_.at("Old Stuff/");
  EXPECT_EQ(uint32_t{old.isDeleted}, 1u);
  EXPECT_EQ(uint32_t{tree_.at("Old Stuff/Inner/").isDeleted}, 1u);
  std::filesystem::path out = dir_ / "walk" / "Old Stuff";
  // Level of the folder below the root (1) = "/" count of its output path minus the base depth.
  std::string text = out.string();
  uint32_t slashes = static_cast<uint32_t>(std::count(text.begin(), text.end() - 1, '/'));
  EXPECT_EQ(engine_.RecoverItem(&old, out, slashes - 1), 0);
  EXPECT_EQ(test::ReadFile(out / "notes one.txt"), test::ReadFile(volume_.originals / "Old Stuff/notes one.txt"));
  EXPECT_EQ(test::ReadFile(out / "Inner" / "deep file.txt"),
            test::ReadFile(volume_.originals / "Old Stuff/Inner/deep file.txt"));
}

TEST_P(FatVolumeScan, PreviewGoesToTheScanLogFolderOrMemory) {
  const FoundItem& photo = tree_.at("Holiday Photo ä.jpg");
  std::filesystem::path outPath;
  uint32_t size = 0;
  ASSERT_EQ(engine_.PreviewItem(&photo, outPath, nullptr, size, nullptr, nullptr), 0);
  EXPECT_EQ(outPath.filename(), "tmp.jpg");
  EXPECT_EQ(test::ReadFile(outPath), test::ReadFile(volume_.originals / "Holiday Photo ä.jpg"));

  const FoundItem& text = tree_.at("Docs/Fragmented Notes.txt");
  std::vector<uint8_t> buffer(1000);
  size = static_cast<uint32_t>(buffer.size());
  outPath.clear();
  ASSERT_EQ(engine_.PreviewItem(&text, outPath, buffer.data(), size, nullptr, nullptr), 0);
  EXPECT_TRUE(outPath.empty());
  ASSERT_EQ(size, 1000u);  // cut at the buffer's capacity
  std::vector<uint8_t> original = test::ReadFile(volume_.originals / "Docs/Fragmented Notes.txt");
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), original.begin()));
}

INSTANTIATE_TEST_SUITE_P(Kinds, FatVolumeScan, ::testing::Values("12", "16", "32", "16-4k"),
                         [](const auto& info) {
                           std::string n = std::string("fat") + info.param;
                           for (char& c : n) if (c == '-') c = '_';
                           return n;
                         });

TEST(FatVolumeGeometry, ReadsTwelveBitFatAndRealRootSize) {
  test::RequireTools({"mkfs.fat", "mcopy", "faketime", "convert"});
  TempDir dir("fatgeom");
  FatVolume v = BuildFatVolume(dir, "12");
  CFastFatRecovery engine;
  ASSERT_EQ(engine.OpenImage(v.image, 0), 0);
  const FatGeometry& g = engine.Geometry();
  ASSERT_TRUE(g.valid);
  EXPECT_EQ(g.type, FatType::kFat12);
  EXPECT_EQ(g.rootDirSectors, 14u);  // 224 entries
  // mkfs.fat writes the media byte and end marks into entries 0 and 1.
  uint32_t value = 0;
  ASSERT_EQ(engine.Table().ReadFatEntry(0, value), 0);
  EXPECT_EQ(value, 0xFF0u);
  ASSERT_EQ(engine.Table().ReadFatEntry(1, value), 0);
  EXPECT_EQ(value, 0xFFFu);
}

// A FAT32 volume whose deleted entries lost their high cluster word, as some
// systems clear it on deletion: the scan must find the data again.
TEST(FatHighWord, FindsClearedHighWords) {
  test::RequireTools({"mkfs.fat", "mcopy", "mdeltree", "faketime", "convert"});
  TempDir dir("fathigh");
  FatVolume v = BuildFatVolume(dir, "32-high");
  std::map<std::string, FoundItem> before;
  {
    CFastFatRecovery engine;
    ASSERT_EQ(test::OpenAndScan(engine, v.image), 0);
    before = test::WalkTree(engine);
  }
  // Clear the high word (offset 20) of the deleted photo's and the deleted folder's entries.
  std::vector<uint8_t> image = test::ReadFile(v.image);
  for (const char* path : {"Photos/2024/Sunset at the Lake.jpg", "Old Stuff/"}) {
    SCOPED_TRACE(path);
    ASSERT_EQ(before.count(path), 1u);
    const FoundItem& item = before.at(path);
    ASSERT_GT(uint32_t{item.objectId}, 0xFFFFu);
    bool patched = false;
    size_t base = static_cast<size_t>(item.entrySector) * 512;
    for (size_t off = base; off + 32 <= base + 512 && off + 32 <= image.size(); off += 32) {
      ByteReader e(image.data() + off, 32);
      if (e.u8(0) == 0xE5 && e.u8(11) != 0x0F && e.le16(26) == (item.objectId & 0xFFFF) &&
          e.le16(20) == (item.objectId >> 16)) {
        image[off + 20] = image[off + 21] = 0;
        patched = true;
      }
    }
    ASSERT_TRUE(patched);
  }
  test::WriteFile(v.image, image);

  CFastFatRecovery engine;
  test::FileReports reports;
  engine.SetProgressCallback(nullptr, &test::FileReports::Callback, &reports, 100);
  ASSERT_EQ(test::OpenAndScan(engine, v.image), 0);
  std::map<std::string, FoundItem> after = test::WalkTree(engine);
  EXPECT_EQ(uint32_t{after.at("Photos/2024/Sunset at the Lake.jpg").objectId},
            uint32_t{before.at("Photos/2024/Sunset at the Lake.jpg").objectId});
  EXPECT_EQ(uint32_t{after.at("Old Stuff/").objectId}, uint32_t{before.at("Old Stuff/").objectId});
  for (const char* path : {"Photos/2024/Sunset at the Lake.jpg", "Old Stuff/Inner/deep file.txt"}) {
    SCOPED_TRACE(path);
    ASSERT_EQ(after.count(path), 1u);
    std::filesystem::path out = dir / "out" / std::to_string(after.at(path).itemId);
    EXPECT_EQ(engine.RecoverItem(&after.at(path), out, 0), 0);
    EXPECT_EQ(test::ReadFile(out), test::ReadFile(v.originals / path));
  }
}

}  // namespace
}  // namespace nuvarin
