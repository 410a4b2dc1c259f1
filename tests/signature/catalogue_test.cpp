// The catalogue: table order and naming, every header test on hand-made first
// sectors, the compound classifications, the dispatch against the plain walk,
// and the extension check.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "signature/catalogue.h"
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

struct Identified {
  int32_t rc;
  std::string name;
  uint32_t kind;
};

// Identifies the file at sector 0 of an image holding `bytes`.
Identified Identify(const Bytes& bytes) {
  Bytes padded = bytes;
  if (padded.size() < 32768) padded.resize(32768);  // room for the tests that read on
  MemoryImage image(padded);
  CarveState::Instance().Reset();
  Bytes first = padded;
  first.resize(512);
  CarveHit hit;
  int32_t rc = IdentifyAndSize(first.data(), first.size(), image.device(), 512, 0, CarveProgress{}, hit);
  return {rc, rc == 0 ? hit.name : "", hit.kind};
}

Bytes Sector(std::initializer_list<std::pair<size_t, Bytes>> parts) {
  Bytes b(512, 0);
  for (const auto& [at, v] : parts) Put(b, at, v);
  return b;
}
Bytes Text(const std::string& s) { return test::ToBytes(s); }

TEST(CatalogueTable, HoldsEightySixRowsAndNamesByTheFirstRowOfAKind) {
  auto rows = CatalogueRows();
  ASSERT_EQ(rows.size(), 86u);
  EXPECT_STREQ(rows[0].extension, "mpeg");
  EXPECT_STREQ(rows[85].extension, "ico");
  std::multiset<std::string> names;
  for (const auto& r : rows) {
    names.insert(r.extension);
    EXPECT_LT(r.kind, kNoKind);
  }
  EXPECT_EQ(names.count("xlsx"), 2u);
  EXPECT_EQ(names.count("ico"), 2u);
  struct { uint32_t kind; const char* ext; } firsts[] = {
      {kKindAsf, "wmv"}, {kKindMpeg, "mpeg"}, {kKindJpg, "jpg"}, {kKindGz, "gz"}, {kKindDoc, "doc"},
      {kKindXls, "xls"}, {kKindPpt, "ppt"}, {kKindOle, "ole"}, {kKindDocx, "docx"}, {kKindIco, "ico"}};
  for (const auto& f : firsts) EXPECT_STREQ(rows[FirstRowOfKind(f.kind)].extension, f.ext);
  // Kinds 41, 42, 43 and 9 are recognised but never carved.
  for (uint32_t kind : {kKindExe, kKindDll, kKindSys, kKindGho})
    EXPECT_EQ(rows[FirstRowOfKind(kind)].rule.fn, nullptr);
}

struct HeaderCase {
  const char* label;
  Bytes sector;
  int32_t rc;
  const char* name;  // expected "<sector>.<ext>" name, or empty
};

