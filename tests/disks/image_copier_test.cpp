// The image copier on an image-file source: exact copies of an area, the
// stop at an unreadable chunk, the bad-sector map of --skip-bad, progress,
// cancel and destinations that must never be written.
#include "disks/image_copier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "platform/error_codes.h"
#include "platform/file_io.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace nuvarin;

namespace {

constexpr uint64_t kSourceSectors = 1000;

struct Faults {
  std::vector<std::pair<uint64_t, uint64_t>> sectorRanges;  // first sector, count
};

void InstallFaults(platform::FileHandle h, void* context) {
  auto* f = static_cast<Faults*>(context);
  std::vector<std::pair<uint64_t, uint64_t>> bytes;
  for (auto [first, count] : f->sectorRanges) bytes.emplace_back(first * 512, count * 512);
  platform::SetReadFaults(h, bytes);
}

struct Progress {
  std::vector<int32_t> percents;
  uint64_t lastDone = 0, lastTotal = 0;
  int32_t firstEta = 0;
  int cancelAfter = -1;
};

int32_t OnProgress(void* context, int32_t percent, uint64_t done, uint64_t total, int32_t eta) {
  auto* p = static_cast<Progress*>(context);
  if (p->percents.empty()) p->firstEta = eta;
  p->percents.push_back(percent);
  p->lastDone = done;
  p->lastTotal = total;
  if (p->cancelAfter >= 0 && static_cast<int>(p->percents.size()) > p->cancelAfter) return kCancelCode;
  return 0;
}

class ImageCopierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source_.resize(kSourceSectors * 512);
    std::mt19937 rng(7);
    for (auto& b : source_) b = static_cast<uint8_t>(rng());
    sourcePath_ = dir_ / "source.img";
    test::WriteFile(sourcePath_, source_);
    imagePath_ = dir_ / "copy.img";
  }
  std::vector<uint8_t> Slice(uint64_t first, uint64_t count) const {
    return {source_.begin() + first * 512, source_.begin() + (first + count) * 512};
  }
  static std::string Text(const fs::path& p) {
    auto bytes = test::ReadFile(p);
    return std::string(bytes.begin(), bytes.end());
  }
  // Data lines of a map file: "first count".
  static std::vector<std::pair<uint64_t, uint64_t>> MapLines(const fs::path& p) {
    std::vector<std::pair<uint64_t, uint64_t>> out;
    std::istringstream in(Text(p));
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream f(line);
      uint64_t a = 0, b = 0;
      f >> a >> b;
      out.emplace_back(a, b);
    }
    return out;
  }

  test::TempDir dir_{"disks-image"};
  std::vector<uint8_t> source_;
  fs::path sourcePath_, imagePath_;
};

TEST_F(ImageCopierTest, CopiesExactlyTheAreaAndReportsProgress) {
  ImageCopier c;
  Progress p;
  c.callback = &OnProgress;
  // A longer file of the same name must not keep its tail.
  test::WriteFile(imagePath_, std::vector<uint8_t>(900 * 512, 0xEE));
  ASSERT_EQ(CreateImageFromPath(c, sourcePath_, 200, 300, imagePath_, &p), kOk);
  EXPECT_EQ(test::ReadFile(imagePath_), Slice(200, 300));
  EXPECT_EQ(c.sectorsCopied, 300u);
  EXPECT_EQ(c.sectorCount, 300u);
  // 300 sectors = two full 64 KiB chunks and a rest of 44 sectors.
  EXPECT_EQ(p.percents, (std::vector<int32_t>{42, 85, 100}));
  EXPECT_EQ(p.lastDone, 300u);
  EXPECT_EQ(p.lastTotal, 300u);
  EXPECT_EQ(p.firstEta, -1);  // no estimate before five seconds have passed
  EXPECT_FALSE(fs::exists(BadMapPath(imagePath_)));
}

TEST_F(ImageCopierTest, NoCountMeansToTheEndOfTheSource) {
  ImageCopier c;
  ASSERT_EQ(CreateImageFromPath(c, sourcePath_, 10, 0, imagePath_, nullptr), kOk);
  EXPECT_EQ(test::ReadFile(imagePath_), Slice(10, kSourceSectors - 10));
}

