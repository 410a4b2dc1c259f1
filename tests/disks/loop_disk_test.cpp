// Discovery, targets, guards and imaging on real loop disks: a disk image
// partitioned by sfdisk (NTFS, a gap, FAT32, free space after) and a blank one.
#include <gtest/gtest.h>

#include <algorithm>

#include "disks/area_resolver.h"
#include "disks/disk_map.h"
#include "disks/image_copier.h"
#include "platform/device_monitor.h"
#include "platform/error_codes.h"
#include "platform/volume.h"
#include "tests/disks/loop_disk.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace nuvarin;

namespace {

class LoopDisks : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir("disks-loop");
    image_ = dir_->path() / "disk.img";
    auto r = test::RunCommand(test::FixtureScript("disks_make_partitioned.sh").string() + " " +
                              test::ShellQuote(image_.string()));
    ASSERT_EQ(r.exitCode, 0) << r.output;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(loop_.Attach(image_, true)); }

  // The records of our loop disk in a fresh map, and its disk number.
  std::vector<PartitionRecord> OurRecords(DiskMap& map, int32_t& disk) {
    EXPECT_NE(map.EnumerateDisks(), 0);
    disk = -1;
    for (const auto& d : map.Disks()) {
      if (d.devicePath == loop_.device()) disk = d.diskNumber;
    }
    auto it = map.Records().find(disk);
    return it == map.Records().end() ? std::vector<PartitionRecord>{} : it->second;
  }

  static test::TempDir* dir_;
  static fs::path image_;
  test::LoopDisk loop_;
};
test::TempDir* LoopDisks::dir_ = nullptr;
fs::path LoopDisks::image_;

TEST_F(LoopDisks, ListsPartitionsGapsFileSystemsAndLabels) {
  DiskMap map;
  int32_t disk = -1;
  auto records = OurRecords(map, disk);
  ASSERT_GE(disk, 0) << loop_.device() << " is not in the disk list";
  ASSERT_EQ(records.size(), 4u);
  struct Want {
    RecordKind kind;
    uint64_t first, count;
    const char* fs;
    const char* label;
    uint8_t type;
    int32_t number;
  } want[] = {
      {RecordKind::kVolume, 2048, 40960, "NTFS", "NTVOL", kTypeNtfs, 1},
      {RecordKind::kGap, 43008, 32768, "", "", 0, 0},
      {RecordKind::kVolume, 75776, 69632, "FAT32", "FATVOL", kTypeFat32, 2},
      {RecordKind::kGap, 145408, 59392, "", "", 0, 0},
  };
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(records[i].kind, want[i].kind);
    EXPECT_EQ(records[i].firstSector, want[i].first);
    EXPECT_EQ(records[i].sectorCount, want[i].count);
    EXPECT_EQ(records[i].fileSystem, want[i].fs);
    EXPECT_EQ(records[i].label, want[i].label);
    EXPECT_EQ(records[i].type, want[i].type);
    EXPECT_EQ(records[i].partitionNumber, want[i].number);
    EXPECT_EQ(records[i].diskNumber, disk);
  }
  EXPECT_EQ(records[0].devicePath, loop_.Partition(1));
  EXPECT_EQ(records[2].devicePath, loop_.Partition(2));
  // Numbers run on from the records of the disks before ours.
  for (size_t i = 1; i < records.size(); ++i) EXPECT_EQ(records[i].letter, records[0].letter + i);
  EXPECT_FALSE(map.Disk(disk)->removable);
  EXPECT_EQ(map.Disk(disk)->sizeBytes, 204800u * 512);
}

TEST_F(LoopDisks, ABlankDiskIsOneWholeDiskRecord) {
  test::TempDir dir("disks-blank");
  ASSERT_EQ(test::RunCommand("truncate -s 8M " + (dir / "blank.img").string()).exitCode, 0);
  test::LoopDisk blank;
  ASSERT_TRUE(blank.Attach(dir / "blank.img", false));
  DiskMap map;
  ASSERT_NE(map.EnumerateDisks(), 0);
  int32_t disk = -1;
  for (const auto& d : map.Disks()) {
    if (d.devicePath == blank.device()) disk = d.diskNumber;
  }
  ASSERT_GE(disk, 0);
  auto it = map.Records().find(disk);
  ASSERT_NE(it, map.Records().end());
  ASSERT_EQ(it->second.size(), 1u);
  const auto& r = it->second[0];
  EXPECT_EQ(r.kind, RecordKind::kBlankDisk);
  EXPECT_EQ(r.firstSector, 0u);
  EXPECT_EQ(r.sectorCount, 16384u);
  EXPECT_EQ(r.totalBytes, 8u << 20);
}

