// Writing an NTFS finding's data out: to a recovered file or to a preview
// target. Both NTFS engines use this; they differ only in how they look up a
// record's resident value and data runs, which they pass in as NtfsDataLookup.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "ntfs/run_list.h"
#include "storage/found_item.h"
#include "storage/recovery_engine.h"
#include "storage/sector_device.h"

namespace nuvarin {

constexpr size_t kExtractChunkBytes = 65536;

struct NtfsDataLookup {
  // The resident value of the record at `lba`: 0, -101 when not resident, or an error.
  std::function<int32_t(uint64_t lba, std::vector<uint8_t>& value)> residentData;
  // The runs of the record's data attribute: 0 or an error.
  std::function<int32_t(uint64_t lba, std::vector<DataRun>& runs)> dataRuns;
};

// Where the copied bytes go.
class NtfsDataSink {
 public:
  virtual ~NtfsDataSink() = default;
  // Bytes wanted in total; the copy never hands over more.
  virtual uint64_t Target() const = 0;
  // A non-zero result stops the copy and is returned.
  virtual int32_t Put(const uint8_t* data, size_t length) = 0;
  virtual int32_t PutZeros(uint64_t length) = 0;
};

struct NtfsCopyResult {
  int32_t code = 0;
  bool fromSink = false;  // the sink stopped the copy (its own report is done)
  bool resident = false;
};

// Copies the data of `item` (its MFT record at entrySector, its size, cluster
// size and volume start) into `sink`: a resident value directly, else the
// clusters of its runs in 64 KiB reads, holes as zeros. Reading stops once
// the target is complete.
NtfsCopyResult CopyNtfsData(const FoundItem& item, const SectorDevice& device, uint32_t bytesPerSector,
                            const NtfsDataLookup& lookup, NtfsDataSink& sink);

// RecoverOne for a file: writes the item to `path`, reporting through the file callback.
int32_t RecoverNtfsFile(const FoundItem& item, const std::filesystem::path& path, const SectorDevice& device,
                        uint32_t bytesPerSector, const NtfsDataLookup& lookup, FileCallback callback,
                        void* context);

// RecoverItem of an NTFS engine: the shared folder walk with RecoverNtfsFile
// as the step for files.
int32_t RecoverNtfsItem(IFileRecoveryParse& engine, const FoundItem& item, const std::filesystem::path& destination,
                        uint32_t baseDepth, const SectorDevice& device, uint32_t bytesPerSector,
                        const NtfsDataLookup& lookup, FileCallback callback, void* context);

// PreviewItem of an NTFS finding: documents to the scan-log folder under their
// own name, pictures to "tmp.jpg", audio and video to "tmp.avi", everything
// else into `buffer` (cut at its capacity).
int32_t PreviewNtfsItem(const FoundItem* item, std::filesystem::path& outPath, uint8_t* buffer,
                        uint32_t& bufferSize, ShortCallback callback, void* context, const SectorDevice& device,
                        uint32_t bytesPerSector, const NtfsDataLookup& lookup);


}  // namespace nuvarin