TEST_F(ImageCopierTest, RefusesAreasOutsideTheSourceAndForeignDestinations) {
  ImageCopier c;
  EXPECT_EQ(CreateImageFromPath(c, sourcePath_, 990, 11, imagePath_, nullptr), kErrInvalidParameter);
  EXPECT_EQ(CreateImageFromPath(c, sourcePath_, 1001, 0, imagePath_, nullptr), kErrInvalidParameter);
  EXPECT_FALSE(fs::exists(imagePath_));
  // The source itself, and anything that is not a plain file.
  EXPECT_EQ(CreateImageFromPath(c, sourcePath_, 0, 10, sourcePath_, nullptr), kErrInvalidParameter);
  EXPECT_EQ(test::ReadFile(sourcePath_), source_);
  EXPECT_EQ(CreateImageFromPath(c, sourcePath_, 0, 10, "/dev/null", nullptr), kErrInvalidParameter);
  EXPECT_EQ(CreateImageFromPath(c, sourcePath_, 0, 10, dir_.path(), nullptr), kErrInvalidParameter);
  EXPECT_EQ(CreateImageFromPath(c, dir_ / "missing.img", 0, 10, imagePath_, nullptr), kErrFileNotFound);
}

TEST_F(ImageCopierTest, StopsAtTheFirstUnreadableChunkKeepingWhatCameBefore) {
  Faults f{{{300, 1}}};
  ImageCopier c;
  c.onSourceOpened = &InstallFaults;
  // Stale map from an earlier --skip-bad copy: removed, it describes another image.
  test::WriteFile(BadMapPath(imagePath_), std::string("1 1\n").data(), 4);
  ASSERT_EQ(CreateImageFromPath(c, sourcePath_, 0, 0, imagePath_, &f), kErrReadFault);
  // Chunks of 128 sectors: 0..127 and 128..255 arrived, 256..383 failed.
  EXPECT_EQ(test::ReadFile(imagePath_), Slice(0, 256));
  EXPECT_EQ(c.sectorsCopied, 256u);
  EXPECT_EQ(c.errorSector, 256u);
  EXPECT_EQ(c.readError, kErrIoDevice);
  EXPECT_FALSE(c.sourceVanished);
  EXPECT_FALSE(fs::exists(BadMapPath(imagePath_)));
}

TEST_F(ImageCopierTest, SkipBadZeroFillsAndMapsOnlyTheFailingSectors) {
  // Sector numbers of the source; the image starts at source sector 100.
  Faults f{{{105, 1}, {230, 4}, {234, 2}, {399, 1}}};
  ImageCopier c;
  c.skipBad = true;
  c.onSourceOpened = &InstallFaults;
  ASSERT_EQ(CreateImageFromPath(c, sourcePath_, 100, 300, imagePath_, &f), kOk);
  std::vector<uint8_t> want = Slice(100, 300);
  for (auto [first, count] : f.sectorRanges)
    std::fill(want.begin() + (first - 100) * 512, want.begin() + (first - 100 + count) * 512, 0);
  EXPECT_EQ(test::ReadFile(imagePath_), want);
  EXPECT_EQ(c.sectorsCopied, 300u);
  EXPECT_EQ(c.badSectors, 8u);
  EXPECT_EQ(c.badRanges, 3u);
  // Adjacent bad sectors form one range; numbers count from the image start.
  EXPECT_EQ(MapLines(c.mapPath), (std::vector<std::pair<uint64_t, uint64_t>>{{5, 1}, {130, 6}, {299, 1}}));
  EXPECT_EQ(c.mapPath, BadMapPath(imagePath_));
  EXPECT_NE(Text(c.mapPath).find("sector size 512"), std::string::npos);
}

TEST_F(ImageCopierTest, CancelIsHeardBetweenFailingSectors) {
  Faults f{{{5, 100}}};
  ImageCopier c;
  c.skipBad = true;
  Progress p;
  p.cancelAfter = 1;  // the report after the second failing sector says cancel
  // The hook and the callback share the copier's context.
  struct Both {
    Faults* f;
    Progress* p;
  } both{&f, &p};
  c.onSourceOpened = [](platform::FileHandle h, void* ctx) { InstallFaults(h, static_cast<Both*>(ctx)->f); };
  c.callback = [](void* ctx, int32_t percent, uint64_t done, uint64_t total, int32_t eta) {
    return OnProgress(static_cast<Both*>(ctx)->p, percent, done, total, eta);
  };
  ASSERT_EQ(CreateImageFromPath(c, sourcePath_, 0, 0, imagePath_, &both), kCancelCode);
  EXPECT_EQ(p.percents, (std::vector<int32_t>{0, 0}));
  EXPECT_EQ(c.badSectors, 2u);
  EXPECT_TRUE(test::ReadFile(imagePath_).empty());  // the chunk was not finished
  EXPECT_EQ(MapLines(c.mapPath), (std::vector<std::pair<uint64_t, uint64_t>>{{5, 2}}));
}

