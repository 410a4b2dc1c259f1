// Files written by real tools, laid out at sector boundaries in a raw image
// with gaps of zeros and of random bytes, carved by the sweep harness and
// recovered through RecoverItem: each carved file must equal its source, or
// (where the rule runs on to a stop sector) start with it.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "signature/carve_harness.h"
#include "signature/carve_state.h"
#include "signature/file_type_recovery.h"
#include "storage/scan_log_index.h"
#include "tests/signature/carve_test_util.h"

namespace nuvarin {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

enum class Expect { kExact, kPrefix };

struct Sample {
  const char* file;
  const char* extension;  // of the carved name
  Expect expect;
  int gapAfter;  // 0 none, 1 zeros, 2 random bytes
};

// Order matters where noted: the TIFF runs on to the PNG right behind it.
const Sample kSamples[] = {
    {"plain.jpg", "jpg", Expect::kExact, 1},      {"exif.jpg", "jpg", Expect::kExact, 2},
    {"picture.tif", "tif", Expect::kPrefix, 0},   {"picture.png", "png", Expect::kExact, 2},
    {"picture.gif", "gif", Expect::kExact, 1},    {"picture.bmp", "bmp", Expect::kExact, 2},
    {"icon.ico", "ico", Expect::kExact, 1},       {"sound.mp3", "mp3", Expect::kExact, 1},
    {"sound.wav", "wav", Expect::kExact, 2},      {"clip.avi", "avi", Expect::kExact, 1},
    {"clip.mp4", "mp4", Expect::kPrefix, 2},      {"clip.mkv", "mkv", Expect::kPrefix, 1},
    {"clip.flv", "flv", Expect::kPrefix, 2},      {"clip.ts", "ts", Expect::kExact, 1},
    {"clip.wmv", "wmv", Expect::kExact, 2},       {"clip.mpg", "mpeg", Expect::kPrefix, 1},
    {"archive.zip", "zip", Expect::kExact, 2},    {"archive.7z", "7z", Expect::kExact, 1},
    {"numbers.gz", "gz", Expect::kPrefix, 2},     {"letter.docx", "docx", Expect::kExact, 1},
    {"sheet.xlsx", "xlsx", Expect::kExact, 2},    {"slides.pptx", "pptx", Expect::kExact, 1},
    {"document.pdf", "pdf", Expect::kExact, 2},   {"word.doc", "doc", Expect::kExact, 1},
    {"notes.db", "db", Expect::kPrefix, 2},       {"font.ttf", "ttf", Expect::kExact, 1},
};

class RealFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir("carve-real");
    auto made = test::RunCommand(test::FixtureScript("carve_make_samples.sh").string() + " " +
                                 test::ShellQuote((dir_->path() / "samples").string()));
    ASSERT_EQ(made.exitCode, 0) << made.output;
    // Build the image: 3 sectors of random bytes, then each file with its gap.
    std::mt19937 rng(2024);
    auto randomSectors = [&](size_t n) {
      Bytes b(512 * n);
      for (auto& x : b) x = uint8_t(rng());
      return b;
    };
    Bytes image = randomSectors(3);
    for (const Sample& s : kSamples) {
      Bytes data = test::ReadFile(dir_->path() / "samples" / s.file);
      ASSERT_FALSE(data.empty()) << s.file;
      starts_[s.file] = image.size() / 512;
      sources_[s.file] = data;
      test::Put(image, image.size(), test::PadToSectors(data));
      if (s.gapAfter == 1) test::Put(image, image.size(), Bytes(512 * 4, 0));
      if (s.gapAfter == 2) test::Put(image, image.size(), randomSectors(5));
    }
    test::Put(image, image.size(), Bytes(512 * 8, 0));
    imagePath_ = dir_->path() / "dense.img";
    test::WriteFile(imagePath_, image);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  static test::TempDir* dir_;
  static fs::path imagePath_;
  static std::map<std::string, uint64_t> starts_;
  static std::map<std::string, Bytes> sources_;
};

test::TempDir* RealFiles::dir_ = nullptr;
fs::path RealFiles::imagePath_;
std::map<std::string, uint64_t> RealFiles::starts_;
std::map<std::string, Bytes> RealFiles::sources_;

TEST_F(RealFiles, EveryFileIsCarvedAndRecoveredByteExact) {
  ScanLogIndex::Instance().NewScanFolder();
  CFileTypeRecovery engine;
  ASSERT_EQ(engine.OpenImage(imagePath_, 3), 0);
  engine.BeginScan();
  SweepStats stats;
  std::map<uint64_t, CarveHit> hits;
  ASSERT_EQ(SweepArea(engine, 0, engine.Device().sectorCount, stats,
                      [&](const CarveHit& hit, uint64_t sector) { hits[sector] = hit; }),
            0);
  std::vector<FoundItem> items;
  ASSERT_EQ(engine.ReadFolder(nullptr, 0, items), 0);
  std::map<std::string, FoundItem> byName;
  for (const FoundItem& item : items) byName[std::string(item.Name())] = item;

  for (const Sample& s : kSamples) {
    SCOPED_TRACE(s.file);
    const uint64_t start = starts_[s.file];
    const std::string name = std::to_string(start) + "." + s.extension;
    auto it = byName.find(name);
    ASSERT_NE(it, byName.end()) << "not carved as " << name;
    const FoundItem& item = it->second;
    EXPECT_EQ(item.sourceKind, kSourceSignature);
    EXPECT_EQ(item.driveLetter, 3);
    EXPECT_EQ(item.entrySector, start);
    EXPECT_EQ(item.clusterSize, kNoClusterSize);
    EXPECT_EQ(item.contentCheck, 1u);
    const Bytes& source = sources_[s.file];
    fs::path out = dir_->path() / "out" / name;
    ASSERT_EQ(engine.RecoverItem(&item, out, 0), 0);
    Bytes carved = test::ReadFile(out);
    ASSERT_EQ(carved.size(), item.size);
    if (s.expect == Expect::kExact) {
      EXPECT_EQ(carved.size(), source.size());
      EXPECT_TRUE(carved == source) << "content differs";
    } else {
      ASSERT_GE(carved.size(), source.size());
      EXPECT_TRUE(std::equal(source.begin(), source.end(), carved.begin())) << "source is not a prefix";
    }
  }
  // The TIFF runs on to the PNG that follows it directly, and not into it.
  EXPECT_EQ(byName[std::to_string(starts_["picture.tif"]) + ".tif"].size,
            (starts_["picture.png"] - starts_["picture.tif"]) * 512);
  EXPECT_EQ(stats.sectorsSwept, engine.Device().sectorCount);
}

}  // namespace
}  // namespace nuvarin
