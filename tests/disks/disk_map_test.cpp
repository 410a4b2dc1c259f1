// The disk list: gap and numbering rules on their own, then a whole
// enumeration over a fake sysfs tree whose device nodes are image files.
#include "disks/disk_map.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>

#include "platform/disk_table.h"
#include "platform/volume.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace nuvarin;

namespace {

PartitionRecord Volume(uint64_t first, uint64_t count) {
  PartitionRecord r;
  r.kind = RecordKind::kVolume;
  r.type = kTypeNtfs;
  r.diskNumber = 0;
  r.firstSector = first;
  r.sectorCount = count;
  return r;
}

struct GapCase {
  const char* name;
  std::vector<std::pair<uint64_t, uint64_t>> volumes;
  uint64_t diskSectors;
  std::vector<std::pair<uint64_t, uint64_t>> gaps;
};

TEST(GapRules, TableOfLayouts) {
  const uint64_t GiB = 2097152;  // sectors of 512 bytes
  const GapCase cases[] = {
      {"back to back from 2048, 1 GiB free after",
       {{2048, 1000000}, {1002048, 500000}},
       1502048 + GiB,
       {{1502048, GiB}}},
      {"gap of one cylinder is not listed", {{2048, 1000}, {3048 + 16065, 1000}}, 0, {}},
      {"gap of one cylinder and a sector is listed",
       {{2048, 1000}, {3048 + 16066, 1000}},
       0,
       {{3048, 16066}}},
      {"space before the first partition counts from sector 63", {{63 + 20000, 100}}, 0, {{63, 20000}}},
      {"a volume at sector 0 (no table) leaves no gap", {{0, 50000}}, 50000, {}},
      {"overlapping entries never make a gap",
       {{2048, 100000}, {4096, 1000}, {102048 + 20000, 10}},
       0,
       {{102048, 20000}}},
      {"no disk length: no trailing gap", {{2048, 1000}}, 0, {}},
      {"trailing space of one cylinder is not listed", {{2048, 1000}}, 3048 + 16065, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<PartitionRecord> records;
    for (auto [first, count] : c.volumes) records.push_back(Volume(first, count));
    AddGapRecords(records, 0, c.diskSectors, 512);
    std::vector<std::pair<uint64_t, uint64_t>> gaps;
    for (const auto& r : records) {
      if (!r.IsGap()) continue;
      gaps.emplace_back(r.firstSector, r.sectorCount);
      EXPECT_EQ(r.type, 0);
      EXPECT_EQ(r.letter, kNoLetter);
      EXPECT_EQ(r.totalBytes, r.sectorCount * 512);
      EXPECT_EQ(r.freeBytes, r.totalBytes);
      EXPECT_EQ(r.usedBytes, 0u);
    }
    EXPECT_EQ(gaps, c.gaps);
  }
}

TEST(GapRules, NumbersFollowTheListedOrderAcrossDisks) {
  std::map<int32_t, std::vector<PartitionRecord>> map;
  map[2] = {Volume(2048, 10), Volume(5000, 10)};
  map[0] = {Volume(63, 10)};
  map[0][0].letter = u'C';  // a record that already has a letter keeps it, and still counts
  NumberRecords(map);
  EXPECT_EQ(map[0][0].letter, u'C');
  EXPECT_EQ(map[2][0].letter, 2);
  EXPECT_EQ(map[2][1].letter, 3);
}

TEST(GapRules, VolumeTypeFromTheFileSystemName) {
  EXPECT_EQ(VolumeType("NTFS", 0x83), kTypeNtfs);
  EXPECT_EQ(VolumeType("FAT32", 0x0c), kTypeFat32);
  EXPECT_EQ(VolumeType("fat", 0x0e), kTypeFat);
  EXPECT_EQ(VolumeType("exFAT", 0x07), 0x07);  // keeps the table's byte
  EXPECT_EQ(VolumeType("ext4", 0x83), 0x83);
}

// A fake /sys and /dev: sysfs attributes as small files, device nodes as
// image files that libblkid reads like disks.
class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::HaveTool("sfdisk")) << "sfdisk (fdisk) is needed";
    ASSERT_TRUE(test::HaveTool("mkfs.fat")) << "mkfs.fat (dosfstools) is needed";
    ASSERT_TRUE(test::HaveTool("mkntfs")) << "mkntfs (ntfs-3g) is needed";
    sys_ = dir_ / "sys";
    dev_ = dir_ / "dev";
    fs::create_directories(sys_ / "block");
    fs::create_directories(dev_);
    mount_ = dir_ / "mnt";
    fs::create_directories(mount_);

