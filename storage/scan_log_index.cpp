#include "storage/scan_log_index.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform/clock.h"
#include "platform/error_codes.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "storage/byte_reader.h"
#include "storage/sector_device.h"

namespace fs = std::filesystem;

namespace nuvarin {
namespace {

// "config": 8-byte counter, then 1,120-byte entries.
constexpr size_t kCounterBytes = 8;
constexpr size_t kOffDisk = 0;
constexpr size_t kOffStart = 8;
constexpr size_t kOffCount = 16;
constexpr size_t kOffResume = 24;
constexpr size_t kOffFreeBytes = 64;
constexpr size_t kOffImageTime = 72;
constexpr size_t kOffImagePath = 80;
constexpr size_t kOffScanFolder = 600;
constexpr size_t kPathBytes = 520;
constexpr size_t kPathUnits = kPathBytes / 2;  // NUL included

uint64_t DefaultFreeSpace(uint32_t diskIndex, uint64_t startSector, uint16_t) {
  uint64_t bytes = 0;
  if (GetFreeSpace(diskIndex, startSector, bytes) != kOk) return 0;
  return bytes;
}

// A UTF-16LE path field: the units up to the first NUL. False when the field
// holds no NUL (a damaged entry).
bool DecodePath(const ByteReader& r, size_t offset, std::u16string& out) {
  out.clear();
  for (size_t i = 0; i < kPathUnits; ++i) {
    char16_t unit = static_cast<char16_t>(r.le16(offset + 2 * i));
    if (unit == 0) return true;
    out.push_back(unit);
  }
  return false;
}

void EncodePath(uint8_t* field, const std::u16string& path) {
  std::memset(field, 0, kPathBytes);
  size_t n = std::min(path.size(), kPathUnits - 1);
  for (size_t i = 0; i < n; ++i) {
    field[2 * i] = static_cast<uint8_t>(path[i] & 0xFF);
    field[2 * i + 1] = static_cast<uint8_t>(path[i] >> 8);
  }
}

void PutLe64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::u16string FolderText(const fs::path& folder) {
  std::string text = folder.string();
  if (text.empty() || text.back() != '/') text += '/';
  return platform::Utf8ToUtf16(text);
}

// Scan folders compare without regard to a trailing "/" and to ASCII case.
bool SameFolder(const std::u16string& a, const std::u16string& b) {
  auto strip = [](std::u16string_view s) {
    while (s.size() > 1 && s.back() == u'/') s.remove_suffix(1);
    return s;
  };
  std::u16string_view x = strip(a), y = strip(b);
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i) {
    char16_t cx = x[i], cy = y[i];
    if (cx >= u'A' && cx <= u'Z') cx = static_cast<char16_t>(cx + 32);
    if (cy >= u'A' && cy <= u'Z') cy = static_cast<char16_t>(cy + 32);
    if (cx != cy) return false;
  }
  return true;
}

bool ImageWriteTime(const fs::path& image, uint64_t& filetime) {
  std::error_code ec;
  auto t = fs::last_write_time(image, ec);
  if (ec) return false;
  auto sys = std::chrono::file_clock::to_sys(t);
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(sys.time_since_epoch()).count();
  struct timespec ts {};
  ts.tv_sec = static_cast<time_t>(ns / 1000000000);
  ts.tv_nsec = static_cast<long>(ns % 1000000000);
  if (ts.tv_nsec < 0) {
    ts.tv_nsec += 1000000000;
    ts.tv_sec -= 1;
  }
  filetime = platform::TimespecToFiletime(ts);
  return true;
}

// True when `inner` lies strictly below `outer`, both canonical.
bool StrictlyInside(const fs::path& outer, const fs::path& inner) {
  auto o = outer.begin(), i = inner.begin();
  for (; o != outer.end(); ++o, ++i) {
    if (o->empty()) continue;  // a trailing separator of `outer`
    if (i == inner.end() || *o != *i) return false;
  }
  for (; i != inner.end(); ++i) {
    if (!i->empty()) return true;
  }
  return false;
}

}  // namespace

