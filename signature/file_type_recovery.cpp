#include "signature/file_type_recovery.h"

#include <algorithm>
#include <system_error>

#include "platform/error_codes.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "signature/carve_state.h"
#include "signature/catalogue.h"
#include "storage/file_type_groups.h"
#include "storage/preview_output.h"
#include "storage/recovered_output.h"
#include "storage/scan_log_index.h"

namespace nuvarin {
namespace {

constexpr size_t kCopyBytes = 65536;

// Kinds whose length comes from a header field or the compound-document
// structure: the scan moves on by one sector, so files inside them are found too.
bool SkipsOneSector(uint32_t kind) {
  switch (kind) {
    case kKindDoc: case kKindOle: case kKindXls: case kKindPpt: case kKindWav: case kKindAvi:
    case kKindAsf: case kKindSwf: case kKindBmp: case kKindCab: case kKindTtf: case kKindIco:
      return true;
    default:
      return false;
  }
}

}  // namespace

CFileTypeRecovery::CFileTypeRecovery() : copyBuffer_(kCopyBytes) {}

CFileTypeRecovery::~CFileTypeRecovery() {
  if (store_) store_->Flush();
}

int32_t CFileTypeRecovery::CreateLog(uint64_t startSector) {
  const std::filesystem::path folder = ScanLogIndex::Instance().CurrentLogFolder();
  platform::CreateFolders(folder);
  return store_->Open(folder, MakeLogName("File_Type_", startSector));
}

int32_t CFileTypeRecovery::OpenImage(const std::filesystem::path& imagePath, uint16_t driveLetter) {
  store_ = std::make_unique<ScanLogStore>();
  driveLetter_ = driveLetter;
  areaStart_ = 0;
  int32_t rc = OpenImageFile(imagePath, device_);
  areaSectors_ = device_.sectorCount;
  if (rc == kOk) CreateLog(0);
  return rc;
}

int32_t CFileTypeRecovery::OpenDisk(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount,
                                    uint16_t driveLetter) {
  store_ = std::make_unique<ScanLogStore>();
  driveLetter_ = driveLetter;
  areaStart_ = startSector;
  areaSectors_ = sectorCount;
  int32_t rc = OpenPhysicalDrive(diskIndex, device_);
  if (rc == kOk) CreateLog(startSector);
  return rc;
}

int32_t CFileTypeRecovery::ReopenLog(const char* logName) {
  if (logName == nullptr) return kErrInvalidParameter;
  store_ = std::make_unique<ScanLogStore>();
  return store_->Open(ScanLogIndex::Instance().CurrentLogFolder(), logName);
}

int32_t CFileTypeRecovery::FlushLog() { return store_ ? store_->Flush() : kOk; }

void CFileTypeRecovery::BeginScan() { CarveState::Instance().Reset(); }

int32_t CFileTypeRecovery::SetProgressCallback(ProgressCallback progress, FileCallback file, void* context,
                                               int32_t weight) {
  progress_ = progress;
  file_ = file;
  context_ = context;
  weight_ = weight;
  CarveState& st = CarveState::Instance();
  st.progress = progress;
  st.progressContext = context;
  st.progressWeight = weight;
  return kOk;
}

int32_t CFileTypeRecovery::OpenLog(const char*) { return kOk; }

int32_t CFileTypeRecovery::ReadFolder(const FoundItem* folder, uint32_t depth, std::vector<FoundItem>& out) {
  if (!store_) return kOk;
  store_->Flush();
  if (folder != nullptr || depth != 0) return kOk;
  return store_->ReadFolder(MakeRelationKey(0, 0), out);
}

int32_t CFileTypeRecovery::CountFolderFiles(const FoundItem* folder, uint32_t depth, uint32_t& count) {
  count = 0;
  if (!store_) return kOk;
  store_->Flush();
  if (folder != nullptr || depth != 0) return kOk;
  return store_->CountFolderFiles(MakeRelationKey(0, 0), count);
}

uint64_t CFileTypeRecovery::GetItemCount() { return store_ ? store_->AppendedCount() : 0; }

int32_t CFileTypeRecovery::GetItemPath(const FoundItem*, std::string& path) {
  path.clear();
  return 0;
}

int32_t CFileTypeRecovery::NextFreeExtent(uint64_t&, uint64_t&) { return 0; }

int32_t CFileTypeRecovery::SetSearchCallback(ShortCallback callback, void* context) {
  searchCallback_ = callback;
  searchContext_ = context;
  if (!store_) return kErrInvalidParameter;
  store_->SetSearchCallback(callback, context);
  return kOk;
}

int32_t CFileTypeRecovery::SearchItems(const std::string& pattern, std::vector<FoundItem>& out) {
  return store_ ? store_->SearchItems(pattern, out) : 0;
}

int32_t CFileTypeRecovery::LoadAllocationBitmap() { return 0; }

int32_t CFileTypeRecovery::CarveAt(uint32_t sectorSize, const uint8_t* sector, size_t length,
                                   const SectorDevice& device, uint64_t absoluteSector, uint64_t sectorsDone,
                                   uint64_t totalSectors, int32_t etaSeconds, uint64_t& itemsFound,
                                   uint64_t& skip) {
  sectorSize_ = sectorSize;
  CarveHit hit;
  CarveProgress progress{sectorsDone, totalSectors, etaSeconds, itemsFound};
  int32_t rc = IdentifyAndSize(sector, length, device, sectorSize, absoluteSector, progress, hit);
  if (rc != kOk) return rc;
  lastHit_ = hit;
  if (store_) {
    uint32_t itemId = 0;
    if (FoundItem* item = store_->AppendItem(itemId)) {
      item->driveLetter = driveLetter_;
      item->sourceKind = kSourceSignature;
      item->isFolder = 0;
      item->isDeleted = 0;
      item->contentCheck = 1;
      item->itemId = itemId;
      item->objectId = 0;
      item->clusterSize = kNoClusterSize;
      item->size = hit.length;
      item->entrySector = absoluteSector;
      item->SetName(hit.name);
      store_->AddRelation(MakeRelationKey(0, 0), itemId, 0, nullptr);
    }
  }
  skip = SkipsOneSector(hit.kind) ? 1 : std::max<uint64_t>(1, (hit.length + sectorSize - 1) / sectorSize);
  ++itemsFound;
  return kOk;
}

template <class Sink>
int32_t CFileTypeRecovery::CopyItem(const FoundItem& item, uint64_t limit, Sink&& sink) {
  const uint32_t ss = device_.bytesPerSector ? device_.bytesPerSector : 512;
  uint64_t remaining = std::min<uint64_t>(+item.size, limit);  // a copy: record fields are packed
  uint64_t next = item.entrySector;
  while (remaining > 0) {
    uint64_t want = std::min<uint64_t>(remaining, kCopyBytes);
    uint64_t sectors = (want + ss - 1) / ss;
    if (copyBuffer_.size() < sectors * ss) copyBuffer_.resize(static_cast<size_t>(sectors * ss));
    uint64_t got = 0;
    int32_t rc = ReadSectors(sectors, device_, copyBuffer_.data(), next, ss, got);
    if (got == 0) return (rc == kOk || rc == kErrInvalidParameter) ? kErrReadFault : rc;
    uint64_t take = std::min<uint64_t>(got * ss, remaining);
    remaining -= take;
    int32_t answer = sink(copyBuffer_.data(), static_cast<size_t>(take), item.size - remaining);
    if (answer != kOk) return answer;
    if (rc != kOk) return rc;
    next += got;
  }
  return kOk;
}

int32_t CFileTypeRecovery::RecoverItem(const FoundItem* item, const std::filesystem::path& destination,
                                       uint32_t baseDepth) {
  return RunRecoveryWalk(*this, item, destination, baseDepth,
                         [this](const FoundItem& file, const std::filesystem::path& path, RecoverQueue&) {
                           RecoveredFileWriter writer(file_, context_, path, file.size);
                           int32_t rc = writer.Open();
                           if (rc != kOk) return rc;
                           rc = CopyItem(file, file.size, [&](const uint8_t* data, size_t n, uint64_t) {
                             return writer.Write(data, n);
                           });
                           if (rc == kCancelCode) return rc;
                           if (rc != kOk) return writer.Fail(rc);
                           return writer.Finish(kErrReadFault);
                         });
}

int32_t CFileTypeRecovery::PreviewItem(const FoundItem* item, std::filesystem::path& outPath, uint8_t* buffer,
                                       uint32_t& bufferSize, ShortCallback callback, void* context) {
  if (item == nullptr) return kErrInvalidParameter;
  PreviewWriter writer(item->Name(), item->size, buffer, bufferSize, callback, context);
  int32_t result = writer.Open(outPath);
  if (result != kOk) return result;
  result = CopyItem(*item, writer.Total(),
                    [&](const uint8_t* data, size_t n, uint64_t) { return writer.Write(data, n); });
  return writer.Finish(result, outPath);
}

}  // namespace nuvarin