    // Disk sdz: the partitioned image, removable.
    auto r = test::RunCommand(test::FixtureScript("disks_make_partitioned.sh").string() + " " +
                              test::ShellQuote((dev_ / "sdz").string()));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    Disk("sdz", 204800, "8:0", "1");
    Part("sdz", "sdz1", 1, 2048, 40960, "8:1");
    Part("sdz", "sdz2", 2, 75776, 69632, "8:2");
    Attr(sys_ / "block/sdz/device/model", "Fake Stick      \n");

    // sdy: blank, hanging off a USB bus.
    fs::path usb = sys_ / "devices/pci0000:00/0000:00:14.0/usb1/1-1/block/sdy";
    fs::create_directories(usb);
    fs::create_directory_symlink(usb, sys_ / "block/sdy");
    Disk("sdy", 40960, "8:16", "0");
    test::RunCommand("truncate -s " + std::to_string(40960 * 512) + " " + (dev_ / "sdy").string());

    // sdx: a partition the kernel knows on a disk that cannot be read.
    Disk("sdx", 4096, "8:32", "0");
    Part("sdx", "sdx1", 1, 2048, 2048, "8:33");

    // loop6: a FAT file system on the whole device; loop5 has no backing
    // file; sr0 and ram0 are never listed.
    Disk("loop6", 8192, "7:6", "0");
    Attr(sys_ / "block/loop6/loop/backing_file", "/somewhere/floppy.img\n");
    r = test::RunCommand("mkfs.fat -C -n FLOPPY " + (dev_ / "loop6").string() + " 4096");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    Disk("loop5", 8192, "7:5", "0");
    Disk("sr0", 8192, "11:0", "1");
    Disk("nvme0c0n1", 8192, "259:9", "0");
    Attr(sys_ / "block/nvme0c0n1/hidden", "1\n");
    Disk("ram0", 8192, "1:0", "0");

    // sdz1 is mounted on a folder of ours, so its figures are statvfs's.
    mountInfo_ = dir_ / "mountinfo";
    std::ofstream(mountInfo_) << "21 1 8:3 / / rw - ext4 /dev/sda3 rw\n"
                              << "40 21 8:1 / " << EscapeSpaces(mount_.string())
                              << " rw,relatime shared:1 - fuseblk /dev/sdz1 rw\n";
    platform::SetSysfsRoot(sys_);
    platform::SetDevRoot(dev_);
    platform::SetMountInfoPath(mountInfo_);
  }
  void TearDown() override {
    platform::SetSysfsRoot({});
    platform::SetDevRoot({});
    platform::SetMountInfoPath({});
  }
  static std::string EscapeSpaces(const std::string& s) {
    std::string out;
    for (char c : s) out += c == ' ' ? std::string("\\040") : std::string(1, c);
    return out;
  }
  static void Attr(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
  }
  void Disk(const std::string& name, uint64_t size, const std::string& dev, const std::string& removable) {
    fs::path d = sys_ / "block" / name;
    Attr(d / "size", std::to_string(size) + "\n");
    Attr(d / "dev", dev + "\n");
    Attr(d / "removable", removable + "\n");
    Attr(d / "queue/logical_block_size", "512\n");
  }
  void Part(const std::string& disk, const std::string& name, int number, uint64_t start, uint64_t size,
            const std::string& dev) {
    fs::path p = sys_ / "block" / disk / name;
    Attr(p / "partition", std::to_string(number) + "\n");
    Attr(p / "start", std::to_string(start) + "\n");
    Attr(p / "size", std::to_string(size) + "\n");
    Attr(p / "dev", dev + "\n");
  }

  test::TempDir dir_{"disks-sysfs"};
  fs::path sys_, dev_, mount_, mountInfo_;
};

