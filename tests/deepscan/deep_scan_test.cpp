// The deep scan end to end on areas made by real tools: a raw area of real
// files, a FAT32 volume formatted again, an NTFS volume quick-formatted again;
// duplicates between the searches and carving, progress, cancel and resume.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "deepscan/professional_recovery.h"
#include "storage/engine_factory.h"
#include "storage/file_type_groups.h"
#include "storage/scan_log_index.h"
#include "tests/support/test_support.h"

namespace nuvarin {
namespace {

namespace fs = std::filesystem;
using test::RunCommand;
using test::ShellQuote;

// Real files and the images made from them, built once for the whole program.
class DeepScanFixtures : public ::testing::Environment {
 public:
  static inline fs::path root;
  void SetUp() override {
    root = fs::temp_directory_path() / ("nuvarin-deepscan-" + std::to_string(::getpid()));
    fs::create_directories(root);
    auto script = [](const std::string& name) { return ShellQuote(test::FixtureScript(name).string()); };
    std::string src = ShellQuote((root / "src").string());
    auto r = RunCommand(script("deepscan_make_sources.sh") + " " + src + " && " + script("deepscan_make_raw.sh") +
                        " " + src + " " + ShellQuote((root / "raw.img").string()) + " " +
                        ShellQuote((root / "raw.manifest").string()) + " && " +
                        script("deepscan_make_fat32_reformatted.sh") + " " + src + " " +
                        ShellQuote((root / "fat32.img").string()) + " && " +
                        script("deepscan_make_ntfs_reformatted.sh") + " " + src + " " +
                        ShellQuote((root / "ntfs.img").string()) + " && " + script("deepscan_make_wiped_disk.sh") +
                        " " + src + " " + ShellQuote((root / "disk.img").string()) + " && " +
                        script("deepscan_make_ntfs_reformatted.sh") + " " + src + " " +
                        ShellQuote((root / "ntfs-as-fat32.img").string()) + " keep && mkfs.fat -F 32 " +
                        ShellQuote((root / "ntfs-as-fat32.img").string()) + " >/dev/null && truncate -s 32M " +
                        ShellQuote((root / "ext4.img").string()) + " && mkfs.ext4 -q -F " +
                        ShellQuote((root / "ext4.img").string()) + " && debugfs -w -R " +
                        ShellQuote("write \"" + (root / "src/photos/Harbour at dawn.jpg").string() + "\" harbour.jpg") +
                        " " + ShellQuote((root / "ext4.img").string()) + " >/dev/null 2>&1");
    ASSERT_EQ(r.exitCode, 0) << r.output;
  }
  void TearDown() override { fs::remove_all(root); }
};

const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new DeepScanFixtures);

struct Progress {
  std::vector<int32_t> shown;  // percent x weight / 100, as a job shows it
  uint64_t cancelAtDone = 0;   // 0: never
  uint64_t lastFound = 0;
  static int32_t Callback(void* ctx, int32_t percent, int32_t weight, int32_t, uint64_t done, uint64_t total,
                          uint64_t found, uint32_t) {
    auto* self = static_cast<Progress*>(ctx);
    self->shown.push_back(static_cast<int32_t>(static_cast<int64_t>(percent) * weight / 100));
    self->lastFound = found;
    if (self->cancelAtDone && total && done >= self->cancelAtDone) return kCancelCode;
    return 0;
  }
};

struct ScanOutcome {
  std::unique_ptr<IFileRecoveryParse> engine;
  int32_t result = 0;
  std::vector<FoundItem> files;
};

ScanOutcome DeepScan(const fs::path& image, Progress* progress = nullptr, bool fresh = true) {
  ScanOutcome out;
  out.engine = CreateEngineForImage(image, 1, true);
  if (!out.engine) return out;
  auto* resumable = dynamic_cast<IResumableScan*>(out.engine.get());
  if (fresh && resumable && resumable->Resuming()) {
    fs::path previous = resumable->PreviousScanFolder();
    resumable->ClearResuming();
    ScanLogIndex::Instance().RemoveEntry(previous);
  }
  out.engine->SetProgressCallback(progress ? &Progress::Callback : nullptr, nullptr, progress, 100);
  out.result = out.engine->OpenLog(nullptr);
  out.engine->SearchItems(PatternForGroups({FileGroup::kPhoto, FileGroup::kAudio, FileGroup::kVideo,
                                            FileGroup::kDocument, FileGroup::kArchive, FileGroup::kOthers}),
                          out.files);
  return out;
}

std::vector<uint8_t> Recover(IFileRecoveryParse& engine, const FoundItem& item, const fs::path& dir) {
  fs::path dest = dir / (std::to_string(item.itemId) + "-" + std::to_string(item.sourceKind));
  EXPECT_EQ(engine.RecoverItem(&item, dest, 0), 0) << item.name;
  return test::ReadFile(dest);
}

const FoundItem* FindByName(const std::vector<FoundItem>& files, const std::string& name) {
  for (const FoundItem& f : files) {
    if (f.Name() == name) return &f;
  }
  return nullptr;
}

fs::path Source(const std::string& rel) { return DeepScanFixtures::root / "src" / rel; }

bool StartsWith(const std::vector<uint8_t>& whole, const std::vector<uint8_t>& prefix) {
  return whole.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

TEST(DeepScan, RawAreaCarvesEveryFileAtItsSector) {
  std::ifstream manifest(DeepScanFixtures::root / "raw.manifest");
  std::map<uint64_t, fs::path> expected;
  std::string line;
  while (std::getline(manifest, line)) {
    auto tab = line.find('\t');
    expected[std::stoull(line.substr(0, tab))] = line.substr(tab + 1);
  }
  ASSERT_EQ(expected.size(), 5u);
  Progress progress;
  ScanOutcome scan = DeepScan(DeepScanFixtures::root / "raw.img", &progress);
  ASSERT_NE(scan.engine, nullptr);
  EXPECT_EQ(scan.result, 0);
  test::TempDir out("nuvarin-deep-raw");
  for (const auto& [sector, source] : expected) {
    SCOPED_TRACE(source.string());
    const FoundItem* hit = nullptr;
    for (const FoundItem& f : scan.files) {
      if (f.sourceKind == kSourceSignature && f.entrySector == sector) hit = &f;
    }
    ASSERT_NE(hit, nullptr);
    EXPECT_TRUE(StartsWith(Recover(*scan.engine, *hit, out.path()), test::ReadFile(source)));
  }
  // No file system here, so no fast phase: the bar never shows less than 9 %
  // and ends at 100 %.
  ASSERT_FALSE(progress.shown.empty());
  EXPECT_GE(*std::min_element(progress.shown.begin(), progress.shown.end()), 9);
  EXPECT_EQ(progress.shown.back(), 100);
}

struct VolumeCase {
  const char* image;
  uint32_t searchKind;
  // FAT keeps the names of top-level folders in the root directory, which a
  // format clears: those folders come back as "LostFolder<cluster>". NTFS keeps
  // every folder's name in its own MFT record.
  bool topLevelNamesSurvive;
};

class ReformattedVolume : public ::testing::TestWithParam<VolumeCase> {};

TEST_P(ReformattedVolume, FilesComeBackWithNamesFoldersAndBytes) {
  ScanOutcome scan = DeepScan(DeepScanFixtures::root / GetParam().image);
  ASSERT_NE(scan.engine, nullptr);
  EXPECT_EQ(scan.result, 0);
  test::TempDir out("nuvarin-deep-vol");
  const std::pair<const char*, const char*> kFiles[] = {
      {"Harbour at dawn.jpg", "photos/Harbour at dawn.jpg"}, {"Garden path.jpg", "photos/Garden path.jpg"},
      {"Tiles.png", "photos/Tiles.png"},                     {"Annual summary.pdf", "docs/Annual summary.pdf"},
      {"Travel diary.txt", "docs/Travel diary.txt"},         {"Old notes.txt", "docs/old/Old notes.txt"},
      {"Tone A.wav", "music/Tone A.wav"}};
  const std::map<std::string, std::string> kFolders = {
      {"Harbour at dawn.jpg", "Photos/"}, {"Old notes.txt", "Documents/Old Notes/"}, {"Tone A.wav", "Music/"}};
  for (const auto& [name, rel] : kFiles) {
    SCOPED_TRACE(name);
    const FoundItem* f = FindByName(scan.files, name);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->sourceKind, GetParam().searchKind);
    EXPECT_EQ(Recover(*scan.engine, *f, out.path()), test::ReadFile(Source(rel)));
    auto folder = kFolders.find(name);
    if (folder != kFolders.end()) {
      std::string path;
      EXPECT_EQ(scan.engine->GetItemPath(f, path), 0);
      if (GetParam().topLevelNamesSurvive) {
        EXPECT_EQ(path, folder->second);
      } else {
        // The first component is lost; what lies below it keeps its names.
        std::string expected = folder->second.substr(folder->second.find('/') + 1);
        EXPECT_EQ(path.rfind("LostFolder", 0), 0u) << path;
        EXPECT_TRUE(path.ends_with("/" + expected)) << path;
      }
    }
  }
  // Files the search found by name are not listed a second time as carved files.
  size_t carvedJpegs = 0;
  for (const FoundItem& f : scan.files) carvedJpegs += f.sourceKind == kSourceSignature && f.Name().ends_with(".jpg");
  EXPECT_EQ(carvedJpegs, 0u);
}

INSTANTIATE_TEST_SUITE_P(Images, ReformattedVolume,
                         ::testing::Values(VolumeCase{"fat32.img", kSourceFatDirectorySearch, false},
                                           VolumeCase{"ntfs.img", kSourceNtfsRecordSearch, true}),
                         [](const auto& info) { return std::string(info.param.image).substr(0, 4); });

// A whole disk whose partition table was wiped: no boot sector at its start,
// so the whole disk is swept, and both volumes come back with their folders.
TEST(DeepScan, WipedPartitionTableGivesBackBothVolumes) {
  ScanOutcome scan = DeepScan(DeepScanFixtures::root / "disk.img");
  ASSERT_NE(scan.engine, nullptr);
  EXPECT_EQ(scan.result, 0);
  struct Expect {
    const char* folder;
    const char* name;
    uint32_t kind;
    const char* source;
  };
  const Expect kExpected[] = {
      {"Photos/", "Harbour at dawn.jpg", kSourceNtfsRecordSearch, "photos/Harbour at dawn.jpg"},
      {"Documents/Old Notes/", "Old notes.txt", kSourceNtfsRecordSearch, "docs/old/Old notes.txt"},
      {"Pictures/Trip/", "Garden path.jpg", kSourceFatDirectorySearch, "photos/Garden path.jpg"},
      {"Pictures/", "Travel diary.txt", kSourceFatDirectorySearch, "docs/Travel diary.txt"},
  };
  test::TempDir out("nuvarin-deep-disk");
  for (const Expect& e : kExpected) {
    SCOPED_TRACE(e.name);
    const FoundItem* hit = nullptr;
    for (const FoundItem& f : scan.files) {
      std::string path;
      scan.engine->GetItemPath(&f, path);
      if (f.Name() == e.name && f.sourceKind == e.kind && path == e.folder) hit = &f;
    }
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(Recover(*scan.engine, *hit, out.path()), test::ReadFile(Source(e.source)));
  }
}

// Files whose metadata is gone come back by their signatures, byte for byte.
void ExpectCarved(const ScanOutcome& scan, const std::vector<std::string>& sources) {
  test::TempDir out("nuvarin-deep-carved");
  std::vector<std::vector<uint8_t>> carved;
  for (const FoundItem& f : scan.files) {
    if (f.sourceKind == kSourceSignature) carved.push_back(Recover(*scan.engine, f, out.path()));
  }
  for (const std::string& rel : sources) {
    SCOPED_TRACE(rel);
    const std::vector<uint8_t> original = test::ReadFile(Source(rel));
    EXPECT_TRUE(std::any_of(carved.begin(), carved.end(),
                            [&](const std::vector<uint8_t>& c) { return StartsWith(c, original); }));
  }
}

// mkfs.fat over an NTFS volume overwrites the MFT with its FATs: no record
// survives, so the files come back by carving.
TEST(DeepScan, NtfsFormattedAsFat32GivesBackCarvedFiles) {
  ScanOutcome scan = DeepScan(DeepScanFixtures::root / "ntfs-as-fat32.img");
  ASSERT_NE(scan.engine, nullptr);
  EXPECT_EQ(scan.result, 0);
  ExpectCarved(scan, {"photos/Harbour at dawn.jpg", "photos/Garden path.jpg", "docs/Annual summary.pdf",
                      "music/Tone A.wav"});
}

// The ext engine hands out no free extents: the whole area is swept.
TEST(DeepScan, Ext4AreaIsSweptWhole) {
  ScanOutcome scan = DeepScan(DeepScanFixtures::root / "ext4.img");
  auto* composite = dynamic_cast<CProfessionalRecovery*>(scan.engine.get());
  ASSERT_NE(composite, nullptr);
  EXPECT_EQ(scan.result, 0);
  EXPECT_FALSE(composite->LastSweep().freeSpaceMode);
  EXPECT_EQ(composite->LastSweep().sectorsTotal, 32u * 2048);
  ExpectCarved(scan, {"photos/Harbour at dawn.jpg"});
}

std::set<std::string> Names(const std::vector<FoundItem>& files) {
  std::set<std::string> names;
  for (const FoundItem& f : files) names.insert(std::string(f.Name()));
  return names;
}

TEST(DeepScan, CancelledScanContinuesWhereItStopped) {
  const fs::path image = DeepScanFixtures::root / "fat32.img";
  Progress fullProgress;
  ScanOutcome full = DeepScan(image, &fullProgress);
  ASSERT_EQ(full.result, 0);
  // A FAT volume: 0-9 % in the fast scan, 9-99 % in the sweep, then 100 %.
  ASSERT_GE(fullProgress.shown.size(), 3u);
  EXPECT_TRUE(std::is_sorted(fullProgress.shown.begin(), fullProgress.shown.end()));
  EXPECT_LE(fullProgress.shown.front(), 9);
  EXPECT_NE(std::find(fullProgress.shown.begin(), fullProgress.shown.end(), 9), fullProgress.shown.end());
  EXPECT_LE(fullProgress.shown[fullProgress.shown.size() - 2], 99);
  EXPECT_EQ(fullProgress.shown.back(), 100);

  Progress stop;
  stop.cancelAtDone = 40000;  // about a third of the 64 MiB area
  ScanOutcome first = DeepScan(image, &stop);
  EXPECT_EQ(first.result, kCancelCode);
  first.engine.reset();

  Progress rest;
  ScanOutcome second = DeepScan(image, &rest, /*fresh=*/false);
  auto* composite = dynamic_cast<CProfessionalRecovery*>(second.engine.get());
  ASSERT_NE(composite, nullptr);
  EXPECT_TRUE(composite->LastSweep().resumed);
  EXPECT_EQ(second.result, 0);
  EXPECT_LT(composite->LastSweep().bytesRead, composite->LastSweep().sectorsTotal * 512);
  EXPECT_EQ(Names(second.files), Names(full.files));
}

// A cancel while a file is being sized, with an earlier file of the same
// buffer already logged: the continued scan starts at the cancelled file and
// logs every file once.
TEST(DeepScan, CancelWhileSizingResumesAtThatFile) {
  const fs::path image = DeepScanFixtures::root / "two-files.img";
  auto r = RunCommand("cd " + ShellQuote(DeepScanFixtures::root.string()) + " && " +
                      "{ cat src/photos/Tiles.png; head -c $((8 * 512 - $(stat -c %s src/photos/Tiles.png))) /dev/zero; "
                      "cat 'src/photos/Harbour at dawn.jpg'; head -c 3145728 /dev/urandom; } > two-files.img");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  struct CancelInFirstBuffer {
    static int32_t Callback(void*, int32_t, int32_t, int32_t, uint64_t done, uint64_t total, uint64_t, uint32_t) {
      // The sweep reports after whole buffers of 128 sectors; the carver, while
      // it sizes a file, reports the file's first sector plus what it has
      // read: the first report off the buffer grid comes from the JPEG at 8.
      return (total && done % 128 != 0) ? kCancelCode : 0;
    }
  };
  {
    auto engine = CreateEngineForImage(image, 1, true);
    ASSERT_NE(engine, nullptr);
    auto* resumable = dynamic_cast<IResumableScan*>(engine.get());
    if (resumable->Resuming()) {
      ScanLogIndex::Instance().RemoveEntry(resumable->PreviousScanFolder());
      resumable->ClearResuming();
    }
    engine->SetProgressCallback(&CancelInFirstBuffer::Callback, nullptr, nullptr, 100);
    ASSERT_EQ(engine->OpenLog(nullptr), kCancelCode);
  }
  ScanOutcome second = DeepScan(image, nullptr, /*fresh=*/false);
  EXPECT_EQ(second.result, 0);
  std::map<uint64_t, int> bySector;
  for (const FoundItem& f : second.files) ++bySector[f.entrySector];
  EXPECT_EQ(bySector[0], 1);  // the PNG, logged before the cancel, once
  EXPECT_EQ(bySector[8], 1);  // the JPEG, sized again after the cancel, once
}

TEST(DeepScan, UnreadableImageGivesNoEngine) {
  EXPECT_EQ(CreateEngineForImage(DeepScanFixtures::root / "missing.img", 1, true), nullptr);
}

}  // namespace
}  // namespace nuvarin
