// The FAT directory search on directory sectors built entry by entry: the
// geometry inferred from subdirectory anchors, long names cut by a sector
// boundary, files met before any layout existed, and hostile sectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "fat/fat_directory_search.h"
#include "platform/error_codes.h"
#include "tests/fat/directory_search_support.h"
#include "tests/fat/entry_builder.h"
#include "storage/scan_log_index.h"
#include "tests/support/test_support.h"

namespace nuvarin {
namespace {

using test::CollectFiles;
using test::Concat;
using test::FoundFile;
using test::RawEntry;
using test::TempDir;
namespace fs = std::filesystem;

constexpr uint8_t kDir = 0x10;
constexpr uint8_t kFile = 0x20;

std::vector<uint8_t> DotPairSector(uint32_t cluster, uint32_t parent,
                                   std::initializer_list<RawEntry> more = {}) {
  std::vector<uint8_t> s =
      Concat({RawEntry::Short(".", kDir, cluster, 0), RawEntry::Short("..", kDir, parent, 0)});
  for (const RawEntry& e : more) s.insert(s.end(), e.b.begin(), e.b.end());
  s.resize(512, 0);
  return s;
}

// An engine on a zero-filled image of `sectors` sectors, with a fresh log.
class SearchOnImage {
 public:
  explicit SearchOnImage(uint64_t sectors) : image_(dir_ / "area.img") {
    std::vector<uint8_t> none;
    test::WriteFile(image_, none);
    fs::resize_file(image_, sectors * 512);
  }
  void Put(uint64_t sector, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(image_.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, static_cast<long>(sector * 512), SEEK_SET);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  CProfessionalFatRecovery& Open() {
    EXPECT_EQ(engine_.OpenImage(image_, 0), 0);
    test::FreshLogFolder();  // a log of its own for every test
    EXPECT_EQ(engine_.OpenProLog(nullptr), 0);
    EXPECT_EQ(engine_.PrepareSweep(), 0);
    return engine_;
  }
  // A subdirectory start written to the image and handed to the engine.
  void Subdirectory(uint64_t sector, const std::vector<uint8_t>& bytes) {
    Put(sector, bytes);
    engine_.HandleSubdirectoryStart(bytes.data(), bytes.size(), sector);
  }
  void Entries(uint64_t sector, const std::vector<uint8_t>& bytes) {
    Put(sector, bytes);
    engine_.HandleEntrySector(bytes.data(), bytes.size(), sector);
  }
  std::vector<FoundFile> Files() {
    std::vector<FoundFile> files;
    CollectFiles(engine_, nullptr, 0, "", files);
    return files;
  }
  const TempDir& dir() const { return dir_; }

 private:
  TempDir dir_{"fatsearch"};
  fs::path image_;
  CProfessionalFatRecovery engine_;
};

struct AnchorCase {
  uint32_t cluster1;
  uint64_t sector1;
  uint32_t cluster2;
  uint64_t sector2;
  bool fits;
  uint32_t spc;
  uint32_t dataStart;
};

class AnchorInference : public ::testing::TestWithParam<AnchorCase> {};

TEST_P(AnchorInference, TwoSubdirectoryStartsGiveTheLayoutOrNone) {
  const AnchorCase& c = GetParam();
  SearchOnImage area(20000);
  CProfessionalFatRecovery& engine = area.Open();
  area.Subdirectory(c.sector1, DotPairSector(c.cluster1, 0));
  EXPECT_TRUE(engine.Layouts().empty());
  area.Subdirectory(c.sector2, DotPairSector(c.cluster2, 0));
  if (!c.fits) {
    EXPECT_TRUE(engine.Layouts().empty());
    return;
  }
  ASSERT_EQ(engine.Layouts().size(), 1u);
  EXPECT_EQ(engine.Layouts()[0].sectorsPerCluster, c.spc);
  EXPECT_EQ(engine.Layouts()[0].dataStart, c.dataStart);
  EXPECT_EQ(engine.Layouts()[0].volumeStart, 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, AnchorInference,
                         ::testing::Values(AnchorCase{100, 10000, 164, 10512, true, 8, 9216},
                                           AnchorCase{164, 10512, 100, 10000, true, 8, 9216},
                                           AnchorCase{2, 500, 3, 501, true, 1, 500},
                                           AnchorCase{10, 1000, 13, 1007, false, 0, 0},  // 7 / 3
                                           AnchorCase{10, 1000, 16, 1018, false, 0, 0},  // 3 sectors
                                           AnchorCase{3, 100, 5, 612, false, 0, 0},      // 256 sectors
                                           AnchorCase{50, 100, 60, 180, false, 0, 0},    // cluster 2 before 0
                                           AnchorCase{20, 1000, 10, 1200, false, 0,
                                                      0}));  // order reversed on disk

// Clusters 10 and 20 at sectors 1000 and 1020: 2 sectors per cluster, cluster 2 at 984.
void TwoClusterLayout(SearchOnImage& area) {
  area.Subdirectory(1000, DotPairSector(10, 0));
  area.Subdirectory(1020, DotPairSector(20, 0));
}
uint64_t SectorOf(uint32_t cluster) {
  return 984 + (cluster - 2) * 2;
}

class SplitLongName : public ::testing::TestWithParam<bool> {};

TEST_P(SplitLongName, ANameCutAtTheSectorEndYieldsOneFile) {
  const bool continuationFirst = GetParam();
  SearchOnImage area(4000);
  CProfessionalFatRecovery& engine = area.Open();
  TwoClusterLayout(area);
  ASSERT_EQ(engine.Layouts().size(), 1u);

  const std::u16string name = u"Holiday pictures, part two.txt";  // 30 characters: 3 parts
  RawEntry shortEntry = RawEntry::Short("HOLIDA~1TXT", kFile, 40, 1000);
  uint8_t sum = RawEntry::Checksum(shortEntry);
  RawEntry part3 = RawEntry::Long(0x43, name.substr(26), sum);
  RawEntry part2 = RawEntry::Long(0x02, name.substr(13, 13), sum);
  RawEntry part1 = RawEntry::Long(0x01, name.substr(0, 13), sum);
  // Directory at cluster 30: 12 short files after the dots, then the first two parts.
  std::vector<uint8_t> first = DotPairSector(30, 0);
  first.resize(64);
  for (int i = 0; i < 12; ++i) {
    RawEntry e = RawEntry::Short("FILE" + std::to_string(10 + i) + "  TXT", kFile, 0, 0);
    first.insert(first.end(), e.b.begin(), e.b.end());
  }
  first.insert(first.end(), part3.b.begin(), part3.b.end());
  first.insert(first.end(), part2.b.begin(), part2.b.end());
  ASSERT_EQ(first.size(), 512u);
  std::vector<uint8_t> second = Concat({part1, shortEntry}, 512);
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  area.Put(SectorOf(40), data);

  if (continuationFirst) {
    area.Entries(SectorOf(30) + 1, second);
    area.Subdirectory(SectorOf(30), first);
  } else {
    area.Subdirectory(SectorOf(30), first);
    area.Entries(SectorOf(30) + 1, second);
  }
  ASSERT_EQ(engine.FinishFolders(), 0);
  std::vector<FoundFile> files = area.Files();
  EXPECT_EQ(files.size(), 13u);
  auto hit = std::find_if(files.begin(), files.end(), [](const FoundFile& f) {
    return f.path == "LostFolder30/Holiday pictures, part two.txt";
  });
  ASSERT_NE(hit, files.end());
  EXPECT_EQ(hit->item.entrySector, SectorOf(30) + 1);
  EXPECT_EQ(hit->item.size, 1000u);
  fs::path out = area.dir() / "out.txt";
  ASSERT_EQ(engine.RecoverItem(&hit->item, out, 0), 0);
  EXPECT_TRUE(test::ReadFile(out) == data);
}

INSTANTIATE_TEST_SUITE_P(BothOrders, SplitLongName, ::testing::Bool());

TEST(FatDirectorySearchSectors, ASectorSeveralLayoutsPlaceGoesToTheOneMostDirectoriesAgreeWith) {
  SearchOnImage area(4000);
  CProfessionalFatRecovery& engine = area.Open();
  area.Subdirectory(2498, DotPairSector(500, 0));
  area.Subdirectory(2598, DotPairSector(600, 0));  // 1 sector per cluster, cluster 2 at 2000
  TwoClusterLayout(area);                          // 2 sectors per cluster, cluster 2 at 984
  area.Subdirectory(SectorOf(30), DotPairSector(30, 0));
  area.Subdirectory(SectorOf(40), DotPairSector(40, 0));
  ASSERT_EQ(engine.Layouts().size(), 2u);
  // Sector 2100 starts cluster 102 of the first layout and cluster 560 of the second.
  area.Entries(2100, Concat({RawEntry::Short("PICK    TXT", kFile, 700, 10)}, 512));
  ASSERT_EQ(engine.FinishFolders(), 0);
  std::vector<FoundFile> files = area.Files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].path, "LostFolder560/pick.txt");
  EXPECT_EQ(files[0].item.clusterSize, 1024u);
  EXPECT_EQ(files[0].item.dataStartSector, 984u);
}

TEST(FatDirectorySearchSectors, FileMetBeforeAnyLayoutTakesTheNearestOneBeforeIt) {
  SearchOnImage area(8000);
  CProfessionalFatRecovery& engine = area.Open();
  // A directory that no layout will place, with one file.
  area.Subdirectory(3000, DotPairSector(7, 0, {RawEntry::Short("EARLY   TXT", kFile, 9, 100)}));
  TwoClusterLayout(area);  // cluster 2 at 984
  area.Subdirectory(5000, DotPairSector(100, 0));
  area.Subdirectory(5040, DotPairSector(110, 0));  // cluster 2 at 4608, after the entry
  area.Subdirectory(2000, DotPairSector(2 + 0, 0));
  area.Subdirectory(2080, DotPairSector(12, 0));  // cluster 2 at 2000, nearest before 3000
  ASSERT_EQ(engine.Layouts().size(), 3u);
  ASSERT_EQ(engine.FinishFolders(), 0);
  std::vector<FoundFile> files = area.Files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].path, "LostFolder7/early.txt");
  EXPECT_EQ(files[0].item.dataStartSector, 2000u);
  EXPECT_EQ(files[0].item.clusterSize, 8u * 512);
  EXPECT_EQ(files[0].item.entrySector, 3000u);
}