std::string MakeLogName(const char* prefix, uint64_t startSector) {
  platform::LocalTime t = platform::LocalTimeNow();
  char buf[128];
  std::snprintf(buf, sizeof(buf), "%s%lld_%d%d%d%d%2d", prefix ? prefix : "",
                static_cast<long long>(startSector), t.year, t.month, t.day, t.hour, t.minute);
  return buf;
}

ScanLogIndex& ScanLogIndex::Instance() {
  static ScanLogIndex index(platform::ScanLogRoot());
  return index;
}

ScanLogIndex::ScanLogIndex(fs::path root) : root_(std::move(root)), freeSpace_(&DefaultFreeSpace) { Load(); }

const fs::path& ScanLogIndex::Root() const { return root_; }
uint64_t ScanLogIndex::Counter() const { return counter_; }
const std::vector<ScanIndexEntry>& ScanLogIndex::Entries() const { return entries_; }
size_t ScanLogIndex::LoadErrors() const { return loadErrors_; }
bool ScanLogIndex::HasSelection() const { return selected_; }

void ScanLogIndex::ClearSelection() {
  selected_ = false;
  selectedFolder_.clear();
}

void ScanLogIndex::SetFreeSpaceSource(FreeSpaceFn fn) { freeSpace_ = fn ? fn : &DefaultFreeSpace; }

void ScanLogIndex::Load() {
  counter_ = 0;
  entries_.clear();
  loadErrors_ = 0;
  fs::path config = root_ / "config";
  fs::path tmp = root_ / "config.tmp";
  std::error_code ec;
  if (!fs::exists(config, ec) && fs::exists(tmp, ec)) fs::rename(tmp, config, ec);  // finish a cut-off save

  platform::FileHandle h;
  if (platform::OpenReadOnly(config, h) != kOk) return;
  uint64_t size = 0;
  std::vector<uint8_t> bytes;
  if (platform::SizeOf(h, size) == kOk && size > 0 && size < (1ULL << 30)) {
    bytes.resize(static_cast<size_t>(size));
    size_t done = 0;
    while (done < bytes.size()) {
      size_t got = 0;
      if (platform::ReadAt(h, bytes.data() + done, bytes.size() - done, done, got) != kOk || got == 0) break;
      done += got;
    }
    bytes.resize(done);
  } else if (size >= (1ULL << 30)) {
    ++loadErrors_;
  }
  platform::Close(h);
  if (bytes.empty()) return;

  ByteReader r(bytes.data(), bytes.size());
  if (bytes.size() < kCounterBytes) {
    ++loadErrors_;
    return;
  }
  counter_ = r.le64(0);
  size_t count = (bytes.size() - kCounterBytes) / kEntryBytes;
  if ((bytes.size() - kCounterBytes) % kEntryBytes != 0) ++loadErrors_;  // a torn entry at the end
  for (size_t i = 0; i < count; ++i) {
    ByteReader e = r.from(kCounterBytes + i * kEntryBytes);
    ScanIndexEntry entry;
    entry.diskIndex = e.le32(kOffDisk);
    entry.startSector = e.le64(kOffStart);
    entry.sectorCount = e.le64(kOffCount);
    for (size_t k = 0; k < entry.resume.size(); ++k) entry.resume[k] = e.le64(kOffResume + 8 * k);
    entry.freeBytes = e.le64(kOffFreeBytes);
    entry.imageWriteTime = e.le64(kOffImageTime);
    if (!DecodePath(e, kOffImagePath, entry.imagePath) || !DecodePath(e, kOffScanFolder, entry.scanFolder) ||
        entry.scanFolder.empty()) {
      ++loadErrors_;
      continue;
    }
    entries_.push_back(std::move(entry));
  }
}

