// Hostile MFT records: a real volume whose records are damaged on purpose. The
// scan must finish, skip or cut short only what is damaged, and keep finding
// and recovering everything else.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "ntfs/attribute.h"
#include "ntfs/fast_ntfs_recovery.h"
#include "ntfs/mft_record.h"
#include "platform/disk_table.h"
#include "platform/error_codes.h"
#include "platform/file_io.h"
#include "scan_fixture.h"
#include "storage/scan_log_index.h"
#include "test_support.h"

namespace nuvarin {
namespace {

using test::Finding;
using test::NtfsVolumeFixture;
using test::ReadFile;

// Reads record `n` of `image`, undoes its fixups, lets `edit` change it and
// writes it back with the update sequence in place, as NTFS itself would.
void PatchRecord(const std::filesystem::path& image, const CFastNtfsRecovery& layout, uint32_t n,
                 const std::function<void(std::vector<uint8_t>&)>& edit) {
  const NtfsGeometry& g = layout.Geometry();
  uint64_t offset = MapRecordToSector(g, layout.MftRuns(), n) * g.bytesPerSector;
  platform::FileHandle h;
  ASSERT_EQ(platform::OpenReadWrite(image, h), kOk);
  std::vector<uint8_t> rec(g.recordSize);
  size_t got = 0;
  ASSERT_EQ(platform::ReadAt(h, rec.data(), rec.size(), offset, got), kOk);
  ASSERT_TRUE(MftRecordHeader::IsRecord(ByteReader(rec.data(), rec.size())));
  ApplyFixups(rec.data(), rec.size(), g);
  edit(rec);
  for (uint32_t i = 0; i < g.sectorsPerRecord; ++i) {
    size_t end = g.bytesPerSector * (i + 1) - 2;
    std::memcpy(&rec[0x32 + 2 * i], &rec[end], 2);
    std::memcpy(&rec[end], &rec[0x30], 2);
  }
  ASSERT_EQ(platform::WriteAllAt(h, rec.data(), rec.size(), offset), kOk);
  platform::Close(h);
}

size_t AttributeOffset(const std::vector<uint8_t>& rec, uint32_t type) {
  AttributeView a;
  EXPECT_TRUE(FindAttribute(ByteReader(rec.data(), rec.size()), WalkRule::RunLookup(), type, a));
  return a.offset;
}

void Put32(std::vector<uint8_t>& rec, size_t at, uint32_t v) { std::memcpy(&rec[at], &v, 4); }

TEST(NtfsDamagedVolumeTest, DamagedRecordsEndOnlyTheirOwnWalks) {
  auto& fx = NtfsVolumeFixture::Get();
  ASSERT_TRUE(fx.ok()) << fx.log();
  test::TempDir dir("ntfs-damaged");
  auto image = dir / "damaged.img";
  std::filesystem::copy_file(fx.Image(), image);
  CFastNtfsRecovery layout;
  ASSERT_EQ(layout.OpenImage(fx.Image(), 0), kOk);
  auto rec = [&](const char* path) { return static_cast<uint32_t>(fx.Records().at(path)); };
  const uint32_t deeper = rec("docs/deep/deeper");
  const uint32_t deep = deeper - 1;  // made just before it

  // bytesInUse far beyond the 8 KiB buffer.
  PatchRecord(image, layout, rec("docs/note.txt"), [](auto& r) { Put32(r, 0x18, 0xFFFFFF00); });
  // A wild first attribute length: sign-extended it steps backwards.
  PatchRecord(image, layout, rec("docs/deep/deeper/tiny.txt"), [](auto& r) { Put32(r, 0x38 + 4, 0xFFF0); });
  // A run list that never ends: run headers to the end of the attribute.
  PatchRecord(image, layout, rec("docs/big.bin"), [](auto& r) {
    size_t at = AttributeOffset(r, kAttrData);
    uint32_t length;
    std::memcpy(&length, &r[at + 4], 4);
    uint16_t runs;
    std::memcpy(&runs, &r[at + 0x20], 2);
    std::memset(&r[at + runs], 0x11, length - runs);
  });
  // An attribute running past the record.
  PatchRecord(image, layout, rec("trash/sub/b.txt"), [](auto& r) {
    Put32(r, AttributeOffset(r, kAttrFileName) + 4, 0x1800);
  });
  // A parent chain that loops: deep's parent becomes deeper, whose parent is deep.
  PatchRecord(image, layout, deep, [&](auto& r) { Put32(r, AttributeOffset(r, kAttrFileName) + 0x18, deeper); });
  // An attribute list (in place of the security descriptor, which sorts
  // before the data) that names only the record itself, twice, for its data.
  PatchRecord(image, layout, rec("trash/a.bin"), [&](auto& r) {
    size_t at = AttributeOffset(r, 0x50);
    uint32_t length;
    std::memcpy(&length, &r[at + 4], 4);
    ASSERT_GE(length, 0x18u + 0x40);
    Put32(r, at, kAttrAttributeList);
    std::memset(&r[at + 0x18], 0, length - 0x18);
    for (int i = 0; i < 2; ++i) {
      size_t e = at + 0x18 + 0x20 * i;
      Put32(r, e, kAttrData);
      r[e + 4] = 0x20;
      r[e + 8] = static_cast<uint8_t>(i * 3);  // start VCN
      Put32(r, e + 0x10, rec("trash/a.bin"));
    }
  });

  CFastNtfsRecovery engine;
  ASSERT_EQ(engine.OpenImage(image, 0), kOk);
  ScanLogIndex::Instance().NewScanFolder();  // a log of its own, as the scan job gives each scan
  ASSERT_EQ(engine.OpenLog(nullptr), kOk);
  auto findings = test::WalkFindings(engine);
  // The loop members are visited once each.
  const auto& folders = engine.FolderList();
  EXPECT_EQ(std::count(folders.begin(), folders.end(), deep), 1);
  EXPECT_EQ(std::count(folders.begin(), folders.end(), deeper), 1);
  EXPECT_EQ(findings.count("docs/deep/deeper/tiny.txt"), 0u) << "its walk ended before the name";
  EXPECT_EQ(findings.count("trash/sub/b.txt"), 0u) << "its name attribute runs past the record";
  EXPECT_EQ(findings.count("docs/deep"), 0u) << "the loop is not below the root";
  std::vector<DataRun> runs;
  ASSERT_EQ(engine.DataLookup().dataRuns(findings.at("trash/a.bin").item.entrySector, runs), kOk);
  EXPECT_EQ(runs.size(), 2u) << "the record's own extent, once per list entry";

  test::TempDir out("ntfs-damaged-out");
  engine.SetProgressCallback(nullptr, nullptr, nullptr, 100);
  auto recover = [&](const char* path, const char* original = nullptr) -> int32_t {
    auto it = findings.find(path);
    if (it == findings.end()) return -1000;
    auto dest = out / (std::to_string(it->second.item.objectId) + ".out");
    int32_t rc = engine.RecoverItem(&it->second.item, dest, 0);
    bool same = ReadFile(dest) == ReadFile(fx.Original(original ? original : path));
    return rc == kOk && same ? kOk : (rc == kOk ? -2000 : rc);
  };
  // Undamaged records are unaffected.
  for (const char* path : {"trash/sub/subsub/c.dat", "frag/frag1.bin"}) EXPECT_EQ(recover(path), kOk) << path;
  EXPECT_EQ(recover("LostFolder64/victim.txt", "reuse/victim.txt"), kOk);
  // The record whose bytesInUse lies is still read within its own bytes.
  EXPECT_EQ(recover("docs/note.txt"), kOk);
  // The self-naming list resolves to the record's own data attribute.
  EXPECT_EQ(recover("trash/a.bin"), kOk);
  // The endless run list ends inside its attribute: the file is not what it
  // was, and the recovery ends (with whatever the wrong runs gave).
  EXPECT_NE(recover("docs/big.bin"), kOk);
}

TEST(NtfsBigClusterTest, VolumeWith128KiBClusters) {
  for (const char* tool : {"mkntfs", "ntfs-3g"}) ASSERT_TRUE(test::HaveTool(tool)) << tool;
  test::TempDir dir("ntfs-bigcluster");
  auto r = test::RunCommand("bash " + test::ShellQuote(test::FixtureScript("ntfs_big_clusters.sh").string()) +
                            " " + test::ShellQuote(dir.path().string()));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  auto boot = ReadFile(dir / "big.img");
  ASSERT_GT(boot.size(), 512u);
  ASSERT_EQ(boot[0x0D], 0xF8);
  CFastNtfsRecovery engine;
  ASSERT_EQ(engine.OpenImage(dir / "big.img", 0), kOk);
  EXPECT_EQ(engine.Geometry().sectorsPerCluster, 256u);
  ScanLogIndex::Instance().NewScanFolder();  // a log of its own, as the scan job gives each scan
  ASSERT_EQ(engine.OpenLog(nullptr), kOk);
  auto findings = test::WalkFindings(engine);
  ASSERT_EQ(findings.count("data.bin"), 1u);
  ASSERT_EQ(findings.count("small.txt"), 1u);
  EXPECT_EQ(findings.count("live.bin"), 0u);
  for (const char* name : {"data.bin", "small.txt"}) {
    const FoundItem& item = findings.at(name).item;
    EXPECT_EQ(+item.clusterSize, 131072u);
    ASSERT_EQ(engine.RecoverItem(&item, dir / "out" / name, 0), kOk);
    EXPECT_EQ(ReadFile(dir / "out" / name), ReadFile(dir / "orig" / name)) << name;
  }
}


// A volume that starts inside a disk: the loop device holds 1 MiB before the
// volume, the engine is opened on the area at sector 2048, and every sector it
// reports and reads is absolute on the disk.
TEST(NtfsDiskAreaTest, VolumeInsideADiskThroughOpenDisk) {
  auto& fx = NtfsVolumeFixture::Get();
  ASSERT_TRUE(fx.ok()) << fx.log();
  ASSERT_TRUE(test::HaveTool("losetup"));
  test::TempDir dir("ntfs-disk");
  auto disk = dir / "disk.img";
  auto made = test::RunCommand("head -c 1048576 /dev/zero > " + test::ShellQuote(disk.string()) + " && cat " +
                               test::ShellQuote(fx.Image().string()) + " >> " + test::ShellQuote(disk.string()));
  ASSERT_EQ(made.exitCode, 0) << made.output;
  auto attach = test::RunCommand("losetup -f --show -r " + test::ShellQuote(disk.string()));
  ASSERT_EQ(attach.exitCode, 0) << attach.output;
  std::string device = attach.output.substr(0, attach.output.find('\n'));
  struct Detach {
    std::string device;
    ~Detach() { test::RunCommand("losetup -d " + test::ShellQuote(device)); }
  } detach{device};
  std::string name = std::filesystem::path(device).filename();
  auto disks = platform::ListWholeDisks();
  uint32_t index = UINT32_MAX;
  for (uint32_t i = 0; i < disks.size(); ++i)
    if (disks[i].name == name) index = i;
  ASSERT_NE(index, UINT32_MAX) << device << " not in the disk table";

  CFastNtfsRecovery onImage;
  ASSERT_EQ(onImage.OpenImage(fx.Image(), 0), kOk);
  ScanLogIndex::Instance().NewScanFolder();
  ASSERT_EQ(onImage.OpenLog(nullptr), kOk);
  auto expected = test::WalkFindings(onImage);

  const uint64_t volumeSectors = std::filesystem::file_size(fx.Image()) / 512;
  CFastNtfsRecovery engine;
  ASSERT_EQ(engine.OpenDisk(index, 2048, volumeSectors, 2), kOk);
  EXPECT_EQ(engine.Geometry().volumeStart, 2048u);
  ScanLogIndex::Instance().NewScanFolder();
  ASSERT_EQ(engine.OpenLog(nullptr), kOk);
  auto findings = test::WalkFindings(engine);
  ASSERT_EQ(findings.size(), expected.size());
  for (const auto& [path, f] : expected) {
    ASSERT_EQ(findings.count(path), 1u) << path;
    if (f.item.clusterSize == kNoClusterSize) continue;  // lost folders carry no sectors
    EXPECT_EQ(+findings.at(path).item.entrySector, f.item.entrySector + 2048) << path;
    EXPECT_EQ(+findings.at(path).item.volumeStartSector, 2048u);
  }
  for (const char* path : {"docs/big.bin", "frag/frag1.bin", "docs/note.txt"}) {
    auto dest = dir / "out" / std::filesystem::path(path).filename();
    ASSERT_EQ(engine.RecoverItem(&findings.at(path).item, dest, 0), kOk) << path;
    EXPECT_EQ(ReadFile(dest), ReadFile(fx.Original(path))) << path;
  }
  // Free extents are relative to the area.
  ASSERT_EQ(engine.LoadAllocationBitmap(), kOk);
  ASSERT_EQ(onImage.LoadAllocationBitmap(), kOk);
  uint64_t a = 0, b = 0, la = 0, lb = 0;
  EXPECT_EQ(engine.NextFreeExtent(a, la), 1);
  EXPECT_EQ(onImage.NextFreeExtent(b, lb), 1);
  EXPECT_EQ(a, b);
  EXPECT_EQ(la, lb);
}

}  // namespace
}  // namespace nuvarin
