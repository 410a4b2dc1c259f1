// CFileTypeRecovery: the items CarveAt logs and how far the sweep skips, the
// flat log, recovery of a contiguous run and the preview destinations.
#include <gtest/gtest.h>

#include "platform/error_codes.h"
#include "platform/paths.h"
#include "signature/carve_harness.h"
#include "signature/file_type_recovery.h"
#include "storage/scan_log_index.h"
#include "tests/signature/carve_test_util.h"

namespace nuvarin {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::Put;
using test::PutLe32;

Bytes Jpeg(size_t size) {
  Bytes b(size, 0x11);
  Put(b, 0, Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00});
  Put(b, size - 2, Bytes{0xFF, 0xD9});
  return test::PadToSectors(b);
}

Bytes Bmp(uint32_t size) {
  Bytes b(size, 0x44);
  Put(b, 0, test::ToBytes("BM"));
  PutLe32(b, 2, size);
  PutLe32(b, 6, 0);
  PutLe32(b, 10, 54);
  PutLe32(b, 14, 40);
  return test::PadToSectors(b);
}

class Engine : public ::testing::Test {
 protected:
  // Each scan writes its log into a folder of its own, as the scan job arranges.
  void SetUp() override { ScanLogIndex::Instance().NewScanFolder(); }

  // Opens the engine on an image of `bytes` and sweeps it.
  void Sweep(const Bytes& bytes) {
    test::WriteFile(dir_ / "image.img", test::PadToSectors(bytes));
    ASSERT_EQ(engine_.OpenImage(dir_ / "image.img", 7), 0);
    engine_.BeginScan();
    SweepStats stats;
    ASSERT_EQ(SweepArea(engine_, 0, engine_.Device().sectorCount, stats), 0);
    items_.clear();
    ASSERT_EQ(engine_.ReadFolder(nullptr, 0, items_), 0);
  }
  const FoundItem* Named(const std::string& name) {
    for (const FoundItem& i : items_)
      if (i.Name() == name) return &i;
    return nullptr;
  }

  test::TempDir dir_{"carve-engine"};
  CFileTypeRecovery engine_;
  std::vector<FoundItem> items_;
};

TEST_F(Engine, TwoJpegsInConsecutiveSectorsAreTwoItems) {
  Bytes image = Jpeg(700);  // ends inside its second sector, which is not a valid end here
  image[700 - 2 + 2] = 0x55;  // data after the marker in the same sector
  Put(image, image.size(), Jpeg(300));
  image.resize(image.size() + 2048, 0);
  Sweep(image);
  ASSERT_EQ(items_.size(), 2u);
  const FoundItem* first = Named("0.jpg");
  const FoundItem* second = Named("2.jpg");
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->size, 1024u);  // cut before the second file's sector
  EXPECT_EQ(second->size, 300u);
  EXPECT_EQ(second->entrySector, 2u);
  EXPECT_EQ(first->sourceKind, kSourceSignature);
  EXPECT_EQ(first->driveLetter, 7);
  EXPECT_EQ(first->clusterSize, kNoClusterSize);
  EXPECT_EQ(first->contentCheck, 1u);
  EXPECT_EQ(first->isFolder, 0u);
  EXPECT_EQ(first->objectId, 0u);
  EXPECT_NE(first->itemId, second->itemId);
}

TEST_F(Engine, ALengthFieldKindMovesOnByOneSectorSoFilesInsideItAreFound) {
  Bytes image = Bmp(8192);
  Put(image, 512 * 4, Jpeg(400));  // a picture inside the bitmap's data
  image.resize(image.size() + 2048, 0);
  Sweep(image);
  const FoundItem* bmp = Named("0.bmp");
  ASSERT_TRUE(bmp);
  EXPECT_EQ(bmp->size, 8192u);
  EXPECT_TRUE(Named("4.jpg"));
}

