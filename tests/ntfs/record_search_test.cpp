// The NTFS record search, driven the way the deep scan's sweep drives it: over
// real quick-formatted volumes (names, folders and bytes against the
// originals) and over hand-made records for the volume guesses, broken parent
// chains and damaged records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs_record_search.h"
#include "platform/error_codes.h"
#include "platform/paths.h"
#include "storage/sector_device.h"
#include "platform/disk_table.h"
#include "tests/disks/loop_disk.h"
#include "tests/ntfs/record_builder.h"
#include "tests/support/test_support.h"

namespace nuvarin {
namespace {

namespace fs = std::filesystem;
using test::RecordBuilder;
using Engine = CProfessionalNtfsRecovery;

// A log of its own for every engine of this program (the log folder is shared).
std::string FreshLogName() {
  static int counter = 0;
  return "Pro_Ntfs_test_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
}

// The sweep of the deep scan over a whole image: 64 KiB reads, each sector
// tested in memory, file records handed over (read again on their own when
// they cross the end of the buffer), directory records dropped.
void Sweep(Engine& engine, const fs::path& image) {
  SectorDevice device;
  ASSERT_EQ(OpenImageFile(image, device), kOk);
  const uint32_t bps = 512;
  const uint32_t recordSize = Engine::SweepRecordSize(bps);
  std::vector<uint8_t> buffer(65536);
  std::vector<uint8_t> single(kMftReadBytes);
  for (uint64_t pos = 0; pos < device.sectorCount;) {
    uint64_t k = std::min<uint64_t>(buffer.size() / bps, device.sectorCount - pos);
    uint64_t got = 0;
    ReadSectors(k, device, buffer.data(), pos, bps, got);
    for (uint64_t s = 0; s < got; ++s) {
      const uint8_t* sector = buffer.data() + s * bps;
      size_t left = (got - s) * bps;
      if (Engine::ClassifySector(sector, left, bps) != Engine::SectorKind::kFileRecord) continue;
      if (left < recordSize) {
        std::fill(single.begin(), single.end(), 0);
        uint64_t n = 0;
        ReadSectors(std::min<uint64_t>(kMftReadBytes / bps, device.sectorCount - pos - s), device, single.data(),
                    pos + s, bps, n);
        engine.HandleCandidateRecord(single.data(), single.size(), pos + s, Engine::CandidateMode::kSweep, 0);
      } else {
        engine.HandleCandidateRecord(sector, left, pos + s, Engine::CandidateMode::kSweep, 0);
      }
    }
    pos += k;
  }
}

// Every finding below the root by its path ("Docs/Reports/q1.bin", folders with a trailing "/").
std::map<std::string, FoundItem> ListTree(Engine& engine) {
  std::map<std::string, FoundItem> out;
  struct Pending {
    FoundItem folder;
    uint32_t depth;
    std::string path;
  };
  std::vector<Pending> queue;
  std::vector<FoundItem> items;
  EXPECT_EQ(engine.ReadFolder(nullptr, 0, items), kOk);
  for (const FoundItem& it : items) {
    std::string p(it.Name());
    if (it.isFolder) {
      out[p + "/"] = it;
      queue.push_back({it, 1, p + "/"});
    } else {
      out[p] = it;
    }
  }
  for (size_t i = 0; i < queue.size() && i < 100000; ++i) {
    Pending entry = queue[i];
    items.clear();
    EXPECT_EQ(engine.ReadFolder(&entry.folder, entry.depth, items), kOk);
    for (const FoundItem& it : items) {
      std::string p = entry.path + std::string(it.Name());
      if (it.isFolder) {
        if (out.count(p + "/")) continue;
        out[p + "/"] = it;
        queue.push_back({it, entry.depth + 1, p + "/"});
      } else {
        out[p] = it;
      }
    }
  }
  return out;
}

std::map<std::string, fs::path> OriginalFiles(const fs::path& root) {
  std::map<std::string, fs::path> out;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) out[fs::relative(e.path(), root).generic_string()] = e.path();
  return out;
}

std::string Folder(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A quick-formatted volume, built by the fixture script once and kept in a
// cache folder (NTFSSEARCH_FIXTURE_CACHE) shared by the test processes: each
// test case runs in a process of its own under CTest.
struct FormattedVolume {
  fs::path image;
  fs::path originals;
};

fs::path FixtureCache() {
  const char* env = std::getenv("NTFSSEARCH_FIXTURE_CACHE");
  return env && *env ? fs::path(env) : fs::temp_directory_path() / "ntfssearch-fixtures";
}

const FormattedVolume& Volume(const std::string& tag, uint64_t offsetSectors, uint32_t cluster = 4096,
                              uint32_t newCluster = 4096) {
  static std::map<std::string, FormattedVolume> built;
  const fs::path script = test::FixtureScript("ntfssearch_formatted.sh");
  std::vector<uint8_t> text = test::ReadFile(script);
  const std::string args =
      "64 " + std::to_string(offsetSectors) + " " + std::to_string(cluster) + " " + std::to_string(newCluster);
  const size_t hash = std::hash<std::string>{}(std::string(text.begin(), text.end()) + args);
  const std::string key = tag + "-" + std::to_string(hash);
  auto it = built.find(key);
  if (it != built.end()) return it->second;

  const fs::path folder = FixtureCache() / key;
  FormattedVolume v{folder / "volume.img", folder / "originals"};
  if (!fs::exists(folder / "done")) {
    EXPECT_TRUE(test::HaveTool("mkntfs")) << "mkntfs (ntfs-3g) is needed";
    EXPECT_TRUE(test::HaveTool("ntfs-3g")) << "ntfs-3g is needed";
    fs::create_directories(FixtureCache());
    // Built beside the cache entry and renamed into place, so that a process
    // running at the same time never sees half an image.
    const fs::path partial = FixtureCache() / (key + ".part" + std::to_string(::getpid()));
    fs::remove_all(partial);
    fs::create_directories(partial);
    auto r = test::RunCommand(test::ShellQuote(script.string()) + " " +
                              test::ShellQuote((partial / "volume.img").string()) + " " +
                              test::ShellQuote((partial / "originals").string()) + " " + args);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    test::WriteFile(partial / "done", "1", 1);
    std::error_code ec;
    fs::rename(partial, folder, ec);
    if (ec) fs::remove_all(partial, ec);  // another process was first
  }
  return built[key] = v;
}

class RecordSearchOnFormattedVolume : public ::testing::Test {
 protected:
  static const FormattedVolume& Plain() { return Volume("plain", 0); }
  // Inside a larger area, at a start that is no multiple of the cluster size.
  static const FormattedVolume& Inner() { return Volume("inner", 2051); }
  // Written with 2 KiB clusters, then quick-formatted with 4 KiB clusters.
  static const FormattedVolume& Recut() { return Volume("recut", 0, 2048, 4096); }

  // Checks names, folders, sizes and recovered bytes of every original file.
  void ExpectEveryFileBack(Engine& engine, const FormattedVolume& v, uint32_t clusterBytes = 4096) {
    auto tree = ListTree(engine);
    auto originals = OriginalFiles(v.originals);
    ASSERT_GT(originals.size(), 40u);
    test::TempDir out("ntfssearch-out");
    int n = 0;
    for (const auto& [rel, source] : originals) {
      SCOPED_TRACE(rel);
      if (rel == "Camera/fake.jpg") continue;  // listed nowhere: a picture that is none
      auto found = tree.find(rel);
      ASSERT_NE(found, tree.end()) << "not listed under its folder";
      const FoundItem& item = found->second;
      EXPECT_EQ(+item.sourceKind, kSourceNtfsRecordSearch);
      std::vector<uint8_t> want = test::ReadFile(source);
      // Data too large for its record lives in clusters of the format that wrote it.
      if (want.size() > 1024) {
        EXPECT_EQ(+item.clusterSize, clusterBytes);
      }
      EXPECT_EQ(+item.size, want.size());
      std::string path;
      EXPECT_EQ(engine.GetItemPath(&item, path), kOk);
      EXPECT_EQ(path, Folder(rel));
      fs::path dest = out / ("f" + std::to_string(n++));
      ASSERT_EQ(engine.RecoverItem(&item, dest, 0), kOk);
      EXPECT_TRUE(test::ReadFile(dest) == want) << "recovered bytes differ";
    }
  }
};

TEST_F(RecordSearchOnFormattedVolume, BringsBackEveryFileWithItsFolderAndBytes) {
  Engine engine;
  ASSERT_EQ(engine.OpenImage(Plain().image, 0), kOk);
  // The boot sector of the quick format gives the old cluster size before any record is met.
  EXPECT_EQ(engine.ClusterEstimate(), 8u);
  ASSERT_EQ(engine.OpenProLog(FreshLogName().c_str()), kOk);
  Sweep(engine, Plain().image);
  EXPECT_EQ(engine.FinishFolders(), kOk);
  const uint64_t items = engine.GetItemCount();
  EXPECT_EQ(engine.FinishFolders(), kOk);
  EXPECT_EQ(engine.GetItemCount(), items) << "a second folder pass wrote folders again";
  ExpectEveryFileBack(engine, Plain());

  // Folders carry no lost names: every chain reached the root.
  auto tree = ListTree(engine);
  for (const auto& [path, item] : tree) EXPECT_EQ(path.find("LostFolder"), std::string::npos) << path;
  EXPECT_TRUE(tree.count("Docs/Reports/2024/Deep/Deeper/"));
  EXPECT_TRUE(tree.count("Überraschung/"));
  uint32_t count = 0;
  ASSERT_TRUE(tree.count("Photos/"));
  EXPECT_EQ(engine.CountFolderFiles(&tree["Photos/"], 1, count), kOk);
  EXPECT_EQ(count, 40u);
}

TEST_F(RecordSearchOnFormattedVolume, ContentCheckHidesAPictureThatIsNoPicture) {
  Engine engine;
  ASSERT_EQ(engine.OpenImage(Plain().image, 0), kOk);
  ASSERT_EQ(engine.OpenProLog(FreshLogName().c_str()), kOk);
  Sweep(engine, Plain().image);
  engine.FinishFolders();
  std::map<std::string, uint32_t> check;
  for (uint32_t id = 1; id <= engine.GetItemCount(); ++id) {
    FoundItem it;
    ASSERT_EQ(engine.Log()->ReadItem(id, it), kOk);
    check[std::string(it.Name())] = +it.contentCheck;
  }
  ASSERT_TRUE(check.count("fake.jpg"));
  EXPECT_EQ(check["fake.jpg"], 0u);
  EXPECT_EQ(check["real.jpg"], 1u);
  auto tree = ListTree(engine);
  EXPECT_TRUE(tree.count("Camera/real.jpg"));
  EXPECT_FALSE(tree.count("Camera/fake.jpg"));
}

TEST_F(RecordSearchOnFormattedVolume, RecoversAWholeFolderTree) {
  Engine engine;
  ASSERT_EQ(engine.OpenImage(Plain().image, 0), kOk);
  ASSERT_EQ(engine.OpenProLog(FreshLogName().c_str()), kOk);
  Sweep(engine, Plain().image);
  engine.FinishFolders();
  auto tree = ListTree(engine);
  ASSERT_TRUE(tree.count("Docs/"));
  test::TempDir out("ntfssearch-tree");
  // The depth of a destination folder counts from the folder the user chose.
  const std::string base = out.path().string();
  const uint32_t baseDepth = static_cast<uint32_t>(std::count(base.begin(), base.end(), '/'));
  ASSERT_EQ(engine.RecoverItem(&tree["Docs/"], out / "Docs", baseDepth), kOk);
  for (const auto& [rel, source] : OriginalFiles(Plain().originals)) {
    if (rel.rfind("Docs/", 0) != 0) continue;
    SCOPED_TRACE(rel);
    EXPECT_TRUE(test::ReadFile(out / rel) == test::ReadFile(source));
  }
}

TEST_F(RecordSearchOnFormattedVolume, VolumeInsideALargerAreaIsPlacedByItsMftRecord) {
  Engine engine;
  ASSERT_EQ(engine.OpenImage(Inner().image, 0), kOk);
  // No boot sector at the start of the area: the size table's guess (66 MiB).
  EXPECT_EQ(engine.ClusterEstimate(), 1u);
  ASSERT_EQ(engine.OpenProLog(FreshLogName().c_str()), kOk);
  Sweep(engine, Inner().image);
  EXPECT_EQ(engine.FinishFolders(), kOk);
  // The new $MFT (cluster 4) and its mirror register volumes; the first gives the true start.
  auto starts = engine.VolumeStarts();
  ASSERT_TRUE(starts.count(2051 + 32));
  EXPECT_EQ(starts[2051 + 32], 2051u);
  EXPECT_EQ(engine.ClusterEstimate(), 8u);
  ExpectEveryFileBack(engine, Inner());
  auto tree = ListTree(engine);
  ASSERT_TRUE(tree.count("root.txt"));
  EXPECT_EQ(+tree["root.txt"].volumeStartSector, 2051u);
}

TEST_F(RecordSearchOnFormattedVolume, FormatWithAnotherClusterSizeKeepsTheOldClustersOfEachFile) {
  Engine engine;
  ASSERT_EQ(engine.OpenImage(Recut().image, 0), kOk);
  EXPECT_EQ(engine.ClusterEstimate(), 8u);  // what the new boot sector says
  ASSERT_EQ(engine.OpenProLog(FreshLogName().c_str()), kOk);
  Sweep(engine, Recut().image);
  EXPECT_EQ(engine.FinishFolders(), kOk);
  ExpectEveryFileBack(engine, Recut(), 2048);
}

// A whole-disk area with two volumes (no partition table): each $MFT record
// registers its volume, and every file is read from its own volume.
TEST_F(RecordSearchOnFormattedVolume, TwoVolumesInOneAreaKeepTheirOwnStarts) {
  const uint64_t firstStart = 2048, secondStart = 2048 + 131072 + 4096;
  test::TempDir dir("ntfssearch-two");
  const fs::path image = dir / "disk.img";
  auto r = test::RunCommand(
      "set -e; truncate -s " + std::to_string((secondStart + 131072 + 2048) * 512) + " " +
      test::ShellQuote(image.string()) + "; dd if=" + test::ShellQuote(Plain().image.string()) + " of=" +
      test::ShellQuote(image.string()) + " bs=512 seek=" + std::to_string(firstStart) +
      " conv=notrunc status=none; dd if=" + test::ShellQuote(Recut().image.string()) + " of=" +
      test::ShellQuote(image.string()) + " bs=512 seek=" + std::to_string(secondStart) + " conv=notrunc status=none");
  ASSERT_EQ(r.exitCode, 0) << r.output;

  Engine engine;
  ASSERT_EQ(engine.OpenImage(image, 0), kOk);
  ASSERT_EQ(engine.OpenProLog(FreshLogName().c_str()), kOk);
  Sweep(engine, image);
  EXPECT_EQ(engine.FinishFolders(), kOk);
  auto starts = engine.VolumeStarts();
  EXPECT_EQ(starts[firstStart + 32], firstStart);
  EXPECT_EQ(starts[secondStart + 32], secondStart);

  // Both copies of every file: one per volume, each with its own bytes back.
  std::map<std::string, std::vector<FoundItem>> byName;
  for (uint32_t id = 1; id <= engine.GetItemCount(); ++id) {
    FoundItem it;
    ASSERT_EQ(engine.Log()->ReadItem(id, it), kOk);
    if (!it.isFolder) byName[std::string(it.Name())].push_back(it);
  }
  test::TempDir out("ntfssearch-two-out");
  int n = 0;
  for (const auto& [rel, source] : OriginalFiles(Plain().originals)) {
    SCOPED_TRACE(rel);
    const std::string name = fs::path(rel).filename().string();
    const std::vector<uint8_t> want = test::ReadFile(source);
    std::set<uint64_t> volumes;
    for (const FoundItem& item : byName[name]) {
      volumes.insert(uint64_t{item.volumeStartSector});
      fs::path dest = out / ("f" + std::to_string(n++));
      ASSERT_EQ(engine.RecoverItem(&item, dest, 0), kOk);
      EXPECT_TRUE(test::ReadFile(dest) == want);
      std::string path;
      engine.GetItemPath(&item, path);
      EXPECT_EQ(path, Folder(rel));
    }
    EXPECT_EQ(volumes, (std::set<uint64_t>{firstStart, secondStart}));
  }
}

TEST_F(RecordSearchOnFormattedVolume, FirstDataSectorMatchesTheFileOnTheVolume) {
  Engine engine;
  ASSERT_EQ(engine.OpenImage(Plain().image, 0), kOk);
  ASSERT_EQ(engine.OpenProLog(FreshLogName().c_str()), kOk);
  Sweep(engine, Plain().image);
  engine.FinishFolders();
  auto tree = ListTree(engine);
  std::vector<uint8_t> image = test::ReadFile(Plain().image);
  std::vector<uint8_t> want = test::ReadFile(Plain().originals / "Music/track.bin");
  uint64_t sector = 0;
  ASSERT_TRUE(engine.FirstDataSector(tree["Music/track.bin"], sector));
  ASSERT_LT(sector * 512 + 512, image.size());
  EXPECT_EQ(std::memcmp(image.data() + sector * 512, want.data(), 512), 0);
  // Resident data has no sector of its own.
  EXPECT_FALSE(engine.FirstDataSector(tree["root.txt"], sector));
}

TEST_F(RecordSearchOnFormattedVolume, PreviewCopiesAFileIntoTheBuffer) {
  Engine engine;
  ASSERT_EQ(engine.OpenImage(Plain().image, 0), kOk);
  ASSERT_EQ(engine.OpenProLog(FreshLogName().c_str()), kOk);
  Sweep(engine, Plain().image);
  engine.FinishFolders();
  auto tree = ListTree(engine);
  std::vector<uint8_t> want = test::ReadFile(Plain().originals / "Docs/Reports/2024/q1.bin");
  std::vector<uint8_t> buffer(1000);
  uint32_t size = static_cast<uint32_t>(buffer.size());
  fs::path outPath;
  ASSERT_EQ(engine.PreviewItem(&tree["Docs/Reports/2024/q1.bin"], outPath, buffer.data(), size, nullptr, nullptr),
            kOk);
  EXPECT_TRUE(outPath.empty());
  ASSERT_EQ(size, 1000u);
  EXPECT_EQ(std::memcmp(buffer.data(), want.data(), 1000), 0);
}

TEST_F(RecordSearchOnFormattedVolume, ContinuedLogDoesNotWriteItsFoldersAgain) {
  const std::string name = FreshLogName();
  FoundItem summary;
  {
    Engine engine;
    ASSERT_EQ(engine.OpenImage(Plain().image, 0), kOk);
    ASSERT_EQ(engine.OpenProLog(name.c_str()), kOk);
    Sweep(engine, Plain().image);
    engine.FinishFolders();
    auto tree = ListTree(engine);
    ASSERT_TRUE(tree.count("Docs/Reports/summary.txt"));
    summary = tree["Docs/Reports/summary.txt"];
  }
  Engine engine;
  ASSERT_EQ(engine.OpenImage(Plain().image, 0), kOk);
  ASSERT_EQ(engine.OpenProLog(name.c_str()), kOk);
  std::vector<uint8_t> image = test::ReadFile(Plain().image);
  ASSERT_EQ(engine.HandleCandidateRecord(image.data() + summary.entrySector * 512, 1024, summary.entrySector,
                                         Engine::CandidateMode::kSweep, 0),
            kOk);
  EXPECT_EQ(engine.FinishFolders(), kOk);
  std::vector<FoundItem> root;
  ASSERT_EQ(engine.ReadFolder(nullptr, 0, root), kOk);
  EXPECT_EQ(std::count_if(root.begin(), root.end(), [](const FoundItem& i) { return i.Name() == "Docs"; }), 1);
}

// ---- Hand-made records in an otherwise empty area ----

class RecordSearchOnBuiltArea : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::make_unique<test::TempDir>("ntfssearch-built");
    image_ = *dir_ / "area.img";
    bytes_.assign(4u << 20, 0);  // 4 MiB: the size table says 8 sectors per cluster
  }
  void Place(uint64_t sector, const std::vector<uint8_t>& record) {
    ASSERT_LE(sector * 512 + record.size(), bytes_.size());
    std::memcpy(bytes_.data() + sector * 512, record.data(), record.size());
  }
  void Open() {
    test::WriteFile(image_, bytes_);
    ASSERT_EQ(engine_.OpenImage(image_, 3), kOk);
    ASSERT_EQ(engine_.OpenProLog(FreshLogName().c_str()), kOk);
  }
  static std::vector<uint8_t> Dir(uint32_t number, uint32_t parent, const std::string& name) {
    return RecordBuilder(number, kRecordInUse | kRecordDirectory).FileName(parent, name, 0, 1).Build();
  }
  static std::vector<uint8_t> File(uint32_t number, uint32_t parent, const std::string& name, size_t size) {
    return RecordBuilder(number, 0).FileName(parent, name, size, 1).Resident(0x80, std::vector<uint8_t>(size, 'x'))
        .Build();
  }
  std::unique_ptr<test::TempDir> dir_;
  fs::path image_;
  std::vector<uint8_t> bytes_;
  Engine engine_;
};

