#include "ntfs/ntfs_extraction.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/error_codes.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "storage/byte_reader.h"
#include "storage/file_type_groups.h"
#include "storage/preview_output.h"
#include "storage/recovered_output.h"

namespace nuvarin {

NtfsCopyResult CopyNtfsData(const FoundItem& item, const SectorDevice& device, uint32_t bps,
                            const NtfsDataLookup& lookup, NtfsDataSink& sink) {
  NtfsCopyResult result;
  auto fail = [&](int32_t code) {
    result.code = code;
    return result;
  };
  auto sinkStop = [&](int32_t code) {
    result.code = code;
    result.fromSink = true;
    return result;
  };
  const uint64_t target = sink.Target();

  std::vector<uint8_t> value;
  int32_t rc = lookup.residentData(item.entrySector, value);
  if (rc == kOk) {
    result.resident = true;
    size_t n = static_cast<size_t>(std::min<uint64_t>(target, value.size()));
    if (n > 0 && (rc = sink.Put(value.data(), n)) != kOk) return sinkStop(rc);
    return result;
  }
  if (rc != kErrNoResidentData) return fail(rc);

  std::vector<DataRun> runs;
  rc = lookup.dataRuns(item.entrySector, runs);
  if (rc != kOk) return fail(rc);
  if (target == 0) return result;
  const uint64_t clusterSize = item.clusterSize;
  if (bps == 0 || clusterSize == 0 || clusterSize == kNoClusterSize || clusterSize % bps != 0)
    return fail(kErrInvalidParameter);

  std::vector<uint8_t> chunk(kExtractChunkBytes);
  uint64_t remaining = target;
  int64_t lcn = 0;
  for (const DataRun& run : runs) {
    if (remaining == 0) break;
    if (!CheckedAdd(lcn, run.lcnDelta, lcn)) return fail(kErrInvalidParameter);
    uint64_t runBytes;
    if (!CheckedMul(clusterSize, run.clusterCount, runBytes)) return fail(kErrInvalidParameter);
    if (runBytes == 0) continue;
    if (run.sparse) {
      uint64_t zeros = std::min(runBytes, remaining);
      if ((rc = sink.PutZeros(zeros)) != kOk) return sinkStop(rc);
      remaining -= zeros;
      continue;
    }
    uint64_t byteOffset, start;
    if (lcn < 0 || !CheckedMul(clusterSize, static_cast<uint64_t>(lcn), byteOffset) ||
        !CheckedAdd(item.volumeStartSector, byteOffset / bps, start))
      return fail(kErrInvalidParameter);
    uint64_t sectorsDone = 0;
    while (runBytes > 0 && remaining > 0) {
      uint64_t sectors = std::min<uint64_t>(runBytes, kExtractChunkBytes) / bps;
      uint64_t got = 0;
      int32_t readRc = ReadSectors(sectors, device, chunk.data(), start + sectorsDone, bps, got);
      uint64_t bytes = got * bps;
      runBytes -= std::min(runBytes, bytes);
      sectorsDone += got;
      size_t put = static_cast<size_t>(std::min(bytes, remaining));
      if (put > 0) {
        if ((rc = sink.Put(chunk.data(), put)) != kOk) return sinkStop(rc);
        remaining -= put;
      }
      if (readRc != kOk) return fail(readRc);
      if (got == 0) return fail(kErrReadFault);
    }
  }
  return result;
}

namespace {

class RecoverSink final : public NtfsDataSink {
 public:
  explicit RecoverSink(RecoveredFileWriter& writer, uint64_t size) : writer_(writer), size_(size) {}
  uint64_t Target() const override { return size_; }
  int32_t Put(const uint8_t* data, size_t length) override { return writer_.Write(data, length); }
  int32_t PutZeros(uint64_t length) override { return writer_.WriteZeros(length); }

 private:
  RecoveredFileWriter& writer_;
  uint64_t size_;
};

class PreviewSink final : public NtfsDataSink {
 public:
  explicit PreviewSink(PreviewWriter& writer) : writer_(writer) {}
  uint64_t Target() const override { return writer_.Total(); }
  int32_t Put(const uint8_t* data, size_t length) override { return writer_.Write(data, length); }
  int32_t PutZeros(uint64_t length) override { return writer_.WriteZeros(length); }

 private:
  PreviewWriter& writer_;
};

}  // namespace

int32_t RecoverNtfsFile(const FoundItem& item, const std::filesystem::path& path, const SectorDevice& device,
                        uint32_t bytesPerSector, const NtfsDataLookup& lookup, FileCallback callback,
                        void* context) {
  RecoveredFileWriter writer(callback, context, path, item.size);
  int32_t rc = writer.Open();
  if (rc != kOk) return rc;
  RecoverSink sink(writer, item.size);
  NtfsCopyResult copy = CopyNtfsData(item, device, bytesPerSector, lookup, sink);
  if (copy.fromSink) return copy.code;
  if (copy.code > 0) return writer.Fail(copy.code);
  if (copy.code < 0) return copy.code;
  // Runs that end before the size leave the file short: reported as a read fault.
  return writer.Finish(kErrReadFault);
}

int32_t RecoverNtfsItem(IFileRecoveryParse& engine, const FoundItem& item, const std::filesystem::path& destination,
                        uint32_t baseDepth, const SectorDevice& device, uint32_t bytesPerSector,
                        const NtfsDataLookup& lookup, FileCallback callback, void* context) {
  auto recoverOne = [&](const FoundItem& one, const std::filesystem::path& path, RecoverQueue& queue) -> int32_t {
    if (one.isFolder) return RecoverFolderStep(one, path, queue);
    return RecoverNtfsFile(one, path, device, bytesPerSector, lookup, callback, context);
  };
  return RunRecoveryWalk(engine, &item, destination, baseDepth, recoverOne);
}

int32_t PreviewNtfsItem(const FoundItem* item, std::filesystem::path& outPath, uint8_t* buffer,
                        uint32_t& bufferSize, ShortCallback callback, void* context, const SectorDevice& device,
                        uint32_t bytesPerSector, const NtfsDataLookup& lookup) {
  if (!item) {
    bufferSize = 0;
    return kErrInvalidParameter;
  }
  PreviewWriter writer(item->Name(), item->size, buffer, bufferSize, callback, context);
  int32_t rc = writer.Open(outPath);
  if (rc != kOk) return rc;
  PreviewSink sink(writer);
  return writer.Finish(CopyNtfsData(*item, device, bytesPerSector, lookup, sink).code, outPath);
}

}  // namespace nuvarin