Bytes AsfHeader() {
  return {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
}

Bytes Executable(uint16_t characteristics, uint32_t peAt = 128) {
  Bytes b = Sector({{0, Text("MZ")}});
  PutLe32(b, 60, peAt);
  if (peAt + 24 <= 512) {
    Put(b, peAt, Bytes{'P', 'E', 0, 0});
    PutLe16(b, peAt + 22, characteristics);
  }
  return b;
}

Bytes TrueTypeHeader(uint16_t tables, bool versionAfter) {
  Bytes b = Sector({{0, Bytes{0, 1, 0, 0}}});
  PutBe16(b, 4, tables);
  PutBe16(b, 6, 16);
  PutBe16(b, 8, 1);
  PutBe16(b, 10, 16);
  for (uint16_t i = 0; i < tables; ++i) {
    PutBe32(b, 12 + 16 * i + 8, 12 + 16 * tables + 100 * i);
    PutBe32(b, 12 + 16 * i + 12, 98);
  }
  if (versionAfter) Put(b, 12 + 16 * tables, Bytes{0, 1, 0, 0});
  return b;
}

Bytes IconDirectory(bool backToBack) {
  Bytes b = Sector({{0, Bytes{0, 0, 1, 0}}});
  PutLe16(b, 4, 2);
  PutLe32(b, 6 + 8, 100);
  PutLe32(b, 6 + 12, 38);
  PutLe32(b, 22 + 8, 200);
  PutLe32(b, 22 + 12, backToBack ? 138 : 140);
  return b;
}

std::vector<HeaderCase> HeaderCases() {
  return {
      {"mpeg program stream", Sector({{0, {0, 0, 1, 0xBA}}, {14, {0, 0, 1, 0xBB}}}), 0, "0.mpeg"},
      {"mpeg video sequence", Sector({{0, {0, 0, 1, 0xB3}}, {12, {0, 0, 1, 0xB8}}}), 0, "0.mpeg"},
      {"mpeg pack without system header", Sector({{0, {0, 0, 1, 0xBA}}, {40, {0, 0, 1, 0xBB}}}), 87, ""},
      {"mp4 isom", Sector({{4, Text("ftypisom")}}), 0, "0.mp4"},
      {"mp4 mp42", Sector({{4, Text("ftypmp42")}}), 0, "0.mp4"},
      {"3gp", Sector({{4, Text("ftyp3gp4")}}), 0, "0.3gp"},
      {"quicktime ftyp", Sector({{4, Text("ftypqt  ")}}), 0, "0.mov"},
      {"quicktime moov", Sector({{0, Text("moov")}}), 0, "0.mov"},
      {"realmedia", Sector({{0, Text(".RMF")}}), 0, "0.rmvb"},
      {"asf", Sector({{0, AsfHeader()}}), 0, "0.wmv"},
      {"swf compressed", Sector({{0, Text("CWS\x0A")}}), 0, "0.swf"},
      {"swf compressed old version", Sector({{0, Text("CWS\x05")}}), 87, ""},
      {"swf plain", Sector({{0, Text("FWS\x05")}}), 0, "0.swf"},
      {"avi", Sector({{0, Text("RIFF")}, {8, Text("AVI LIST")}}), 0, "0.avi"},
      {"wav", Sector({{0, Text("RIFF")}, {8, Text("WAVEfmt ")}}), 0, "0.wav"},
      {"flv", Sector({{0, Text("FLV\x01\x05")}, {5, {0, 0, 0, 9}}}), 0, "0.flv"},
      {"mkv", Sector({{0, {0x1A, 0x45, 0xDF, 0xA3}}}), 0, "0.mkv"},
      {"m2ts", Sector({{4, {0x47, 0x40, 0, 0x10}}, {8, {0, 0, 0xB0, 0x11, 0, 0, 0xC1, 0}}}), 0, "0.mts"},
      {"mxf", Sector({{0, {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01,
                           0x02, 0x04, 0x00}}}), 0, "0.mxf"},
      {"mp3 id3", Sector({{0, Text("ID3\x04")}}), 0, "0.mp3"},
      {"mp3 id3 bad size byte", Sector({{0, Text("ID3\x04")}, {7, {0x80}}}), 87, ""},
      {"mp3 id3 flag bits", Sector({{0, Text("ID3\x04")}, {5, {0x01}}}), 87, ""},
      {"midi", Sector({{0, Text("MThd")}, {4, {0, 0, 0, 6}}, {14, Text("MTrk")}}), 0, "0.mid"},
      {"ape", Sector({{0, Text("MAC ")}}), 0, "0.ape"},
      {"mp2", Sector({{0, {0xFF, 0xFD, 0xE4, 0x00}}}), 0, "0.mp2"},
      {"mmf", Sector({{0, Text("MMMD")}}), 0, "0.mmf"},
      {"gif89a", Sector({{0, Text("GIF89a")}}), 0, "0.gif"},
      {"gif upper case version letter", Sector({{0, Text("GIF89A")}}), 87, ""},
      {"bmp", Sector({{0, Text("BM")}, {14, {40}}}), 0, "0.bmp"},
      {"bmp v5 header", Sector({{0, Text("BM")}, {14, {124}}}), 87, ""},
      {"jpeg jfif", Sector({{0, {0xFF, 0xD8, 0xFF, 0xE0}}, {6, Text("JFIF")}}), 0, "0.jpg"},
      {"jpeg exif", Sector({{0, {0xFF, 0xD8, 0xFF, 0xE1}}, {6, Text("Exif")}}), 0, "0.jpg"},
      {"jpeg exif marker with jfif text", Sector({{0, {0xFF, 0xD8, 0xFF, 0xE1}}, {6, Text("JFIF")}}), 87, ""},
      {"png", Sector({{0, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}}}), 0, "0.png"},
      {"psd", Sector({{0, Text("8BPS")}}), 0, "0.psd"},
      {"tiff big endian", Sector({{0, {'M', 'M', 0, 0x2A}}}), 0, "0.tif"},
      {"tiff little endian", Sector({{0, {'I', 'I', 0x2A, 0}}}), 0, "0.tif"},
      {"icon directory", IconDirectory(true), 0, "0.ico"},
      {"icon with a gap between images", IconDirectory(false), 87, ""},
      {"pdf", Sector({{0, Text("%PDF-1.7")}}), 0, "0.pdf"},
      {"gzip best", Sector({{0, {0x1F, 0x8B, 0x08, 0x08}}, {8, {2, 3}}}), 0, "0.gz"},
      {"gzip default level", Sector({{0, {0x1F, 0x8B, 0x08, 0x08}}, {8, {0, 3}}}), 87, ""},
      {"7z", Sector({{0, {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C}}}), 0, "0.7z"},
      {"plain zip", Sector({{0, test::ZipLocal("readme.txt", Bytes(40, 'a'))}}), 0, "0.zip"},
      {"rar 4", Sector({{0, {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00}}}), 0, "0.rar"},
      {"rar 5 is not recognised", Sector({{0, {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00}}}), 87, ""},
      {"cab", Sector({{0, Text("MSCF")}, {8, {0, 2}}}), 0, "0.cab"},
      {"exe", Executable(0x0102), 87, ""},
      {"dll", Executable(0x2102), 87, ""},
      {"driver", Executable(0x1102), 87, ""},
      {"sqlite", Sector({{0, Text("SQLite format 3")}}), 0, "0.db"},
      {"dbx", Sector({{0, {0xCF, 0xAD, 0x12, 0xFE}}}), 0, "0.dbx"},
      {"pst", Sector({{0, Text("!BDN")}, {8, Text("SM")}}), 0, "0.pst"},
      {"fla", Sector({{0, {0xD0, 0xCF, 0x11, 0xE0, 0x00}}}), 0, "0.fla"},
      {"truetype", TrueTypeHeader(3, true), 0, "0.ttf"},
      {"truetype without version after the directory", TrueTypeHeader(3, false), 87, ""},
      {"zeros", Bytes(512, 0), 87, ""},
  };
}

