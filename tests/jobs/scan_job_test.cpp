// The scan job through the real factory: an engine per target, failure when
// an area cannot be opened, and a fresh scan folder before a deleted-file scan.
#include <gtest/gtest.h>

#include <cstdlib>

#include "jobs/scan_job.h"
#include "storage/scan_log_index.h"
#include "tests/support/test_support.h"

namespace nuvarin {
namespace {

class RecordingView : public NullJobView {
 public:
  std::vector<std::string> stages;
  void OnStage(const std::string& text) override { stages.push_back(text); }
};

TEST(ScanJob, Ext4TargetGetsAnEngineAndAnEmptyScan) {
  test::TempDir dir("nuvarin-scanjob");
  std::string img = (dir / "ext4.img").string();
  ASSERT_EQ(test::RunCommand("truncate -s 4M " + test::ShellQuote(img) + " && mkfs.ext4 -q -F " +
                             test::ShellQuote(img)).exitCode, 0);
  JobTarget target;
  target.area.imagePath = img;
  target.description = "image";
  std::vector<JobTarget*> targets = {&target};
  RecordingView view;
  JobControl control;
  ScanJob job(view, control);
  EXPECT_EQ(job.Run(targets, false), kJobFinished);
  ASSERT_NE(target.engine, nullptr);
  EXPECT_TRUE(target.scanned);
  EXPECT_EQ(target.scanResult, 0);
  EXPECT_EQ(target.engine->GetItemCount(), 0u);
  EXPECT_TRUE(control.Done());
  ASSERT_EQ(view.stages.size(), 1u);
}

TEST(ScanJob, UnopenableTargetFailsAndLaterTargetsAreNotScanned) {
  test::TempDir dir("nuvarin-scanjob");
  std::string good = (dir / "ext4.img").string();
  ASSERT_EQ(test::RunCommand("truncate -s 4M " + test::ShellQuote(good) + " && mkfs.ext4 -q -F " +
                             test::ShellQuote(good)).exitCode, 0);
  JobTarget missing, later;
  missing.area.imagePath = dir / "missing.img";
  later.area.imagePath = good;
  std::vector<JobTarget*> targets = {&missing, &later};
  NullJobView view;
  JobControl control;
  ScanJob job(view, control);
  EXPECT_EQ(job.Run(targets, false), kJobFailed);
  EXPECT_EQ(missing.engine, nullptr);
  EXPECT_FALSE(later.scanned);
  EXPECT_TRUE(control.Done());
}

}  // namespace
}  // namespace nuvarin