TEST_F(RecordSearchOnBuiltArea, RecordBeforeAnyMftRecordTakesTheMftAsContiguousFromTheAreaStart) {
  // File 100 at sector 3000: its MFT would start at 2800, so folder 50 sits at 2900.
  Place(3000, File(100, 50, "early.txt", 10));
  Place(2900, Dir(50, 5, "Parent"));
  Open();
  EXPECT_EQ(engine_.ClusterEstimate(), 8u);
  Sweep(engine_, image_);
  EXPECT_EQ(engine_.FinishFolders(), kOk);
  auto tree = ListTree(engine_);
  ASSERT_TRUE(tree.count("Parent/early.txt"));
  const FoundItem& item = tree["Parent/early.txt"];
  EXPECT_EQ(+item.volumeStartSector, 0u);
  EXPECT_EQ(+item.entrySector, 3000u);
  EXPECT_EQ(+item.objectId, 100u);
  EXPECT_EQ(+item.driveLetter, 3);
  EXPECT_EQ(+item.size, 10u);
  EXPECT_EQ(+item.clusterSize, 8u * 512);
  EXPECT_EQ(+tree["Parent/"].entrySector, 2900u);
  EXPECT_EQ(engine_.VolumeCount(), 0u);
}

TEST_F(RecordSearchOnBuiltArea, ParentWithAnotherRecordNumberBecomesALostFolder) {
  Place(3000, File(100, 50, "orphan.txt", 10));
  Place(2900, Dir(77, 5, "Stranger"));  // where 50 should be: a folder of another volume
  Open();
  Sweep(engine_, image_);
  engine_.FinishFolders();
  auto tree = ListTree(engine_);
  EXPECT_TRUE(tree.count("LostFolder50/orphan.txt"));
  EXPECT_FALSE(tree.count("Stranger/"));
  std::string path;
  ASSERT_EQ(engine_.GetItemPath(&tree["LostFolder50/orphan.txt"], path), kOk);
  EXPECT_EQ(path, "LostFolder50/");
}