TEST(CatalogueHeaderTests, IdentifyHandMadeFirstSectors) {
  for (const HeaderCase& c : HeaderCases()) {
    Identified id = Identify(c.sector);
    EXPECT_EQ(id.rc, c.rc) << c.label;
    EXPECT_EQ(id.name, c.name) << c.label;
  }
}

TEST(CatalogueHeaderTests, ExecutablesAreRecognisedButNeverCarved) {
  struct { uint16_t flags; uint32_t kind; } cases[] = {
      {0x0102, kKindExe}, {0x2102, kKindDll}, {0x1102, kKindSys}, {0x3102, kKindSys}, {0x0100, kNoKind}};
  for (const auto& c : cases) {
    Bytes s = Executable(c.flags);
    EXPECT_EQ(RunHeaderTests(s.data(), s.size(), nullptr), c.kind) << std::hex << c.flags;
  }
  // The PE header must start at most at 488, and the sector must hold 512 bytes.
  Bytes far = Executable(0x0102, 489);
  EXPECT_EQ(RunHeaderTests(far.data(), far.size(), nullptr), kNoKind);
  Bytes shortSector = Executable(0x0102);
  EXPECT_EQ(RunHeaderTests(shortSector.data(), 511, nullptr), kNoKind);
  Bytes ghost = Sector({{0, {0xFE, 0xEF, 0, 0}}});
  EXPECT_EQ(RunHeaderTests(ghost.data(), ghost.size(), nullptr), kKindGho);
  EXPECT_EQ(Identify(ghost).rc, 87);
}