TEST(FatDirectorySearchSectors, FoldersSeenOnlyThroughTheirFilesAreLostFolders) {
  SearchOnImage area(4000);
  CProfessionalFatRecovery& engine = area.Open();
  TwoClusterLayout(area);
  // Folder 30 lies in folder 40 (its ".." says so), whose own entry is never
  // seen; folder 40 lies in folder 50, which names it "KEEP".
  // All are on the disk before the sweep meets the first.
  std::vector<uint8_t> d30 = DotPairSector(30, 40, {RawEntry::Short("INNER   TXT", kFile, 60, 10)});
  std::vector<uint8_t> d40 = DotPairSector(40, 50);
  std::vector<uint8_t> d50 = DotPairSector(50, 0, {RawEntry::Short("KEEP       ", kDir, 40, 0)});
  area.Put(SectorOf(40), d40);
  area.Put(SectorOf(50), d50);
  area.Subdirectory(SectorOf(30), d30);
  area.Subdirectory(SectorOf(40), d40);
  area.Subdirectory(SectorOf(50), d50);
  ASSERT_EQ(engine.FinishFolders(), 0);
  std::vector<FoundFile> files = area.Files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].path, "LostFolder50/keep/LostFolder30/inner.txt");
  std::string path;
  ASSERT_EQ(engine.GetItemPath(&files[0].item, path), 0);
  EXPECT_EQ(path, "LostFolder50/keep/LostFolder30/");
}

