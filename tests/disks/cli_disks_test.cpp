// The command line on a real loop disk: the disk list, images of a
// partition, the destination checks, and scans and recoveries of a
// partition named by its device.
#include <gtest/gtest.h>

#include "tests/disks/loop_disk.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace nuvarin;

namespace {

class CliDisks : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir("disks-cli");
    image_ = dir_->path() / "disk.img";
    auto r = test::RunCommand(test::FixtureScript("disks_make_partitioned.sh").string() + " " +
                              test::ShellQuote(image_.string()));
    ASSERT_EQ(r.exitCode, 0) << r.output;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(fs::exists(test::BuiltProgram("cli/nuvarin")));
    ASSERT_TRUE(loop_.Attach(image_, true));
  }
  static test::CommandResult Nuvarin(const std::string& args) {
    return test::RunCommand("XDG_DATA_HOME=" + test::ShellQuote((dir_->path() / "data").string()) + " " +
                            test::ShellQuote(test::BuiltProgram("cli/nuvarin").string()) + " " + args);
  }
  // Bytes of the fixture image, sectors [first, first + count).
  static std::vector<uint8_t> Sectors(uint64_t first, uint64_t count) {
    auto all = test::ReadFile(image_);
    return {all.begin() + first * 512, all.begin() + (first + count) * 512};
  }

  static test::TempDir* dir_;
  static fs::path image_;
  test::LoopDisk loop_;
};
test::TempDir* CliDisks::dir_ = nullptr;
fs::path CliDisks::image_;

TEST_F(CliDisks, ListsTheLoopDiskWithPartitionsAndGaps) {
  auto r = Nuvarin("disks");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const std::string& out = r.output;
  size_t disk = out.find(loop_.device() + "  fixed  100.00 MB  (MBR)");
  ASSERT_NE(disk, std::string::npos) << out;
  size_t p1 = out.find(loop_.Partition(1), disk);
  size_t gap = out.find("(unallocated)", p1);
  size_t p2 = out.find(loop_.Partition(2), gap);
  size_t tail = out.find("(unallocated)", p2);
  ASSERT_NE(p1, std::string::npos) << out;
  ASSERT_NE(gap, std::string::npos) << out;
  ASSERT_NE(p2, std::string::npos) << out;
  ASSERT_NE(tail, std::string::npos) << out;
  EXPECT_NE(out.find("NTVOL", p1), std::string::npos);
  EXPECT_NE(out.find("FATVOL", p2), std::string::npos);

  r = Nuvarin("disks --json");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("\"device\":\"" + loop_.Partition(2) +
                          "\",\"partition\":2,\"type\":11,\"fileSystem\":\"FAT32\",\"label\":\"FATVOL\","
                          "\"firstSector\":75776,\"sectorCount\":69632"),
            std::string::npos)
      << r.output;
  EXPECT_NE(
      r.output.find("\"kind\":\"unallocated\",\"device\":\"\",\"partition\":0,\"type\":0,\"fileSystem\":\"\","
                    "\"label\":\"\",\"firstSector\":43008,\"sectorCount\":32768"),
      std::string::npos);
  EXPECT_EQ(Nuvarin("disks --bogus").exitCode, 2);
}

TEST_F(CliDisks, ImagesAPartitionByteForByte) {
  const fs::path out = dir_->path() / "p2.img";
  auto r = Nuvarin("image " + loop_.Partition(2) + " --to " + test::ShellQuote(out.string()));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("69632 sectors"), std::string::npos) << r.output;
  EXPECT_TRUE(test::ReadFile(out) == Sectors(75776, 69632));
  // An existing image is kept unless replacing it was asked for.
  r = Nuvarin("image " + loop_.Partition(1) + " --to " + test::ShellQuote(out.string()));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("--overwrite"), std::string::npos);
  r = Nuvarin("image " + loop_.Partition(1) + " --to " + test::ShellQuote(out.string()) +
              " --overwrite --skip-bad");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("No unreadable sectors"), std::string::npos) << r.output;
  EXPECT_TRUE(test::ReadFile(out) == Sectors(2048, 40960));
  EXPECT_TRUE(fs::exists(out.string() + ".bad"));
}

TEST_F(CliDisks, RefusesBadSourcesAndDestinations) {
  EXPECT_EQ(Nuvarin("image").exitCode, 2);
  EXPECT_EQ(Nuvarin("image " + loop_.Partition(2)).exitCode, 2);
  auto r =
      Nuvarin("image " + test::ShellQuote(image_.string()) + " --to " + (dir_->path() / "x.img").string());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("not a disk"), std::string::npos) << r.output;
  r = Nuvarin("image /dev/null --to " + (dir_->path() / "x.img").string());
  EXPECT_EQ(r.exitCode, 1);
  r = Nuvarin("image " + loop_.Partition(2) + " --to /dev/null --overwrite");
  EXPECT_EQ(r.exitCode, 1);

  // The image may not land on the partition being copied, nor on its disk.
  test::NtfsMount mount;
  const fs::path mnt = dir_->path() / "mnt";
  ASSERT_TRUE(mount.Mount(loop_.Partition(1), mnt));
  for (const std::string& source : {loop_.Partition(1), loop_.device()}) {
    r = Nuvarin("image " + source + " --to " + (mnt / "self.img").string());
    EXPECT_EQ(r.exitCode, 1) << source;
    EXPECT_NE(r.output.find("being copied"), std::string::npos) << r.output;
  }
  EXPECT_FALSE(fs::exists(mnt / "self.img"));
  // The FAT partition fits beside it on the NTFS volume? 34 MB do not fit in 20 MB.
  r = Nuvarin("image " + loop_.Partition(2) + " --to " + (mnt / "fat.img").string());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("not enough free space"), std::string::npos) << r.output;
}

TEST_F(CliDisks, ScansAndRecoversAPartitionByItsDevice) {
  auto r = Nuvarin("scan " + loop_.Partition(2) + " --mode deleted --list");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  // gone.txt was deleted; its first letter is lost, its size is not.
  EXPECT_NE(r.output.find("one.txt\t20000"), std::string::npos) << r.output;

  // The same area by its number in the disk list (numbers move when other
  // tests attach loop devices meanwhile: then the two steps are repeated).
  std::string number;
  test::WithStableDiskTable([&] {
    auto list = Nuvarin("disks --json");
    const std::string key = "\"device\":\"" + loop_.Partition(2) + "\"";
    size_t at = list.output.rfind("{\"number\":", list.output.find(key));
    number = at == std::string::npos ? "" : list.output.substr(at + 10, list.output.find(',', at) - at - 10);
    r = Nuvarin("scan " + number + " --mode deleted --list");
  });
  ASSERT_FALSE(number.empty());
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("one.txt\t20000"), std::string::npos) << r.output;

  // Recovering onto the scanned partition's disk is refused unless asked for.
  test::NtfsMount mount;
  const fs::path mnt = dir_->path() / "mnt";
  ASSERT_TRUE(mount.Mount(loop_.Partition(1), mnt));
  r = Nuvarin("recover " + loop_.device() + " --mode deleted --to " + (mnt / "out").string());
  EXPECT_NE(r.exitCode, 0) << r.output;
  EXPECT_FALSE(fs::exists(mnt / "out"));
  r = Nuvarin("recover " + loop_.Partition(2) + " --mode deleted --to " + (mnt / "out").string());
  EXPECT_EQ(r.exitCode, 0) << r.output;
}

}  // namespace