TEST(CatalogueHeaderTests, EveryTestRespectsItsMinimumAndANullBuffer) {
  for (const HeaderCase& c : HeaderCases()) {
    for (size_t n = 0; n < 4; ++n) EXPECT_EQ(RunHeaderTests(c.sector.data(), n, nullptr), kNoKind) << c.label;
  }
  for (const auto& row : CatalogueRows()) EXPECT_EQ(row.test(nullptr, 512), kNoKind) << row.extension;
}

// Compound documents are classified by the first stream sector, the root
// entry's class and the stream names.
TEST(CatalogueCompound, ClassifiesWordExcelPowerPointAndPlainFiles) {
  const Bytes wordClass = {0x06, 0x09, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  const Bytes excelClass = {0x20, 0x08, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  const Bytes pptClass = {0x10, 0x8D, 0x81, 0x64, 0x9B, 0x4F, 0xCF, 0x11,
                          0x86, 0xEA, 0x00, 0xAA, 0x00, 0xB9, 0x29, 0xE8};
  struct Case {
    const char* label;
    Bytes file;
    const char* name;
  } cases[] = {
      {"word file information block", test::MakeCompoundDocument("Data", {0xEC, 0xA5}, 2), "0.doc"},
      {"excel first record", test::MakeCompoundDocument("Data", {0x09, 0x08, 0x10, 0, 0, 6}, 2), "0.xls"},
      {"word class", test::MakeCompoundDocument("Data", {}, 2, wordClass), "0.doc"},
      {"excel class", test::MakeCompoundDocument("Data", {}, 2, excelClass), "0.xls"},
      {"powerpoint class", test::MakeCompoundDocument("Data", {}, 2, pptClass), "0.ppt"},
      {"word stream name", test::MakeCompoundDocument("worddocument", {}, 2), "0.doc"},
      {"workbook stream name", test::MakeCompoundDocument("Workbook", {}, 2), "0.xls"},
      {"powerpoint stream name", test::MakeCompoundDocument("PowerPoint Document", {}, 2), "0.ppt"},
      {"unknown streams", test::MakeCompoundDocument("Contents", {}, 2), "0.ole"},
  };
  for (const Case& c : cases) EXPECT_EQ(Identify(c.file).name, c.name) << c.label;
  // Only the header in the image: the classification reads fail, kind 2.
  Bytes header = test::MakeCompoundDocument("WordDocument", {0xEC, 0xA5}, 2);
  header.resize(512);
  EXPECT_EQ(Identify(header).name, "0.ole");
}

TEST(CatalogueOfficeArchive, ClassifiesByPartNamesAndFallsBackToZip) {
  auto archive = [](std::vector<std::string> names) {
    Bytes b;
    for (const auto& n : names) Put(b, b.size(), test::ZipLocal(n, Bytes(60, 'x')));
    return b;
  };
  struct Case {
    std::vector<std::string> names;
    const char* name;
  } cases[] = {
      {{"[Content_Types].xml", "_rels/.rels", "word/document.xml"}, "0.docx"},
      {{"[Content_Types].xml", "XL/workbook.xml"}, "0.xlsx"},
      {{"[Content_Types].xml", "ppt/presentation.xml"}, "0.pptx"},
      {{"[Content_Types].xml", "docProps/app.xml", "readme.txt"}, "0.zip"},
  };
  for (const Case& c : cases) EXPECT_EQ(Identify(archive(c.names)).name, c.name) << c.names.back();
  // A part name beyond the first block is found through the later blocks,
  // also when its header straddles the seam between two blocks.
  Bytes late = test::ZipLocal("[Content_Types].xml", Bytes(2048 - 30 - 19 - 2, 'x'));
  Put(late, late.size(), test::ZipLocal("word/document.xml"));
  late.resize(4096);
  EXPECT_EQ(Identify(late).name, "0.docx");
}

TEST(CatalogueTransportStream, NeedsTwentyTwoPacketsAndNoEarlierStream) {
  Bytes stream(188 * 40, 0);
  for (size_t i = 0; i < 40; ++i) Put(stream, 188 * i, Bytes{0x47, 0x40, 0x11, 0x10});
  EXPECT_EQ(Identify(stream).name, "0.ts");
  Bytes broken = stream;
  broken[188 * 21] = 0;
  EXPECT_EQ(Identify(broken).rc, 87);
  Bytes shortStream(stream.begin(), stream.begin() + 188 * 10);
  EXPECT_EQ(Identify(shortStream).rc, 87);
}

TEST(CatalogueTransportStream, AContinuingSectorIsNotANewStream) {
  // Sector 47 of a 188-byte stream starts on a packet boundary.
  Bytes stream(188 * 200, 0);
  for (size_t i = 0; i < 200; ++i) Put(stream, 188 * i, Bytes{0x47, 0x40, 0x11, 0x10});
  MemoryImage image(stream);
  CarveState& st = CarveState::Instance();
  st.Reset();
  const uint8_t* s47 = stream.data() + 47 * 512;
  CarveHit hit;
  // Right after a hit of another kind the continuation checks are off...
  st.tsFollow = false;
  EXPECT_EQ(IdentifyAndSize(s47, 512, image.device(), 512, 47, CarveProgress{}, hit), 0);
  // ...otherwise the packet that ends the sector before shows the stream goes on.
  st.Reset();
  st.tsFollow = true;
  EXPECT_EQ(IdentifyAndSize(s47, 512, image.device(), 512, 47, CarveProgress{}, hit), 87);
  // A start inside an extent already carved is not a new stream either.
  Bytes fresh(512, 0);
  fresh.insert(fresh.end(), stream.begin() + 47 * 512, stream.end());
  MemoryImage other(fresh);
  st.Reset();
  st.tsFollow = true;
  EXPECT_EQ(IdentifyAndSize(fresh.data() + 512, 512, other.device(), 512, 1, CarveProgress{}, hit), 0);
  st.Reset();
  st.tsExtents.push_back({0, 0});  // ended before the candidate: dropped
  st.tsExtents.push_back({0, 100});
  st.tsFollow = true;
  EXPECT_EQ(IdentifyAndSize(fresh.data() + 512, 512, other.device(), 512, 1, CarveProgress{}, hit), 87);
  ASSERT_EQ(st.tsExtents.size(), 1u);
  EXPECT_EQ(st.tsExtents[0].last, 100u);
  st.Reset();
}

TEST(CatalogueM2ts, ATimeCodedRepeatRightAfterAHitIsNotANewFile) {
  Bytes s = Sector({{0, {0, 0, 0x12, 0x34}}, {4, {0x47, 0x40, 0, 0x10}}, {8, {0, 0, 0xB0, 0x11, 0, 0, 0xC1, 0}}});
  MemoryImage image(s);
  CarveState& st = CarveState::Instance();
  st.Reset();
  EXPECT_EQ(RunHeaderTests(s.data(), s.size(), nullptr), kKindMts);
  st.m2tsFollow = true;
  EXPECT_EQ(RunHeaderTests(s.data(), s.size(), nullptr), kNoKind);
  Bytes zeroTime = s;
  zeroTime[2] = zeroTime[3] = 0;
  EXPECT_EQ(RunHeaderTests(zeroTime.data(), zeroTime.size(), nullptr), kKindMts);
  // An identification clears the flag after its header tests.
  CarveHit hit;
  EXPECT_EQ(IdentifyAndSize(s.data(), s.size(), image.device(), 512, 0, CarveProgress{}, hit), 87);
  EXPECT_FALSE(st.m2tsFollow);
  st.Reset();
}

// The first-byte dispatch must give what the plain walk of every row gives.
TEST(CatalogueDispatch, AgreesWithThePlainWalk) {
  Bytes zeros(512 * 64, 0);
  MemoryImage image(zeros);
  CarveState& st = CarveState::Instance();
  st.Reset();
  st.device = &image.device();
  st.fileStart = st.cursorSector = 0;
  std::mt19937 rng(7);
  std::vector<Bytes> seeds;
  for (const HeaderCase& c : HeaderCases()) seeds.push_back(c.sector);
  size_t matches = 0;
  for (int round = 0; round < 20000; ++round) {
    Bytes s = seeds[rng() % seeds.size()];
    // Mutate a few bytes among the first 32 (and sometimes anywhere).
    for (int m = rng() % 4; m > 0; --m) s[rng() % (rng() % 2 ? 32 : 512)] = uint8_t(rng());
    if (round % 5 == 0) for (auto& b : s) b = uint8_t(rng());
    size_t n = round % 7 == 0 ? rng() % 513 : 512;
    size_t rowFast = 999, rowPlain = 999;
    uint32_t fast = RunHeaderTests(s.data(), n, &rowFast);
    uint32_t plain = RunHeaderTestsPlain(s.data(), n, &rowPlain);
    ASSERT_EQ(fast, plain) << round;
    if (plain != kNoKind) {
      ASSERT_EQ(rowFast, rowPlain) << round;
      ++matches;
    }
  }
  EXPECT_GT(matches, 1000u);
}

TEST(CatalogueMatchesExtension, ComparesTheRowKindOfTheFirstMatchingExtension) {
  Bytes doc = test::MakeCompoundDocument("WordDocument", {0xEC, 0xA5}, 2);
  MemoryImage image(doc);
  Bytes zeros(512, 0);
  Bytes jpeg = Sector({{0, {0xFF, 0xD8, 0xFF, 0xE0}}, {6, Text("JFIF")}});
  const SectorDevice& dev = image.device();
  EXPECT_EQ(MatchesExtension(zeros.data(), 512, "txt", dev, 512, 0), 1);
  EXPECT_EQ(MatchesExtension(zeros.data(), 512, "doc", dev, 512, 0), 0);
  EXPECT_EQ(MatchesExtension(doc.data(), 512, "doc", dev, 512, 0), 1);
  EXPECT_EQ(MatchesExtension(doc.data(), 512, "DOC", dev, 512, 0), 1);
  EXPECT_EQ(MatchesExtension(doc.data(), 512, "xls", dev, 512, 0), 0);
  EXPECT_EQ(MatchesExtension(jpeg.data(), 512, "JPEG", dev, 512, 0), 1);
  EXPECT_EQ(MatchesExtension(jpeg.data(), 512, "png", dev, 512, 0), 0);
  EXPECT_EQ(MatchesExtension(jpeg.data(), 512, "", dev, 512, 0), 1);
  // The extension check clears the transport-stream continuation flag.
  CarveState::Instance().tsFollow = true;
  MatchesExtension(jpeg.data(), 512, "jpg", dev, 512, 0);
  EXPECT_FALSE(CarveState::Instance().tsFollow);
}

}  // namespace
}  // namespace nuvarin