TEST_F(ImageCopierTest, SkipBadOnAGoodSourceWritesAnEmptyMap) {
  ImageCopier c;
  c.skipBad = true;
  ASSERT_EQ(CreateImageFromPath(c, sourcePath_, 0, 0, imagePath_, nullptr), kOk);
  EXPECT_EQ(test::ReadFile(imagePath_), source_);
  EXPECT_TRUE(MapLines(c.mapPath).empty());
  EXPECT_EQ(c.badSectors, 0u);
}

TEST_F(ImageCopierTest, CancelStopsAtTheNextReportAndKeepsTheCopiedChunks) {
  ImageCopier c;
  Progress p;
  p.cancelAfter = 2;
  c.callback = &OnProgress;
  ASSERT_EQ(CreateImageFromPath(c, sourcePath_, 0, 0, imagePath_, &p), kCancelCode);
  EXPECT_EQ(p.percents.size(), 3u);
  EXPECT_EQ(test::ReadFile(imagePath_), Slice(0, 384));
}

uint64_t g_fakeNow = 0;
uint64_t FakeClock() {
  uint64_t t = g_fakeNow;
  g_fakeNow += 2000;  // every chunk seems to take two seconds
  return t;
}

struct EtaLog {
  std::vector<int32_t> etas;
};
int32_t RecordEta(void* context, int32_t, uint64_t, uint64_t, int32_t eta) {
  static_cast<EtaLog*>(context)->etas.push_back(eta);
  return 0;
}

TEST_F(ImageCopierTest, TimeLeftIsEstimatedAtMostEveryFiveSeconds) {
  g_fakeNow = 0;
  ImageCopier c;
  EtaLog log;
  c.callback = &RecordEta;
  c.clockMs = &FakeClock;
  ASSERT_EQ(CreateImageFromPath(c, sourcePath_, 0, 0, imagePath_, &log), kOk);
  // Estimates at 6 s (3 chunks of 64 KiB: 32 KiB/s, 315392 bytes left) and
  // at 12 s (6 chunks, 118784 bytes left); in between the last one stays.
  EXPECT_EQ(log.etas, (std::vector<int32_t>{-1, -1, 9, 9, 9, 3, 3, 3}));
}

struct Shrink {
  fs::path path;
};
int32_t ShrinkSource(void* context, int32_t, uint64_t, uint64_t, int32_t) {
  fs::resize_file(static_cast<Shrink*>(context)->path, 100 * 512);
  return 0;
}

TEST_F(ImageCopierTest, ASourceThatGoesAwayEndsTheCopyAlsoWithSkipBad) {
  for (bool skipBad : {false, true}) {
    SCOPED_TRACE(skipBad);
    test::WriteFile(sourcePath_, source_);
    ImageCopier c;
    Shrink shrink{sourcePath_};
    c.callback = &ShrinkSource;
    c.skipBad = skipBad;
    ASSERT_EQ(CreateImageFromPath(c, sourcePath_, 0, 0, imagePath_, &shrink), kErrReadFault);
    EXPECT_TRUE(c.sourceVanished);
    EXPECT_EQ(c.errorSector, 128u);
    EXPECT_EQ(c.sectorsCopied, 128u);
    EXPECT_EQ(c.badSectors, 0u);  // nothing was zero-filled
    EXPECT_EQ(test::ReadFile(imagePath_), Slice(0, 128));
  }
}

TEST_F(ImageCopierTest, WholeDiskByNumberNeedsAListedDisk) {
  ImageCopier c;
  EXPECT_NE(CreateImage(c, 100000, 0, 0, imagePath_, nullptr), kOk);
  EXPECT_FALSE(fs::exists(imagePath_));
}

}  // namespace
