// The scan log index: "config" byte for byte, saving through "config.tmp",
// damaged files, the previous-scan lookups, and deletion kept inside the root.
#include "storage/scan_log_index.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <regex>

#include "platform/clock.h"
#include "platform/error_codes.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace nuvarin {
namespace {

uint64_t g_freeBytes = 0;
uint64_t FakeFreeSpace(uint32_t, uint64_t, uint16_t) { return g_freeBytes; }

uint64_t Le64(const std::vector<uint8_t>& b, size_t off) {
  uint64_t v = 0;
  std::memcpy(&v, b.data() + off, 8);
  return v;
}
uint32_t Le32(const std::vector<uint8_t>& b, size_t off) {
  uint32_t v = 0;
  std::memcpy(&v, b.data() + off, 4);
  return v;
}
// The NUL-terminated UTF-16LE text of a 520-byte field, checking the padding.
std::string PathField(const std::vector<uint8_t>& b, size_t off) {
  std::u16string text;
  size_t i = 0;
  for (; i < 260; ++i) {
    char16_t u = static_cast<char16_t>(b[off + 2 * i] | (b[off + 2 * i + 1] << 8));
    if (!u) break;
    text.push_back(u);
  }
  for (size_t j = 2 * i; j < 520; ++j) EXPECT_EQ(b[off + j], 0) << "padding at " << j;
  return platform::Utf16ToUtf8(text);
}

class IndexTest : public ::testing::Test {
 protected:
  test::TempDir dir{"index"};
  fs::path root = dir.path() / "ScanLog";
  void SetUp() override { g_freeBytes = 0; }
  std::vector<uint8_t> Config() const { return test::ReadFile(root / "config"); }
};

TEST_F(IndexTest, ConfigIsWrittenByteForByte) {
  ScanLogIndex index(root);
  index.SetFreeSpaceSource(&FakeFreeSpace);
  g_freeBytes = 0x1122334455667788ull;
  index.NewScanFolder();
  index.NewScanFolder();
  ResumeState resume{1, 2, 3, 0xFFFFFFFFFFFFFFFFull, 5};
  ASSERT_EQ(index.RecordScan(3, 7, 2048, 409600, resume, index.CurrentLogFolder(), {}), kOk);

  fs::path image = dir.path() / "disk é.img";
  test::WriteFile(image, "x", 1);
  ResumeState resume2{9, 8, 7, 6, 5};
  ASSERT_EQ(index.RecordScan(0, 0, 0, 0, resume2, root / "2", image), kOk);

  auto b = Config();
  ASSERT_EQ(b.size(), 8u + 2 * 1120u);
  EXPECT_EQ(Le64(b, 0), 2u);
  const size_t e = 8;
  EXPECT_EQ(Le32(b, e + 0), 7u);
  EXPECT_EQ(Le32(b, e + 4), 0u);
  EXPECT_EQ(Le64(b, e + 8), 2048u);
  EXPECT_EQ(Le64(b, e + 16), 409600u);
  for (int k = 0; k < 5; ++k) EXPECT_EQ(Le64(b, e + 24 + 8 * k), resume[k]);
  EXPECT_EQ(Le64(b, e + 64), 0x1122334455667788ull);
  EXPECT_EQ(Le64(b, e + 72), 0u);
  EXPECT_EQ(PathField(b, e + 80), "");
  EXPECT_EQ(PathField(b, e + 600), (root / "2").string() + "/");

  const size_t f = 8 + 1120;
  EXPECT_EQ(Le64(b, f + 64), 0u);  // images carry no free-space figure
  EXPECT_NE(Le64(b, f + 72), 0u);
  EXPECT_EQ(PathField(b, f + 80), image.string());
  EXPECT_EQ(PathField(b, f + 600), (root / "2").string() + "/");
  EXPECT_FALSE(fs::exists(root / "config.tmp"));

  ScanLogIndex again(root);
  EXPECT_EQ(again.LoadErrors(), 0u);
  EXPECT_EQ(again.Counter(), 2u);
  ASSERT_EQ(again.Entries().size(), 2u);
  EXPECT_EQ(again.Entries()[0].resume, resume);
  EXPECT_EQ(again.Entries()[1].imagePath, platform::Utf8ToUtf16(image.string()));
}

TEST_F(IndexTest, RecordScanUpdatesTheMatchingEntry) {
  ScanLogIndex index(root);
  index.SetFreeSpaceSource(&FakeFreeSpace);
  g_freeBytes = 100;
  index.NewScanFolder();
  ASSERT_EQ(index.RecordScan(1, 0, 63, 1000, {1, 1, 1, 1, 1}, index.CurrentLogFolder(), {}), kOk);
  ASSERT_EQ(index.RecordScan(1, 0, 63, 1000, {2, 2, 2, 2, 2}, index.CurrentLogFolder(), {}), kOk);
  ASSERT_EQ(index.Entries().size(), 1u);
  EXPECT_EQ(index.Entries()[0].resume[0], 2u);
  g_freeBytes = 50;  // the volume changed: a new entry
  ASSERT_EQ(index.RecordScan(1, 0, 63, 1000, {3, 3, 3, 3, 3}, index.CurrentLogFolder(), {}), kOk);
  EXPECT_EQ(index.Entries().size(), 2u);
}

TEST_F(IndexTest, FailedSaveLeavesThePreviousConfigInPlace) {
  ScanLogIndex index(root);
  index.NewScanFolder();
  ASSERT_EQ(index.RecordScan(0, 1, 0, 10, {}, index.CurrentLogFolder(), {}), kOk);
  auto before = Config();
  fs::create_symlink("/dev/full", root / "config.tmp");  // the next save cannot be written
  EXPECT_EQ(index.RecordScan(0, 2, 0, 10, {}, index.CurrentLogFolder(), {}), kErrDiskFull);
  EXPECT_EQ(Config(), before);
  EXPECT_FALSE(fs::exists(fs::symlink_status(root / "config.tmp")));
  ASSERT_EQ(index.Save(), kOk);  // and the next save goes through
  EXPECT_EQ(ScanLogIndex(root).Entries().size(), 2u);
}

TEST_F(IndexTest, PathTooLongForItsFieldIsRefused) {
  ScanLogIndex index(root);
  fs::path longFolder = root / std::string(300, 'a');
  EXPECT_EQ(index.RecordScan(0, 0, 0, 10, {}, longFolder, {}), kErrFilenameTooLong);
  EXPECT_TRUE(index.Entries().empty());
}

TEST_F(IndexTest, InterruptedSaveIsCompletedAtLoad) {
  {
    ScanLogIndex index(root);
    index.NewScanFolder();
    ASSERT_EQ(index.RecordScan(0, 1, 0, 10, {}, index.CurrentLogFolder(), {}), kOk);
  }
  fs::rename(root / "config", root / "config.tmp");
  ScanLogIndex index(root);
  EXPECT_EQ(index.Counter(), 1u);
  EXPECT_EQ(index.Entries().size(), 1u);
  EXPECT_TRUE(fs::exists(root / "config"));
  EXPECT_FALSE(fs::exists(root / "config.tmp"));
}

TEST_F(IndexTest, DamagedConfigLoadsItsWholeEntries) {
  {
    ScanLogIndex index(root);
    index.NewScanFolder();
    ASSERT_EQ(index.RecordScan(0, 1, 0, 10, {}, root / "1", {}), kOk);
    ASSERT_EQ(index.RecordScan(0, 2, 0, 10, {}, root / "2", {}), kOk);
    ASSERT_EQ(index.RecordScan(0, 3, 0, 10, {}, root / "3", {}), kOk);
  }
  auto b = Config();
  // The second entry's folder field has no NUL; a torn entry follows the third.
  for (size_t i = 0; i < 520; ++i) b[8 + 1120 + 600 + i] = 'A';
  b.resize(b.size() + 500, 0x5A);
  test::WriteFile(root / "config", b);
  ScanLogIndex index(root);
  EXPECT_EQ(index.LoadErrors(), 2u);
  ASSERT_EQ(index.Entries().size(), 2u);
  EXPECT_EQ(index.Entries()[0].diskIndex, 1u);
  EXPECT_EQ(index.Entries()[1].diskIndex, 3u);

  test::WriteFile(root / "config", "abc", 3);  // shorter than the counter
  ScanLogIndex shortIndex(root);
  EXPECT_EQ(shortIndex.Counter(), 0u);
  EXPECT_EQ(shortIndex.LoadErrors(), 1u);
}

TEST_F(IndexTest, RandomConfigBytesNeverBreakTheLoad) {
  std::mt19937 rng(5);
  fs::create_directories(root);
  for (int round = 0; round < 100; ++round) {
    std::vector<uint8_t> bytes(rng() % (8 + 3 * 1120 + 50));
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng() % 4 == 0 ? rng() : 0);
    test::WriteFile(root / "config", bytes);
    ScanLogIndex index(root);
    // Every whole entry is either loaded or counted; a torn tail or a file
    // shorter than the counter is one more error.
    size_t whole = bytes.size() < 8 ? 0 : (bytes.size() - 8) / 1120;
    bool torn = bytes.size() < 8 ? !bytes.empty() : (bytes.size() - 8) % 1120 != 0;
    EXPECT_EQ(index.Entries().size() + index.LoadErrors(), whole + (torn ? 1 : 0));
    for (const ScanIndexEntry& e : index.Entries()) {
      EXPECT_LT(e.scanFolder.size(), 260u);
      EXPECT_FALSE(e.scanFolder.empty());
    }
  }
}