TEST_F(RecordSearchOnBuiltArea, ParentsThatLoopEndTheWalk) {
  // 100 -> 50 -> 60 -> 50 ...: both folders are collected once, the walk ends.
  Place(3000, File(100, 50, "loop.txt", 10));
  Place(2900, Dir(50, 60, "A"));
  Place(2920, Dir(60, 50, "B"));
  Open();
  Sweep(engine_, image_);
  engine_.FinishFolders();
  EXPECT_EQ(engine_.FolderCount(), 2u);
  EXPECT_GE(engine_.GetItemCount(), 3u);
  FoundItem file{};
  for (uint32_t id = 1; id <= engine_.GetItemCount(); ++id) {
    FoundItem it;
    ASSERT_EQ(engine_.Log()->ReadItem(id, it), kOk);
    if (it.Name() == "loop.txt") file = it;
  }
  ASSERT_EQ(file.Name(), "loop.txt");
  std::string path;
  EXPECT_EQ(engine_.GetItemPath(&file, path), kOk);
  EXPECT_LT(path.size(), 64u);
}

TEST_F(RecordSearchOnBuiltArea, MftRecordRegistersItsVolumeAndItsClusterSize) {
  // $MFT at sector 2048 with runs starting at cluster 64 of 4 KiB clusters:
  // the volume starts at 2048 - 64 * 8 = 1536. Runs: 0x11 0x10 0x40 = 16 clusters at 64.
  std::vector<uint8_t> mft = RecordBuilder(0, kRecordInUse).FileName(5, "$MFT", 0, 3)
                                 .NonResident(0x80, {0x11, 0x10, 0x40}, 16 * 4096).Build();
  Place(2048, mft);
  // Record 30 of that MFT, at 2048 + 60; its parent 20 at 2048 + 40.
  Place(2048 + 60, File(30, 20, "inside.txt", 5));
  Place(2048 + 40, Dir(20, 5, "Home"));
  bytes_.resize(16u << 20);  // 16 MiB: the table starts at 1 sector per cluster
  Open();
  EXPECT_EQ(engine_.ClusterEstimate(), 1u);
  Sweep(engine_, image_);
  engine_.FinishFolders();
  EXPECT_EQ(engine_.ClusterEstimate(), 8u);
  auto starts = engine_.VolumeStarts();
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[2048], 1536u);
  auto tree = ListTree(engine_);
  ASSERT_TRUE(tree.count("Home/inside.txt"));
  EXPECT_EQ(+tree["Home/inside.txt"].volumeStartSector, 1536u);
  EXPECT_EQ(+tree["Home/inside.txt"].clusterSize, 4096u);
}