TEST_F(Engine, AWholeFileSkipCarriesAcrossBufferBoundaries) {
  // A JPEG of 150 KB spans three 64 KiB buffers: the sweep offers its first
  // sector only, then goes on right behind it in the third buffer.
  Bytes image = Jpeg(150000);
  const uint64_t jpegSectors = image.size() / 512;
  Put(image, image.size(), Jpeg(700));
  image.resize(image.size() + 4096, 0);
  test::WriteFile(dir_ / "skip.img", image);
  ASSERT_EQ(engine_.OpenImage(dir_ / "skip.img", 0), 0);
  engine_.BeginScan();
  SweepStats stats;
  std::vector<uint64_t> starts;
  ASSERT_EQ(SweepArea(engine_, 0, engine_.Device().sectorCount, stats,
                      [&](const CarveHit&, uint64_t sector) { starts.push_back(sector); }),
            0);
  EXPECT_EQ(starts, (std::vector<uint64_t>{0, jpegSectors}));
  EXPECT_EQ(stats.sectorsOffered, engine_.Device().sectorCount - (jpegSectors - 1) - 1);
  EXPECT_EQ(stats.sectorsSwept, engine_.Device().sectorCount);
}

TEST_F(Engine, CarveAtReportsSkipAndCountsItems) {
  Bytes image = Jpeg(3000);
  image.resize(8192, 0);
  test::WriteFile(dir_ / "one.img", image);
  ASSERT_EQ(engine_.OpenImage(dir_ / "one.img", 0), 0);
  engine_.BeginScan();
  uint64_t found = 5, skip = 1;
  EXPECT_EQ(engine_.CarveAt(512, image.data(), 512, engine_.Device(), 0, 0, 16, -1, found, skip), 0);
  EXPECT_EQ(found, 6u);
  EXPECT_EQ(skip, 6u);  // 3000 bytes: six sectors
  skip = 1;
  EXPECT_EQ(engine_.CarveAt(512, image.data() + 512 * 8 - 512, 512, engine_.Device(), 15, 15, 16, -1, found, skip),
            kErrInvalidParameter);
  EXPECT_EQ(skip, 1u);
  EXPECT_EQ(found, 6u);
  EXPECT_EQ(engine_.GetItemCount(), 1u);
}

TEST_F(Engine, TheLogIsFlat) {
  Sweep(Jpeg(300));
  ASSERT_EQ(items_.size(), 1u);
  std::vector<FoundItem> none;
  EXPECT_EQ(engine_.ReadFolder(&items_[0], 0, none), 0);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(engine_.ReadFolder(nullptr, 1, none), 0);
  EXPECT_TRUE(none.empty());
  uint32_t count = 0;
  EXPECT_EQ(engine_.CountFolderFiles(nullptr, 0, count), 0);
  EXPECT_EQ(count, 1u);
  std::string path = "x";
  EXPECT_EQ(engine_.GetItemPath(&items_[0], path), 0);
  EXPECT_TRUE(path.empty());
  EXPECT_EQ(engine_.OpenLog(nullptr), 0);
  std::vector<FoundItem> found;
  engine_.SearchItems("*.jpg", found);
  EXPECT_EQ(found.size(), 1u);
  CFileTypeRecovery unopened;
  EXPECT_EQ(unopened.SetSearchCallback(nullptr, nullptr), kErrInvalidParameter);
  EXPECT_EQ(unopened.GetItemCount(), 0u);
}

struct Calls {
  std::vector<std::pair<int32_t, int32_t>> seen;  // percent, error
  int32_t answerAt = -1;
  int32_t answer = 0;
};
int32_t FileProgress(void* context, int32_t percent, int32_t, int32_t error, const char*) {
  auto* calls = static_cast<Calls*>(context);
  calls->seen.push_back({percent, error});
  return static_cast<int32_t>(calls->seen.size()) == calls->answerAt ? calls->answer : 0;
}