TEST(FatDirectorySearchSectors, PicturesWhoseBytesContradictTheirNameAreHidden) {
  SearchOnImage area(4000);
  CProfessionalFatRecovery& engine = area.Open();
  TwoClusterLayout(area);
  fs::path jpg = area.dir() / "real.jpg";
  auto made = test::RunCommand("convert -size 64x64 gradient:red-blue " + test::ShellQuote(jpg.string()));
  ASSERT_EQ(made.exitCode, 0) << made.output;
  std::vector<uint8_t> bytes = test::ReadFile(jpg);
  area.Put(SectorOf(60), bytes);
  std::vector<uint8_t> text(512, 'x');
  area.Put(SectorOf(70), text);
  area.Subdirectory(
      SectorOf(50),
      DotPairSector(
          50, 0,
          {RawEntry::Short("GOOD    JPG", kFile, 60, static_cast<uint32_t>(bytes.size())),
           RawEntry::Short("BAD     JPG", kFile, 70, 512), RawEntry::Short("PLAIN   TXT", kFile, 70, 512)}));
  ASSERT_EQ(engine.FinishFolders(), 0);
  std::vector<FoundFile> files = area.Files();
  std::vector<std::string> names;
  for (const FoundFile& f : files) names.push_back(std::string(f.item.Name()));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"good.jpg", "plain.txt"}));
  EXPECT_EQ(engine.GetItemCount(), 4u);  // three files and their folder
}