TEST_F(RecordSearchOnBuiltArea, FirstNonResidentFileSetsTheEstimate) {
  // 16 MiB area: estimate 1; a file of 8,192 allocated bytes in 2 clusters makes it 8.
  RecordBuilder b(40, 0);
  b.FileName(5, "two.bin", 8192, 1).NonResident(0x80, {0x11, 0x02, 0x20}, 8192);
  Place(4000, b.Build());
  Place(5000, File(41, 5, "later.txt", 3));
  bytes_.resize(16u << 20);
  Open();
  EXPECT_EQ(engine_.ClusterEstimate(), 1u);
  Sweep(engine_, image_);
  EXPECT_EQ(engine_.ClusterEstimate(), 8u);
  auto tree = ListTree(engine_);
  EXPECT_EQ(+tree["two.bin"].clusterSize, 4096u);
  EXPECT_EQ(+tree["later.txt"].clusterSize, 4096u);
}

TEST_F(RecordSearchOnBuiltArea, SweepSkipsFolderRecordsAndSystemRecords) {
  Place(1000, Dir(70, 5, "JustAFolder"));
  Place(1100, File(7, 5, "$Boot", 10));
  Place(1200, File(12, 5, "twelve.txt", 10));
  Open();
  Sweep(engine_, image_);
  engine_.FinishFolders();
  auto tree = ListTree(engine_);
  EXPECT_EQ(tree.size(), 1u);
  EXPECT_TRUE(tree.count("twelve.txt"));
}

