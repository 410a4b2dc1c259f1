// The FAT directory search on volumes made by mkfs.fat and mtools: formatted
// again over their old contents, or lying at an offset inside a disk image
// without a partition table. Names, folders and bytes are checked against the
// files that were copied onto the volume.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "fat/dir_entry.h"
#include "fat/fat_directory_search.h"
#include "platform/error_codes.h"
#include "tests/fat/directory_search_support.h"
#include "storage/scan_log_index.h"
#include "tests/support/test_support.h"

namespace nuvarin {
namespace {

using test::CollectFiles;
using test::FoundFile;
using test::ReadFile;
using test::RunCommand;
using test::SweepImage;
using test::TempDir;
namespace fs = std::filesystem;

struct ManifestEntry {
  std::string path;  // "/Photos/2024/x.jpg"
  fs::path original;
};

std::vector<ManifestEntry> ReadManifest(const fs::path& file) {
  std::vector<ManifestEntry> out;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    size_t tab = line.find('\t');
    if (tab != std::string::npos) out.push_back({line.substr(0, tab), line.substr(tab + 1)});
  }
  return out;
}

// Path parts in lower case: a name with only a short entry comes back lower-cased.
std::vector<std::string> Split(std::string path) {
  std::transform(path.begin(), path.end(), path.begin(), [](unsigned char c) { return std::tolower(c); });
  std::vector<std::string> parts;
  std::stringstream ss(path);
  std::string part;
  while (std::getline(ss, part, '/')) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

struct Scanned {
  std::unique_ptr<TempDir> dir;
  fs::path image;
  std::vector<ManifestEntry> manifest;
  std::unique_ptr<CProfessionalFatRecovery> engine;
  std::vector<FoundFile> files;
  std::vector<FoundFile> folders;
};

// Builds the image of `kind`, sweeps it and reads the findings back.
void ScanKind(const std::string& kind, Scanned& s) {
  s.dir = std::make_unique<TempDir>("fatsearch");
  s.image = *s.dir / (kind + ".img");
  auto built = RunCommand("bash " + test::ShellQuote(test::FixtureScript("fatsearch_volumes.sh").string()) +
                          " " + kind + " " + test::ShellQuote(s.image.string()));
  ASSERT_EQ(built.exitCode, 0) << built.output;
  s.manifest = ReadManifest(s.image.string() + ".manifest");
  ASSERT_EQ(s.manifest.size(), kind == "fat16-live" ? 32u : 31u);
  s.engine = std::make_unique<CProfessionalFatRecovery>();
  ASSERT_EQ(s.engine->OpenImage(s.image, 3), 0);
  test::FreshLogFolder();  // a log of its own for every scan
  ASSERT_EQ(s.engine->OpenProLog(nullptr), 0);
  ASSERT_EQ(s.engine->PrepareSweep(), 0);
  SweepImage(*s.engine, s.image);
  ASSERT_EQ(s.engine->FinishFolders(), 0);
  CollectFiles(*s.engine, nullptr, 0, "", s.files, &s.folders);
}

// Recovers the item to a file and compares it with the original.
void ExpectRecoveredBytes(CProfessionalFatRecovery& engine, const FoundFile& found, const fs::path& original,
                          const fs::path& outFolder) {
  fs::path out = outFolder / SafeComponentName(found.item.Name());
  ASSERT_EQ(engine.RecoverItem(&found.item, out, 0), 0) << found.path;
  std::vector<uint8_t> want = ReadFile(original);
  std::vector<uint8_t> got = ReadFile(out);
  EXPECT_EQ(got.size(), want.size()) << found.path;
  EXPECT_TRUE(got == want) << found.path << ": recovered bytes differ";
}

bool IsLostFolder(const std::string& name) {
  return name.rfind("lostfolder", 0) == 0;
}

// Every file comes back once, with its bytes. Folders keep their names and
// places, with two exceptions that follow from what survives on disk: a top
// folder whose entry lay in a root that a new format cleared is
// "LostFolder<cluster>", and the entries in a later cluster of a directory
// (whose cluster chain only the lost FAT knew) sit in a "LostFolder" of that
// cluster in the root. `topNamesLost`: the first exception must apply.
void CheckFindings(Scanned& s, bool topNamesLost) {
  EXPECT_EQ(s.files.size(), s.manifest.size());
  std::map<std::string, std::string> lostToOriginal;
  fs::path out = *s.dir / "out";
  fs::create_directories(out);
  for (const ManifestEntry& want : s.manifest) {
    std::vector<std::string> parts = Split(want.path);
    ASSERT_GE(parts.size(), 1u);
    std::vector<const FoundFile*> matches;
    for (const FoundFile& f : s.files) {
      if (Split(f.path).back() == parts.back()) matches.push_back(&f);
    }
    ASSERT_EQ(matches.size(), 1u) << want.path;
    const FoundFile& f = *matches[0];
    std::vector<std::string> got = Split(f.path);
    const bool continuation =
        got.size() == 2 && IsLostFolder(got[0]) && parts.size() == 2 && parts[0] == "music";
    if (parts.size() == 1) {
      EXPECT_EQ(got, parts) << f.path;
    } else if (!continuation) {
      ASSERT_EQ(got.size(), parts.size()) << f.path;
      EXPECT_TRUE(std::equal(parts.begin() + 1, parts.end(), got.begin() + 1)) << f.path;
      if (topNamesLost) {
        EXPECT_TRUE(IsLostFolder(got[0])) << f.path;
      } else {
        EXPECT_EQ(got[0], parts[0]) << f.path;
      }
    }
    if (IsLostFolder(got[0])) {
      auto [it, fresh] = lostToOriginal.emplace(got[0], parts[0]);
      EXPECT_EQ(it->second, parts[0]) << got[0] << " holds files of two folders";
      std::string lost = f.path.substr(0, f.path.find('/'));
      auto folder = std::find_if(s.folders.begin(), s.folders.end(),
                                 [&](const FoundFile& d) { return d.path == lost; });
      ASSERT_NE(folder, s.folders.end());
      EXPECT_EQ(lost, "LostFolder" + std::to_string(folder->item.objectId));
      EXPECT_EQ(folder->item.clusterSize, kNoClusterSize);
    }
    std::string folderPath;
    ASSERT_EQ(s.engine->GetItemPath(&f.item, folderPath), 0);
    EXPECT_EQ(folderPath + std::string(f.item.Name()), f.path);
    EXPECT_EQ(f.item.sourceKind, kSourceFatDirectorySearch);
    EXPECT_EQ(f.item.contentCheck, 1u) << f.path;
    ExpectRecoveredBytes(*s.engine, f, want.original, out);
  }
}

TEST(FatDirectorySearchVolumes, Fat32FormattedAgainKeepsNamesFoldersAndBytes) {
  Scanned s;
  ASSERT_NO_FATAL_FAILURE(ScanKind("fat32-reformat", s));
  // The new boot sector has the old geometry: its layout places everything.
  ASSERT_FALSE(s.engine->Layouts().empty());
  EXPECT_EQ(s.engine->Layouts()[0].sectorsPerCluster, 1u);
  EXPECT_EQ(s.engine->RootCluster(), 2u);
  CheckFindings(s, true);
}

TEST(FatDirectorySearchVolumes, Fat16FormattedWithOtherClustersInfersTheOldLayout) {
  Scanned s;
  ASSERT_NO_FATAL_FAILURE(ScanKind("fat16-reformat", s));
  const auto& layouts = s.engine->Layouts();
  // The boot layout says 16 sectors per cluster; the old directories show 4.
  ASSERT_GE(layouts.size(), 2u);
  EXPECT_EQ(layouts[0].sectorsPerCluster, 16u);
  EXPECT_TRUE(std::any_of(layouts.begin() + 1, layouts.end(),
                          [](const FatLayout& l) { return l.sectorsPerCluster == 4; }));
  // The old root area lies in the new data area and survives: folder names too.
  CheckFindings(s, false);
}

TEST(FatDirectorySearchVolumes, Fat16FormattedWithSmallerClustersKeepsTheOldLayout) {
  Scanned s;
  ASSERT_NO_FATAL_FAILURE(ScanKind("fat16-reclustered", s));
  const auto& layouts = s.engine->Layouts();
  ASSERT_GE(layouts.size(), 2u);
  EXPECT_EQ(layouts[0].sectorsPerCluster, 2u);
  // Every old cluster start is also a cluster start of the new boot layout;
  // the old directories, their files and their data keep the old one.
  CheckFindings(s, true);
  for (const FoundFile& f : s.files) EXPECT_EQ(f.item.clusterSize, 4u * 512) << f.path;
}

TEST(FatDirectorySearchVolumes, LiveFat16VolumeWithItsRootArea) {
  Scanned s;
  ASSERT_NO_FATAL_FAILURE(ScanKind("fat16-live", s));
  ASSERT_FALSE(s.engine->Layouts().empty());
  EXPECT_EQ(s.engine->Layouts()[0].sectorsPerCluster, 4u);
  EXPECT_EQ(s.engine->RootCluster(), 0u);
  // The root area before the data area holds the top folders and one file.
  CheckFindings(s, false);
  auto readme = std::find_if(s.files.begin(), s.files.end(),
                             [](const FoundFile& f) { return f.path == "Readme first.txt"; });
  ASSERT_NE(readme, s.files.end());
  EXPECT_EQ(readme->item.entrySector, s.engine->Layouts()[0].dataStart - 32u);
}

TEST(FatDirectorySearchVolumes, VolumeAtAnOffsetOfARawDiskComesBackWhole) {
  Scanned s;
  ASSERT_NO_FATAL_FAILURE(ScanKind("raw-offset", s));
  // No boot sector at the area start: the layout comes from anchors alone.
  ASSERT_FALSE(s.engine->Layouts().empty());
  const FatLayout& l = s.engine->Layouts()[0];
  EXPECT_EQ(l.sectorsPerCluster, 2u);
  EXPECT_GT(l.volumeStart + l.dataStart, 6144u);
  CheckFindings(s, false);
}

// A scan stopped in the middle and continued on its reopened log: every file
// is listed once, and no folder gets a second record.
TEST(FatDirectorySearchVolumes, ContinuingOnAReopenedLogListsEverythingOnce) {
  TempDir dir("fatsearch");
  fs::path image = dir / "raw.img";
  auto built = RunCommand("bash " + test::ShellQuote(test::FixtureScript("fatsearch_volumes.sh").string()) +
                          " raw-offset " + test::ShellQuote(image.string()));
  ASSERT_EQ(built.exitCode, 0) << built.output;
  std::vector<ManifestEntry> manifest = ReadManifest(image.string() + ".manifest");
  // Stop before the third subdirectory start ("Summer Holiday"): the first part
  // writes "Photos" and "2024", which the files of the second part need again.
  std::vector<uint8_t> bytes = ReadFile(image);
  uint64_t stop = 0;
  for (uint64_t s = 0, seen = 0; s + 1 <= bytes.size() / 512 && stop == 0; ++s) {
    if (IsDotPair(bytes.data() + s * 512, 512) && ++seen == 3) stop = s;
  }
  ASSERT_NE(stop, 0u);
  test::FreshLogFolder();
  std::string logName = "Pro_Fat_resume_test";
  {
    CProfessionalFatRecovery first;
    ASSERT_EQ(first.OpenImage(image, 0), 0);
    ASSERT_EQ(first.OpenProLog(logName.c_str()), 0);
    ASSERT_EQ(first.PrepareSweep(), 0);
    SweepImage(first, image, 0, stop);
    ASSERT_EQ(first.FinishFolders(), 0);
  }
  CProfessionalFatRecovery second;
  ASSERT_EQ(second.OpenImage(image, 0), 0);
  ASSERT_EQ(second.OpenProLog(logName.c_str()), 0);
  ASSERT_EQ(second.PrepareSweep(), 0);
  SweepImage(second, image, stop);
  ASSERT_EQ(second.FinishFolders(), 0);

  std::vector<FoundFile> files, folders;
  CollectFiles(second, nullptr, 0, "", files, &folders);
  EXPECT_EQ(files.size(), manifest.size());
  for (const ManifestEntry& want : manifest) {
    std::string name = Split(want.path).back();
    EXPECT_EQ(std::count_if(files.begin(), files.end(),
                            [&](const FoundFile& f) { return Split(f.path).back() == name; }),
              1)
        << want.path;
  }
  std::map<uint32_t, int> folderRecords;
  for (const FoundFile& f : folders) ++folderRecords[f.item.objectId];
  for (const auto& [cluster, count] : folderRecords) EXPECT_EQ(count, 1) << "folder cluster " << cluster;
}

TEST(FatDirectorySearchVolumes, RecoveringAFolderWritesItsWholeTree) {
  Scanned s;
  ASSERT_NO_FATAL_FAILURE(ScanKind("raw-offset", s));
  auto photos =
      std::find_if(s.folders.begin(), s.folders.end(), [](const FoundFile& f) { return f.path == "Photos"; });
  ASSERT_NE(photos, s.folders.end());
  fs::path out = *s.dir / "tree";
  fs::create_directories(out);
  const std::string outText = out.string();
  uint32_t baseDepth = static_cast<uint32_t>(std::count(outText.begin(), outText.end(), '/'));
  ASSERT_EQ(s.engine->RecoverItem(&photos->item, out / "Photos", baseDepth), 0);
  size_t compared = 0;
  for (const ManifestEntry& want : s.manifest) {
    if (want.path.rfind("/Photos/", 0) != 0) continue;
    fs::path got = out.string() + want.path;
    ASSERT_TRUE(fs::exists(got)) << got;
    EXPECT_TRUE(ReadFile(got) == ReadFile(want.original)) << got;
    ++compared;
  }
  EXPECT_EQ(compared, 4u);
  uint32_t count = 0;
  ASSERT_EQ(s.engine->CountFolderFiles(&photos->item, 1, count), 0);
  EXPECT_EQ(count, 4u);
}

TEST(FatDirectorySearchVolumes, PreviewCopiesTheFirstBytesIntoTheBuffer) {
  Scanned s;
  ASSERT_NO_FATAL_FAILURE(ScanKind("raw-offset", s));
  auto blob = std::find_if(s.files.begin(), s.files.end(),
                           [](const FoundFile& f) { return f.item.Name() == "blob.bin"; });
  ASSERT_NE(blob, s.files.end());
  std::vector<uint8_t> want = ReadFile(s.image.string() + ".originals/Documents/Tax Papers/BLOB.BIN");
  std::vector<uint8_t> buffer(5000);
  uint32_t size = static_cast<uint32_t>(buffer.size());
  fs::path target;
  ASSERT_EQ(s.engine->PreviewItem(&blob->item, target, buffer.data(), size, nullptr, nullptr), 0);
  EXPECT_TRUE(target.empty());
  ASSERT_EQ(size, 5000u);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), want.begin()));
}

}  // namespace
}  // namespace nuvarin