TEST_F(LoopDisks, MountedVolumeHasFiguresAndGuardsItsDisk) {
  test::NtfsMount mount;
  const fs::path dir = dir_->path() / "mnt";
  ASSERT_TRUE(mount.Mount(loop_.Partition(1), dir));
  DiskMap map;
  int32_t disk = -1;
  auto records = OurRecords(map, disk);
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].mountPoint, dir.string());
  EXPECT_GT(records[0].totalBytes, 0u);
  EXPECT_GT(records[0].freeBytes, 0u);
  EXPECT_LT(records[0].freeBytes, records[0].totalBytes);
  EXPECT_EQ(records[0].usedBytes, records[0].totalBytes - records[0].freeBytes);
  std::string fsName;
  ASSERT_EQ(platform::FileSystemOfPath(dir / "image.img", fsName), kOk);
  EXPECT_EQ(fsName, "NTFS");  // the FUSE mount's device is probed

  ScanTarget ntfs, fat, whole;
  std::string description, error;
  // A destination folder that does not exist yet counts by its parent.
  const fs::path dest = dir / "recovered" / "here";
  bool resolved = false, onNtfs = false, onWhole = false, onFat = true, elsewhere = true, onGap = true;
  test::WithStableDiskTable([&] {
    resolved = ResolveBlockTarget(loop_.Partition(1), ntfs, description, error) &&
               ResolveBlockTarget(loop_.Partition(2), fat, description, error) &&
               ResolveBlockTarget(loop_.device(), whole, description, error);
    ScanTarget gap = ntfs;
    gap.startSector = records[1].firstSector;
    gap.sectorCount = records[1].sectorCount;
    onNtfs = DestinationOnScannedArea(ntfs, dest);
    onWhole = DestinationOnScannedArea(whole, dest);
    onFat = DestinationOnScannedArea(fat, dest);
    elsewhere = DestinationOnScannedArea(ntfs, dir_->path() / "elsewhere");
    onGap = DestinationOnScannedArea(gap, dest);
  });
  ASSERT_TRUE(resolved) << error;
  EXPECT_TRUE(onNtfs);
  EXPECT_TRUE(onWhole);
  EXPECT_FALSE(onFat);
  EXPECT_FALSE(elsewhere);
  EXPECT_FALSE(onGap);

  // The copier itself never writes an image into the area it copies.
  ImageCopier copier;
  int32_t area = kOk, wholeDisk = kOk;
  test::WithStableDiskTable([&] {
    std::string ignored;
    ResolveBlockTarget(loop_.Partition(1), ntfs, description, ignored);
    area = CreateImage(copier, ntfs.diskIndex, ntfs.startSector, ntfs.sectorCount, dir / "self.img", nullptr);
    wholeDisk = CreateImage(copier, ntfs.diskIndex, 0, 0, dir / "self.img", nullptr);
  });
  EXPECT_EQ(area, kErrInvalidParameter);
  EXPECT_EQ(wholeDisk, kErrInvalidParameter);
  EXPECT_FALSE(fs::exists(dir / "self.img"));

  // A file system whose image file lies on the NTFS volume, mounted through
  // a loop device: writing there writes to the NTFS partition too.
  ASSERT_TRUE(test::HaveTool("mkfs.ext4")) << "mkfs.ext4 (e2fsprogs) is needed";
  const fs::path inner = dir / "inner.img";
  ASSERT_EQ(
      test::RunCommand("truncate -s 4M " + inner.string() + " && mkfs.ext4 -q -F " + inner.string()).exitCode,
      0);
  test::LoopDisk innerLoop;
  ASSERT_TRUE(innerLoop.Attach(inner, false));
  const fs::path innerDir = dir_->path() / "inner";
  fs::create_directories(innerDir);
  struct Unmount {
    fs::path dir;
    bool mounted = false;
    ~Unmount() {
      if (mounted) test::RunCommand("umount " + test::ShellQuote(dir.string()));
    }
  } unmount{innerDir};
  auto r =
      test::RunCommand("mount -t ext4 " + innerLoop.device() + " " + test::ShellQuote(innerDir.string()));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  unmount.mounted = true;
  bool innerOnNtfs = false, innerOnFat = true;
  test::WithStableDiskTable([&] {
    std::string ignored;
    ResolveBlockTarget(loop_.Partition(1), ntfs, description, ignored);
    ResolveBlockTarget(loop_.Partition(2), fat, description, ignored);
    innerOnNtfs = DestinationOnScannedArea(ntfs, innerDir / "out");
    innerOnFat = DestinationOnScannedArea(fat, innerDir / "out");
  });
  EXPECT_TRUE(innerOnNtfs);
  EXPECT_FALSE(innerOnFat);
}