TEST_F(RecordSearchOnBuiltArea, LaterWin32NameReplacesTheDosName) {
  RecordBuilder b(90, 0);
  b.FileName(5, "LONGFI~1.TXT", 4, 2).FileName(5, "long file name.txt", 4, 1).Resident(0x80, {1, 2, 3, 4});
  Place(600, b.Build());
  Open();
  Sweep(engine_, image_);
  auto tree = ListTree(engine_);
  EXPECT_TRUE(tree.count("long file name.txt"));
  EXPECT_EQ(tree.size(), 1u);
}

int32_t RejectEverything(const uint8_t*, size_t, std::string_view, const SectorDevice&, uint32_t, uint64_t) {
  return 0;
}

TEST_F(RecordSearchOnBuiltArea, ContentCheckMarksFilesThatDoNotFitTheirExtension) {
  Place(600, File(90, 5, "photo.jpg", 10));
  Place(700, File(91, 5, "blank.jpg", 0));
  Place(800, File(92, 5, "noext", 10));
  Open();
  engine_.SetContentChecker(&RejectEverything);
  Sweep(engine_, image_);
  std::map<std::string, uint32_t> check;
  for (uint32_t id = 1; id <= engine_.GetItemCount(); ++id) {
    FoundItem it;
    ASSERT_EQ(engine_.Log()->ReadItem(id, it), kOk);
    check[std::string(it.Name())] = +it.contentCheck;
  }
  EXPECT_EQ(check["photo.jpg"], 0u);
  EXPECT_EQ(check["blank.jpg"], 0u);
  EXPECT_EQ(check["noext"], 1u);
}

