// The recover job: destinations by group with unique names, per-file counting,
// failures, cancel, and hostile names that must stay inside the destination.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "jobs/recover_job.h"
#include "jobs/scan_job.h"
#include "tests/support/test_support.h"

namespace nuvarin {
namespace {

namespace fs = std::filesystem;

FoundItem MakeFile(const std::string& name, uint32_t id) {
  FoundItem item{};
  item.itemId = id;
  item.SetName(name);
  item.size = name.size();
  item.contentCheck = 1;
  return item;
}

// Writes each file's name as its content; items listed in `failWith` fail
// with that code after reporting; `cancelAt` answers as a cancelled job would.
class FakeEngine : public IFileRecoveryParse {
 public:
  std::map<uint32_t, int32_t> failWith;
  std::string folderPath;  // what GetItemPath reports
  int32_t OpenImage(const fs::path&, uint16_t) override { return 0; }
  int32_t OpenDisk(uint32_t, uint64_t, uint64_t, uint16_t) override { return 0; }
  int32_t SetProgressCallback(ProgressCallback, FileCallback file, void* ctx, int32_t weight) override {
    file_ = file;
    ctx_ = ctx;
    weight_ = weight;
    return 0;
  }
  int32_t OpenLog(const char*) override { return 0; }
  int32_t ReadFolder(const FoundItem*, uint32_t, std::vector<FoundItem>&) override { return 0; }
  int32_t CountFolderFiles(const FoundItem*, uint32_t, uint32_t& c) override { return c = 0; }
  uint64_t GetItemCount() override { return 0; }
  int32_t GetItemPath(const FoundItem*, std::string& path) override {
    path = folderPath;
    return 0;
  }
  int32_t RecoverItem(const FoundItem* item, const fs::path& dest, uint32_t) override {
    auto it = failWith.find(item->itemId);
    if (it != failWith.end()) {
      int32_t answer = file_(ctx_, 100, weight_, it->second, dest.c_str());
      return answer ? answer : it->second;
    }
    fs::create_directories(dest.parent_path());
    test::WriteFile(dest, item->name, std::strlen(item->name));
    int32_t answer = file_(ctx_, 50, weight_, 0, dest.c_str());
    if (answer) return answer;
    return file_(ctx_, 100, weight_, 0, dest.c_str());
  }
  int32_t NextFreeExtent(uint64_t&, uint64_t&) override { return 0; }
  int32_t SetSearchCallback(ShortCallback, void*) override { return 0; }
  int32_t SearchItems(const std::string&, std::vector<FoundItem>&) override { return 1; }
  int32_t LoadAllocationBitmap() override { return 0; }
  int32_t PreviewItem(const FoundItem*, fs::path&, uint8_t*, uint32_t&, ShortCallback, void*) override { return 0; }

 private:
  FileCallback file_ = nullptr;
  void* ctx_ = nullptr;
  int32_t weight_ = 0;
};

class CancelAfterFirstFile : public NullJobView {
 public:
  explicit CancelAfterFirstFile(JobControl& c) : control_(c) {}
  void OnFileDone(const std::string&, int32_t, const RecoverCounts&) override { control_.RequestCancel(); }

 private:
  JobControl& control_;
};

class RecoverJobTest : public ::testing::Test {
 protected:
  RecoverJobTest() {
    target_.engine = std::make_unique<FakeEngine>();
    engine_ = static_cast<FakeEngine*>(target_.engine.get());
  }
  std::vector<JobFinding> Findings(const std::vector<std::string>& names) {
    std::vector<JobFinding> out;
    uint32_t id = 1;
    for (const auto& n : names) out.push_back(JobFinding{MakeFile(n, id++), &target_});
    return out;
  }
  test::TempDir dir_{"nuvarin-recover"};
  JobTarget target_;
  FakeEngine* engine_;
  JobControl control_;
  NullJobView view_;
};

TEST_F(RecoverJobTest, SortsIntoGroupFoldersWithUniqueNames) {
  RecoverJob job(view_, control_);
  auto findings = Findings({"a.jpg", "a.jpg", "readme", "Song.MP3", "report.docx", "a.", "x.qqq"});
  ASSERT_EQ(job.Run(findings, dir_.path(), RecoverLayout::kByType), kJobFinished);
  for (const char* rel : {"photo/a.jpg", "photo/a(1).jpg", "others/readme", "audio/Song.MP3",
                          "document/report.docx", "others/a.", "others/x.qqq"}) {
    EXPECT_TRUE(fs::is_regular_file(dir_.path() / rel)) << rel;
  }
  EXPECT_EQ(job.Counts().processed, 7u);
  EXPECT_EQ(job.Counts().failed, 0u);
  EXPECT_TRUE(control_.Done());
}

TEST_F(RecoverJobTest, CountsAndListsFailures) {
  engine_->failWith[2] = kErrReadFault;
  RecoverJob job(view_, control_);
  auto findings = Findings({"one.txt", "two.txt", "three.txt"});
  ASSERT_EQ(job.Run(findings, dir_.path(), RecoverLayout::kByType), kJobFinished);
  EXPECT_EQ(job.Counts().processed, 3u);
  EXPECT_EQ(job.Counts().failed, 1u);
  ASSERT_EQ(job.Failures().size(), 1u);
  EXPECT_EQ(job.Failures()[0].error, kErrReadFault);
  EXPECT_NE(job.Failures()[0].path.find("two.txt"), std::string::npos);
}

TEST_F(RecoverJobTest, CancelStopsAfterTheCurrentFile) {
  CancelAfterFirstFile view(control_);
  RecoverJob job(view, control_);
  auto findings = Findings({"one.txt", "two.txt", "three.txt"});
  EXPECT_EQ(job.Run(findings, dir_.path(), RecoverLayout::kByType), kJobCancelled);
  EXPECT_TRUE(fs::exists(dir_.path() / "document/one.txt"));
  EXPECT_FALSE(fs::exists(dir_.path() / "document/three.txt"));
  EXPECT_TRUE(control_.Done());
}

TEST_F(RecoverJobTest, HostileNamesStayInsideTheDestination) {
  engine_->folderPath = "../../escape/../";
  RecoverJob job(view_, control_);
  auto findings = Findings({"../../evil.txt", "..", "a/b.jpg"});
  ASSERT_EQ(job.Run(findings, dir_.path() / "out", RecoverLayout::kByFolder), kJobFinished);
  ASSERT_EQ(job.Run(findings, dir_.path() / "out", RecoverLayout::kByType), kJobFinished);
  const std::string root = fs::weakly_canonical(dir_.path() / "out").string() + "/";
  size_t files = 0;
  for (auto& e : fs::recursive_directory_iterator(dir_.path())) {
    if (!e.is_regular_file()) continue;
    ++files;
    EXPECT_EQ(fs::weakly_canonical(e.path()).string().rfind(root, 0), 0u) << e.path();
  }
  EXPECT_EQ(files, 6u);
}

TEST(RecoverJobPaths, BaseDepthCountsSlashesOfTheFolder) {
  EXPECT_EQ(RecoverJob::BaseDepth("/out/a"), 2u);
  EXPECT_EQ(RecoverJob::BaseDepth("/out/a/"), 2u);
  EXPECT_EQ(RecoverJob::BaseDepth("out"), 0u);
}

}  // namespace
}  // namespace nuvarin