TEST_F(IndexTest, NewScanFolderRemovesAStaleFolderOfItsNumber) {
  ScanLogIndex index(root);
  EXPECT_EQ(index.CurrentLogFolder(), root / "0" / "");
  fs::create_directories(root / "1" / "deep");
  test::WriteFile(root / "1" / "Fast_0_old", "x", 1);
  index.NewScanFolder();
  EXPECT_EQ(index.Counter(), 1u);
  EXPECT_EQ(index.CurrentLogFolder(), root / "1" / "");
  EXPECT_FALSE(fs::exists(root / "1"));
  index.DecrementCounter();
  EXPECT_EQ(index.Counter(), 0u);
  index.DecrementCounter();
  EXPECT_EQ(index.Counter(), 0u);
}

TEST_F(IndexTest, PreviousDiskScanIsOfferedOnlyWhileTheVolumeIsUnchanged) {
  ScanLogIndex index(root);
  index.SetFreeSpaceSource(&FakeFreeSpace);
  g_freeBytes = 4096;
  index.NewScanFolder();
  fs::path folder = index.CurrentLogFolder();
  fs::create_directories(folder);
  ASSERT_EQ(index.RecordScan(2, 1, 63, 5000, {7, 0, 0, 0, 0}, folder, {}), kOk);
  index.NewScanFolder();  // a later scan moved on

  ScanIndexEntry found;
  EXPECT_FALSE(index.FindPreviousForDisk(1, 64, 5000, 2, found));  // other area
  EXPECT_FALSE(index.HasSelection());
  ASSERT_TRUE(index.FindPreviousForDisk(1, 63, 5000, 2, found));
  EXPECT_TRUE(index.HasSelection());
  EXPECT_EQ(found.resume[0], 7u);
  EXPECT_EQ(index.CurrentLogFolder(), folder);

  g_freeBytes = 8192;  // a file was written to the volume since
  EXPECT_FALSE(index.FindPreviousForDisk(1, 63, 5000, 2, found));
  EXPECT_FALSE(index.HasSelection());
  EXPECT_TRUE(index.Entries().empty());
  EXPECT_FALSE(fs::exists(folder));
  ScanLogIndex reloaded(root);
  EXPECT_TRUE(reloaded.Entries().empty());
}

