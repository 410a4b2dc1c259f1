// The deleted-file scan on a small hand-made volume whose MFT holds the cases
// real tools do not produce: a DOS name before the Win32 name, deleted system
// records, a parent loop, parents reused by a file or no longer a record, and
// an empty picture whose content check fails.
#include <gtest/gtest.h>

#include <cstring>

#include "ntfs/fast_ntfs_recovery.h"
#include "platform/error_codes.h"
#include "record_builder.h"
#include "storage/scan_log_index.h"
#include "test_support.h"

namespace nuvarin {
namespace {

using test::RecordBuilder;

class NtfsSyntheticScanTest : public testing::Test {
 protected:
  static constexpr uint64_t kMftSector = 32;  // cluster 4 of 8 sectors
  void SetUp() override {
    image_.assign(256 * 1024, 0);
    std::memcpy(&image_[3], "NTFS    ", 8);
    image_[0x0B] = 0x00;
    image_[0x0C] = 0x02;  // 512 bytes per sector
    image_[0x0D] = 8;
    image_[0x30] = 4;     // MFT at cluster 4
    image_[510] = 0x55;
    image_[511] = 0xAA;
    // $MFT: 8 clusters from cluster 4, 32 records.
    Put(0, RecordBuilder(0, 1).FileName(5, "$MFT").NonResident(0x80, {0x11, 0x08, 0x04}, 32 * 1024).Build());
    Put(5, RecordBuilder(5, 3).FileName(5, ".").Build());
    Put(8, RecordBuilder(8, 0).FileName(5, "$BadClus").Build());  // deleted, but a system record
    // DOS name first, Win32 name second; ZIP bytes under a ".JPG" DOS name.
    Put(12, RecordBuilder(12, 0)
                .FileName(5, "REPORT~1.JPG", 4, 2)
                .FileName(5, "report.docx", 4, 1)
                .Resident(0x80, {'P', 'K', 3, 4})
                .Build());
    // 13 lies in 14, and 14 and 15 name each other as parents.
    Put(13, RecordBuilder(13, 0).FileName(14, "looped.txt").Resident(0x80, {'x'}).Build());
    Put(14, RecordBuilder(14, 2).FileName(15, "A").Build());
    Put(15, RecordBuilder(15, 3).FileName(14, "B").Build());
    // 16's folder record now holds a file; 18's folder record is no record at all.
    Put(16, RecordBuilder(16, 0).FileName(17, "orphan.txt").Resident(0x80, {'o'}).Build());
    Put(17, RecordBuilder(17, 1).FileName(5, "newer.txt").Build());
    Put(18, RecordBuilder(18, 0).FileName(19, "gone.txt").Resident(0x80, {'g'}).Build());
    // An empty picture: content check 0, hidden from folder listings.
    Put(20, RecordBuilder(20, 0).FileName(5, "a.png").Resident(0x80, {}).Build());
    path_ = dir_ / "synthetic.img";
    test::WriteFile(path_, image_);
  }
  void Put(uint32_t n, const std::vector<uint8_t>& rec) {
    std::memcpy(&image_[(kMftSector + 2 * n) * 512], rec.data(), rec.size());
  }
  test::TempDir dir_{"ntfs-synthetic"};
  std::filesystem::path path_;
  std::vector<uint8_t> image_;
};

TEST_F(NtfsSyntheticScanTest, EdgeCasesOfTheRecordSweep) {
  CFastNtfsRecovery engine;
  ASSERT_EQ(engine.OpenImage(path_, 0), kOk);
  ASSERT_EQ(engine.MftRuns().size(), 1u);
  ScanLogIndex::Instance().NewScanFolder();
  ASSERT_EQ(engine.OpenLog(nullptr), kOk);

  std::vector<FoundItem> root;
  ASSERT_EQ(engine.ReadFolder(nullptr, 0, root), kOk);
  std::vector<std::string> names;
  for (const FoundItem& it : root) names.push_back(std::string(it.Name()));
  // Files first, then folders, by name; the empty picture is hidden, system
  // records and the looped folders are not below the root.
  EXPECT_EQ(names, (std::vector<std::string>{"report.docx", "LostFolder17", "LostFolder19"}));
  ASSERT_EQ(root.size(), 3u);
  EXPECT_EQ(+root[0].contentCheck, 0u) << "checked under the DOS name's extension";
  EXPECT_EQ(+root[0].size, 4u);
  for (int i : {1, 2}) {
    EXPECT_EQ(+root[i].isFolder, 1u);
    EXPECT_EQ(+root[i].clusterSize, kNoClusterSize);
    std::vector<FoundItem> inside;
    ASSERT_EQ(engine.ReadFolder(&root[i], 1, inside), kOk);
    ASSERT_EQ(inside.size(), 1u);
    EXPECT_EQ(inside[0].Name(), i == 1 ? "orphan.txt" : "gone.txt");
    std::string path;
    EXPECT_EQ(engine.GetItemPath(&inside[0], path), kOk);
    EXPECT_EQ(path, std::string(root[i].Name()) + "/");
  }
  // The loop's members were each collected once, and the pass ended.
  const auto& folders = engine.FolderList();
  EXPECT_EQ(std::count(folders.begin(), folders.end(), 14u), 1);
  EXPECT_EQ(std::count(folders.begin(), folders.end(), 15u), 1);
  // The hidden picture is still in the log (9 findings: 5 files, 2 lost
  // folders, 2 looped folders).
  EXPECT_EQ(engine.GetItemCount(), 9u);
  std::vector<FoundItem> searched;
  EXPECT_EQ(engine.SearchItems("*.docx|*.txt", searched), 1);
  EXPECT_EQ(searched.size(), 4u);
}

}  // namespace
}  // namespace nuvarin
