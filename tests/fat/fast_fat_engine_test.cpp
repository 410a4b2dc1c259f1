// The engine's contract beyond the listing: progress steps, cancel answers,
// argument checks, an empty result, and a reused subdirectory cluster.
#include <gtest/gtest.h>

#include <cstring>

#include "fat/fast_fat_recovery.h"
#include "tests/fat/fat_image_fixture.h"

namespace nuvarin {
namespace {

using test::TempDir;

struct Progress {
  std::vector<int32_t> percents;
  std::vector<int32_t> weights;
  int32_t answer = 0;
  static int32_t Callback(void* context, int32_t percent, int32_t weight, int32_t, uint64_t, uint64_t, uint64_t,
                          uint32_t) {
    auto* self = static_cast<Progress*>(context);
    self->percents.push_back(percent);
    self->weights.push_back(weight);
    return self->answer;
  }
};

class FatEngine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::RequireTools({"mkfs.fat", "mcopy", "mdeltree", "faketime", "convert"});
    dir_ = new TempDir("fatengine");
    volume_ = new test::FatVolume(test::BuildFatVolume(*dir_, "16"));
  }
  static void TearDownTestSuite() {
    delete volume_;
    delete dir_;
  }
  static TempDir* dir_;
  static test::FatVolume* volume_;
};
TempDir* FatEngine::dir_ = nullptr;
test::FatVolume* FatEngine::volume_ = nullptr;

TEST_F(FatEngine, ReportsProgressSteps) {
  for (int32_t weight : {100, 9}) {
    Progress p;
    CFastFatRecovery engine;
    engine.SetProgressCallback(&Progress::Callback, nullptr, &p, weight);
    ASSERT_EQ(test::OpenAndScan(engine, volume_->image), 0);
    EXPECT_EQ(p.percents, (std::vector<int32_t>{1, 80, 100}));
    for (int32_t w : p.weights) EXPECT_EQ(w, weight);
  }
}

TEST_F(FatEngine, CancelAnswersStopAndComeBack) {
  Progress p;
  p.answer = kCancelCode;
  CFastFatRecovery engine;
  engine.SetProgressCallback(&Progress::Callback, nullptr, &p, 100);
  EXPECT_EQ(test::OpenAndScan(engine, volume_->image), kCancelCode);

  CFastFatRecovery second;
  struct Cancel {
    int calls = 0;
    static int32_t Callback(void* context, int32_t, int32_t, int32_t, const char*) {
      ++static_cast<Cancel*>(context)->calls;
      return kCancelCode;
    }
  } cancel;
  second.SetProgressCallback(nullptr, &Cancel::Callback, &cancel, 100);
  ASSERT_EQ(test::OpenAndScan(second, volume_->image), 0);
  auto tree = test::WalkTree(second);
  std::filesystem::path out = dir_->path() / "cancelled" / "Old Stuff";
  std::string text = out.string();
  uint32_t slashes = static_cast<uint32_t>(std::count(text.begin(), text.end() - 1, '/'));
  EXPECT_EQ(second.RecoverItem(&tree.at("Old Stuff/"), out, slashes - 1), kCancelCode);
  EXPECT_EQ(cancel.calls, 1);
}

TEST_F(FatEngine, ChecksArgumentsAndOpensOnce) {
  CFastFatRecovery engine;
  std::vector<FoundItem> items;
  EXPECT_EQ(engine.GetItemCount(), 0u);
  ASSERT_EQ(test::OpenAndScan(engine, volume_->image), 0);
  EXPECT_EQ(engine.OpenImage(volume_->image, 0), 0);  // already open: nothing happens
  EXPECT_EQ(engine.ReadFolder(nullptr, 1, items), kErrInvalidParameter);
  EXPECT_EQ(engine.RecoverItem(nullptr, dir_->path() / "x", 0), kErrInvalidParameter);
  std::filesystem::path out;
  uint32_t size = 0;
  EXPECT_EQ(engine.PreviewItem(nullptr, out, nullptr, size, nullptr, nullptr), kErrInvalidParameter);
  EXPECT_EQ(engine.GetItemCount(), 13u);  // six deleted files, the overwritten filler, six folders
  uint32_t count = 0;
  ASSERT_EQ(engine.CountFolderFiles(nullptr, 0, count), 0);
  EXPECT_EQ(count, 7u);
  std::vector<FoundItem> photos;
  EXPECT_EQ(engine.SearchItems("*.jpg", photos), 1);
  EXPECT_EQ(photos.size(), 2u);
}

TEST(FatEngineEmpty, VolumeWithoutDeletionsLogsNothing) {
  test::RequireTools({"mkfs.fat", "mcopy"});
  TempDir dir("fatempty");
  std::filesystem::path img = dir / "live.img";
  test::CommandResult r = test::RunCommand(
      "export MTOOLS_SKIP_CHECK=1; mkfs.fat -F 32 -C " + test::ShellQuote(img.string()) + " 40960 >/dev/null && "
      "mmd -i " + test::ShellQuote(img.string()) + " ::/DIR && seq 1 1000 > " +
      test::ShellQuote((dir / "a.txt").string()) + " && mcopy -i " + test::ShellQuote(img.string()) + " " +
      test::ShellQuote((dir / "a.txt").string()) + " ::/DIR/A.TXT");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  CFastFatRecovery engine;
  ASSERT_EQ(test::OpenAndScan(engine, img), 0);
  EXPECT_EQ(engine.GetItemCount(), 0u);
  std::vector<FoundItem> root;
  EXPECT_EQ(engine.ReadFolder(nullptr, 0, root), 0);
  EXPECT_TRUE(root.empty());
}

TEST_F(FatEngine, ReusedSubdirectoryClusterIsNotScanned) {
  CFastFatRecovery probe;
  ASSERT_EQ(test::OpenAndScan(probe, volume_->image), 0);
  auto before = test::WalkTree(probe);
  ASSERT_EQ(before.count("Old Stuff/notes one.txt"), 1u);
  const FatGeometry g = probe.Geometry();
  uint32_t cluster = before.at("Old Stuff/").objectId;

  std::vector<uint8_t> image = test::ReadFile(volume_->image);
  // Another file's data now fills the folder's first cluster.
  size_t at = g.ClusterToSector(cluster) * g.bytesPerSector;
  std::memset(image.data() + at, 'x', g.clusterBytes);
  std::filesystem::path reused = dir_->path() / "reused.img";
  test::WriteFile(reused, image);
  CFastFatRecovery engine;
  ASSERT_EQ(test::OpenAndScan(engine, reused), 0);
  auto after = test::WalkTree(engine);
  EXPECT_EQ(after.count("Old Stuff/"), 0u);
  EXPECT_EQ(after.count("Old Stuff/notes one.txt"), 0u);
  EXPECT_EQ(after.count("Holiday Photo ä.jpg"), 1u);
}

}  // namespace
}  // namespace nuvarin
