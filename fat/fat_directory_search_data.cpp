// The reading side of the FAT directory search: listings from the log, and
// file data read back as contiguous clusters from the first cluster (no FAT
// is trusted), never past the end of the area.
#include <algorithm>
#include <memory>
#include <new>
#include <system_error>

#include "fat/fat_directory_search.h"
#include "fat/fat_extraction.h"
#include "storage/file_type_groups.h"
#include "storage/preview_output.h"
#include "platform/error_codes.h"
#include "platform/file_io.h"
#include "platform/paths.h"

namespace nuvarin {
namespace {

constexpr size_t kRecoverPieceBytes = 1024 * 1024;
constexpr size_t kPreviewPieceBytes = 65536;

}  // namespace

// Contiguous clusters of one record, read in pieces of whole clusters.
class ContiguousClusterReader {
 public:
  ContiguousClusterReader(const FoundItem& item, uint32_t bytesPerSector)
      : item_(item), bps_(bytesPerSector) {
    remaining_ = item.size;
  }

  // 29 for an absurd cluster size, 87 for a record that cannot be placed.
  int32_t Validate() {
    if (item_.clusterSize > kMaxRecoverClusterBytes) return kErrWriteFault;
    if (item_.size == 0) return kOk;
    if (bps_ == 0 || item_.clusterSize == 0 || item_.clusterSize == kNoClusterSize ||
        item_.clusterSize % bps_ != 0 || item_.objectId < 2)
      return kErrInvalidParameter;
    uint64_t offset;
    if (!CheckedMul<uint64_t>(item_.objectId - 2, item_.clusterSize / bps_, offset) ||
        !CheckedAdd<uint64_t>(item_.volumeStartSector, item_.dataStartSector, next_) ||
        !CheckedAdd(next_, offset, next_))
      return kErrInvalidParameter;
    return kOk;
  }

  uint64_t Remaining() const { return remaining_; }

  // Next piece of at most `capacity` bytes (whole sectors); got 0 at the end.
  template <typename ReadFn>
  int32_t Next(uint8_t* buffer, size_t capacity, size_t& got, ReadFn read) {
    got = 0;
    if (remaining_ == 0) return kOk;
    uint64_t want = std::min<uint64_t>(remaining_, capacity);
    uint64_t sectors = (want + bps_ - 1) / bps_;
    uint64_t arrived = 0;
    int32_t rc = read(next_, sectors, buffer, arrived);
    if (arrived == 0) return rc != kOk && rc != kErrInvalidParameter ? rc : kErrReadFault;
    got = static_cast<size_t>(std::min<uint64_t>(arrived * bps_, remaining_));
    remaining_ -= got;
    next_ += arrived;
    return kOk;
  }

 private:
  const FoundItem& item_;
  uint32_t bps_;
  uint64_t remaining_ = 0;
  uint64_t next_ = 0;
};

int32_t CProfessionalFatRecovery::ReadFolder(const FoundItem* folder, uint32_t depth,
                                             std::vector<FoundItem>& out) {
  if (folder == nullptr && depth != 0) return kErrInvalidParameter;
  if (!store_) return kOk;
  store_->Flush();
  return store_->ReadFolder(MakeRelationKey(depth, folder ? folder->objectId : 0), out);
}

int32_t CProfessionalFatRecovery::CountFolderFiles(const FoundItem* folder, uint32_t depth, uint32_t& count) {
  count = 0;
  if (folder == nullptr && depth != 0) return kErrInvalidParameter;
  if (!store_) return kOk;
  store_->Flush();
  return store_->CountFolderFiles(MakeRelationKey(depth, folder ? folder->objectId : 0), count);
}

uint64_t CProfessionalFatRecovery::GetItemCount() {
  return store_ ? store_->AppendedCount() : 0;
}

int32_t CProfessionalFatRecovery::GetItemPath(const FoundItem* item, std::string& path) {
  path.clear();
  if (item == nullptr) return kErrInvalidParameter;
  if (!store_) return kOk;
  store_->Flush();
  return store_->ItemPath(*item, path);
}

int32_t CProfessionalFatRecovery::SearchItems(const std::string& pattern, std::vector<FoundItem>& out) {
  return store_ ? store_->SearchItems(pattern, out) : 0;
}

int32_t CProfessionalFatRecovery::RecoverItem(const FoundItem* item, const std::filesystem::path& destination,
                                              uint32_t baseDepth) {
  return RunRecoveryWalk(*this, item, destination, baseDepth,
                         [this](const FoundItem& one, const std::filesystem::path& path,
                                RecoverQueue& queue) { return RecoverOne(one, path, queue); });
}

int32_t CProfessionalFatRecovery::RecoverOne(const FoundItem& item, const std::filesystem::path& path,
                                             RecoverQueue& queue) {
  if (item.isFolder) return RecoverFolderStep(item, path, queue);
  return RecoverFileData(item, path);
}

int32_t CProfessionalFatRecovery::RecoverFileData(const FoundItem& item, const std::filesystem::path& path) {
  RecoveredFileWriter writer(fileCallback_, fileContext_, path, item.size);
  int32_t rc = writer.Open();
  if (rc != kOk) return rc;
  ContiguousClusterReader reader(item, bytesPerSector_);
  rc = reader.Validate();
  if (rc != kOk) return writer.Fail(rc);
  if (item.size == 0) return writer.Finish();
  size_t capacity =
      std::max<size_t>(item.clusterSize, kRecoverPieceBytes / item.clusterSize * item.clusterSize);
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[capacity]);
  if (!buffer) return writer.Fail(kErrNotEnoughMemory);
  auto read = [this](uint64_t s, uint64_t n, uint8_t* b, uint64_t& got) { return ReadArea(s, n, b, got); };
  while (reader.Remaining() > 0) {
    size_t got = 0;
    rc = reader.Next(buffer.get(), capacity, got, read);
    if (rc != kOk) return writer.Fail(rc);
    if (got == 0) break;
    rc = writer.Write(buffer.get(), got);
    if (rc != kOk) return rc;
  }
  return writer.Finish(kErrReadFault);
}

int32_t CProfessionalFatRecovery::PreviewItem(const FoundItem* item, std::filesystem::path& outPath,
                                              uint8_t* buffer, uint32_t& bufferSize, ShortCallback callback,
                                              void* context) {
  if (item == nullptr) return kErrInvalidParameter;
  PreviewWriter writer(item->Name(), item->size, buffer, bufferSize, callback, context);
  int32_t result = writer.Open(outPath);
  if (result != kOk) return result;
  ContiguousClusterReader reader(*item, bytesPerSector_);
  result = reader.Validate();
  if (result == kOk && !writer.Complete()) {
    size_t capacity =
        std::max<size_t>(item->clusterSize, kPreviewPieceBytes / item->clusterSize * item->clusterSize);
    std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[capacity]);
    if (!piece) result = kErrNotEnoughMemory;
    auto read = [this](uint64_t s, uint64_t n, uint8_t* b, uint64_t& got) { return ReadArea(s, n, b, got); };
    while (result == kOk && !writer.Complete()) {
      size_t got = 0;
      result = reader.Next(piece.get(), capacity, got, read);
      if (result != kOk) break;
      if (got == 0) {
        result = kErrReadFault;
        break;
      }
      result = writer.Write(piece.get(), got);
    }
  }
  return writer.Finish(result, outPath);
}

}  // namespace nuvarin
