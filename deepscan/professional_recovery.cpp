#include "deepscan/professional_recovery.h"

#include <algorithm>
#include <unordered_map>

#include "fat/dir_entry.h"
#include "fat/fat_directory_search.h"
#include "ntfs/ntfs_record_search.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "signature/file_type_recovery.h"
#include "storage/byte_reader.h"
#include "storage/engine_factory.h"
#include "storage/scan_log_store.h"

namespace nuvarin {
namespace {

constexpr size_t kSweepBufferBytes = 65536;
constexpr size_t kRecordReadBytes = 8192;

bool IsNtfsCandidate(const ByteReader& r, uint32_t recordSize) {
  return r.equals(0, "FILE", 4) && r.le32(24) <= recordSize && r.le32(28) == recordSize &&
         r.le16(0x30) == r.le16(510);
}

}  // namespace

CProfessionalRecovery::CProfessionalRecovery()
    : fatSearch_(std::make_unique<CProfessionalFatRecovery>()),
      ntfsSearch_(std::make_unique<CProfessionalNtfsRecovery>()),
      carver_(std::make_unique<CFileTypeRecovery>()) {}

CProfessionalRecovery::~CProfessionalRecovery() {
  // Fast engine first, then the signature engine, the NTFS and the FAT search.
  fast_.reset();
  carver_.reset();
  ntfsSearch_.reset();
  fatSearch_.reset();
}

void CProfessionalRecovery::ResetArea() {
  resuming_ = false;
  resumeState_ = ResumeState{};
  previousFolder_.clear();
  fast_.reset();
  device_.Close();
}

void CProfessionalRecovery::LookUpPreviousScan() {
  ScanIndexEntry entry;
  bool found = imagePath_.empty()
                   ? ScanLogIndex::Instance().FindPreviousForDisk(diskIndex_, areaStart_, sectorCount_,
                                                                  driveLetter_, entry)
                   : ScanLogIndex::Instance().FindPreviousForImage(imagePath_, entry);
  resuming_ = found;
  if (found) {
    resumeState_ = entry.resume;
    previousFolder_ = platform::Utf16ToUtf8(entry.scanFolder);
  }
}

int32_t CProfessionalRecovery::OpenDisk(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount,
                                        uint16_t driveLetter) {
  ResetArea();
  imagePath_.clear();
  diskIndex_ = diskIndex;
  areaStart_ = startSector;
  sectorCount_ = sectorCount;
  driveLetter_ = driveLetter;
  int32_t rc = OpenPhysicalDrive(diskIndex, device_);
  bytesPerSector_ = rc == kOk ? device_.bytesPerSector : 512;
  // Never sweep past the end of the disk, whatever the caller's count says.
  if (rc == kOk && (areaStart_ > device_.sectorCount || sectorCount_ > device_.sectorCount - areaStart_)) {
    sectorCount_ = areaStart_ > device_.sectorCount ? 0 : device_.sectorCount - areaStart_;
  }
  LookUpPreviousScan();
  fatSearch_->OpenDisk(diskIndex, startSector, sectorCount_, driveLetter);
  int32_t ntfs = ntfsSearch_->OpenDisk(diskIndex, startSector, sectorCount_, driveLetter);
  fast_ = CreateEngineForDisk(diskIndex, startSector, sectorCount_, driveLetter, false);
  return ntfs;
}

int32_t CProfessionalRecovery::OpenImage(const std::filesystem::path& imagePath, uint16_t driveLetter) {
  ResetArea();
  imagePath_ = imagePath;
  recordedImagePath_ = imagePath;
  diskIndex_ = kImageDiskIndex;
  areaStart_ = 0;
  driveLetter_ = driveLetter;
  bytesPerSector_ = 512;
  int32_t rc = OpenImageFile(imagePath, device_);
  sectorCount_ = rc == kOk ? device_.sectorCount : 0;
  LookUpPreviousScan();
  fatSearch_->OpenImage(imagePath, driveLetter);
  int32_t ntfs = ntfsSearch_->OpenImage(imagePath, driveLetter);
  fast_ = CreateEngineForImage(imagePath, driveLetter, false);
  return ntfs;
}

int32_t CProfessionalRecovery::SetProgressCallback(ProgressCallback progress, FileCallback file, void* context,
                                                   int32_t /*weight*/) {
  progress_ = progress;
  file_ = file;
  context_ = context;
  weight_ = 90;
  if (fast_) fast_->SetProgressCallback(progress, file, context, 9);
  fatSearch_->SetProgressCallback(progress, file, context, 90);
  ntfsSearch_->SetProgressCallback(progress, file, context, 90);
  carver_->SetProgressCallback(progress, file, context, 90);
  return 0;
}

uint32_t CProfessionalRecovery::SweepRecordSize() const {
  return bytesPerSector_ <= 512 ? 2 * bytesPerSector_ : bytesPerSector_;
}

int32_t CProfessionalRecovery::OpenMemberLogs() {
  ScanLogIndex& index = ScanLogIndex::Instance();
  if (resuming_) {
    std::string name;
    const std::filesystem::path folder = index.CurrentLogFolder();
    if (index.FindLogInFolder("File_Type_", folder, name)) {
      if (imagePath_.empty()) carver_->OpenDisk(diskIndex_, areaStart_, sectorCount_, driveLetter_);
      else carver_->OpenImage(imagePath_, driveLetter_);
      carver_->ReopenLog(name.c_str());
    }
    if (index.FindLogInFolder("Pro_Fat_", folder, name)) fatSearch_->OpenProLog(name.c_str());
    else fatSearch_->OpenProLog(nullptr);
    if (index.FindLogInFolder("Pro_Ntfs_", folder, name)) ntfsSearch_->OpenProLog(name.c_str());
    else ntfsSearch_->OpenProLog(nullptr);
  } else {
    if (imagePath_.empty()) carver_->OpenDisk(diskIndex_, areaStart_, sectorCount_, driveLetter_);
    else carver_->OpenImage(imagePath_, driveLetter_);
    fatSearch_->OpenProLog(nullptr);
    ntfsSearch_->OpenProLog(nullptr);
  }
  fatSearch_->PrepareSweep();
  carver_->BeginScan();
  return 0;
}

int32_t CProfessionalRecovery::OpenLog(const char* /*logName*/) {
  ScanLogIndex& index = ScanLogIndex::Instance();
  stats_ = SweepStats{};
  const bool freshScan = !resuming_;
  if (freshScan) index.NewScanFolder();

  // Fast phase. Free-space mode only when the fast engine really hands out
  // free extents (the ext stub loads no bitmap yet answers 0).
  bool freeSpaceMode = false;
  if (fast_) {
    if (fast_->LoadAllocationBitmap() == 0) {
      uint64_t pos = 0, len = 0;
      freeSpaceMode = fast_->NextFreeExtent(pos, len) == 1;
    }
    int32_t rc;
    std::string name;
    if (resuming_ && index.FindLogInFolder("Fast_", index.CurrentLogFolder(), name)) {
      rc = fast_->OpenLog(name.c_str());
    } else {
      rc = fast_->OpenLog(nullptr);
    }
    if (rc != 0) {
      if (freshScan) index.DecrementCounter();
      imagePath_.clear();
      return rc;
    }
  }

  OpenMemberLogs();
  buffer_.assign(kSweepBufferBytes, 0);

  SweepPosition pos;
  int32_t result = Sweep(freeSpaceMode, pos);

  fatSearch_->FinishFolders();
  ntfsSearch_->FinishFolders();

  if (progress_ && result == 0) progress_(context_, 100, 100, 0, 0, 0, 0, 0);

  ResumeState state = {pos.extentStart, pos.extentLength, pos.offset, pos.done,
                       GetItemCount() + pos.foundOffset};
  index.RecordScan(driveLetter_, diskIndex_, areaStart_, sectorCount_, state, index.CurrentLogFolder(),
                   imagePath_);
  imagePath_.clear();
  return result;
}

int32_t CProfessionalRecovery::Sweep(bool freeSpaceMode, SweepPosition& pos) {
  // Extents and total.
  uint64_t total = 0;
  if (freeSpaceMode) {
    uint64_t p = 0, n = 0;
    // Bounded: each extent starts after the previous one.
    for (uint64_t guard = 0; guard < sectorCount_ + 1; ++guard) {
      uint64_t at = p;
      if (fast_->NextFreeExtent(at, n) != 1 || n == 0) break;
      if (guard == 0) {
        pos.extentStart = at;
        pos.extentLength = n;
      }
      total += n;
      if (at + n <= p) break;
      p = at + n;
    }
    if (total == 0) pos.extentLength = 0;
  } else {
    pos.extentStart = 0;
    pos.extentLength = sectorCount_;
    total = sectorCount_;
  }
  if (resuming_) {
    pos.extentStart = resumeState_[0];
    pos.extentLength = resumeState_[1];
    pos.offset = resumeState_[2];
    pos.done = resumeState_[3];
    pos.foundOffset = resumeState_[4];
    resuming_ = false;
    stats_.resumed = true;
  }
  stats_.sectorsTotal = total;
  stats_.freeSpaceMode = freeSpaceMode;
  if (total == 0) return 0;

  const uint64_t startMs = platform::TickMs();
  uint64_t lastEtaMs = startMs;
  int32_t eta = -1;
  const uint64_t perRead = std::max<uint64_t>(1, kSweepBufferBytes / bytesPerSector_);

  while (pos.extentLength != 0) {
    // An extent never reaches past the area.
    if (pos.extentStart >= sectorCount_) break;
    pos.extentLength = std::min(pos.extentLength, sectorCount_ - pos.extentStart);
    while (pos.offset < pos.extentLength) {
      uint64_t remaining = pos.extentLength - pos.offset;
      uint64_t k = std::min(perRead, remaining);
      uint64_t first = areaStart_ + pos.extentStart + pos.offset;
      uint64_t got = 0;
      ReadSectors(k, device_, buffer_.data(), first, bytesPerSector_, got);
      stats_.bytesRead += got * bytesPerSector_;
      uint64_t overrun = 0;
      if (got > 0) {
        int32_t rc = DispatchBuffer(buffer_.data(), got, first, pos, total, eta, overrun);
        if (rc == kCancelCode) {
          // Cancelled while a file was being sized: the sectors before it are
          // done, so that a continued scan starts at that file, not before it
          // (which would log this buffer's earlier findings twice).
          pos.offset += overrun;
          pos.done += overrun;
          stats_.sectorsDone = pos.done;
          return rc;
        }
      }
      uint64_t step = k + overrun;
      pos.offset += step;
      pos.done += std::min(step, remaining);
      stats_.sectorsDone = pos.done;

      uint64_t now = platform::TickMs();
      if (now - lastEtaMs >= 5000) {
        lastEtaMs = now;
        double elapsed = static_cast<double>(now - startMs) / 1000.0;
        double rate = elapsed > 0 ? static_cast<double>(bytesPerSector_) * pos.done / elapsed : 1.0;
        if (rate <= 0) rate = 1.0;
        double left = static_cast<double>(total > pos.done ? total - pos.done : 0) * bytesPerSector_ / rate;
        eta = left > 2.0e9 ? 2000000000 : static_cast<int32_t>(left);
      }
      if (progress_) {
        uint64_t found = GetItemCount() + pos.foundOffset;
        int32_t percent = static_cast<int32_t>(std::min<uint64_t>(pos.done, total) * 100 / total) + 10;
        int32_t answer = progress_(context_, percent, weight_, eta, pos.done, total, found, 0);
        if (answer != 0) return answer;
      }
    }
    if (!freeSpaceMode) break;
    uint64_t next = pos.extentStart + pos.extentLength, n = 0;
    if (fast_->NextFreeExtent(next, n) != 1 || n == 0 || next < pos.extentStart + pos.extentLength) {
      pos.extentStart = next;
      pos.extentLength = 0;
      pos.offset = 0;
      break;
    }
    pos.extentStart = next;
    pos.extentLength = n;
    pos.offset = 0;
  }
  return 0;
}

int32_t CProfessionalRecovery::DispatchBuffer(const uint8_t* buffer, uint64_t count, uint64_t first,
                                              const SweepPosition& pos, uint64_t total, int32_t eta,
                                              uint64_t& overrun) {
  overrun = 0;
  const uint32_t bps = bytesPerSector_;
  const uint32_t recordSize = SweepRecordSize();
  const size_t bufferBytes = static_cast<size_t>(count) * bps;
  // Findings so far, as the carver's progress reports show them; the carver
  // adds one for every file it logs.
  uint64_t found = GetItemCount() + pos.foundOffset;
  uint64_t s = 0;
  while (s < count) {
    const uint8_t* sector = buffer + s * bps;
    const size_t left = bufferBytes - static_cast<size_t>(s) * bps;
    ByteReader r(sector, left);
    const uint64_t abs = first + s;
    uint64_t skip = 1;
    if (IsNtfsCandidate(r, recordSize)) {
      if ((r.le16(22) & 0x02) == 0) {
        if (left >= recordSize) {
          ntfsSearch_->HandleCandidateRecord(sector, left, abs, CProfessionalNtfsRecovery::CandidateMode::kSweep, 0);
        } else {
          recordBuffer_.assign(kRecordReadBytes, 0);
          uint64_t readCount = kRecordReadBytes / bps, got = 0;
          if (abs + readCount > areaStart_ + sectorCount_) readCount = areaStart_ + sectorCount_ - abs;
          ReadSectors(readCount, device_, recordBuffer_.data(), abs, bps, got);
          if (got * bps >= recordSize) {
            ntfsSearch_->HandleCandidateRecord(recordBuffer_.data(), got * bps, abs,
                                               CProfessionalNtfsRecovery::CandidateMode::kSweep, 0);
          }
        }
      }
    } else if (IsDotPair(sector, std::min<size_t>(left, bps))) {
      fatSearch_->HandleSubdirectoryStart(sector, bps, abs);
    } else if (LooksLikeDirectorySector(sector, bps)) {
      fatSearch_->HandleEntrySector(sector, bps, abs);
    } else {
      int32_t rc = carver_->CarveAt(bps, sector, bps, device_, abs, pos.done + s, total, eta, found, skip);
      if (rc == kCancelCode) {
        overrun = s;  // sectors of this buffer already handled
        return rc;
      }
      if (skip == 0) skip = 1;
    }
    s += skip;
  }
  overrun = s - count;
  return 0;
}

IFileRecoveryParse* CProfessionalRecovery::EngineOfKind(uint32_t sourceKind, bool includeCarver) {
  switch (sourceKind) {
    case kSourceFastNtfs:
    case kSourceFastFat: return fast_.get();
    case kSourceNtfsRecordSearch: return ntfsSearch_.get();
    case kSourceFatDirectorySearch: return fatSearch_.get();
    case kSourceSignature: return includeCarver ? carver_.get() : nullptr;
    default: return nullptr;
  }
}

int32_t CProfessionalRecovery::ReadFolder(const FoundItem* folder, uint32_t depth, std::vector<FoundItem>& out) {
  if (!folder && depth != 0) return kErrInvalidParameter;
  int32_t rc = 0;
  if (folder) {
    IFileRecoveryParse* engine = EngineOfKind(folder->sourceKind, false);
    if (engine) rc = engine->ReadFolder(folder, depth, out);
  } else {
    std::vector<IFileRecoveryParse*> engines = {fast_.get(), fatSearch_.get(), ntfsSearch_.get(), carver_.get()};
    for (IFileRecoveryParse* engine : engines) {
      if (engine) engine->ReadFolder(nullptr, 0, out);
    }
  }
  SortFolderListing(out);
  return rc;
}

int32_t CProfessionalRecovery::CountFolderFiles(const FoundItem* folder, uint32_t depth, uint32_t& count) {
  count = 0;
  if (!folder && depth != 0) return kErrInvalidParameter;
  if (folder) {
    IFileRecoveryParse* engine = EngineOfKind(folder->sourceKind, false);
    return engine ? engine->CountFolderFiles(folder, depth, count) : 0;
  }
  for (IFileRecoveryParse* engine :
       std::vector<IFileRecoveryParse*>{fast_.get(), fatSearch_.get(), ntfsSearch_.get(), carver_.get()}) {
    uint32_t c = 0;
    if (engine && engine->CountFolderFiles(nullptr, 0, c) == 0) count += c;
  }
  return 0;
}

uint64_t CProfessionalRecovery::GetItemCount() {
  uint64_t n = fatSearch_->GetItemCount() + ntfsSearch_->GetItemCount() + carver_->GetItemCount();
  if (fast_) n += fast_->GetItemCount();
  return n;
}

int32_t CProfessionalRecovery::GetItemPath(const FoundItem* item, std::string& path) {
  path.clear();
  if (!item) return kErrInvalidParameter;
  IFileRecoveryParse* engine = EngineOfKind(item->sourceKind, false);
  return engine ? engine->GetItemPath(item, path) : 0;
}

int32_t CProfessionalRecovery::RecoverItem(const FoundItem* item, const std::filesystem::path& destination,
                                           uint32_t baseDepth) {
  if (!item) return kErrInvalidParameter;
  IFileRecoveryParse* engine = EngineOfKind(item->sourceKind, true);
  return engine ? engine->RecoverItem(item, destination, baseDepth) : 0;
}

int32_t CProfessionalRecovery::PreviewItem(const FoundItem* item, std::filesystem::path& outPath, uint8_t* buffer,
                                           uint32_t& bufferSize, ShortCallback callback, void* context) {
  if (!item) return kErrInvalidParameter;
  IFileRecoveryParse* engine = EngineOfKind(item->sourceKind, true);
  return engine ? engine->PreviewItem(item, outPath, buffer, bufferSize, callback, context) : 0;
}

int32_t CProfessionalRecovery::SetSearchCallback(ShortCallback callback, void* context) {
  search_ = callback;
  searchContext_ = context;
  if (fast_) fast_->SetSearchCallback(callback, context);
  fatSearch_->SetSearchCallback(callback, context);
  ntfsSearch_->SetSearchCallback(callback, context);
  carver_->SetSearchCallback(callback, context);
  return 0;
}

int32_t CProfessionalRecovery::SearchItems(const std::string& pattern, std::vector<FoundItem>& out) {
  std::vector<FoundItem> fileSystemFound;
  if (fast_) fast_->SearchItems(pattern, fileSystemFound);
  fatSearch_->SearchItems(pattern, fileSystemFound);
  ntfsSearch_->SearchItems(pattern, fileSystemFound);
  std::vector<FoundItem> carved;
  carver_->SearchItems(pattern, carved);

  // Data starts of the files the file-system searches found, with their
  // extensions; a later file with the same start replaces an earlier one.
  std::unordered_map<uint64_t, std::string> starts;
  starts.reserve(fileSystemFound.size());
  for (const FoundItem& f : fileSystemFound) {
    if (f.isFolder) continue;
    uint64_t start = 0;
    bool known = false;
    if (f.sourceKind == kSourceFastNtfs || f.sourceKind == kSourceNtfsRecordSearch) {
      known = ntfsSearch_->FirstDataSector(f, start);
    } else if (f.sourceKind == kSourceFastFat || f.sourceKind == kSourceFatDirectorySearch) {
      uint32_t spc = f.clusterSize / bytesPerSector_;
      if (f.objectId != 0) {
        start = f.volumeStartSector + static_cast<uint64_t>(spc) * (f.objectId - 2) + f.dataStartSector;
      } else {
        start = f.volumeStartSector + f.dataStartSector - 32;
      }
      known = true;
    }
    if (known) starts[start] = platform::AsciiLower(NameExtension(f.Name()));
  }
  out.insert(out.end(), fileSystemFound.begin(), fileSystemFound.end());
  for (const FoundItem& c : carved) {
    const uint64_t first = c.entrySector;  // a copy: record fields are packed
    auto it = starts.find(first);
    if (it != starts.end()) {
      std::string ext = platform::AsciiLower(NameExtension(c.Name()));
      if (ext == it->second || (it->second == "thm" && ext == "jpg")) continue;
    }
    out.push_back(c);
  }
  SortFolderListing(out);
  return 0;
}

}  // namespace nuvarin
