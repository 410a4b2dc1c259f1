// The image job's worker steps against a recording view: the area of the
// chosen record or the whole disk, progress, cancel and failure codes.
#include "jobs/image_job.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "platform/disk_table.h"
#include "platform/error_codes.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace nuvarin;

namespace {

class RecordingView : public NullJobView {
 public:
  void OnStage(const std::string& text) override { stages.push_back(text); }
  void OnProgress(const JobProgress& p) override {
    progress.push_back(p);
    if (control && cancelAt >= 0 && static_cast<int>(progress.size()) == cancelAt) control->RequestCancel();
  }
  std::vector<std::string> stages;
  std::vector<JobProgress> progress;
  JobControl* control = nullptr;
  int cancelAt = -1;
};

// Disk 0 of a fake table is a file of 600 sectors.
class ImageJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::path sys = dir_ / "sys", dev = dir_ / "dev";
    fs::create_directories(sys / "block/loop6/loop");
    fs::create_directories(dev);
    std::ofstream(sys / "block/loop6/dev") << "7:6\n";
    std::ofstream(sys / "block/loop6/size") << "600\n";
    std::ofstream(sys / "block/loop6/loop/backing_file") << "/x.img\n";
    disk_.resize(600 * 512);
    std::mt19937 rng(3);
    for (auto& b : disk_) b = static_cast<uint8_t>(rng());
    test::WriteFile(dev / "loop6", disk_);
    platform::SetSysfsRoot(sys);
    platform::SetDevRoot(dev);
    control_.Reset();
    view_.control = &control_;
  }
  void TearDown() override {
    platform::SetSysfsRoot({});
    platform::SetDevRoot({});
  }
  std::vector<uint8_t> Sectors(uint64_t first, uint64_t count) const {
    return {disk_.begin() + first * 512, disk_.begin() + (first + count) * 512};
  }

  test::TempDir dir_{"disks-job"};
  std::vector<uint8_t> disk_;
  JobControl control_;
  RecordingView view_;
};

TEST_F(ImageJobTest, CopiesTheChosenRecordsArea) {
  ImageJobInput in;
  in.imagePath = dir_ / "part.img";
  PartitionRecord r;
  r.diskNumber = 0;
  r.firstSector = 100;
  r.sectorCount = 300;
  in.sources.push_back(r);
  ImageJob job(view_, control_);
  EXPECT_EQ(job.Run(in), kJobFinished);
  EXPECT_TRUE(control_.Done());
  EXPECT_EQ(test::ReadFile(in.imagePath), Sectors(100, 300));
  ASSERT_EQ(view_.stages.size(), 1u);
  EXPECT_EQ(view_.stages[0], "Creating image " + in.imagePath.string());
  ASSERT_EQ(view_.progress.size(), 3u);
  EXPECT_EQ(view_.progress.back().percent, 100);
  EXPECT_EQ(view_.progress.back().sectorsDone, 300u);
  EXPECT_EQ(view_.progress.back().sectorsTotal, 300u);
}

TEST_F(ImageJobTest, NoRecordMeansTheWholeDisk) {
  ImageJobInput in;
  in.imagePath = dir_ / "disk.img";
  in.diskNumber = 0;
  ImageJob job(view_, control_);
  EXPECT_EQ(job.Run(in), kJobFinished);
  EXPECT_EQ(test::ReadFile(in.imagePath), disk_);
}

TEST_F(ImageJobTest, TheDiskDeviceWinsOverAStaleNumber) {
  ImageJobInput in;
  in.imagePath = dir_ / "part.img";
  in.diskDevice = dir_ / "dev" / "loop6";
  PartitionRecord r;
  r.diskNumber = 7;  // the list this number came from is out of date
  r.firstSector = 10;
  r.sectorCount = 20;
  in.sources.push_back(r);
  ImageJob job(view_, control_);
  EXPECT_EQ(job.Run(in), kJobFinished);
  EXPECT_EQ(test::ReadFile(in.imagePath), Sectors(10, 20));
}

TEST_F(ImageJobTest, CancelClosesWithTwoAndKeepsTheCopiedPart) {
  ImageJobInput in;
  in.imagePath = dir_ / "disk.img";
  view_.cancelAt = 1;  // the user confirms cancelling during the first report
  ImageJob job(view_, control_);
  EXPECT_EQ(job.Run(in), kJobCancelled);
  EXPECT_EQ(job.Result(), kCancelCode);
  EXPECT_TRUE(control_.Done());
  EXPECT_EQ(test::ReadFile(in.imagePath), Sectors(0, 256));  // stopped at the next report
}

TEST_F(ImageJobTest, ErrorsCloseWithThree) {
  ImageJobInput in;
  in.imagePath = dir_ / "x.img";
  PartitionRecord r;
  r.diskNumber = 5;  // not in the table
  in.sources.push_back(r);
  ImageJob job(view_, control_);
  EXPECT_EQ(job.Run(in), kJobFailed);
  EXPECT_EQ(job.Result(), kErrFileNotFound);
  EXPECT_TRUE(control_.Done());

  in.sources[0].diskNumber = 0;
  in.sources[0].firstSector = 500;
  in.sources[0].sectorCount = 200;  // runs past the end of the disk
  EXPECT_EQ(job.Run(in), kJobFailed);
  EXPECT_EQ(job.Result(), kErrInvalidParameter);
}

}  // namespace
