// The signature catalogue: the ordered table of file kinds recognised from
// their first sector, with header tests and size rules.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "storage/sector_device.h"

namespace nuvarin {

// Kind numbers of the catalogue; kNoKind (49) means "no kind" and ends the table.
enum CarveKind : uint32_t {
  kKindDoc = 0, kKindDocx = 1, kKindOle = 2, kKindXls = 3, kKindXlsx = 4, kKindPpt = 5, kKindPptx = 6,
  kKindMso07 = 7, kKindPdf = 8, kKindGho = 9, kKindJpg = 10, kKindMp2 = 11, kKindMp3 = 12,
  kKindMid = 13, kKindMmf = 14, kKindMpeg = 15, kKind3gp = 16, kKindMov = 17, kKindMp4 = 18,
  kKindMkv = 19, kKindTs = 20, kKindWav = 21, kKindAvi = 22, kKindRm = 23, kKindAsf = 24,
  kKindApe = 25, kKindSwf = 26, kKindFlv = 27, kKindPsd = 28, kKindBmp = 29, kKindPng = 30,
  kKindGif = 31, kKindTif = 32, kKindCab = 33, kKind7z = 34, kKindZip = 35, kKindGz = 36,
  kKindRar = 37, kKindPst = 38, kKindDb = 39, kKindDbx = 40, kKindExe = 41, kKindDll = 42,
  kKindSys = 43, kKindFla = 44, kKindTtf = 45, kKindIco = 46, kKindMts = 47, kKindMxf = 48,
  kNoKind = 49,
};

// Decides whether a file of some kind starts in `sector` (`length` bytes);
// returns a kind number or kNoKind.
using HeaderTest = uint32_t (*)(const uint8_t* sector, size_t length);
// Length in bytes of the file whose first sector is given; `cap` is the row's cap.
using SizeRuleFn = uint64_t (*)(const uint8_t* sector, size_t length, uint64_t cap);

struct SizeRule {
  SizeRuleFn fn = nullptr;
  uint64_t cap = 0;
};

struct CatalogueRow {
  const char* extension;
  uint32_t kind;
  HeaderTest test;
  SizeRule rule;       // fn null: recognised, never carved
  bool skipWholeFile;  // after a hit the scan skips the carved length, else one sector
  // First bytes a match can start with (for the dispatch); null: any byte.
  const char* leadBytes;
  uint8_t leadCount;
};

// The table, in order (86 rows).
std::span<const CatalogueRow> CatalogueRows();

// Runs the header tests in table order and returns the first result other than
// kNoKind, with the index of the row that gave it (`row`, may be null). The
// dispatched walk only runs the tests whose rows can start with the sector's
// first byte; the plain walk runs every row and exists to check the other.
uint32_t RunHeaderTests(const uint8_t* sector, size_t length, size_t* row);
uint32_t RunHeaderTestsPlain(const uint8_t* sector, size_t length, size_t* row);

// Index of the first row whose kind number is `kind`; the size of the table when none.
size_t FirstRowOfKind(uint32_t kind);

// Progress figures of the running scan, handed through to the size rules.
struct CarveProgress {
  uint64_t sectorsDone = 0;
  uint64_t totalSectors = 0;
  int32_t etaSeconds = -1;
  uint64_t itemsFound = 0;
};

struct CarveHit {
  char name[48] = {};  // "<first sector>.<extension>"
  uint32_t kind = kNoKind;
  uint64_t length = 0;
  bool skipWholeFile = false;
};

// Identifies the kind of file that starts in `sector` (absolute sector
// `firstSector` of `device`) and sizes it. 0 with `hit` filled; 87 when no row
// matched or the matching row is never carved; -9527 when the progress
// callback cancelled while sizing (hit filled with the length so far).
int32_t IdentifyAndSize(const uint8_t* sector, size_t length, const SectorDevice& device,
                        uint32_t sectorSize, uint64_t firstSector, const CarveProgress& progress,
                        CarveHit& hit);

// 1 when the first bytes of a file agree with the kind its extension names, or
// the table has no row for the extension; 0 when they contradict it. The
// extension is given without the dot, in any letter case. Header tests that
// need more than the sector read `device` from `firstSector`.
int32_t MatchesExtension(const uint8_t* sector, size_t length, std::string_view extension,
                         const SectorDevice& device, uint32_t sectorSize, uint64_t firstSector);

}  // namespace nuvarin