TEST_F(LoopDisks, TargetsByDeviceAndByNumber) {
  DiskMap map;
  int32_t disk = -1;
  std::vector<PartitionRecord> records;
  ScanTarget t, byNumber, whole;
  std::string description, numberDescription, error;
  bool partOk = false, numberOk = false, wholeOk = false;
  test::WithStableDiskTable([&] {
    records = OurRecords(map, disk);
    if (records.size() != 4) return;
    partOk = ResolveBlockTarget(loop_.Partition(2), t, description, error);
    numberOk = ResolveBlockTarget(std::to_string(records[1].letter), byNumber, numberDescription, error);
    std::string wholeDescription;
    wholeOk = ResolveBlockTarget(loop_.device(), whole, wholeDescription, error);
  });
  ASSERT_EQ(records.size(), 4u);
  ASSERT_TRUE(partOk && numberOk && wholeOk) << error;
  EXPECT_EQ(t.diskIndex, static_cast<uint32_t>(disk));
  EXPECT_EQ(t.startSector, 75776u);
  EXPECT_EQ(t.sectorCount, 69632u);
  EXPECT_EQ(t.driveLetter, records[2].letter);
  EXPECT_FALSE(t.IsImage());
  EXPECT_NE(description.find(loop_.Partition(2)), std::string::npos);

  EXPECT_EQ(byNumber.startSector, 43008u);  // the gap
  EXPECT_EQ(byNumber.sectorCount, 32768u);
  EXPECT_NE(numberDescription.find("unallocated"), std::string::npos);

  EXPECT_EQ(whole.diskIndex, static_cast<uint32_t>(disk));
  EXPECT_EQ(whole.startSector, 0u);
  EXPECT_EQ(whole.sectorCount, 204800u);

  EXPECT_FALSE(ResolveBlockTarget("/dev/nuvarin-no-such-disk", t, description, error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(ResolveBlockTarget("99999", t, description, error));
  EXPECT_NE(error.find("nuvarin disks"), std::string::npos);
  // A plain file is no block target (the caller opens it as an image).
  EXPECT_FALSE(ResolveBlockTarget(image_.string(), t, description, error));
  EXPECT_TRUE(error.empty());
}

TEST_F(LoopDisks, ImageOfAPartitionIsByteIdentical) {
  DiskMap map;
  int32_t disk = -1;
  auto records = OurRecords(map, disk);
  ASSERT_GE(disk, 0);
  const fs::path out = dir_->path() / "fat.img";
  ImageCopier c;
  int32_t rc = -1;
  test::WithStableDiskTable([&] {
    OurRecords(map, disk);
    rc = CreateImage(c, static_cast<uint32_t>(disk), 75776, 69632, out, nullptr);
  });
  ASSERT_EQ(rc, kOk);
  auto whole = test::ReadFile(image_);
  std::vector<uint8_t> want(whole.begin() + 75776 * 512, whole.begin() + (75776 + 69632) * 512);
  EXPECT_TRUE(test::ReadFile(out) == want);
  // Through the partition's own device as well.
  ASSERT_EQ(CreateImageFromPath(c, loop_.Partition(2), 0, 0, out, nullptr), kOk);
  EXPECT_TRUE(test::ReadFile(out) == want);
  EXPECT_EQ(test::ReadFile(image_), whole);  // the source was not written
}

TEST_F(LoopDisks, MonitorSeesPartitionsComeAndGo) {
  platform::DeviceMonitor monitor;
  ASSERT_EQ(monitor.Start(), kOk);
  ASSERT_EQ(test::RunCommand("partx -d " + loop_.device()).exitCode, 0);
  ASSERT_EQ(test::RunCommand("partx -a " + loop_.device()).exitCode, 0);
  std::vector<platform::DeviceEvent> events;
  const std::string p1 = fs::path(loop_.Partition(1)).filename().string();
  for (int i = 0; i < 40; ++i) {
    monitor.Poll(50, events);
    auto arrivals = std::count_if(events.begin(), events.end(), [&](const platform::DeviceEvent& e) {
      return e.name == p1 && e.change == platform::DeviceEvent::Change::kArrival;
    });
    if (arrivals > 0) break;
  }
  auto count = [&](platform::DeviceEvent::Change change) {
    return std::count_if(events.begin(), events.end(),
                         [&](const platform::DeviceEvent& e) { return e.name == p1 && e.change == change; });
  };
  EXPECT_EQ(count(platform::DeviceEvent::Change::kRemoval), 1);
  EXPECT_EQ(count(platform::DeviceEvent::Change::kArrival), 1);
  for (const auto& e : events) {
    if (e.name == p1) {
      EXPECT_EQ(e.devType, "partition");
    }
  }
}

}  // namespace