// The engine opened on a stretch of a disk reads nothing outside it: not a
// parent that the volume guess puts before the area, not data runs past its end.
TEST_F(RecordSearchOnBuiltArea, ReadsStayInsideTheAreaOfADisk) {
  const uint64_t start = 2048, count = 8192;  // 4 MiB: 8 sectors per cluster, volume start 2048
  bytes_.resize(16u << 20);
  Place(2548, File(600, 50, "child.txt", 10));
  Place(1448, Dir(50, 5, "BeforeTheArea"));  // where the guess puts folder 50: outside
  std::vector<uint8_t> inside(4096, 0x5A), outside(4096, 0xA5);
  // Cluster 100 (sector 2848) inside; cluster 1100 (sector 10848) past the end at 10240.
  Place(2848, inside);
  Place(10848, outside);
  RecordBuilder in(601, 0), out(602, 0);
  Place(2600, in.FileName(5, "inside.bin", 4096, 1).NonResident(0x80, {0x21, 0x01, 0x64, 0x00}, 4096).Build());
  Place(2700, out.FileName(5, "outside.bin", 4096, 1).NonResident(0x80, {0x21, 0x01, 0x4C, 0x04}, 4096).Build());
  test::WriteFile(image_, bytes_);

  test::LoopDisk loop;
  ASSERT_TRUE(loop.Attach(image_, false));
  uint32_t index = UINT32_MAX;
  auto disks = platform::ListWholeDisks();
  for (uint32_t i = 0; i < disks.size(); ++i)
    if (disks[i].devicePath == loop.device()) index = i;
  ASSERT_NE(index, UINT32_MAX) << loop.device() << " is not in the disk table";

  Engine engine;
  ASSERT_EQ(engine.OpenDisk(index, start, count, 0), kOk);
  EXPECT_EQ(engine.AreaStart(), start);
  EXPECT_EQ(engine.AreaSectors(), count);
  ASSERT_EQ(engine.OpenProLog(FreshLogName().c_str()), kOk);
  for (uint64_t s : {2548u, 2600u, 2700u}) {
    ASSERT_EQ(engine.HandleCandidateRecord(bytes_.data() + s * 512, 1024, s, Engine::CandidateMode::kSweep, 0), kOk);
  }
  EXPECT_EQ(engine.FinishFolders(), kOk);
  auto tree = ListTree(engine);
  EXPECT_TRUE(tree.count("LostFolder50/child.txt"));
  EXPECT_FALSE(tree.count("BeforeTheArea/"));
  ASSERT_TRUE(tree.count("inside.bin"));
  ASSERT_TRUE(tree.count("outside.bin"));
  EXPECT_EQ(+tree["inside.bin"].volumeStartSector, start);

  test::TempDir dest("ntfssearch-area");
  ASSERT_EQ(engine.RecoverItem(&tree["inside.bin"], dest / "inside.bin", 0), kOk);
  EXPECT_TRUE(test::ReadFile(dest / "inside.bin") == inside);
  EXPECT_NE(engine.RecoverItem(&tree["outside.bin"], dest / "outside.bin", 0), kOk);
  std::vector<uint8_t> got = test::ReadFile(dest / "outside.bin");
  EXPECT_EQ(std::count(got.begin(), got.end(), 0xA5), 0) << "bytes from past the area's end";
}

