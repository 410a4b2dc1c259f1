// Size rules on hand-made files: end markers and their validity, stop
// sectors, length fields and their caps, structure walks, the transport-stream
// run, cancel during sizing, hostile fields.
#include <gtest/gtest.h>

#include <random>

#include "platform/error_codes.h"
#include "signature/carve_harness.h"
#include "signature/catalogue.h"
#include "signature/formats/formats.h"
#include "signature/size_rules_common.h"
#include "tests/signature/carve_test_util.h"

namespace nuvarin {
namespace {

using test::Bytes;
using test::MemoryImage;
using test::Put;
using test::PutBe16;
using test::PutBe32;
using test::PutLe16;
using test::PutLe32;
using test::PutLe64;

constexpr uint64_t MiB = 1024 * 1024;

struct Carved {
  int32_t rc = -1;
  uint64_t length = 0;
  std::string name;
};

// Sizes the file that starts at `sector` of an image holding `bytes`.
Carved CarveBytes(const Bytes& bytes, uint64_t sector = 0) {
  MemoryImage image(bytes);
  CarveState::Instance().Reset();
  Bytes padded = test::PadToSectors(bytes);
  CarveHit hit;
  Carved c;
  c.rc = IdentifyAndSize(padded.data() + 512 * sector, 512, image.device(), 512, sector, CarveProgress{}, hit);
  c.length = hit.length;
  c.name = hit.name;
  return c;
}

Bytes Filled(size_t n, uint8_t value) { return Bytes(n, value); }
Bytes Jfif() { return {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00}; }
Bytes PngMagic() { return {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}; }
Bytes PsdStart() {
  Bytes b = test::ToBytes("8BPS");
  b.resize(512, 0x11);
  return b;
}

TEST(SizeRulesEndMarkers, GifTrailerMustEndTheSectorOrBeFollowedByZeros) {
  Bytes gif = Filled(3 * 512, 0x21);
  Put(gif, 0, test::ToBytes("GIF89a"));
  Put(gif, 100, Bytes{0x00, 0x3B, 0xAA});  // followed by data: keeps searching
  Put(gif, 1000, Bytes{0x00, 0x3B});
  std::fill(gif.begin() + 1002, gif.begin() + 1024, 0);  // zeros to the sector's end
  EXPECT_EQ(CarveBytes(gif).length, 1002u);
  // A valid trailer in the first sector ends the file without reading on.
  Bytes small = gif;
  std::fill(small.begin() + 102, small.begin() + 512, 0);
  EXPECT_EQ(CarveBytes(small).length, 102u);
  // A trailer ending exactly on a sector boundary is valid whatever follows.
  Bytes edge = Filled(3 * 512, 0x21);
  Put(edge, 0, test::ToBytes("GIF89a"));
  Put(edge, 1022, Bytes{0x00, 0x3B});
  EXPECT_EQ(CarveBytes(edge).length, 1024u);
}

TEST(SizeRulesEndMarkers, JpegWithAThumbnailEndsAtTheLaterValidMarker) {
  const size_t end = 70000;
  Bytes jpeg = Filled(end + 2, 0x11);
  Put(jpeg, 0, Jfif());
  Put(jpeg, 1200, Bytes{0xFF, 0xD9});  // the thumbnail's end, inside the first chunk
  Put(jpeg, end, Bytes{0xFF, 0xD9});
  jpeg = test::PadToSectors(jpeg);
  Put(jpeg, jpeg.size(), PngMagic());  // the next file, one sector on
  jpeg.resize(jpeg.size() + 504 + 4096, 0x22);
  EXPECT_EQ(CarveBytes(jpeg).length, end + 2);
  // Without any valid marker a JPEG runs on to the PNG that follows it.
  Bytes cut = Filled(512, 0x11);
  Put(cut, 0, Jfif());
  Put(cut, 512, PngMagic());
  cut.resize(4096, 0x22);
  EXPECT_EQ(CarveBytes(cut).length, 512u);
}

TEST(SizeRulesEndMarkers, PdfKeepsOneLineEndAfterTheLastEof) {
  struct Case {
    const char* tail;
    size_t kept;
  } cases[] = {{"%%EOF\r\n", 7}, {"%%EOF\r", 6}, {"%%EOF\n", 6}, {"%%EOF", 5}, {"%%EOF\n\n", 6}};
  for (const Case& c : cases) {
    Bytes pdf = Filled(2000, ' ');
    Put(pdf, 0, test::ToBytes("%PDF-1.4\n"));
    Put(pdf, 900, test::ToBytes("%%EOF\n"));  // an earlier revision
    Put(pdf, 1500, test::ToBytes(c.tail));
    pdf.resize(1500 + std::strlen(c.tail));
    EXPECT_EQ(CarveBytes(pdf).length, 1500 + c.kept) << c.tail;
  }
  Bytes noEof = Filled(2000, ' ');
  Put(noEof, 0, test::ToBytes("%PDF-1.4\n"));
  Put(noEof, 1200, test::ToBytes("trailer"));
  EXPECT_EQ(CarveBytes(noEof).length, 1207u);
}

TEST(SizeRulesEndMarkers, ZipEndsAtTheLastEndRecordOfTheChunk) {
  Bytes zip = test::ZipLocal("a.txt", Filled(600, 'a'));
  const Bytes endRecord = {'P', 'K', 5, 6, 0, 0, 0, 0};
  Put(zip, 800, endRecord);
  Put(zip, 1300, endRecord);
  zip.resize(1322);
  EXPECT_EQ(CarveBytes(zip).length, 1322u);
  // An end record behind a stop sector belongs to the next file.
  Bytes two = test::ZipLocal("a.txt", Filled(600, 'a'));
  Put(two, 800, endRecord);
  two.resize(1024, 0);
  Put(two, 1024, test::ZipLocal("b.txt", Filled(40, 'b')));
  Put(two, 1300, endRecord);
  two.resize(1536);
  EXPECT_EQ(CarveBytes(two).length, 822u);
}

TEST(SizeRulesEndMarkers, ArchiveAndMediaMarkers) {
  struct Case {
    const char* label;
    Bytes file;
    uint64_t length;
  };
  std::vector<Case> cases;
  {
    Bytes b = Filled(3000, 0x33);
    Put(b, 0, Bytes{'7', 'z', 0xBC, 0xAF, 0x27, 0x1C});
    Put(b, 2000, Bytes{0x00, 0x07, 0x0B, 0x01, 0x00, 0x01, 0x23, 0x03, 0x01, 0x01, 0x05, 0x5D});
    cases.push_back({"7z end header", b, 2027});
  }
  {
    Bytes b = Filled(3000, 0x33);
    Put(b, 0, Bytes{'R', 'a', 'r', '!', 0x1A, 0x07, 0x00});
    Put(b, 1000, Bytes{0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00, 0x55});  // data follows: not valid
    Put(b, 2041, Bytes{0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00});
    std::fill(b.begin() + 2048, b.end(), 0);
    cases.push_back({"rar end block", b, 2048});
  }
  {
    Bytes b = Filled(3000, 0x33);
    Put(b, 0, test::ToBytes(".RMF"));
    Put(b, 1500, Bytes{'I', 'N', 'D', 'X', 0, 0, 0, 0x14, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0});
    cases.push_back({"realmedia index", b, 1520});
  }
  {
    Bytes b = Filled(3000, 0);
    Put(b, 4, test::ToBytes("ftypisom"));
    Put(b, 1500, test::ToBytes("freeIsoMedia File Produced by a camera"));
    cases.push_back({"mp4 producer text", b, 1500 + 38});
  }
  {
    Bytes b = Filled(4096, 0x33);
    Put(b, 0, Bytes{0, 0, 1, 0xBA});
    Put(b, 14, Bytes{0, 0, 1, 0xBB});
    Put(b, 1024, Bytes{0, 0, 1, 0xBA, 0, 0, 1, 0xBB});  // a pack inside: no stop while sizing MPEG
    Put(b, 3000, Bytes{0, 0, 1, 0xB9});
    std::fill(b.begin() + 3004, b.end(), 0);
    cases.push_back({"mpeg program end", b, 3004});
  }
  {
    Bytes b = Filled(4096, 0x33);
    Put(b, 0, test::ToBytes("ID3\x03"));
    b[5] = b[6] = b[7] = b[8] = b[9] = 0;
    Put(b, 2500, test::ToBytes("TAGtitle"));
    cases.push_back({"id3v1 tag", b, 2628});
  }
  {
    Bytes b = Filled(4096, 0x33);
    Put(b, 0, test::ToBytes("MAC "));
    const Bytes tag = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 0x07};
    Put(b, 1000, tag);
    Put(b, 1800, tag);
    cases.push_back({"ape tag footer", b, 1832});
  }
  {
    Bytes b(512, 0);
    Put(b, 0, test::ToBytes("MThd"));
    PutBe32(b, 4, 6);
    PutBe16(b, 10, 2);
    Put(b, 14, test::ToBytes("MTrk"));
    PutBe32(b, 18, 20);
    Put(b, 42, test::ToBytes("MTrk"));
    PutBe32(b, 46, 30);
    cases.push_back({"midi tracks", b, 14 + 28 + 38});
  }
  for (const Case& c : cases) {
    Carved got = CarveBytes(c.file);
    EXPECT_EQ(got.rc, 0) << c.label;
    EXPECT_EQ(got.length, c.length) << c.label;
  }
}

TEST(SizeRulesLengthFields, HeaderLengthsAndTheirCaps) {
  struct Case {
    const char* label;
    Bytes sector;
    uint64_t length;
  };
  std::vector<Case> cases;
  auto bmp = [](uint32_t size) {
    Bytes b(512, 0);
    Put(b, 0, test::ToBytes("BM"));
    PutLe32(b, 2, size);
    PutLe32(b, 14, 40);
    return b;
  };
  cases.push_back({"bmp", bmp(2 * 1000 * 1000), 2000000});
  cases.push_back({"bmp of 200 MiB is cut to 128 MiB", bmp(200 * MiB), 128 * MiB});
  auto riff = [](const char* form, const char* chunk, uint32_t size) {
    Bytes b(512, 0);
    Put(b, 0, test::ToBytes("RIFF"));
    PutLe32(b, 4, size);
    Put(b, 8, test::ToBytes(form));
    Put(b, 12, test::ToBytes(chunk));
    return b;
  };
  cases.push_back({"wav", riff("WAVE", "fmt ", 1000), 1008});
  cases.push_back({"avi has no cap", riff("AVI ", "LIST", 0xFFFFFFF0u), 0xFFFFFFF8ull});
  auto swf = [](char first, uint32_t size) {
    Bytes b(512, 0);
    Put(b, 0, Bytes{uint8_t(first), 'W', 'S', uint8_t(first == 'F' ? 5 : 10)});
    PutLe32(b, 4, size);
    return b;
  };
  cases.push_back({"swf plain", swf('F', 5000), 5000});
  cases.push_back({"swf plain capped", swf('F', 0xFFFFFFFFu), 256 * MiB});
  cases.push_back({"swf compressed", swf('C', 5000), 512});
  Bytes cab(512, 0);
  Put(cab, 0, test::ToBytes("MSCF"));
  PutLe32(cab, 8, 0xFFFFFFFFu);
  cases.push_back({"cab capped at 1 GiB", cab, 1024 * MiB});
  auto asf = [](uint32_t flags, uint64_t size, size_t at) {
    Bytes b(512, 0);
    Put(b, 0, Bytes{0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
    Put(b, at, Bytes{0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
    PutLe64(b, at + 40, size);
    PutLe32(b, at + 88, flags);
    return b;
  };
  cases.push_back({"asf file size", asf(2, 123456, 30), 123456});
  cases.push_back({"asf broadcast", asf(3, 123456, 30), 512});
  cases.push_back({"asf size above 4 GiB", asf(2, 0x100000000ull, 30), 256 * MiB});
  cases.push_back({"asf object cut by the sector end", asf(2, 123456, 440), 512});
  Bytes ico(512, 0);
  Put(ico, 0, Bytes{0, 0, 1, 0});
  PutLe16(ico, 4, 2);
  PutLe32(ico, 6 + 8, 100);
  PutLe32(ico, 6 + 12, 38);
  PutLe32(ico, 22 + 8, 300);
  PutLe32(ico, 22 + 12, 138);
  cases.push_back({"ico last image end", ico, 438});
  for (const Case& c : cases) {
    Bytes image = c.sector;
    image.resize(4096, 0);
    Carved got = CarveBytes(image);
    EXPECT_EQ(got.rc, 0) << c.label;
    EXPECT_EQ(got.length, c.length) << c.label;
  }
}

TEST(SizeRulesLengthFields, TrueTypeLengthIsPaddedToFourBytes) {
  Bytes ttf(512, 0);
  Put(ttf, 0, Bytes{0, 1, 0, 0});
  PutBe16(ttf, 4, 2);
  PutBe16(ttf, 6, 32);
  PutBe16(ttf, 8, 1);
  PutBe16(ttf, 10, 0);
  PutBe16(ttf, 10, 1);
  PutBe32(ttf, 12 + 8, 44);
  PutBe32(ttf, 12 + 12, 100);
  PutBe32(ttf, 28 + 8, 144);
  PutBe32(ttf, 28 + 12, 857);  // last table ends at 1001, unpadded
  Put(ttf, 44, Bytes{0, 1, 0, 0});
  EXPECT_EQ(CarveBytes(ttf).length, 1004u);
  CarveState::Instance().SetSectorSize(512);
  Bytes none(512, 0);
  EXPECT_EQ(formats::SizeTrueType(none.data(), none.size(), 65536), 0u);
}

// A psd runs on to the first stop sector; each kind of stop sector ends it.
TEST(SizeRulesStopSectors, FileSystemSectorsEndARunningFile) {
  auto sector = [](std::initializer_list<std::pair<size_t, Bytes>> parts) {
    Bytes b(512, 0x11);
    for (const auto& [at, v] : parts) Put(b, at, v);
    return b;
  };
  Bytes dirSector(512, 0);
  Put(dirSector, 0, test::ToBytes("README  TXT"));
  dirSector[11] = 0x20;
  PutLe16(dirSector, 14, (10 << 11) | (30 << 5));
  PutLe16(dirSector, 16, ((2020 - 1980) << 9) | (5 << 5) | 17);
  PutLe16(dirSector, 18, ((2020 - 1980) << 9) | (5 << 5) | 17);
  PutLe16(dirSector, 22, (10 << 11) | (30 << 5));
  PutLe16(dirSector, 24, ((2020 - 1980) << 9) | (5 << 5) | 17);
  PutLe16(dirSector, 26, 5);
  PutLe32(dirSector, 28, 100);
  Bytes ntfsRestart = sector({{0, test::ToBytes("RSTR")}, {300, Bytes{'N', 0, 'T', 0, 'F', 0, 'S', 0}}});
  struct Case {
    const char* label;
    Bytes stop;
  } cases[] = {
      {"ntfs file record", sector({{0, test::ToBytes("FILE0")}})},
      {"ntfs index record", sector({{0, test::ToBytes("INDX(")}})},
      {"ntfs restart page", ntfsRestart},
      {"attribute definitions", sector({{0, Bytes{0x24, 0, 'S', 0, 'T', 0, 'A', 0}}})},
      {"fat32 boot sector", sector({{0, Bytes{0xEB, 0x58, 0x90}}, {3, test::ToBytes("MSWIN4.1")}})},
      {"ntfs boot sector", sector({{0, Bytes{0xEB, 0x52, 0x90}}, {3, test::ToBytes("NTFS    ")}})},
      {"exfat boot sector", sector({{0, Bytes{0xEB, 0x76, 0x90}}, {3, test::ToBytes("EXFAT   ")}})},
      {"fat directory sector", dirSector},
      {"another file's header", sector({{0, PngMagic()}})},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(IsStopSector(c.stop.data(), 512)) << c.label;
    Bytes file = PsdStart();
    Put(file, 512, Filled(512 * 5, 0x11));
    Put(file, file.size(), c.stop);
    Put(file, file.size(), Filled(512 * 4, 0x11));
    EXPECT_EQ(CarveBytes(file).length, 6 * 512u) << c.label;
  }
  Bytes plain = sector({{0, test::ToBytes("RSTR")}});  // a restart page needs the NTFS text
  EXPECT_FALSE(IsStopSector(plain.data(), 512));
}

TEST(SizeRulesStopSectors, ZerosTextAndRandomBytesAreNotFileSystemSectors) {
  std::mt19937 rng(11);
  Bytes random(512);
  for (int round = 0; round < 2000; ++round) {
    for (auto& b : random) b = uint8_t(rng());
    random[0] = round % 2 ? 0xEB : random[0];
    ASSERT_FALSE(IsFileSystemSector(random.data(), 512)) << round;
  }
  Bytes zeros(512, 0), text(512, 'a');
  EXPECT_FALSE(IsFileSystemSector(zeros.data(), 512));
  EXPECT_FALSE(IsFileSystemSector(text.data(), 512));
  EXPECT_FALSE(IsFileSystemSector(nullptr, 512));
}

TEST(SizeRulesStopSectors, ARunEndsAtTheEndOfTheSource) {
  // Ten sectors before the end: the last chunk is cut to what the source holds.
  Bytes image = Filled(512 * 40, 0x11);
  Put(image, 512 * 30, PsdStart());
  EXPECT_EQ(CarveBytes(image, 30).length, 10 * 512u);
}

TEST(SizeRulesTransportStream, APacketRunThatBreaksEndsTheFileAndIsNotReportedAgain) {
  const size_t packets = 6000;  // about 1.1 MB, more than a chunk
  Bytes ts(188 * packets + 512 * 300, 0x11);
  for (size_t i = 0; i < packets; ++i) Put(ts, 188 * i, Bytes{0x47, 0x41, 0x00, 0x10});
  Carved got = CarveBytes(ts);
  EXPECT_EQ(got.rc, 0);
  EXPECT_EQ(got.name, "0.ts");
  EXPECT_EQ(got.length, 188u * packets);
  // The sweep finds it once and moves past it.
  test::TempDir dir("carve-ts");
  test::WriteFile(dir / "ts.img", test::PadToSectors(ts));
  CFileTypeRecovery engine;
  ASSERT_EQ(engine.OpenImage(dir / "ts.img", 0), 0);
  engine.BeginScan();
  SweepStats stats;
  ASSERT_EQ(SweepArea(engine, 0, engine.Device().sectorCount, stats), 0);
  EXPECT_EQ(stats.itemsFound, 1u);
  ASSERT_EQ(CarveState::Instance().tsExtents.size(), 1u);
  EXPECT_EQ(CarveState::Instance().tsExtents[0].last, (188u * packets + 511) / 512 - 1);
}

int32_t CancelOnThirdCall(void* context, int32_t, int32_t, int32_t, uint64_t, uint64_t, uint64_t, uint32_t) {
  int& calls = *static_cast<int*>(context);
  return ++calls >= 3 ? kCancelCode : 0;
}

TEST(SizeRulesProgress, CancelDuringALongRunReturnsTheCancelCodeAndTheLengthSoFar) {
  Bytes mkv = Filled(512 * 600, 0x11);
  Put(mkv, 0, Bytes{0x1A, 0x45, 0xDF, 0xA3});
  MemoryImage image(mkv);
  CarveState& st = CarveState::Instance();
  st.Reset();
  int calls = 0;
  st.progress = CancelOnThirdCall;
  st.progressContext = &calls;
  CarveHit hit;
  int32_t rc = IdentifyAndSize(mkv.data(), 512, image.device(), 512, 0, CarveProgress{0, 600, -1, 0}, hit);
  st.progress = nullptr;
  st.progressContext = nullptr;
  EXPECT_EQ(rc, kCancelCode);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(hit.length, (1 + 2 * 128) * 512u);
}

// Compound documents: the header's FAT description gives the length; broken
// headers fall back to the search and never loop.
TEST(SizeRulesCompound, HeaderRuleAndHostileHeaders) {
  Bytes doc = test::MakeCompoundDocument("WordDocument", {0xEC, 0xA5}, 5);
  Bytes image = doc;
  image.resize(doc.size() + 512 * 4, 0x11);
  EXPECT_EQ(CarveBytes(image).length, doc.size());

  // A FAT of 110 sectors: the last one is listed in the one DIFAT sector.
  Bytes big = test::MakeCompoundDocument("WordDocument", {0xEC, 0xA5}, 8);
  PutLe32(big, 44, 110);
  PutLe32(big, 68, 0);  // DIFAT in file sector 0
  PutLe32(big, 72, 1);
  Bytes difat(512, 0xFF);
  PutLe32(difat, 0, 6);  // FAT sector 110 is file sector 6
  Put(big, 512, difat);
  Bytes fat(512, 0);
  for (int i = 28; i < 128; ++i) PutLe32(fat, 4 * i, 0xFFFFFFFF);  // 100 free entries at the end
  Put(big, 512 * 7, fat);
  big.resize(big.size() + 4096, 0x11);
  EXPECT_EQ(CarveBytes(big).length, (110u * 128 + 1 - 100) * 512);

  // A DIFAT chain that points at itself ends after the DIFAT count.
  Bytes loop = big;
  PutLe32(loop, 72, 50);
  PutLe32(loop, 512 + 4 * 127, 0);
  Carved looped = CarveBytes(loop);
  EXPECT_EQ(looped.rc, 0);
  EXPECT_LE(looped.length, 128 * MiB - 1);

  struct Case {
    const char* label;
    size_t offset;
    uint32_t value;
  } hostile[] = {{"sector shift 10", 30, 10},     {"no FAT sectors", 44, 0},
                 {"more FAT sectors than possible", 44, 0x7FFFFFFF},
                 {"FAT sector beyond the source", 76, 0x00FFFFFF},
                 {"end of chain as FAT sector", 76, 0xFFFFFFFE},
                 {"DIFAT count without enough FAT sectors", 72, 3}};
  for (const Case& h : hostile) {
    Bytes bad = doc;
    PutLe32(bad, h.offset, h.value);
    if (h.offset == 30) PutLe16(bad, 30, uint16_t(h.value));
    bad.resize(doc.size() + 512 * 4, 0x11);
    Carved got = CarveBytes(bad);
    EXPECT_EQ(got.rc, 0) << h.label;
    // The fallback search finds nothing and runs to the end of the source.
    EXPECT_EQ(got.length, bad.size()) << h.label;
  }
}

TEST(SizeRulesCompound, FallbackEndsAfterTheWordCompObjText) {
  Bytes doc = test::MakeCompoundDocument("WordDocument", {0xEC, 0xA5}, 5);
  PutLe16(doc, 30, 7);  // unusable header
  Put(doc, 1100, Bytes{0x01, 0x00, 0xFE, 0xFF, 0x03, 0x0A});
  const Bytes text = {'M', 'i', 'c', 'r', 'o', 's', 'o', 'f', 't', ' ', 'O', 'f', 'f',
                      'i', 'c', 'e', ' ', 'W', 'o', 'r', 'd', ' ', 0xCE, 0xC4, 0xB5, 0xB5};
  Put(doc, 1300, text);
  doc.resize(doc.size() + 2048, 0x11);
  EXPECT_EQ(CarveBytes(doc).length, 1536u);
}

// Every kind's first sector, its fields scrambled and followed by random
// bytes: sizing must end, inside the row's cap, whatever the fields say.
TEST(SizeRulesHostile, ScrambledHeadersAlwaysEndWithinTheCap) {
  std::mt19937 rng(5);
  size_t sized = 0;
  for (int round = 0; round < 400; ++round) {
    Bytes image(512 * 64);
    for (auto& b : image) b = uint8_t(rng());
    // A plausible start for the row, then a few fields overwritten.
    static const std::vector<Bytes> starts = {
        {0, 0, 1, 0xBA, 0, 0, 1, 0xBB}, {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F'},
        {'G', 'I', 'F', '8', '9', 'a'}, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A},
        {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0}, {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1},
        {'P', 'K', 3, 4}, {'%', 'P', 'D', 'F', '-'}, {'M', 'T', 'h', 'd', 0, 0, 0, 6},
        {0, 1, 0, 0, 0, 4, 0, 1, 0, 1, 0, 1}, {0, 0, 1, 0, 1, 0}, {0x47, 0x40, 0, 0x10}};
    Put(image, 0, starts[rng() % starts.size()]);
    for (int k = 0; k < 6; ++k) image[rng() % 64] = uint8_t(rng() % 3 ? 0 : rng());
    if (round % 3 == 0) PutLe16(image, 30, 9);  // a compound sector shift the header rule accepts
    Carved got = CarveBytes(image);
    if (got.rc == 0) {
      ++sized;
      EXPECT_LE(got.length, 4ull * 1024 * MiB + 8) << got.name;  // the largest a RIFF field gives
    }
  }
  EXPECT_GT(sized, 20u);
}

}  // namespace
}  // namespace nuvarin
