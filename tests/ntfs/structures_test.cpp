// The NTFS structure decoders on hand-made bytes: boot geometry, fixups, the
// attribute walks and their stop rules, run lists, record-to-sector mapping,
// and the data look-ups on a small image file of records.
#include <gtest/gtest.h>

#include <cstring>

#include "ntfs/attribute.h"
#include "ntfs/attribute_list.h"
#include "ntfs/boot_sector.h"
#include "ntfs/data_location.h"
#include "ntfs/file_name.h"
#include "ntfs/mft_record.h"
#include "ntfs/run_list.h"
#include "platform/error_codes.h"
#include "record_builder.h"
#include "test_support.h"

namespace nuvarin {
namespace {

using test::RecordBuilder;

std::vector<uint8_t> BootSector(uint16_t bps, uint8_t spc, uint64_t mftCluster) {
  std::vector<uint8_t> b(4096, 0);
  std::memcpy(&b[3], "NTFS    ", 8);
  std::memcpy(&b[0x0B], &bps, 2);
  b[0x0D] = spc;
  std::memcpy(&b[0x30], &mftCluster, 8);
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

TEST(NtfsGeometryTest, DecodesSectorAndClusterSizes) {
  struct Case {
    uint16_t bps;
    uint8_t spc;
    bool ok;
    uint32_t sectorsPerCluster, sectorsPerRecord, recordSize;
  } cases[] = {
      {512, 8, true, 8, 2, 1024},
      {0, 8, true, 8, 2, 1024},        // 0 means 512
      {4096, 1, true, 1, 1, 4096},
      {512, 0x80, true, 128, 2, 1024},  // 64 KiB clusters, the plain count
      {512, 0xF8, true, 256, 2, 1024},  // 128 KiB clusters: 2^(256 - 0xF8)
      {512, 0xF4, true, 4096, 2, 1024},
      {512, 0x00, false, 0, 0, 0},
      {512, 0x81, false, 0, 0, 0},      // 2^127 sectors: unusable
      {700, 8, false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "bps " << c.bps << " spc byte " << int(c.spc));
    auto boot = BootSector(c.bps, c.spc, 4);
    NtfsGeometry g;
    ASSERT_EQ(DecodeNtfsGeometry(boot.data(), boot.size(), 100, g), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(g.sectorsPerCluster, c.sectorsPerCluster);
    EXPECT_EQ(g.sectorsPerRecord, c.sectorsPerRecord);
    EXPECT_EQ(g.recordSize, c.recordSize);
    EXPECT_EQ(g.mftStart, 100 + 4ull * c.sectorsPerCluster);
  }
  auto boot = BootSector(512, 8, ~0ull / 4);
  NtfsGeometry g;
  EXPECT_FALSE(DecodeNtfsGeometry(boot.data(), boot.size(), 0, g)) << "MFT position overflows";
  EXPECT_FALSE(DecodeNtfsGeometry(boot.data(), 100, 0, g)) << "short boot area";
}

NtfsGeometry Geometry512() {
  NtfsGeometry g;
  g.bytesPerSector = 512;
  g.sectorsPerCluster = 8;
  g.sectorsPerRecord = 2;
  g.recordSize = 1024;
  return g;
}

TEST(NtfsFixupTest, RestoresSectorEndsWithoutComparing) {
  RecordBuilder b(40);
  std::vector<uint8_t> rec = b.FileName(5, "a.txt").Build();
  rec[510] = 0x77;  // a torn sector end: not compared, restored anyway
  std::vector<uint8_t> buf(kMftReadBytes, 0);
  std::memcpy(buf.data(), rec.data(), rec.size());
  buf[0x32] = 0xAB;
  buf[0x33] = 0xCD;
  ApplyFixups(buf.data(), buf.size(), Geometry512());
  EXPECT_EQ(buf[510], 0xAB);
  EXPECT_EQ(buf[511], 0xCD);
  EXPECT_EQ(buf[1022], rec[0x34]);

  NtfsGeometry g4k;
  g4k.bytesPerSector = 4096;
  g4k.sectorsPerRecord = 1;
  g4k.recordSize = 4096;
  std::vector<uint8_t> big(kMftReadBytes, 0x11);
  big[0x32] = 1;
  big[0x33] = 2;
  ApplyFixups(big.data(), big.size(), g4k);
  EXPECT_EQ(big[4094], 1);
  EXPECT_EQ(big[4095], 2);
  EXPECT_EQ(big[510], 0x11) << "only the last word of a 4 KiB record";
  std::vector<uint8_t> tiny(600, 0);
  ApplyFixups(tiny.data(), tiny.size(), Geometry512());  // second word lies outside: left alone
}

AttributeView OneAttribute(const std::vector<uint8_t>& runBytes, uint32_t length = 0) {
  static std::vector<uint8_t> storage;
  storage.assign(length ? length : 0x40 + runBytes.size() + 8, 0);
  storage[0] = 0x80;
  storage[8] = 1;
  storage[0x20] = 0x40;
  std::memcpy(&storage[0x40], runBytes.data(), std::min(runBytes.size(), storage.size() - 0x40));
  AttributeView a;
  a.type = 0x80;
  a.length = static_cast<uint32_t>(storage.size());
  a.bytes = ByteReader(storage.data(), storage.size());
  return a;
}

TEST(NtfsRunListTest, DecodesLengthsOffsetsAndSigns) {
  struct Case {
    std::vector<uint8_t> bytes;
    std::vector<std::pair<uint64_t, int64_t>> runs;
    std::vector<bool> sparse;
  } cases[] = {
      {{0x00}, {}, {}},
      {{0x21, 0x10, 0x00, 0x08}, {{16, 2048}}, {false}},
      {{0x21, 0x10, 0xFF, 0x7F}, {{16, 32767}}, {false}},
      {{0x21, 0x10, 0x00, 0xFF}, {{16, -256}}, {false}},
      {{0x21, 0x10, 0x00, 0x80}, {{16, -32768}}, {false}},
      {{0x01, 0x20}, {{32, 0}}, {true}},
      {{0x81, 0x20}, {}, {}},
      {{0x18, 0x20}, {}, {}},
      {{0x31, 0x04, 0x00, 0x10, 0x00, 0x01, 0x08, 0x11, 0x02, 0xF8}, {{4, 4096}, {8, 0}, {2, -8}},
       {false, true, false}},
  };
  for (const Case& c : cases) {
    std::vector<DataRun> runs;
    DecodeRunList(OneAttribute(c.bytes), runs);
    ASSERT_EQ(runs.size(), c.runs.size());
    for (size_t i = 0; i < runs.size(); ++i) {
      EXPECT_EQ(runs[i].clusterCount, c.runs[i].first);
      EXPECT_EQ(runs[i].lcnDelta, c.runs[i].second);
      EXPECT_EQ(runs[i].sparse, c.sparse[i]);
    }
  }
}

TEST(NtfsRunListTest, DecodesLongAttributesAndStopsAtTheirEnd) {
  // 200 runs of one cluster, 3 bytes each: the attribute is longer than a sector.
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 200; ++i) bytes.insert(bytes.end(), {0x11, 0x01, 0x02});
  bytes.push_back(0);
  AttributeView a = OneAttribute(bytes);
  ASSERT_GE(a.length, 512u);
  std::vector<DataRun> runs;
  EXPECT_EQ(DecodeRunList(a, runs), 200u);

  // A list that never ends: run headers up to the attribute's last byte, and
  // a final run whose fields would pass it.
  std::vector<uint8_t> endless(0x40 + 301, 0x11);
  runs.clear();
  DecodeRunList(OneAttribute(endless, static_cast<uint32_t>(0x40 + 301)), runs);
  EXPECT_EQ(runs.size(), 100u);
}

std::vector<uint8_t> InBuffer(const std::vector<uint8_t>& record) {
  std::vector<uint8_t> buf(kMftReadBytes, 0);
  std::memcpy(buf.data(), record.data(), record.size());
  ApplyFixups(buf.data(), buf.size(), Geometry512());
  return buf;
}

std::vector<uint32_t> Types(const std::vector<uint8_t>& buf, const WalkRule& rule) {
  std::vector<uint32_t> types;
  AttributeWalk walk(ByteReader(buf.data(), buf.size()), rule);
  AttributeView a;
  while (walk.Next(a)) types.push_back(a.type);
  return types;
}

TEST(NtfsAttributeWalkTest, StopRulesDifferByCaller) {
  // FILE_NAME, then an attribute of type 0 with a sane length, then DATA.
  RecordBuilder b(30);
  b.FileName(5, "x.txt");
  b.Raw({0, 0, 0, 0, 0x18, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  b.Resident(0x80, {1, 2, 3});
  auto buf = InBuffer(b.Build());
  EXPECT_EQ(Types(buf, WalkRule::DeletedScan()), (std::vector<uint32_t>{0x30}));
  EXPECT_EQ(Types(buf, WalkRule::RunLookup()), (std::vector<uint32_t>{0x30, 0, 0x80}));

  RecordBuilder f(31);
  f.FileName(5, "y.txt");
  f.Raw({0xFD, 0xFD, 0xFD, 0xFD, 0x18, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  f.Resident(0x80, {1});
  auto fill = InBuffer(f.Build());
  EXPECT_EQ(Types(fill, WalkRule::ResidentData()), (std::vector<uint32_t>{0x30}));
  EXPECT_EQ(Types(fill, WalkRule::RunLookup()), (std::vector<uint32_t>{0x30, 0xFDFDFDFD, 0x80}));
}

TEST(NtfsAttributeWalkTest, HostileLengthsEndTheWalkInsideTheBuffer) {
  struct Case {
    const char* what;
    uint32_t length;
    size_t inRecord, in8k;  // attributes yielded over the 1 KiB record and over the 8 KiB buffer
  } cases[] = {{"zero length", 0, 1, 1},
               {"sign-extended 0xFFF0", 0xFFF0, 1, 1},
               {"past the record, inside the buffer", 0x1000, 1, 2},
               {"past the buffer", 0x7000, 1, 1},
               {"shorter than a header", 8, 1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordBuilder b(40);
    b.FileName(5, "z.txt");
    size_t wild = b.Position();
    b.Resident(0x80, {9, 9, 9});
    b.Put32(wild + 4, c.length);
    auto buf = InBuffer(b.Build());
    std::vector<uint8_t> record(buf.begin(), buf.begin() + 1024);
    EXPECT_EQ(Types(record, WalkRule::DeletedScan()).size(), c.inRecord);
    EXPECT_EQ(Types(record, WalkRule::RunLookup()).size(), c.inRecord);
    EXPECT_EQ(Types(buf, WalkRule::RunLookup()).size(), c.in8k);
  }
  // bytesInUse far beyond the buffer, first attribute offset beyond it.
  RecordBuilder b(41);
  auto rec = b.FileName(5, "w.txt").Build();
  std::vector<uint8_t> small(rec.begin(), rec.end());
  uint32_t huge = 0xFFFFFF00;
  std::memcpy(&small[0x18], &huge, 4);
  EXPECT_EQ(Types(small, WalkRule::DeletedScan()), (std::vector<uint32_t>{0x30}));
  small[0x14] = 0xF0;
  small[0x15] = 0xFF;
  EXPECT_TRUE(Types(small, WalkRule::DeletedScan()).empty());
}

TEST(NtfsFileNameTest, DecodesAndRejectsShortNames) {
  RecordBuilder b(50);
  auto buf = InBuffer(b.FileName(77, "report.docx", 12345, 1).Build());
  AttributeView a;
  ASSERT_TRUE(FindAttribute(ByteReader(buf.data(), 1024), WalkRule::DeletedScan(), 0x30, a));
  FileNameValue fn;
  ASSERT_TRUE(DecodeFileName(a, fn));
  EXPECT_EQ(fn.name, "report.docx");
  EXPECT_EQ(fn.parentRecord, 77u);
  EXPECT_EQ(fn.realSize, 12345u);
  EXPECT_EQ(fn.nameSpace, 1);
  // A name length that runs past the attribute.
  std::vector<uint8_t> bytes(a.bytes.data(), a.bytes.data() + a.bytes.size());
  bytes[0x18 + 0x40] = 200;
  AttributeView bad = a;
  bad.bytes = ByteReader(bytes.data(), bytes.size());
  EXPECT_FALSE(DecodeFileName(bad, fn));
}

TEST(NtfsMappingTest, RecordNumbersToSectors) {
  NtfsGeometry g = Geometry512();
  g.volumeStart = 1000;
  g.mftStart = 1000 + 16 * 8;
  // 4 clusters at 16 (16 records), then 2 clusters at 16 + 100.
  std::vector<DataRun> runs{{4, 16, false}, {2, 100, false}};
  EXPECT_EQ(MapRecordToSector(g, runs, 0), g.mftStart);
  EXPECT_EQ(MapRecordToSector(g, runs, 15), g.mftStart + 30);
  EXPECT_EQ(MapRecordToSector(g, runs, 16), 1000 + 116ull * 8);
  EXPECT_EQ(MapRecordToSector(g, runs, 23), 1000 + 116ull * 8 + 14);
  EXPECT_EQ(MapRecordToSector(g, runs, 24), 1000u) << "beyond the runs: the boot sector";
  EXPECT_EQ(MapRecordToSector(g, runs, ~0ull), 1000u);
}

// A small image: boot sector, then records from sector 16 on (one cluster per
// record pair, MFT at cluster 2), data clusters from cluster 40.
class NtfsLookupTest : public testing::Test {
 protected:
  void SetUp() override {
    image_.assign(512 * 1024, 0);
    auto boot = BootSector(512, 8, 2);
    std::memcpy(image_.data(), boot.data(), 512);
    g_ = Geometry512();
    g_.mftStart = 16;
    mftRuns_ = {{4, 2, false}};  // records 0..15 at sectors 16..47
  }
  void PutRecord(uint32_t n, const std::vector<uint8_t>& rec) {
    std::memcpy(&image_[(16 + 2 * n) * 512], rec.data(), rec.size());
  }
  void Write() {
    path_ = dir_ / "lookup.img";
    test::WriteFile(path_, image_);
    ASSERT_EQ(OpenImageFile(path_, device_), kOk);
  }
  NtfsVolume Volume() { return NtfsVolume{&device_, g_, &mftRuns_}; }
  uint64_t Lba(uint32_t n) { return MapRecordToSector(g_, mftRuns_, n); }

  test::TempDir dir_{"ntfs-lookup"};
  std::filesystem::path path_;
  std::vector<uint8_t> image_;
  NtfsGeometry g_;
  std::vector<DataRun> mftRuns_;
  SectorDevice device_;
};

std::vector<uint8_t> ListEntry(uint32_t type, uint64_t vcn, uint32_t record) {
  std::vector<uint8_t> e(0x20, 0);
  std::memcpy(&e[0], &type, 4);
  e[4] = 0x20;
  std::memcpy(&e[8], &vcn, 8);
  std::memcpy(&e[0x10], &record, 4);
  return e;
}

TEST_F(NtfsLookupTest, ResidentValueAndDataSize) {
  PutRecord(12, RecordBuilder(12).FileName(5, "r.txt").Resident(0x80, {'h', 'e', 'l', 'l', 'o'}).Build());
  PutRecord(13, RecordBuilder(13).FileName(5, "n.bin").NonResident(0x80, {0x11, 0x02, 0x28}, 5000).Build());
  PutRecord(14, RecordBuilder(14).FileName(5, "none").Build());
  Write();
  std::vector<uint8_t> value;
  ASSERT_EQ(ReadResidentData(Volume(), Lba(12), value), kOk);
  ASSERT_EQ(value.size(), 8u) << "the value up to the attribute's end";
  EXPECT_EQ(std::string(value.begin(), value.begin() + 5), "hello");
  EXPECT_EQ(ReadResidentData(Volume(), Lba(13), value), kErrNoResidentData);
  EXPECT_EQ(ReadResidentData(Volume(), Lba(14), value), kErrNoResidentData);
  EXPECT_EQ(ReadResidentData(Volume(), 0, value), kErrNoResidentData) << "boot sector is no record";
  uint64_t size = 0;
  EXPECT_EQ(ReadDataSize(Volume(), Lba(13), size), kOk);
  EXPECT_EQ(size, 5000u);
  EXPECT_EQ(ReadDataSize(Volume(), Lba(14), size), kErrInvalidParameter);
  EXPECT_EQ(ReadDataSize(Volume(), 0, size), kErrNotMftRecord);
  std::vector<DataRun> runs;
  EXPECT_EQ(FindAttributeRuns(Volume(), Lba(13), 0x80, runs), kOk);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].clusterCount, 2u);
  EXPECT_EQ(runs[0].lcnDelta, 40);
  EXPECT_EQ(FindAttributeRuns(Volume(), Lba(14), 0x80, runs), kErrNoAttribute);
}

TEST_F(NtfsLookupTest, AttributeListCollectsEveryExtent) {
  std::vector<uint8_t> list;
  for (auto& e : {ListEntry(0x10, 0, 12), ListEntry(0x30, 0, 12), ListEntry(0x80, 0, 12), ListEntry(0x80, 2, 13),
                  ListEntry(0x80, 5, 14)})
    list.insert(list.end(), e.begin(), e.end());
  PutRecord(12, RecordBuilder(12)
                    .Resident(0x20, list)
                    .FileName(5, "big.bin")
                    .NonResident(0x80, {0x11, 0x02, 0x28}, 7 * 4096)
                    .Build());
  RecordBuilder ext1(13);
  ext1.Put64(0x20, 12);
  PutRecord(13, ext1.NonResident(0x80, {0x11, 0x03, 0x32}, 0, 2).Build());
  RecordBuilder ext2(14);
  ext2.Put64(0x20, 12);
  PutRecord(14, ext2.NonResident(0x80, {0x11, 0x02, 0x3C}, 0, 5).Build());
  Write();
  std::vector<DataRun> runs;
  ASSERT_EQ(FindAttributeRuns(Volume(), Lba(12), 0x80, runs), kOk);
  ASSERT_EQ(runs.size(), 3u);
  // Each extent's first offset is absolute on disk; the collected list keeps
  // offsets relative to the previous run, so the extents land at 40, 50, 60.
  EXPECT_EQ(runs[0].lcnDelta, 40);
  EXPECT_EQ(runs[1].lcnDelta, 10);
  EXPECT_EQ(runs[2].lcnDelta, 10);
  EXPECT_EQ(runs[2].clusterCount, 2u);
  EXPECT_EQ(TotalClusters(runs), 7u);
}

TEST_F(NtfsLookupTest, AttributeListPointingToItselfEnds) {
  // The data attribute is missing, and every list entry names the record itself.
  std::vector<uint8_t> list;
  for (int i = 0; i < 6; ++i) {
    auto e = ListEntry(0x80, i, 12);
    list.insert(list.end(), e.begin(), e.end());
  }
  PutRecord(12, RecordBuilder(12).Resident(0x20, list).FileName(5, "loop.bin").Build());
  // An entry pointing beyond the MFT: the boot sector is no record.
  std::vector<uint8_t> far = ListEntry(0x80, 0, 0x00FFFFFF);
  PutRecord(11, RecordBuilder(11).Resident(0x20, far).FileName(5, "far.bin").Build());
  Write();
  std::vector<DataRun> runs;
  EXPECT_EQ(FindAttributeRuns(Volume(), Lba(12), 0x80, runs), kErrNoAttribute);
  EXPECT_TRUE(runs.empty());
  EXPECT_EQ(FindAttributeRuns(Volume(), Lba(11), 0x80, runs), kErrNotMftRecord);
}

TEST(NtfsAttributeListTest, ParsesEntriesAndStopsAtBadLengths) {
  std::vector<uint8_t> bytes;
  for (auto& e : {ListEntry(0x10, 0, 40), ListEntry(0x80, 3, 41)}) bytes.insert(bytes.end(), e.begin(), e.end());
  auto bad = ListEntry(0x80, 9, 42);
  bad[4] = 0x04;  // shorter than an entry
  bytes.insert(bytes.end(), bad.begin(), bad.end());
  auto entries = ParseAttributeList(ByteReader(bytes.data(), bytes.size()));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].type, 0x80u);
  EXPECT_EQ(entries[1].startVcn, 3u);
  EXPECT_EQ(entries[1].recordNumber, 41u);
}

}  // namespace
}  // namespace nuvarin