TEST_F(IndexTest, PreviousImageScanFollowsTheImageWriteTime) {
  fs::path image = dir.path() / "card.img";
  test::WriteFile(image, "data", 4);
  ScanLogIndex index(root);
  index.NewScanFolder();
  fs::path folder = index.CurrentLogFolder();
  fs::create_directories(folder);
  ASSERT_EQ(index.RecordScan(0, 0, 0, 0, {5, 5, 5, 5, 5}, folder, image), kOk);

  uint64_t expected = platform::TimespecToFiletime(timespec{
      static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(
                              std::chrono::file_clock::to_sys(fs::last_write_time(image)).time_since_epoch())
                              .count()),
      0});
  EXPECT_EQ(index.Entries()[0].imageWriteTime / 10000000, expected / 10000000);

  ScanIndexEntry found;
  EXPECT_FALSE(index.FindPreviousForImage(dir.path() / "other.img", found));
  ASSERT_TRUE(index.FindPreviousForImage(image, found));
  EXPECT_EQ(index.CurrentLogFolder(), folder);

  fs::last_write_time(image, fs::last_write_time(image) + std::chrono::seconds(60));
  EXPECT_FALSE(index.FindPreviousForImage(image, found));
  EXPECT_FALSE(index.HasSelection());
  EXPECT_FALSE(fs::exists(folder));
}