TEST_F(FakeSysfs, ListsVolumesGapsAndBlankDisksInOrder) {
  DiskMap map;
  ASSERT_NE(map.EnumerateDisks(), 0);
  ASSERT_EQ(map.Disks().size(), 4u);  // loop6, sdx, sdy, sdz
  EXPECT_EQ(map.Disks()[0].name, "loop6");
  EXPECT_EQ(map.Disks()[3].name, "sdz");
  EXPECT_EQ(map.Disks()[3].model, "Fake Stick");
  EXPECT_EQ(map.Disks()[3].tableType, "dos");
  EXPECT_TRUE(map.Disks()[3].removable);  // sysfs flag
  EXPECT_TRUE(map.Disks()[2].removable);  // USB bus
  EXPECT_FALSE(map.Disks()[1].removable);
  EXPECT_EQ(map.Disks()[2].sizeBytes, 40960u * 512);

  std::vector<PartitionRecord> all;
  map.FlattenDisks(all);
  ASSERT_EQ(all.size(), 7u);
  for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i].letter, i + 1) << i;

  // loop6: one file system on the whole device.
  EXPECT_EQ(all[0].kind, RecordKind::kVolume);
  EXPECT_EQ(all[0].fileSystem, "FAT");
  EXPECT_EQ(all[0].type, kTypeFat);
  EXPECT_EQ(all[0].label, "FLOPPY");
  EXPECT_EQ(all[0].partitionNumber, 0);
  EXPECT_EQ(all[0].sectorCount, 8192u);

  // sdx1: listed with what sysfs knows and why the rest is missing.
  EXPECT_EQ(all[1].diskNumber, 1);
  EXPECT_EQ(all[1].firstSector, 2048u);
  EXPECT_EQ(all[1].sectorCount, 2048u);
  EXPECT_TRUE(all[1].fileSystem.empty());
  EXPECT_FALSE(all[1].message.empty());
  EXPECT_FALSE(map.Disks()[1].message.empty());

  // sdy: blank.
  EXPECT_EQ(all[2].kind, RecordKind::kBlankDisk);
  EXPECT_EQ(all[2].type, 0);
  EXPECT_EQ(all[2].firstSector, 0u);
  EXPECT_EQ(all[2].sectorCount, 40960u);
  EXPECT_EQ(all[2].freeBytes, 40960u * 512);

  // sdz: NTFS, gap, FAT32, trailing gap.
  EXPECT_EQ(all[3].fileSystem, "NTFS");
  EXPECT_EQ(all[3].type, kTypeNtfs);
  EXPECT_EQ(all[3].label, "NTVOL");
  EXPECT_EQ(all[3].partitionNumber, 1);
  EXPECT_EQ(all[3].devicePath, (dev_ / "sdz1").string());
  EXPECT_EQ(all[3].mountPoint, mount_.string());
  uint64_t total = 0, free = 0;
  ASSERT_EQ(platform::VolumeSpace(mount_, total, free), 0);
  EXPECT_EQ(all[3].totalBytes, total);
  EXPECT_EQ(all[3].usedBytes + all[3].freeBytes, all[3].totalBytes);

  EXPECT_TRUE(all[4].IsGap());
  EXPECT_EQ(all[4].firstSector, 43008u);
  EXPECT_EQ(all[4].sectorCount, 32768u);

  EXPECT_EQ(all[5].fileSystem, "FAT32");
  EXPECT_EQ(all[5].type, kTypeFat32);
  EXPECT_EQ(all[5].label, "FATVOL");
  EXPECT_EQ(all[5].firstSector, 75776u);
  EXPECT_EQ(all[5].sectorCount, 69632u);
  EXPECT_TRUE(all[5].mountPoint.empty());
  EXPECT_EQ(all[5].totalBytes, 69632u * 512);  // not mounted: the partition's length, nothing free
  EXPECT_EQ(all[5].freeBytes, 0u);

  EXPECT_TRUE(all[6].IsGap());
  EXPECT_EQ(all[6].firstSector, 145408u);
  EXPECT_EQ(all[6].sectorCount, 204800u - 145408u);

  // NextRecord walks the same order.
  DiskCursor cursor;
  PartitionRecord r;
  size_t n = 0;
  while (map.NextRecord(cursor, r)) {
    ASSERT_LT(n, all.size());
    EXPECT_EQ(r.firstSector, all[n].firstSector);
    EXPECT_EQ(r.diskNumber, all[n].diskNumber);
    ++n;
  }
  EXPECT_EQ(n, all.size());
}

TEST_F(FakeSysfs, TableEntriesStandInWhenTheKernelListsNoPartitions) {
  fs::remove_all(sys_ / "block/sdz/sdz1");
  fs::remove_all(sys_ / "block/sdz/sdz2");
  DiskMap map;
  ASSERT_NE(map.EnumerateDisks(), 0);
  auto it = map.Records().find(3);
  ASSERT_NE(it, map.Records().end());
  ASSERT_EQ(it->second.size(), 4u);
  EXPECT_EQ(it->second[0].fileSystem, "NTFS");
  EXPECT_TRUE(it->second[0].devicePath.empty());
  EXPECT_EQ(it->second[2].fileSystem, "FAT32");
  EXPECT_EQ(it->second[2].partitionNumber, 2);
}

TEST_F(FakeSysfs, FindMissingRecordsReportsWhatWentAway) {
  DiskMap map;
  map.EnumerateDisks();
  std::vector<PartitionRecord> before;
  map.FlattenDisks(before);
  // sdy goes away: the disks after it move down by one number.
  fs::remove(sys_ / "block/sdy");
  std::vector<PartitionRecord> missing;
  map.FindMissingRecords(before, missing);
  // Disk 2 now is sdz (its first record at 2048 is not sdy's 0), disk 3 is gone.
  std::vector<std::pair<int32_t, uint64_t>> got;
  for (const auto& r : missing) got.emplace_back(r.diskNumber, r.firstSector);
  std::vector<std::pair<int32_t, uint64_t>> want = {{2, 0}, {3, 2048}, {3, 43008}, {3, 75776}, {3, 145408}};
  EXPECT_EQ(got, want);
}