int32_t ScanLogIndex::Save() {
  int32_t rc = platform::CreateFolders(root_);
  if (rc != kOk && rc != kErrAlreadyExists && rc != kErrFileExists) return rc;
  std::vector<uint8_t> bytes(kCounterBytes + entries_.size() * kEntryBytes, 0);
  PutLe64(bytes.data(), counter_);
  for (size_t i = 0; i < entries_.size(); ++i) {
    const ScanIndexEntry& e = entries_[i];
    uint8_t* p = bytes.data() + kCounterBytes + i * kEntryBytes;
    for (int b = 0; b < 4; ++b) p[kOffDisk + b] = static_cast<uint8_t>(e.diskIndex >> (8 * b));
    PutLe64(p + kOffStart, e.startSector);
    PutLe64(p + kOffCount, e.sectorCount);
    for (size_t k = 0; k < e.resume.size(); ++k) PutLe64(p + kOffResume + 8 * k, e.resume[k]);
    PutLe64(p + kOffFreeBytes, e.freeBytes);
    PutLe64(p + kOffImageTime, e.imageWriteTime);
    EncodePath(p + kOffImagePath, e.imagePath);
    EncodePath(p + kOffScanFolder, e.scanFolder);
  }
  fs::path tmp = root_ / "config.tmp";
  platform::FileHandle h;
  rc = platform::OpenReadWrite(tmp, h, /*truncate=*/true);
  if (rc != kOk) return rc;
  rc = platform::WriteAllAt(h, bytes.data(), bytes.size(), 0);
  if (rc == kOk) rc = platform::Sync(h);
  platform::Close(h);
  std::error_code ec;
  if (rc != kOk) {
    // A half-written index never replaces the one in place.
    fs::remove(tmp, ec);
    return rc;
  }
  fs::rename(tmp, root_ / "config", ec);  // replaces "config" in one step
  if (ec) return ErrnoToCode(ec.value());
  return kOk;
}

fs::path ScanLogIndex::CurrentLogFolder() const {
  if (selected_) return selectedFolder_;
  return root_ / std::to_string(counter_) / "";
}

void ScanLogIndex::NewScanFolder() {
  ++counter_;
  ClearSelection();
  RemoveEntry(root_ / std::to_string(counter_) / "");
}

bool ScanLogIndex::FindPreviousForDisk(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount,
                                       uint16_t driveLetter, ScanIndexEntry& out) {
  uint64_t freeNow = freeSpace_(diskIndex, startSector, driveLetter);
  for (const ScanIndexEntry& e : entries_) {
    if (!e.imagePath.empty()) continue;  // image entries never stand for a disk area
    if (e.diskIndex != diskIndex || e.startSector != startSector || e.sectorCount != sectorCount) continue;
    if (e.freeBytes == freeNow) {
      selected_ = true;
      selectedFolder_ = fs::path(platform::Utf16ToUtf8(e.scanFolder));
      out = e;
      return true;
    }
    fs::path stale(platform::Utf16ToUtf8(e.scanFolder));  // the volume changed since
    RemoveEntry(stale);
    ClearSelection();
    return false;
  }
  ClearSelection();
  return false;
}

bool ScanLogIndex::FindPreviousForImage(const fs::path& imagePath, ScanIndexEntry& out) {
  uint64_t writeTime = 0;
  ImageWriteTime(imagePath, writeTime);
  std::u16string wanted = platform::Utf8ToUtf16(imagePath.string());
  for (const ScanIndexEntry& e : entries_) {
    if (e.imagePath.empty() || e.imagePath != wanted) continue;
    if (e.imageWriteTime == writeTime) {
      selected_ = true;
      selectedFolder_ = fs::path(platform::Utf16ToUtf8(e.scanFolder));
      out = e;
      return true;
    }
    fs::path stale(platform::Utf16ToUtf8(e.scanFolder));
    RemoveEntry(stale);
    ClearSelection();
    return false;
  }
  ClearSelection();
  return false;
}