// On a disk of 4,096-byte sectors a record is one sector long and record n of
// a contiguous MFT lies n sectors after record 0.
TEST(RecordSearchLargeSectorTest, FourKibSectorsMakeOneSectorRecords) {
  ASSERT_TRUE(test::HaveTool("losetup")) << "losetup (util-linux) is needed";
  test::TempDir dir("ntfssearch-4k");
  const fs::path image = dir / "disk.img";
  std::vector<uint8_t> bytes(4096 * 2048, 0);  // 8 MiB
  auto place = [&](uint64_t sector, const std::vector<uint8_t>& rec) {
    ASSERT_LE((sector + 1) * 4096, bytes.size());
    std::memcpy(bytes.data() + sector * 4096, rec.data(), rec.size());
  };
  std::vector<uint8_t> value(3000, 'q');
  place(300, RecordBuilder(100, 0, 4096, 4096).FileName(50, "big record.txt", value.size(), 1)
                 .Resident(0x80, value).Build());
  place(250, RecordBuilder(50, kRecordInUse | kRecordDirectory, 4096, 4096).FileName(5, "Parent", 0, 1).Build());
  test::WriteFile(image, bytes);

  auto r = test::RunCommand("losetup --sector-size 4096 -f --show " + test::ShellQuote(image.string()));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const std::string device = r.output.substr(0, r.output.find('\n'));
  struct Detach {
    std::string device;
    ~Detach() { test::RunCommand("losetup -d " + device); }
  } detach{device};
  uint32_t index = UINT32_MAX;
  auto disks = platform::ListWholeDisks();
  for (uint32_t i = 0; i < disks.size(); ++i)
    if (disks[i].devicePath == device) index = i;
  ASSERT_NE(index, UINT32_MAX) << device << " is not in the disk table";

  Engine engine;
  ASSERT_EQ(engine.OpenDisk(index, 0, 2048, 0), kOk);
  EXPECT_EQ(engine.BytesPerSector(), 4096u);
  EXPECT_EQ(engine.RecordSize(), 4096u);
  ASSERT_EQ(engine.OpenProLog(FreshLogName().c_str()), kOk);
  ASSERT_EQ(engine.HandleCandidateRecord(bytes.data() + 300 * 4096, 4096, 300, Engine::CandidateMode::kSweep, 0), kOk);
  EXPECT_EQ(engine.FinishFolders(), kOk);
  auto tree = ListTree(engine);
  ASSERT_TRUE(tree.count("Parent/big record.txt"));
  EXPECT_EQ(+tree["Parent/"].entrySector, 250u);
  test::TempDir out("ntfssearch-4k-out");
  ASSERT_EQ(engine.RecoverItem(&tree["Parent/big record.txt"], out / "big.txt", 0), kOk);
  EXPECT_TRUE(test::ReadFile(out / "big.txt") == value);
}

