// The catalogue table, the first-byte dispatch of its header tests, and the
// two operations built on them.
#include "signature/catalogue.h"

#include <array>
#include <cstdio>

#include "platform/error_codes.h"
#include "signature/carve_state.h"
#include "signature/formats/formats.h"
#include "signature/size_rules_common.h"
#include "storage/byte_reader.h"

namespace nuvarin {
namespace {

using namespace formats;

constexpr uint64_t KiB = 1024, MiB = 1024 * KiB, GiB = 1024 * MiB;
constexpr uint64_t kOfficeCap = 128 * MiB - 1;

constexpr SizeRule kNoRule{};
constexpr SizeRule Rule(SizeRuleFn fn, uint64_t cap = 0) { return SizeRule{fn, cap}; }
constexpr SizeRule kRiff = Rule(SizeRiff);
constexpr SizeRule kCompound = Rule(SizeCompoundDocument, kOfficeCap);
constexpr SizeRule kOfficeZip = Rule(SizeZipEnd, kOfficeCap);
constexpr SizeRule kIcoLength = Rule(SizeIco, 64 * KiB);

constexpr bool kWhole = true;
constexpr bool kOne = false;

#define LEAD(s) s, sizeof(s) - 1
#define ANY nullptr, 0

// clang-format off
constexpr CatalogueRow kRows[] = {
  {"mpeg", kKindMpeg, TestMpeg, Rule(SizeMpegEndCode, 6 * GiB), kWhole, LEAD("\x00")},
  {"mpg",  kKindMpeg, TestMpeg, Rule(SizeMpegEndCode, 6 * GiB), kWhole, LEAD("\x00")},
  {"vob",  kKindMpeg, TestMpeg, Rule(SizeMpegEndCode, 6 * GiB), kWhole, LEAD("\x00")},
  {"mp4",  kKindMp4, TestMp4, Rule(SizeMp4Producer, 6 * GiB), kWhole, ANY},
  {"rmvb", kKindRm, TestRealMedia, Rule(SizeRealMediaIndex, 6 * GiB), kWhole, LEAD(".")},
  {"rm",   kKindRm, TestRealMedia, Rule(SizeRealMediaIndex, 6 * GiB), kWhole, LEAD(".")},
  {"wmv",  kKindAsf, TestAsf, Rule(SizeAsf, 256 * MiB), kOne, LEAD("\x30")},
  {"asf",  kKindAsf, TestAsf, Rule(SizeAsf, 256 * MiB), kOne, LEAD("\x30")},
  {"wma",  kKindAsf, TestAsf, Rule(SizeAsf, 256 * MiB), kOne, LEAD("\x30")},
  {"swf",  kKindSwf, TestSwf, Rule(SizeSwf, 256 * MiB), kOne, LEAD("CF")},
  {"avi",  kKindAvi, TestAvi, kRiff, kOne, LEAD("R")},
  {"flv",  kKindFlv, TestFlv, Rule(RunToStopSector, 6 * GiB), kWhole, LEAD("F")},
  {"3gp",  kKind3gp, Test3gp, Rule(RunToStopSector, 6 * GiB), kWhole, ANY},
  {"mkv",  kKindMkv, TestMkv, Rule(RunToStopSector, 64 * GiB), kWhole, LEAD("\x1A")},
  {"ts",   kKindTs, TestTransportStream, Rule(SizeTransportStream, 64 * GiB), kWhole, LEAD("\x47")},
  {"mts",  kKindMts, TestM2ts, Rule(RunToStopSector, 6 * GiB), kWhole, ANY},
  {"mxf",  kKindMxf, TestMxf, Rule(RunToStopSector, 6 * GiB), kWhole, LEAD("\x06")},
  {"mp3",  kKindMp3, TestMp3, Rule(SizeId3v1, 2 * GiB), kWhole, LEAD("I")},
  {"mid",  kKindMid, TestMidi, Rule(SizeMidi, 8 * MiB), kWhole, LEAD("M")},
  {"ape",  kKindApe, TestApe, Rule(SizeApeTag, 2 * GiB), kWhole, LEAD("M")},
  {"wav",  kKindWav, TestWav, kRiff, kOne, LEAD("R")},
  {"mov",  kKindMov, TestMov, Rule(RunToStopSector, 6 * GiB), kWhole, ANY},
  {"mp2",  kKindMp2, TestMp2, Rule(RunToStopSector, 256 * MiB), kWhole, LEAD("\xFF")},
  {"mmf",  kKindMmf, TestMmf, Rule(RunToStopSector, 256 * MiB), kWhole, LEAD("M")},
  {"gif",  kKindGif, TestGif, Rule(SizeGif, 128 * MiB), kWhole, LEAD("G")},
  {"bmp",  kKindBmp, TestBmp, Rule(SizeBmp, 128 * MiB), kOne, LEAD("B")},
  {"dib",  kKindBmp, TestBmp, Rule(SizeBmp, 128 * MiB), kOne, LEAD("B")},
  {"jpg",  kKindJpg, TestJpeg, Rule(SizeJpeg, 128 * MiB), kWhole, LEAD("\xFF")},
  {"jpeg", kKindJpg, TestJpeg, Rule(SizeJpeg, 128 * MiB), kWhole, LEAD("\xFF")},
  {"jpe",  kKindJpg, TestJpeg, Rule(SizeJpeg, 128 * MiB), kWhole, LEAD("\xFF")},
  {"jfif", kKindJpg, TestJpeg, Rule(SizeJpeg, 128 * MiB), kWhole, LEAD("\xFF")},
  {"png",  kKindPng, TestPng, Rule(SizePng, 128 * MiB), kWhole, LEAD("\x89")},
  {"psd",  kKindPsd, TestPsd, Rule(RunToStopSector, 128 * MiB), kWhole, LEAD("8")},
  {"tif",  kKindTif, TestTiff, Rule(RunToStopSector, 128 * MiB), kWhole, LEAD("MI")},
  {"tiff", kKindTif, TestTiff, Rule(RunToStopSector, 128 * MiB), kWhole, LEAD("MI")},
  {"ico",  kKindIco, TestIco, kIcoLength, kOne, LEAD("\x00")},
  {"doc",  kKindDoc, TestCompoundDocument, kCompound, kOne, LEAD("\xD0")},
  {"dot",  kKindDoc, TestCompoundDocument, kCompound, kOne, LEAD("\xD0")},
  {"wps",  kKindDoc, TestCompoundDocument, kCompound, kOne, LEAD("\xD0")},
  {"wpt",  kKindDoc, TestCompoundDocument, kCompound, kOne, LEAD("\xD0")},
  {"xls",  kKindXls, TestCompoundDocument, kCompound, kOne, LEAD("\xD0")},
  {"xlt",  kKindXls, TestCompoundDocument, kCompound, kOne, LEAD("\xD0")},
  {"xla",  kKindXls, TestCompoundDocument, kCompound, kOne, LEAD("\xD0")},
  {"et",   kKindXls, TestCompoundDocument, kCompound, kOne, LEAD("\xD0")},
  {"ett",  kKindXls, TestCompoundDocument, kCompound, kOne, LEAD("\xD0")},
  {"ppt",  kKindPpt, TestCompoundDocument, kCompound, kOne, LEAD("\xD0")},
  {"pot",  kKindPpt, TestCompoundDocument, kCompound, kOne, LEAD("\xD0")},
  {"pps",  kKindPpt, TestCompoundDocument, kCompound, kOne, LEAD("\xD0")},
  {"dps",  kKindPpt, TestCompoundDocument, kCompound, kOne, LEAD("\xD0")},
  {"dpt",  kKindPpt, TestCompoundDocument, kCompound, kOne, LEAD("\xD0")},
  {"ole",  kKindOle, TestCompoundDocument, kCompound, kOne, LEAD("\xD0")},
  {"docx", kKindDocx, TestOfficeArchive, kOfficeZip, kWhole, LEAD("P")},
  {"docm", kKindDocx, TestOfficeArchive, kOfficeZip, kWhole, LEAD("P")},
  {"dotm", kKindDocx, TestOfficeArchive, kOfficeZip, kWhole, LEAD("P")},
  {"dotx", kKindDocx, TestOfficeArchive, kOfficeZip, kWhole, LEAD("P")},
  {"xlsx", kKindXlsx, TestOfficeArchive, kOfficeZip, kWhole, LEAD("P")},
  {"xlsb", kKindXlsx, TestOfficeArchive, kOfficeZip, kWhole, LEAD("P")},
  {"xlsm", kKindXlsx, TestOfficeArchive, kOfficeZip, kWhole, LEAD("P")},
  {"xlsx", kKindXlsx, TestOfficeArchive, kOfficeZip, kWhole, LEAD("P")},
  {"xlam", kKindXlsx, TestOfficeArchive, kOfficeZip, kWhole, LEAD("P")},
  {"xltx", kKindXlsx, TestOfficeArchive, kOfficeZip, kWhole, LEAD("P")},
  {"xltm", kKindXlsx, TestOfficeArchive, kOfficeZip, kWhole, LEAD("P")},
  {"pptx", kKindPptx, TestOfficeArchive, kOfficeZip, kWhole, LEAD("P")},
  {"pptm", kKindPptx, TestOfficeArchive, kOfficeZip, kWhole, LEAD("P")},
  {"potx", kKindPptx, TestOfficeArchive, kOfficeZip, kWhole, LEAD("P")},
  {"potm", kKindPptx, TestOfficeArchive, kOfficeZip, kWhole, LEAD("P")},
  {"ppsx", kKindPptx, TestOfficeArchive, kOfficeZip, kWhole, LEAD("P")},
  {"ppsm", kKindPptx, TestOfficeArchive, kOfficeZip, kWhole, LEAD("P")},
  {"mso07", kKindMso07, TestOfficeArchive, kOfficeZip, kWhole, LEAD("P")},
  {"pdf",  kKindPdf, TestPdf, Rule(SizePdf, 1 * GiB), kWhole, LEAD("%")},
  {"gz",   kKindGz, TestGzip, Rule(RunToStopSector, 6 * GiB), kWhole, LEAD("\x1F")},
  {"gzip", kKindGz, TestGzip, Rule(RunToStopSector, 6 * GiB), kWhole, LEAD("\x1F")},
  {"7z",   kKind7z, Test7z, Rule(Size7zEnd, 4 * GiB), kWhole, LEAD("7")},
  {"zip",  kKindZip, TestZip, Rule(SizeZipEnd, 4 * GiB), kWhole, LEAD("P")},
  {"rar",  kKindRar, TestRar, Rule(SizeRarEnd, 4 * GiB), kWhole, LEAD("R")},
  {"cab",  kKindCab, TestCab, Rule(SizeCab, 1 * GiB), kOne, LEAD("M")},
  {"exe",  kKindExe, TestExecutable, kNoRule, kOne, LEAD("M")},
  {"dll",  kKindDll, TestExecutable, kNoRule, kOne, LEAD("M")},
  {"sys",  kKindSys, TestExecutable, kNoRule, kOne, LEAD("M")},
  {"gho",  kKindGho, TestGho, kNoRule, kOne, LEAD("\xFE")},
  {"db",   kKindDb, TestSqlite, Rule(RunToStopSector, 4 * GiB), kWhole, LEAD("S")},
  {"dbx",  kKindDbx, TestDbx, Rule(RunToStopSector, 2 * GiB), kWhole, LEAD("\xCF")},
  {"pst",  kKindPst, TestPst, Rule(RunToStopSector, 2 * GiB), kWhole, LEAD("!")},
  {"fla",  kKindFla, TestFla, Rule(RunToStopSector, 256 * MiB), kWhole, LEAD("\xD0")},
  {"ttf",  kKindTtf, TestTrueType, Rule(SizeTrueType, 64 * KiB), kOne, LEAD("\x00")},
  {"ico",  kKindIco, TestIco, kIcoLength, kOne, LEAD("\x00")},
};
// clang-format on

#undef LEAD
#undef ANY

constexpr size_t kRowCount = sizeof(kRows) / sizeof(kRows[0]);
static_assert(kRowCount == 86, "the catalogue holds 86 rows");

// For every first byte, the distinct tests whose rows may match a sector that
// starts with it, in table order of their first row. A test that answers
// kNoKind for one row answers it for all its rows, so running it once at its
// first row gives the same outcome as the plain walk.
struct DispatchEntry {
  HeaderTest test;
  uint8_t row;
};
struct Dispatch {
  std::array<std::array<DispatchEntry, 48>, 256> entries{};  // more than the table's distinct tests
  std::array<uint8_t, 256> counts{};
};

// The rows that may start with any byte (ISO media, M2TS) all need "ftyp" at
// 4, "moov" at 0 or the M2TS association bytes at 8; a sector without them
// can skip those rows, which keeps a random sector at a table look-up.
bool MayBeAnyLeadKind(const uint8_t* sector, size_t length) {
  ByteReader r(sector, length);
  return r.equals(4, "ftyp") || r.equals(0, "moov") || r.le32(8) == 0x11B00000u;
}

Dispatch BuildDispatch(bool withAnyLead) {
  Dispatch d;
  for (int b = 0; b < 256; ++b) {
    for (size_t row = 0; row < kRowCount; ++row) {
      const CatalogueRow& r = kRows[row];
      if (r.leadBytes == nullptr && !withAnyLead) continue;
      bool lead = r.leadBytes == nullptr;
      for (size_t i = 0; !lead && i < r.leadCount; ++i) lead = static_cast<uint8_t>(r.leadBytes[i]) == b;
      if (!lead) continue;
      bool seen = false;
      for (size_t i = 0; i < d.counts[b]; ++i) seen = seen || d.entries[b][i].test == r.test;
      if (seen || d.counts[b] == d.entries[b].size()) continue;
      d.entries[b][d.counts[b]++] = DispatchEntry{r.test, static_cast<uint8_t>(row)};
    }
  }
  return d;
}

const Dispatch& TheDispatch(bool withAnyLead) {
  static const Dispatch with = BuildDispatch(true);
  static const Dispatch without = BuildDispatch(false);
  return withAnyLead ? with : without;
}

std::string_view LowerAscii(std::string_view text, char (&out)[8]) {
  if (text.size() > sizeof(out)) return {};
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    out[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return std::string_view(out, text.size());
}

}  // namespace

std::span<const CatalogueRow> CatalogueRows() { return {kRows, kRowCount}; }

uint32_t RunHeaderTests(const uint8_t* sector, size_t length, size_t* row) {
  if (sector == nullptr || length == 0) return kNoKind;
  const Dispatch& d = TheDispatch(MayBeAnyLeadKind(sector, length));
  const uint8_t b = sector[0];
  const DispatchEntry* e = d.entries[b].data();
  for (size_t i = 0, n = d.counts[b]; i < n; ++i) {
    uint32_t kind = e[i].test(sector, length);
    if (kind != kNoKind) {
      if (row) *row = e[i].row;
      return kind;
    }
  }
  return kNoKind;
}

uint32_t RunHeaderTestsPlain(const uint8_t* sector, size_t length, size_t* row) {
  for (size_t i = 0; i < kRowCount; ++i) {
    uint32_t kind = kRows[i].test(sector, length);
    if (kind != kNoKind) {
      if (row) *row = i;
      return kind;
    }
  }
  return kNoKind;
}

size_t FirstRowOfKind(uint32_t kind) {
  for (size_t i = 0; i < kRowCount; ++i) {
    if (kRows[i].kind == kind) return i;
  }
  return kRowCount;
}

int32_t IdentifyAndSize(const uint8_t* sector, size_t length, const SectorDevice& device,
                        uint32_t sectorSize, uint64_t firstSector, const CarveProgress& progress,
                        CarveHit& hit) {
  CarveState& st = CarveState::Instance();
  if (!st.SetSectorSize(sectorSize)) return kErrInvalidParameter;
  st.device = &device;
  st.fileStart = firstSector;
  st.cursorSector = firstSector;
  st.sectorsDone = progress.sectorsDone;
  st.totalSectors = progress.totalSectors;
  st.etaSeconds = progress.etaSeconds;
  st.itemsFound = progress.itemsFound;
  st.probeOnly = false;

  size_t matchRow = kRowCount;
  uint32_t kind = RunHeaderTests(sector, length, &matchRow);
  st.tsFollow = true;
  st.m2tsFollow = false;
  if (kind == kNoKind || kRows[matchRow].rule.fn == nullptr) return kErrInvalidParameter;

  const size_t namingRow = FirstRowOfKind(kind);
  if (namingRow == kRowCount) return kErrInvalidParameter;
  const CatalogueRow& row = kRows[namingRow];
  if (kind != kKindTs) st.tsFollow = false;
  if (kind == kKindMts) st.m2tsFollow = true;

  std::snprintf(hit.name, sizeof(hit.name), "%llu.%s", static_cast<unsigned long long>(firstSector),
                row.extension);
  hit.kind = kind;
  hit.skipWholeFile = row.skipWholeFile;

  st.callbackResult = 0;
  st.sizingKind = kind;
  hit.length = row.rule.fn ? row.rule.fn(sector, length, row.rule.cap) : 0;
  st.sizingKind = kNoKind;
  return st.callbackResult == kCancelCode ? kCancelCode : kOk;
}

int32_t MatchesExtension(const uint8_t* sector, size_t length, std::string_view extension,
                         const SectorDevice& device, uint32_t sectorSize, uint64_t firstSector) {
  char buffer[8];
  std::string_view lower = LowerAscii(extension, buffer);
  if (lower.empty()) return 1;
  size_t i = 0;
  while (i < kRowCount && lower != kRows[i].extension) ++i;
  if (i == kRowCount) return 1;
  CarveState& st = CarveState::Instance();
  if (!st.SetSectorSize(sectorSize)) return 1;
  st.device = &device;
  st.fileStart = firstSector;
  st.cursorSector = firstSector;
  st.tsFollow = false;
  st.probeOnly = false;
  return kRows[i].test(sector, length) == kRows[i].kind ? 1 : 0;
}

}  // namespace nuvarin