TEST(FatDirectorySearchSectors, DataPastTheAreaEndIsNotRead) {
  SearchOnImage area(2000);
  CProfessionalFatRecovery& engine = area.Open();
  TwoClusterLayout(area);
  // Cluster 600 starts at sector 2180, past the 2,000 sectors of the area;
  // cluster 507 starts inside it, 6 sectors before its end.
  area.Subdirectory(SectorOf(40), DotPairSector(40, 0,
                                                {RawEntry::Short("FAR     BIN", kFile, 600, 4096),
                                                 RawEntry::Short("EDGE    BIN", kFile, 507, 4096)}));
  ASSERT_EQ(engine.FinishFolders(), 0);
  std::vector<FoundFile> files = area.Files();
  ASSERT_EQ(files.size(), 2u);
  for (const FoundFile& f : files) {
    fs::path out = area.dir() / SafeComponentName(f.item.Name());
    EXPECT_NE(engine.RecoverItem(&f.item, out, 0), 0) << f.path;
    EXPECT_LE(fs::file_size(out), 6u * 512);
  }
}

// Thousands of kept-aside sectors, each ending in a long name that the next
// one completes, are joined one after the other at the folder pass.
TEST(FatDirectorySearchSectors, ALongRunOfNamesCutAtEverySectorEndIsJoinedWithoutLimit) {
  const uint64_t first = 3000;
  const uint64_t count = CProfessionalFatRecovery::kMaxUnplacedSectors - 10;
  SearchOnImage area(first + count + 10);
  CProfessionalFatRecovery& engine = area.Open();
  RawEntry shortEntry = RawEntry::Short("SONG    TXT", kFile, 0, 0);
  const uint8_t sum = RawEntry::Checksum(shortEntry);
  const std::u16string name = u"A song whose name runs on.txt";  // 29 characters: 3 parts
  RawEntry label = RawEntry::Short("LABEL      ", 0x08, 0, 0);
  std::vector<uint8_t> sector = Concat({RawEntry::Long(0x01, name.substr(0, 13), sum), shortEntry});
  for (int i = 0; i < 12; ++i) sector.insert(sector.end(), label.b.begin(), label.b.end());
  for (const RawEntry& e :
       {RawEntry::Long(0x43, name.substr(26), sum), RawEntry::Long(0x02, name.substr(13, 13), sum)})
    sector.insert(sector.end(), e.b.begin(), e.b.end());
  ASSERT_EQ(sector.size(), 512u);
  // No layout yet: every sector is kept aside.
  for (uint64_t s = first; s < first + count; ++s) engine.HandleEntrySector(sector.data(), sector.size(), s);
  TwoClusterLayout(area);
  ASSERT_EQ(engine.FinishFolders(), 0);
  std::vector<FoundFile> files = area.Files();
  size_t whole = std::count_if(files.begin(), files.end(), [&](const FoundFile& f) {
    return f.item.Name() == "A song whose name runs on.txt";
  });
  EXPECT_GE(whole, count - 2);
}

TEST(FatDirectorySearchSectors, HostileSectorsNeverStopTheSearch) {
  SearchOnImage area(3000);
  CProfessionalFatRecovery& engine = area.Open();
  TwoClusterLayout(area);
  std::mt19937 rng(20240611);
  std::vector<uint8_t> base = DotPairSector(
      30, 20,
      {RawEntry::Long(0x42, u"abcdefghijklm", 0x11), RawEntry::Long(0x01, u"nopq", 0x11),
       RawEntry::Short("NAME    TXT", kFile, 0xFFFF, 0xFFFFFFFF), RawEntry::Short("SUB        ", kDir, 31, 0),
       RawEntry::Short("\xE5"
                       "ELETED JPG",
                       kFile, 44, 5000)});
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> s = base;
    int flips = 1 + static_cast<int>(rng() % 12);
    for (int i = 0; i < flips; ++i) s[rng() % s.size()] = static_cast<uint8_t>(rng());
    uint64_t sector = rng() % 4000;  // also past the end of the area
    if (IsDotPair(s.data(), s.size())) {
      engine.HandleSubdirectoryStart(s.data(), s.size(), sector);
    } else {
      engine.HandleEntrySector(s.data(), s.size(), sector);
    }
  }
  engine.HandleEntrySector(base.data(), 16, 100);  // shorter than an entry
  EXPECT_LE(engine.Layouts().size(), CProfessionalFatRecovery::kMaxLayouts);
  ASSERT_EQ(engine.FinishFolders(), 0);
  std::vector<FoundFile> files = area.Files();
  EXPECT_FALSE(files.empty());
  size_t tried = 0;
  for (const FoundFile& f : files) {
    if (++tried > 50) break;
    engine.RecoverItem(&f.item, area.dir() / "x.bin", 0);
  }
}

}  // namespace
}  // namespace nuvarin