TEST_F(FakeSysfs, GptTypesAndFourKiBSectors) {
  // sdw: GPT with an unformatted Linux partition and a basic-data one; the
  // drive has 4096-byte logical sectors, sysfs still counts 512-byte units.
  const fs::path img = dev_ / "sdw";
  auto r = test::RunCommand("truncate -s 64M " + img.string() + " && sfdisk -q " + img.string() +
                            " <<'EOF'\nlabel: gpt\nstart=2048, size=20480, type=L\n"
                            "start=40960, size=20480, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\nEOF");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  Disk("sdw", 131072, "8:48", "0");
  Attr(sys_ / "block/sdw/queue/logical_block_size", "4096\n");
  Part("sdw", "sdw1", 1, 2048, 20480, "8:49");
  Part("sdw", "sdw2", 2, 40960, 20480, "8:50");
  DiskMap map;
  ASSERT_NE(map.EnumerateDisks(), 0);
  ASSERT_EQ(map.Disks()[1].name, "sdw");
  EXPECT_EQ(map.Disks()[1].tableType, "gpt");
  EXPECT_EQ(map.Disks()[1].sectorSize, 4096u);
  auto it = map.Records().find(1);
  ASSERT_NE(it, map.Records().end());
  std::vector<std::tuple<RecordKind, uint64_t, uint64_t, uint8_t>> got;
  for (const auto& rec : it->second) got.emplace_back(rec.kind, rec.firstSector, rec.sectorCount, rec.type);
  // In 4096-byte sectors: 256 + 2560, 5120 + 2560, disk of 16384. The space
  // between (2304) and after (8704) is less than the fallback cylinder.
  std::vector<std::tuple<RecordKind, uint64_t, uint64_t, uint8_t>> want = {
      {RecordKind::kVolume, 256, 2560, 0x83},
      {RecordKind::kVolume, 5120, 2560, 0x07},
  };
  EXPECT_EQ(got, want);
  EXPECT_EQ(it->second[0].totalBytes, 2560u * 4096);
}

TEST_F(FakeSysfs, DamagedSysfsFiguresAreSkippedNotTrusted) {
  Disk("sdv", 0, "8:64", "0");
  Attr(sys_ / "block/sdv/size", "not a number\n");
  Attr(sys_ / "block/sdv/queue/logical_block_size", "1000\n");  // no real drive has that
  Part("sdv", "sdv1", 1, 99999999999999999ULL, 1152921504606846976ULL, "8:65");
  Part("sdv", "sdv2", 2, 2048, 1152921504606846976ULL, "8:66");
  Part("sdv", "sdv3", 3, 2048, 100, "8:67");
  Attr(sys_ / "block/sdv/sdv9/partition", "9\n");  // start and size missing
  DiskMap map;
  ASSERT_NE(map.EnumerateDisks(), 0);
  ASSERT_EQ(map.Disks()[1].name, "sdv");
  EXPECT_EQ(map.Disks()[1].sizeBytes, 0u);
  EXPECT_EQ(map.Disks()[1].sectorSize, 512u);
  auto it = map.Records().find(1);
  ASSERT_NE(it, map.Records().end());
  ASSERT_EQ(it->second.size(), 1u);  // only sdv3 is a plausible partition
  EXPECT_EQ(it->second[0].firstSector, 2048u);
  EXPECT_EQ(it->second[0].sectorCount, 100u);
}

TEST_F(FakeSysfs, FileSystemOfADestinationFromTheMountTable) {
  struct stat st {};
  ASSERT_EQ(::stat(mount_.c_str(), &st), 0);
  const std::string majmin = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
  const std::pair<const char*, const char*> cases[] = {{"vfat /not/a/device", "FAT"},
                                                       {"exfat /dev/nothing", "exFAT"},
                                                       {"ext4 /dev/sdq1", "ext4"},
                                                       {"tmpfs tmpfs", "tmpfs"}};
  for (const auto& [tail, want] : cases) {
    std::ofstream(mountInfo_) << "21 1 " << majmin << " / / rw shared:1 - " << tail << " rw\n";
    std::string name;
    ASSERT_EQ(platform::FileSystemOfPath(mount_ / "not" / "yet" / "there.img", name), 0) << tail;
    EXPECT_EQ(name, want) << tail;
  }
}

TEST_F(FakeSysfs, NoSysfsMeansNoList) {
  platform::SetSysfsRoot(dir_ / "nothing-here");
  DiskMap map;
  EXPECT_EQ(map.EnumerateDisks(), 0);
  EXPECT_TRUE(map.Records().empty());
}

}  // namespace