TEST(RecordSearchSectorTest, CandidateTestFollowsTheSweepRecordSize) {
  struct Case {
    const char* what;
    uint32_t allocated;
    uint32_t inUse;
    bool usnMatches;
    uint16_t flags;
    Engine::SectorKind want;
  };
  const Case cases[] = {
      {"1 KiB record", 1024, 400, true, 1, Engine::SectorKind::kFileRecord},
      {"folder", 1024, 400, true, 3, Engine::SectorKind::kDirectoryRecord},
      {"4 KiB allocated", 4096, 400, true, 1, Engine::SectorKind::kNone},
      {"in use past the record", 1024, 1025, true, 1, Engine::SectorKind::kNone},
      {"sector end differs from the sequence number", 1024, 400, false, 1, Engine::SectorKind::kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordBuilder b(64, c.flags);
    b.Put32(0x1C, c.allocated);
    std::vector<uint8_t> rec = b.FileName(5, "x.txt").Build();
    std::memcpy(&rec[0x18], &c.inUse, 4);
    if (!c.usnMatches) rec[510] ^= 0xFF;
    EXPECT_EQ(Engine::ClassifySector(rec.data(), rec.size(), 512), c.want);
  }
  std::vector<uint8_t> zeros(512, 0);
  EXPECT_EQ(Engine::ClassifySector(zeros.data(), zeros.size(), 512), Engine::SectorKind::kNone);
  EXPECT_EQ(Engine::ClassifySector(nullptr, 0, 512), Engine::SectorKind::kNone);
  EXPECT_EQ(Engine::SweepRecordSize(512), 1024u);
  EXPECT_EQ(Engine::SweepRecordSize(4096), 4096u);
}

TEST(RecordSearchSectorTest, DefaultClusterSizeBySize) {
  const uint64_t mib = 2048;  // sectors of 512 bytes
  struct Case {
    uint64_t sectors;
    uint32_t bps;
    uint32_t want;
  };
  const Case cases[] = {
      {7 * mib, 512, 8},   {7 * mib + 2048, 512, 1}, {300 * mib, 512, 1},       {512 * mib, 512, 1},
      {513 * mib, 512, 2}, {1024 * mib, 512, 2},     {2048 * mib, 512, 4},      {2049 * mib, 512, 8},
      {56 * 256, 4096, 8}, {300 * 256, 4096, 1},     {UINT64_MAX / 2, 512, 8},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Engine::DefaultSectorsPerCluster(c.sectors, c.bps), c.want) << c.sectors << " x " << c.bps;
}

// ---- Damaged records ----

class RecordSearchDamageTest : public RecordSearchOnBuiltArea {};

TEST_F(RecordSearchDamageTest, DamagedRecordsProduceNothingAndNeverStopTheSearch) {
  Open();
  auto base = [] { return RecordBuilder(100, 0).FileName(5, "ok.txt", 3, 1).Resident(0x80, {1, 2, 3}).Build(); };
  auto put32 = [](std::vector<uint8_t> r, size_t at, uint32_t v) {
    std::memcpy(&r[at], &v, 4);
    return r;
  };
  auto put16 = [](std::vector<uint8_t> r, size_t at, uint16_t v) {
    std::memcpy(&r[at], &v, 2);
    return r;
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> record;
    int32_t want;
  };
  std::vector<Case> cases = {
      {"bytes in use past the record", put32(base(), 0x18, 0x7FFFFFFF), kErrInvalidParameter},
      {"first attribute past the record", put16(base(), 0x14, 0xFFF0), kErrInvalidParameter},
      {"first attribute past bytes in use", put16(base(), 0x14, 0x3F0), kErrInvalidParameter},
      {"first attribute at bytes in use", put32(base(), 0x18, 0x38), kOk},
      {"attribute length 0", put32(base(), 0x3C, 0), kOk},
      {"attribute length past the record", put32(base(), 0x3C, 0xFFF0), kOk},
      {"attribute length negative as u16", put32(base(), 0x3C, 0xFFFF), kOk},
      {"name longer than its attribute", put16(base(), 0x38 + 0x18 + 0x40, 0xFF), kOk},
      {"no signature", put32(base(), 0, 0x12345678), kErrNotMftRecord},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(engine_.HandleCandidateRecord(c.record.data(), c.record.size(), 1000, Engine::CandidateMode::kSweep, 0),
              c.want);
  }
  // A $MFT record whose data attribute is garbage registers a volume without runs.
  std::vector<uint8_t> mft = RecordBuilder(0, 1).FileName(5, "$MFT", 0, 3).NonResident(0x80, {0xFF, 1, 2}, 1 << 30)
                                 .Build();
  EXPECT_EQ(engine_.HandleCandidateRecord(mft.data(), mft.size(), 64, Engine::CandidateMode::kSweep, 0), kOk);
  EXPECT_EQ(engine_.VolumeCount(), 1u);
  // A file whose runs claim huge counts at wild clusters: listed, its cluster size not believed.
  RecordBuilder wild(101, 0);
  wild.FileName(5, "wild.bin", 1, 1).NonResident(0x80, {0x74, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4, 5, 6, 7}, 1ull << 62);
  std::vector<uint8_t> w = wild.Build();
  EXPECT_EQ(engine_.HandleCandidateRecord(w.data(), w.size(), 1100, Engine::CandidateMode::kSweep, 0), kOk);
  EXPECT_EQ(engine_.ClusterEstimate(), 8u);
  // Short input: padded, not read past.
  EXPECT_EQ(engine_.HandleCandidateRecord(w.data(), 8, 1100, Engine::CandidateMode::kSweep, 0), kOk);
  EXPECT_EQ(engine_.HandleCandidateRecord(nullptr, 0, 1100, Engine::CandidateMode::kSweep, 0), kErrInvalidParameter);

  // Whatever was listed can be recovered or refused without a crash.
  test::TempDir out("ntfssearch-damage");
  for (uint32_t id = 1; id <= engine_.GetItemCount(); ++id) {
    FoundItem it;
    ASSERT_EQ(engine_.Log()->ReadItem(id, it), kOk);
    engine_.RecoverItem(&it, out / ("r" + std::to_string(id)), 0);
  }
  EXPECT_EQ(engine_.FinishFolders(), kOk);
}

TEST_F(RecordSearchDamageTest, RandomRecordsNeverCrashOrHang) {
  Open();
  std::mt19937 rng(4242);
  std::vector<uint8_t> rec(1024);
  RecordBuilder b(300, 0);
  std::vector<uint8_t> good = b.FileName(200, "seed.txt", 100, 1).NonResident(0x80, {0x21, 0x04, 0x10, 0x00}, 16384)
                                  .Build();
  for (int i = 0; i < 20000; ++i) {
    rec = good;
    // Damage a handful of bytes anywhere, keeping the signature most of the time.
    int flips = 1 + static_cast<int>(rng() % 16);
    for (int f = 0; f < flips; ++f) rec[rng() % rec.size()] = static_cast<uint8_t>(rng());
    if (rng() % 8) std::memcpy(rec.data(), "FILE", 4);
    auto mode = rng() % 4 ? Engine::CandidateMode::kSweep : Engine::CandidateMode::kFolder;
    engine_.HandleCandidateRecord(rec.data(), rec.size(), rng() % 8000, mode, rng() % 3 ? 0 : rng());
  }
  EXPECT_EQ(engine_.FinishFolders(), kOk);
  EXPECT_GT(engine_.GetItemCount(), 0u);
}

TEST(RecordSearchSlotsTest, WithoutALogTheReadingOperationsAnswerEmpty) {
  Engine engine;
  std::vector<FoundItem> out;
  uint32_t count = 7;
  std::string path;
  FoundItem item{};
  EXPECT_EQ(engine.ReadFolder(nullptr, 1, out), kErrInvalidParameter);
  EXPECT_EQ(engine.ReadFolder(nullptr, 0, out), kOk);
  EXPECT_EQ(engine.CountFolderFiles(nullptr, 0, count), kOk);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(engine.GetItemCount(), 0u);
  EXPECT_EQ(engine.GetItemPath(&item, path), kErrInvalidParameter);
  EXPECT_EQ(engine.SearchItems("*.txt", out), 0);
  EXPECT_EQ(engine.SetSearchCallback(nullptr, nullptr), kErrInvalidParameter);
  EXPECT_EQ(engine.OpenLog(nullptr), kOk);
  EXPECT_EQ(engine.RecoverItem(nullptr, "/tmp/x", 0), kErrInvalidParameter);
  uint32_t size = 10;
  fs::path p;
  EXPECT_EQ(engine.PreviewItem(nullptr, p, nullptr, size, nullptr, nullptr), kErrInvalidParameter);
  EXPECT_EQ(engine.HandleCandidateRecord(nullptr, 0, 0, Engine::CandidateMode::kSweep, 0), kErrInvalidParameter);
  EXPECT_EQ(engine.OpenImage("/nonexistent/area.img", 0) != kOk, true);
}

}  // namespace
}  // namespace nuvarin