int32_t ScanLogIndex::RecordScan(uint16_t driveLetter, uint32_t diskIndex, uint64_t startSector,
                                 uint64_t sectorCount, const ResumeState& resume, const fs::path& scanFolder,
                                 const fs::path& imagePath) {
  std::u16string folderText = FolderText(scanFolder);
  std::u16string imageText = imagePath.empty() ? std::u16string() : platform::Utf8ToUtf16(imagePath.string());
  // A path that does not fit its 520-byte field would be stored cut, pointing elsewhere.
  if (folderText.size() >= kPathUnits || imageText.size() >= kPathUnits) return kErrFilenameTooLong;

  uint64_t writeTime = 0;
  uint64_t freeNow = 0;
  if (!imageText.empty()) {
    ImageWriteTime(imagePath, writeTime);
  } else {
    freeNow = freeSpace_(diskIndex, startSector, driveLetter);
  }
  for (ScanIndexEntry& e : entries_) {
    bool same = imageText.empty()
                    ? (e.imagePath.empty() && e.diskIndex == diskIndex && e.startSector == startSector &&
                       e.sectorCount == sectorCount && e.freeBytes == freeNow)
                    : (e.imagePath == imageText && e.imageWriteTime == writeTime);
    if (same) {
      e.resume = resume;
      return Save();
    }
  }
  ScanIndexEntry entry;
  entry.diskIndex = diskIndex;
  entry.startSector = startSector;
  entry.sectorCount = sectorCount;
  entry.resume = resume;
  entry.freeBytes = freeNow;
  entry.imageWriteTime = writeTime;
  entry.imagePath = imageText;
  entry.scanFolder = folderText;
  entries_.push_back(std::move(entry));
  return Save();
}

// The folder comes from "config", which may be damaged or planted. It is
// deleted only when the entry it names lies strictly inside the scan-log
// root, both compared as canonical paths: the folder's parents with symbolic
// links resolved, the folder itself as the entry it is. So a link inside the
// root that leads elsewhere is removed as a link and its target is left
// alone; the root itself and anything outside it are refused.
void ScanLogIndex::RemoveEntry(const fs::path& folder) {
  std::u16string wanted = FolderText(folder);
  size_t before = entries_.size();
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                [&](const ScanIndexEntry& e) { return SameFolder(e.scanFolder, wanted); }),
                 entries_.end());
  if (entries_.size() != before) Save();  // the index never names a folder that is gone

  std::error_code ec;
  fs::path canonicalRoot = fs::weakly_canonical(root_, ec);
  if (ec) return;
  fs::path entry = folder;
  while (!entry.empty() && !entry.has_filename() && entry != entry.root_path()) entry = entry.parent_path();
  if (entry.empty()) return;
  fs::path target;
  if (entry.filename() == "." || entry.filename() == "..") {
    target = fs::weakly_canonical(entry, ec);
  } else {
    target = fs::weakly_canonical(entry.parent_path(), ec) / entry.filename();
  }
  if (ec || !StrictlyInside(canonicalRoot, target)) return;
  platform::RemoveTree(target);
}

bool ScanLogIndex::FindLogInFolder(const std::string& prefix, const fs::path& folder,
                                   std::string& outName) const {
  // The directory order of this platform is arbitrary, and every log has two
  // companions whose names also contain the prefix: the log itself is the
  // first name in sorted order that is not a companion.
  outName.clear();
  std::error_code ec;
  std::vector<std::string> names;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.empty() || name.front() == '.') continue;
    if (!it->is_regular_file(ec)) continue;
    if (name.find(prefix) == std::string::npos) continue;
    auto endsWith = [&](std::string_view tail) {
      return name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (endsWith("_Relation") || endsWith("_DirInfo")) continue;
    names.push_back(std::move(name));
  }
  if (names.empty()) return false;
  outName = *std::min_element(names.begin(), names.end());
  return true;
}

void ScanLogIndex::DecrementCounter() {
  if (counter_ > 0) --counter_;
}

}  // namespace nuvarin