// A planted "config" names folders outside the root: nothing outside is deleted.
TEST_F(IndexTest, RemoveEntryNeverDeletesOutsideTheRoot) {
  fs::path outside = dir.path() / "precious";
  fs::create_directories(outside);
  test::WriteFile(outside / "keep.txt", "keep", 4);
  fs::create_directories(root);
  fs::create_symlink(outside, root / "7");  // a link inside the root that leads out

  fs::create_directories(root / "8" / "sub");
  fs::create_symlink(outside, root / "8" / "sub" / "out");  // inside a folder that is deleted
  const fs::path planted[] = {outside,    root / ".." / "precious", root / "7",          root,
                              root / ".", root / "7" / "..",        root / "7" / "inner"};
  {
    ScanLogIndex index(root);
    uint64_t area = 1;
    for (const fs::path& p : planted) {
      // RecordScan stores whatever folder it is given, as a damaged file could.
      ASSERT_EQ(index.RecordScan(0, 0, 0, area++, {}, p, {}), kOk);
    }
    ASSERT_EQ(index.RecordScan(0, 0, 0, area, {}, root / "8", {}), kOk);
  }
  ScanLogIndex index(root);
  ASSERT_EQ(index.Entries().size(), 8u);
  for (const ScanIndexEntry& e : std::vector<ScanIndexEntry>(index.Entries())) {
    index.RemoveEntry(fs::path(platform::Utf16ToUtf8(e.scanFolder)));
  }
  EXPECT_TRUE(index.Entries().empty());
  EXPECT_TRUE(fs::exists(outside / "keep.txt"));
  EXPECT_TRUE(fs::exists(root));
  EXPECT_TRUE(fs::exists(root / "config"));
  EXPECT_FALSE(fs::exists(root / "8"));                      // the one folder that really is inside
  EXPECT_FALSE(fs::exists(fs::symlink_status(root / "7")));  // the link went, its target stayed
}

TEST_F(IndexTest, FindLogInFolderSkipsCompanionsAndHiddenFiles) {
  fs::path folder = root / "3";
  fs::create_directories(folder);
  for (const char* name :
       {".Pro_Fat_hidden", "Pro_Fat_0_2026121113 5_Relation", "Pro_Fat_0_2026121113 5_DirInfo",
        "Pro_Fat_0_2026121113 5", "Fast_0_2026121113 5"}) {
    test::WriteFile(folder / name, "", 0);
  }
  fs::create_directories(folder / "Pro_Fat_folder");
  ScanLogIndex index(root);
  std::string name;
  ASSERT_TRUE(index.FindLogInFolder("Pro_Fat_", folder, name));
  EXPECT_EQ(name, "Pro_Fat_0_2026121113 5");
  EXPECT_FALSE(index.FindLogInFolder("File_Type_", folder, name));
  EXPECT_FALSE(index.FindLogInFolder("Fast_", root / "missing", name));
}

TEST(ScanLogIndexInstance, RootsAtTheUserDataFolder) {
  // The process-wide index is made on first use: point the user data folder
  // at a scratch folder before that, so that nothing touches a real home.
  test::TempDir home{"xdg"};
  ASSERT_EQ(::setenv("XDG_DATA_HOME", home.path().c_str(), 1), 0);
  EXPECT_EQ(ScanLogIndex::Instance().Root(), home.path() / "Nuvarin Data Recovery" / "ScanLog");
  EXPECT_EQ(&ScanLogIndex::Instance(), &ScanLogIndex::Instance());
}

TEST(LogNames, PrefixSectorAndLocalTime) {
  platform::LocalTime before = platform::LocalTimeNow();
  std::string name = MakeLogName("Pro_Ntfs_", 2048);
  platform::LocalTime after = platform::LocalTimeNow();
  auto expect = [](const char* prefix, const platform::LocalTime& t) {
    char buf[96];
    std::snprintf(buf, sizeof(buf), "%s2048_%d%d%d%d%2d", prefix, t.year, t.month, t.day, t.hour, t.minute);
    return std::string(buf);
  };
  EXPECT_TRUE(name == expect("Pro_Ntfs_", before) || name == expect("Pro_Ntfs_", after)) << name;
  EXPECT_TRUE(std::regex_match(MakeLogName("Fast_", 0), std::regex("Fast_0_\\d{4}\\d{3,6}[ 0-9]\\d")));
}

}  // namespace
}  // namespace nuvarin
