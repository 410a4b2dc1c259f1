// The carving state: everything the header tests and size rules share while one
// signature scan (or one extension check) runs. The carver is single-threaded
// and serves one scan at a time, so there is exactly one of these per process.
//
// Ownership, in one place:
//  - CarveState::Instance() is the only instance; it owns the 64 KiB work buffer
//    of the size rules and the scratch buffers of the device-reading header
//    tests, allocated once for the life of the process.
//  - CFileTypeRecovery::SetProgressCallback installs the progress callback.
//  - Reset() starts a new scan: the deep scan calls it when its sweep starts
//    (CFileTypeRecovery::BeginScan), and so does every test that needs a clean
//    slate. It empties the transport-stream extent list and clears the follow
//    flags and the stored callback result; the callback stays installed.
//  - IdentifyAndSize and MatchesExtension fill the per-candidate fields.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "storage/recovery_engine.h"
#include "storage/sector_device.h"

namespace nuvarin {

// First and last absolute sector of one transport stream already carved.
struct TsExtent {
  uint64_t first = 0;
  uint64_t last = 0;
};

class CarveState {
 public:
  static constexpr size_t kWorkBufferBytes = 65536;

  static CarveState& Instance();

  // A new scan begins: see the file comment.
  void Reset();

  // Work buffer of the chunked read (kWorkBufferBytes, or one sector when sectors are larger).
  uint8_t* WorkBuffer() { return work_.data(); }
  size_t WorkBufferSize() const { return work_.size(); }
  // Scratch for the header tests that read the device; never the work buffer,
  // because the stop-sector test runs them while a chunk sits in it.
  uint8_t* Scratch(size_t bytes);

  // Makes the buffers fit `sectorSize`; false when no sizing is possible with it.
  bool SetSectorSize(uint32_t sectorSize);

  // Reads `count` sectors at `sector` of the device into `out`; false on any failure.
  bool ReadDeviceSectors(uint64_t sector, uint64_t count, uint8_t* out) const;
  // Invokes the progress callback (when one is installed) and stores its answer.
  int32_t ReportProgress(uint64_t sectorsReadByRule);

  // --- inputs of the running identification ---
  uint32_t sectorSize = 512;
  const SectorDevice* device = nullptr;
  uint64_t fileStart = 0;     // first sector of the candidate file
  uint64_t cursorSector = 0;  // sector under test; advanced by the stop-sector test
  uint64_t sectorsDone = 0;
  uint64_t totalSectors = 0;
  int32_t etaSeconds = -1;
  uint64_t itemsFound = 0;

  // --- installed by the engine ---
  ProgressCallback progress = nullptr;
  void* progressContext = nullptr;
  int32_t progressWeight = 0;
  int32_t callbackResult = 0;

  // --- carried from one identification to the next ---
  bool tsFollow = false;    // transport-stream continuation checks apply
  bool m2tsFollow = false;  // M2TS starts with a time code are not new files
  std::vector<TsExtent> tsExtents;

  // --- set while a size rule runs ---
  uint32_t sizingKind = 49;  // kind being sized (the MPEG exception of the stop test)
  bool probeOnly = false;    // header tests only need to say "some kind", not which

 private:
  CarveState();
  std::vector<uint8_t> work_;
  std::vector<uint8_t> scratch_;
};

}  // namespace nuvarin