TEST_F(Engine, RecoverItemWritesExactlyTheCarvedBytes) {
  Bytes image(512 * 400, 0);
  for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 31 + 7);
  test::WriteFile(dir_ / "data.img", image);
  ASSERT_EQ(engine_.OpenImage(dir_ / "data.img", 0), 0);
  Calls calls;
  engine_.SetProgressCallback(nullptr, FileProgress, &calls, 90);
  FoundItem item{};
  item.size = 1000;
  item.entrySector = 3;
  fs::path out = dir_ / "deep" / "folder" / "3.bin";
  ASSERT_EQ(engine_.RecoverItem(&item, out, 0), 0);
  Bytes written = test::ReadFile(out);
  ASSERT_EQ(written.size(), 1000u);
  EXPECT_TRUE(std::equal(written.begin(), written.end(), image.begin() + 3 * 512));
  ASSERT_FALSE(calls.seen.empty());
  EXPECT_EQ(calls.seen.back(), std::make_pair(100, 0));

  // A large item is copied in pieces with rising percentages; a cancel stops it.
  item.size = 150000;
  calls = Calls{};
  calls.answerAt = 2;
  calls.answer = kCancelCode;
  EXPECT_EQ(engine_.RecoverItem(&item, dir_ / "big.bin", 0), kCancelCode);
  EXPECT_EQ(calls.seen.size(), 2u);
  EXPECT_EQ(test::ReadFile(dir_ / "big.bin").size(), 2 * 65536u);

  // An item that runs past the end of the source ends with a read fault.
  item.entrySector = 399;
  item.size = 2000;
  calls = Calls{};
  EXPECT_EQ(engine_.RecoverItem(&item, dir_ / "tail.bin", 0), kErrReadFault);
  EXPECT_EQ(calls.seen.back().second, kErrReadFault);
  EXPECT_EQ(engine_.RecoverItem(nullptr, dir_ / "none.bin", 0), kErrInvalidParameter);
}

int32_t PreviewProgress(void* context, int32_t percent, int32_t error) {
  static_cast<std::vector<int32_t>*>(context)->push_back(error ? -error : percent);
  return 0;
}

TEST_F(Engine, PreviewGoesToTheFileOfItsGroupOrToTheBuffer) {
  Bytes image(512 * 400, 0x5A);
  test::WriteFile(dir_ / "data.img", image);
  ASSERT_EQ(engine_.OpenImage(dir_ / "data.img", 0), 0);
  const fs::path folder = platform::ScanLogRoot();
  struct Case {
    const char* name;
    fs::path target;  // empty: the memory buffer
  } cases[] = {{"10.jpg", folder / "tmp.jpg"}, {"10.pdf", folder / "10.pdf"}, {"10.mp3", folder / "tmp.avi"},
               {"10.wmv", folder / "tmp.avi"}, {"10.docx", folder / "10.docx"}, {"10.db", {}},
               {"10.mso07", {}}};
  for (const Case& c : cases) {
    FoundItem item{};
    item.SetName(c.name);
    item.entrySector = 10;
    item.size = 100 * 1024;
    std::vector<uint8_t> buffer(64 * 1024);
    uint32_t size = static_cast<uint32_t>(buffer.size());
    fs::path out;
    std::vector<int32_t> progress;
    ASSERT_EQ(engine_.PreviewItem(&item, out, buffer.data(), size, PreviewProgress, &progress), 0) << c.name;
    EXPECT_EQ(out, c.target) << c.name;
    if (c.target.empty()) {
      EXPECT_EQ(size, 64 * 1024u) << c.name;  // cut at the buffer's capacity
      EXPECT_EQ(buffer[100], 0x5A);
    } else {
      EXPECT_EQ(test::ReadFile(c.target).size(), 100 * 1024u) << c.name;
      EXPECT_EQ(size, 0u);
    }
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100) << c.name;
  }
  // A failed read leaves no temporary file behind.
  FoundItem broken{};
  broken.SetName("broken.png");
  broken.entrySector = 399;
  broken.size = 4096;
  uint32_t size = 0;
  fs::path out;
  std::vector<int32_t> progress;
  EXPECT_EQ(engine_.PreviewItem(&broken, out, nullptr, size, PreviewProgress, &progress), kErrReadFault);
  EXPECT_FALSE(fs::exists(folder / "tmp.jpg"));
  EXPECT_EQ(progress.back(), -kErrReadFault);
  EXPECT_EQ(engine_.PreviewItem(nullptr, out, nullptr, size, nullptr, nullptr), kErrInvalidParameter);
}

}  // namespace
}  // namespace nuvarin
