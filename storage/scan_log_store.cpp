#include "storage/scan_log_store.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "platform/error_codes.h"
#include "platform/paths.h"
#include "storage/byte_reader.h"
#include "storage/file_type_groups.h"
#include "storage/sector_device.h"

namespace fs = std::filesystem;

namespace nuvarin {
namespace {

constexpr size_t kRecord = kFoundItemSize;
constexpr size_t kDirInfoSize = sizeof(DirInfoRecord);
constexpr uint64_t kOthersLimitBytes = 128ULL << 20;  // the others group is searched only below this
constexpr size_t kMaxPatternBytes = 4095;

// Folder walks follow keys and objectIds read from disk, which may form a
// cycle (a folder listed, directly or further down, inside itself) or claim an
// absurd depth. Every walk keeps a visited set (keys for the subtree count,
// itemIds for the parent chain) so that nothing is visited twice, and stops
// after this many levels, far more than any real file system nests.
constexpr uint32_t kMaxFolderDepth = 4096;

// Field offsets inside a raw record (see found_item.h).
constexpr size_t kOffIsFolder = 6;
constexpr size_t kOffContentCheck = 14;
constexpr size_t kOffItemId = 18;
constexpr size_t kOffObjectId = 22;
constexpr size_t kOffName = 86;

// The five lists joined in the order photo, audio, document, video, archive:
// an extension found nowhere in it belongs to "others".
const std::string& JoinedGroupLists() {
  static const std::string joined = std::string(kPhotoList) + "|" + kAudioList + "|" + kDocumentList + "|" +
                                    kVideoList + "|" + kArchiveList;
  return joined;
}

inline char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string_view RawName(const uint8_t* record) {
  const char* name = reinterpret_cast<const char*>(record + kOffName);
  return std::string_view(name, strnlen(name, kItemNameSize));
}

// Lower-cased extension of `name` into `out` (at most kItemNameSize bytes);
// its length, 0 when the name has none.
size_t LowerExtension(std::string_view name, char* out) {
  std::string_view ext = NameExtension(name);
  for (size_t i = 0; i < ext.size(); ++i) out[i] = LowerAscii(ext[i]);
  return ext.size();
}

// Pictures whose first bytes contradict their extension are hidden: the
// extension (without its dot) is looked up as text in the photo list.
bool IsDamagedPicture(uint32_t contentCheck, std::string_view lowerExt) {
  return contentCheck == 0 && !lowerExt.empty() &&
         std::string_view(kPhotoList).find(lowerExt) != std::string_view::npos;
}

// Names compared case-insensitively (ASCII letters), byte by byte as unsigned
// values; a name sorts before any longer name it begins.
int CompareNames(const char* a, const char* b) {
  for (size_t i = 0; i < kItemNameSize; ++i) {
    auto ca = static_cast<unsigned char>(LowerAscii(a[i]));
    auto cb = static_cast<unsigned char>(LowerAscii(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
  return 0;
}

// Files before folders, then names compared case-insensitively; stable.
// Listings of a whole search can hold hundreds of thousands of records: the
// order is found on short keys (folder flag and the first lower-cased name
// bytes, the full names only on a tie) and then applied in place, so that no
// record is moved more than once.
void SortListing(std::vector<FoundItem>& items) {
  if (items.size() <= 1) return;
  struct Key {
    uint64_t hi, lo;  // folder flag and 15 name bytes, most significant first
    uint32_t index;
  };
  std::vector<Key> keys(items.size());
  for (uint32_t i = 0; i < keys.size(); ++i) {
    uint8_t prefix[16] = {};
    prefix[0] = items[i].isFolder != 0 ? 1 : 0;
    for (size_t c = 0; c + 1 < sizeof(prefix) && items[i].name[c]; ++c) {
      prefix[c + 1] = static_cast<uint8_t>(LowerAscii(items[i].name[c]));
    }
    Key& k = keys[i];
    k.hi = k.lo = 0;
    for (int b = 0; b < 8; ++b) {
      k.hi = (k.hi << 8) | prefix[b];
      k.lo = (k.lo << 8) | prefix[8 + b];
    }
    k.index = i;
  }
  std::stable_sort(keys.begin(), keys.end(), [&items](const Key& x, const Key& y) {
    if (x.hi != y.hi) return x.hi < y.hi;
    if (x.lo != y.lo) return x.lo < y.lo;
    return CompareNames(items[x.index].name, items[y.index].name) < 0;
  });
  std::vector<uint32_t> order(items.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = keys[i].index;
  std::vector<Key>().swap(keys);
  // items[j] becomes the old items[order[j]], cycle by cycle.
  for (uint32_t i = 0; i < order.size(); ++i) {
    if (order[i] == i) continue;
    FoundItem held = items[i];
    uint32_t j = i;
    for (;;) {
      uint32_t k = order[j];
      order[j] = j;
      if (k == i) {
        items[j] = held;
        break;
      }
      items[j] = items[k];
      j = k;
    }
  }
}

bool AllSpace(std::string_view s) {
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Unsigned decimal that fits in 64 bits; false for anything else.
bool ParseU64(std::string_view s, uint64_t& out) {
  if (s.empty() || s.size() > 20) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    if (!CheckedMul<uint64_t>(v, 10, v) || !CheckedAdd<uint64_t>(v, static_cast<uint64_t>(c - '0'), v))
      return false;
  }
  out = v;
  return true;
}

// An itemId as written: signed decimal of the 32-bit number.
bool ParseItemId(std::string_view s, uint32_t& out) {
  bool negative = !s.empty() && s.front() == '-';
  if (negative) s.remove_prefix(1);
  uint64_t v;
  if (!ParseU64(s, v)) return false;
  if (negative) {
    if (v > 0x80000000ULL) return false;
    out = static_cast<uint32_t>(-static_cast<int64_t>(v));
    return true;
  }
  if (v > 0xFFFFFFFFULL) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

void AppendDecimal(std::string& s, uint64_t v) {
  char buf[24];
  int n = 0;
  do {
    buf[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  while (n) s.push_back(buf[--n]);
}

void AppendSigned(std::string& s, int32_t v) {
  if (v < 0) {
    s.push_back('-');
    AppendDecimal(s, static_cast<uint64_t>(-static_cast<int64_t>(v)));
  } else {
    AppendDecimal(s, static_cast<uint64_t>(v));
  }
}

// Reads exactly `length` bytes at `offset`; 30 when fewer arrive.
int32_t ReadExact(platform::FileHandle h, void* buffer, size_t length, uint64_t offset) {
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < length) {
    size_t got = 0;
    int32_t rc = platform::ReadAt(h, out + done, length - done, offset + done, got);
    if (rc != kOk) return rc;
    if (got == 0) return kErrReadFault;
    done += got;
  }
  return kOk;
}

int32_t ReadWholeFile(platform::FileHandle h, std::vector<uint8_t>& out) {
  out.clear();
  uint64_t size = 0;
  int32_t rc = platform::SizeOf(h, size);
  if (rc != kOk) return rc;
  if (size == 0) return kOk;
  if (size > (1ULL << 32)) return kErrNotEnoughMemory;  // no companion of a real log is this large
  try {
    out.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  rc = platform::Seek(h, 0);
  if (rc != kOk) return rc;
  uint64_t got = 0;
  rc = ReadBytes(size, h, out.data(), got);
  out.resize(static_cast<size_t>(got));
  return rc;
}

}  // namespace

void SortFolderListing(std::vector<FoundItem>& items) { SortListing(items); }

struct ScanLogStore::Impl {
  size_t waiting = 0;     // bytes in the buffer not yet written
  uint64_t appended = 0;  // records appended since Open
  uint64_t appendedBytes = 0;
  uint64_t recordsAtOpen = 0;   // whole records the log held when opened
  std::vector<uint8_t> buffer;  // kBufferBytes
  FoundItem scratch{};          // handed out once record numbers are exhausted
  platform::FileHandle log = platform::kInvalidHandle;
  platform::FileHandle relation = platform::kInvalidHandle;
  platform::FileHandle dirInfo = platform::kInvalidHandle;
  ShortCallback searchCallback = nullptr;
  void* searchContext = nullptr;
  fs::path logPath, relationPath, dirInfoPath;
  std::map<RelationKey, std::vector<uint32_t>> relations;
  std::vector<DirInfoRecord> folders;
  std::unordered_map<uint32_t, size_t> folderByObject;  // objectId -> first DirInfoRecord
  // Which folder lists each record (the smallest key whose list holds it),
  // built on the first parent lookup and kept up to date after that, so that
  // a path costs one step per level instead of a pass over the whole relation.
  bool ownersBuilt = false;
  std::vector<uint32_t> ownerSlot;  // by itemId: 0 none, else 1 + index into ownerKeys
  std::vector<RelationKey> ownerKeys;
  std::unordered_map<RelationKey, uint32_t> ownerKeyIndex;
  bool relationsDirty = false;
  bool foldersDirty = false;
  int32_t firstWriteError = kOk;
  size_t loadErrors = 0;

  uint64_t RecordCount() const { return recordsAtOpen + appended; }
  // Record number of the first record waiting in the buffer.
  uint64_t FirstWaitingRecord() const { return RecordCount() - waiting / kRecord + 1; }

  void NoteWriteError(int32_t rc) {
    if (rc != kOk && firstWriteError == kOk) firstWriteError = rc;
  }

  // Writes the waiting records at their place in the log. The block is given
  // up when the write fails (memory stays bounded); the error is kept.
  int32_t WriteWaiting() {
    if (waiting == 0) return kOk;
    uint64_t offset = (FirstWaitingRecord() - 1) * kRecord;
    int32_t rc = platform::WriteAllAt(log, buffer.data(), waiting, offset);
    waiting = 0;
    NoteWriteError(rc);
    return rc;
  }

  int32_t ReadRecord(uint32_t itemId, FoundItem& out) {
    if (itemId == 0) return kErrInvalidParameter;
    WriteWaiting();
    uint64_t offset = (static_cast<uint64_t>(itemId) - 1) * kRecord;
    return ReadExact(log, &out, kRecord, offset);
  }

  const std::vector<uint32_t>* ListOf(RelationKey key, RelationKey* resolved = nullptr) const {
    if (key == 0) {
      if (relations.empty()) return nullptr;
      if (resolved) *resolved = relations.begin()->first;
      return &relations.begin()->second;
    }
    auto it = relations.find(key);
    if (it == relations.end()) return nullptr;
    if (resolved) *resolved = key;
    return &it->second;
  }

  void NoteOwner(RelationKey key, uint32_t itemId) {
    auto [it, fresh] = ownerKeyIndex.emplace(key, static_cast<uint32_t>(ownerKeys.size()));
    if (fresh) ownerKeys.push_back(key);
    if (ownerSlot.size() <= itemId) ownerSlot.resize(static_cast<size_t>(itemId) + 1, 0);
    uint32_t& slot = ownerSlot[itemId];
    if (slot == 0 || key < ownerKeys[slot - 1]) slot = it->second + 1;
  }

  bool FindOwner(uint32_t itemId, RelationKey& key) {
    if (!ownersBuilt) {
      for (const auto& [k, ids] : relations) {
        for (uint32_t id : ids) NoteOwner(k, id);
      }
      ownersBuilt = true;
    }
    if (itemId >= ownerSlot.size() || ownerSlot[itemId] == 0) return false;
    key = ownerKeys[ownerSlot[itemId] - 1];
    return true;
  }

  void AddFolderName(const DirInfoRecord& rec) {
    folders.push_back(rec);
    folderByObject.emplace(+rec.objectId, folders.size() - 1);
  }

  void LoadRelations(const std::vector<uint8_t>& bytes);
  void ParseRelationEntry(std::string_view entry);
  void LoadFolderNames(const std::vector<uint8_t>& bytes);
  int32_t WriteRelations();
  int32_t WriteFolderNames();
  int32_t FindFolderRecord(uint32_t objectId, FoundItem& out);
};

// "_Relation": " | <key> - [<id>,<id>,...]" per entry. Damaged text (stray
// characters, unbalanced brackets, numbers that do not fit, ids beyond the
// log) is skipped and counted; every well-formed entry is kept.
void ScanLogStore::Impl::LoadRelations(const std::vector<uint8_t>& bytes) {
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  constexpr std::string_view kSep = " | ";
  size_t pos = text.find(kSep);
  if (pos == std::string_view::npos) {
    if (!AllSpace(text)) ++loadErrors;
    return;
  }
  if (!AllSpace(text.substr(0, pos))) ++loadErrors;
  while (pos != std::string_view::npos) {
    size_t start = pos + kSep.size();
    size_t next = text.find(kSep, start);
    ParseRelationEntry(
        text.substr(start, next == std::string_view::npos ? std::string_view::npos : next - start));
    pos = next;
  }
}

void ScanLogStore::Impl::ParseRelationEntry(std::string_view entry) {
  size_t digits = 0;
  while (digits < entry.size() && entry[digits] >= '0' && entry[digits] <= '9') ++digits;
  uint64_t key;
  if (!ParseU64(entry.substr(0, digits), key)) {
    ++loadErrors;
    return;
  }
  std::string_view rest = Trim(entry.substr(digits));
  if (rest.empty() || rest.front() != '-') {
    ++loadErrors;
    return;
  }
  rest = Trim(rest.substr(1));
  if (rest.empty() || rest.front() != '[') {
    ++loadErrors;
    return;
  }
  size_t close = rest.find(']');
  if (close == std::string_view::npos) {  // unbalanced: the list has no end
    ++loadErrors;
    return;
  }
  if (!AllSpace(rest.substr(close + 1))) ++loadErrors;  // stray text after the list
  std::string_view list = rest.substr(1, close - 1);
  std::vector<uint32_t> ids;
  size_t p = 0;
  while (p <= list.size()) {
    size_t comma = list.find(',', p);
    std::string_view token =
        Trim(list.substr(p, comma == std::string_view::npos ? std::string_view::npos : comma - p));
    uint32_t id;
    if (ParseItemId(token, id) && id != 0 && id <= recordsAtOpen) {
      ids.push_back(id);
    } else {
      ++loadErrors;  // not a number, too large, or past the end of the log
    }
    if (comma == std::string_view::npos) break;
    p = comma + 1;
  }
  if (ids.empty()) return;  // a key without items is never kept
  auto& target = relations[key];
  target.insert(target.end(), ids.begin(), ids.end());
}

void ScanLogStore::Impl::LoadFolderNames(const std::vector<uint8_t>& bytes) {
  ByteReader r(bytes.data(), bytes.size());
  size_t count = bytes.size() / kDirInfoSize;
  if (bytes.size() % kDirInfoSize != 0) ++loadErrors;  // a torn record at the end
  for (size_t i = 0; i < count; ++i) {
    DirInfoRecord rec;
    r.copy(i * kDirInfoSize, &rec, kDirInfoSize);
    rec.name[kItemNameSize - 1] = '\0';
    if (rec.itemId == 0 || rec.itemId > recordsAtOpen) {
      ++loadErrors;
      continue;
    }
    AddFolderName(rec);
  }
}

// Rewrites "_Relation" from its start and cuts it to the new length, so that
// no text of an older or damaged version stays behind the last entry.
int32_t ScanLogStore::Impl::WriteRelations() {
  std::string chunk;
  chunk.reserve(kBufferBytes + 64);
  uint64_t offset = 0;
  auto spill = [&]() -> int32_t {
    int32_t rc = platform::WriteAllAt(relation, chunk.data(), chunk.size(), offset);
    offset += chunk.size();
    chunk.clear();
    return rc;
  };
  for (const auto& [key, ids] : relations) {
    if (ids.empty()) continue;
    chunk += " | ";
    AppendDecimal(chunk, key);
    chunk += " - [";
    for (size_t i = 0; i < ids.size(); ++i) {
      if (i) chunk.push_back(',');
      AppendSigned(chunk, static_cast<int32_t>(ids[i]));
      if (chunk.size() >= kBufferBytes) {
        if (int32_t rc = spill(); rc != kOk) return rc;
      }
    }
    chunk.push_back(']');
  }
  if (!chunk.empty()) {
    if (int32_t rc = spill(); rc != kOk) return rc;
  }
  return platform::Truncate(relation, offset);
}

int32_t ScanLogStore::Impl::WriteFolderNames() {
  size_t bytes = folders.size() * kDirInfoSize;
  if (bytes) {
    int32_t rc = platform::WriteAllAt(dirInfo, folders.data(), bytes, 0);
    if (rc != kOk) return rc;
  }
  return platform::Truncate(dirInfo, bytes);
}

// First folder record of the log with this objectId, read block by block.
int32_t ScanLogStore::Impl::FindFolderRecord(uint32_t objectId, FoundItem& out) {
  WriteWaiting();
  std::vector<uint8_t> block(kBufferBytes);
  uint64_t total = RecordCount() * kRecord;
  for (uint64_t offset = 0; offset < total;) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(kBufferBytes, total - offset));
    size_t got = 0;
    if (platform::ReadAt(log, block.data(), want, offset, got) != kOk || got < kRecord) break;
    got -= got % kRecord;
    for (size_t at = 0; at < got; at += kRecord) {
      ByteReader r(block.data() + at, kRecord);
      if (r.le32(kOffObjectId) == objectId && r.le32(kOffIsFolder) != 0) {
        std::memcpy(&out, block.data() + at, kRecord);
        return kOk;
      }
    }
    offset += got;
  }
  return kErrInvalidParameter;
}

ScanLogStore::~ScanLogStore() {
  Close();
  delete impl_;
}

int32_t ScanLogStore::Open(const fs::path& folder, const std::string& logName) {
  Close();
  if (!impl_) impl_ = new (std::nothrow) Impl;
  if (!impl_) return kErrNotEnoughMemory;
  ShortCallback callback = impl_->searchCallback;  // installed callbacks outlive a reopen
  void* context = impl_->searchContext;
  *impl_ = Impl{};
  Impl& s = *impl_;
  s.searchCallback = callback;
  s.searchContext = context;

  int32_t rc = platform::CreateFolders(folder);
  if (rc != kOk && rc != kErrFileExists && rc != kErrAlreadyExists) return rc;

  s.logPath = folder / logName;
  s.relationPath = folder / (logName + "_Relation");
  s.dirInfoPath = folder / (logName + "_DirInfo");

  rc = platform::OpenReadWrite(s.logPath, s.log);
  if (rc != kOk) return rc;
  uint64_t size = 0;
  rc = platform::SizeOf(s.log, size);
  if (rc != kOk) {
    Close();
    return rc;
  }
  // A torn record at the end (a write cut short) is overwritten by the next
  // append, so that record numbers stay equal to positions.
  s.recordsAtOpen = size / kRecord;
  if (size % kRecord != 0) ++s.loadErrors;

  std::vector<uint8_t> bytes;
  rc = platform::OpenReadWrite(s.relationPath, s.relation);
  if (rc == kOk) rc = ReadWholeFile(s.relation, bytes);
  if (rc != kOk) {
    Close();
    return rc;
  }
  s.LoadRelations(bytes);

  try {
    s.buffer.assign(kBufferBytes, 0);
  } catch (const std::bad_alloc&) {
    Close();
    return kErrNotEnoughMemory;
  }

  rc = platform::OpenReadWrite(s.dirInfoPath, s.dirInfo);
  if (rc == kOk) rc = ReadWholeFile(s.dirInfo, bytes);
  if (rc != kOk) {
    Close();
    return rc;
  }
  s.LoadFolderNames(bytes);
  return kOk;
}

bool ScanLogStore::IsOpen() const { return impl_ && impl_->log != platform::kInvalidHandle; }

FoundItem* ScanLogStore::AppendItem(uint32_t& itemId) {
  itemId = 0;
  if (!IsOpen()) return nullptr;
  Impl& s = *impl_;
  if (s.RecordCount() >= 0xFFFFFFFFULL) {
    // Record numbers are 32-bit: a further finding cannot be numbered. It is
    // taken into a slot that is never written, and the scan learns of it.
    s.NoteWriteError(kErrDiskFull);
    std::memset(&s.scratch, 0, sizeof(s.scratch));
    return &s.scratch;
  }
  if (s.waiting + kRecord > kBufferBytes) s.WriteWaiting();
  auto* slot = reinterpret_cast<FoundItem*>(s.buffer.data() + s.waiting);
  std::memset(slot, 0, kRecord);
  s.waiting += kRecord;
  s.appendedBytes += kRecord;
  s.appended += 1;
  itemId = static_cast<uint32_t>(s.RecordCount());
  return slot;
}

void ScanLogStore::AddRelation(RelationKey key, uint32_t itemId, uint32_t objectId, const char* folderName) {
  if (!IsOpen()) return;
  Impl& s = *impl_;
  if (itemId == 0 || itemId > s.RecordCount()) return;  // no such record: never written
  s.relations[key].push_back(itemId);
  s.relationsDirty = true;
  if (s.ownersBuilt) s.NoteOwner(key, itemId);
  if (folderName) {
    DirInfoRecord rec;
    std::memset(&rec, 0, sizeof(rec));
    rec.objectId = objectId;
    rec.itemId = itemId;
    FoundItem tmp;
    tmp.SetName(folderName);
    std::memcpy(rec.name, tmp.name, kItemNameSize);
    s.AddFolderName(rec);
    s.foldersDirty = true;
  }
}

int32_t ScanLogStore::Flush() {
  if (!IsOpen()) return kOk;
  Impl& s = *impl_;
  int32_t rc = s.WriteWaiting();
  if (rc != kOk) return rc;
  if (s.relationsDirty) {
    rc = s.WriteRelations();
    if (rc != kOk) return rc;
    s.relationsDirty = false;
  }
  if (s.foldersDirty) {
    rc = s.WriteFolderNames();
    if (rc != kOk) return rc;
    s.foldersDirty = false;
  }
  // An earlier block write that failed leaves the log incomplete: say so.
  return s.firstWriteError;
}

void ScanLogStore::Close() {
  if (!impl_) return;
  Impl& s = *impl_;
  if (s.log != platform::kInvalidHandle) Flush();
  platform::Close(s.log);
  platform::Close(s.relation);
  platform::Close(s.dirInfo);
  std::vector<uint8_t>().swap(s.buffer);
  s.waiting = 0;
  s.relations.clear();
  s.folders.clear();
  s.folderByObject.clear();
  s.ownersBuilt = false;
  std::vector<uint32_t>().swap(s.ownerSlot);
  s.ownerKeys.clear();
  s.ownerKeyIndex.clear();
}

int32_t ScanLogStore::ReadFolder(RelationKey key, std::vector<FoundItem>& out) {
  if (!IsOpen()) return kOk;
  Impl& s = *impl_;
  const std::vector<uint32_t>* list = s.ListOf(key);
  if (!list) return kOk;
  FoundItem rec;
  char ext[kItemNameSize];
  for (uint32_t id : *list) {
    int32_t rc = s.ReadRecord(id, rec);
    if (rc != kOk) return rc;
    size_t n = LowerExtension(rec.Name(), ext);
    if (IsDamagedPicture(rec.contentCheck, std::string_view(ext, n))) continue;
    out.push_back(rec);
  }
  SortListing(out);
  return kOk;
}

int32_t ScanLogStore::CountFolderFiles(RelationKey key, uint32_t& count) {
  count = 0;
  if (!IsOpen()) return kOk;
  Impl& s = *impl_;
  std::deque<RelationKey> queue{key};
  std::unordered_set<RelationKey> visited;
  FoundItem rec;
  while (!queue.empty()) {
    RelationKey current = queue.front();
    queue.pop_front();
    RelationKey resolved = 0;
    const std::vector<uint32_t>* list = s.ListOf(current, &resolved);
    if (!list || !visited.insert(resolved).second) continue;
    uint32_t depth = static_cast<uint32_t>(current >> 32);
    for (uint32_t id : *list) {
      int32_t rc = s.ReadRecord(id, rec);
      if (rc != kOk) return rc;
      if (rec.isFolder) {
        if (depth + 1 > kMaxFolderDepth) continue;
        RelationKey child = MakeRelationKey(depth + 1, rec.objectId);
        if (!visited.count(child) && s.relations.count(child)) queue.push_back(child);
      } else if (count != 0xFFFFFFFFu) {
        ++count;
      }
    }
  }
  return kOk;
}

int32_t ScanLogStore::FindParents(const FoundItem& item, std::vector<FoundItem>& out) {
  if (!IsOpen()) return kOk;
  Impl& s = *impl_;
  s.WriteWaiting();
  std::unordered_set<uint32_t> visited{item.itemId};
  FoundItem current = item;
  for (uint32_t level = 0; level < kMaxFolderDepth; ++level) {
    RelationKey owner;
    if (!s.FindOwner(current.itemId, owner) || owner == s.relations.begin()->first) return kOk;
    uint32_t parentObject = static_cast<uint32_t>(owner);
    FoundItem parent;
    std::memset(&parent, 0, sizeof(parent));
    auto named = s.folderByObject.find(parentObject);
    if (named != s.folderByObject.end()) {
      const DirInfoRecord& rec = s.folders[named->second];
      parent.isFolder = 1;
      parent.objectId = rec.objectId;
      parent.itemId = rec.itemId;
      std::memcpy(parent.name, rec.name, kItemNameSize);
      parent.name[kItemNameSize - 1] = '\0';
    } else if (int32_t rc = s.FindFolderRecord(parentObject, parent); rc != kOk) {
      return rc;
    }
    if (parent.itemId == item.itemId) return kOk;
    uint32_t parentId = parent.itemId;                 // a copy: record fields are packed
    if (!visited.insert(parentId).second) return kOk;  // the chain comes back: cut it here
    out.push_back(parent);
    current = parent;
  }
  return kOk;
}

int32_t ScanLogStore::ItemPath(const FoundItem& item, std::string& path) {
  path.clear();
  std::vector<FoundItem> parents;
  int32_t rc = FindParents(item, parents);
  for (auto it = parents.rbegin(); it != parents.rend(); ++it) {
    path += it->Name();
    path += '/';
  }
  return rc;
}

int32_t ScanLogStore::SearchItems(const std::string& patternIn, std::vector<FoundItem>& out) {
  if (!impl_ || impl_->logPath.empty()) return 0;
  Impl& s = *impl_;
  std::string_view pattern(patternIn);
  if (pattern.size() > kMaxPatternBytes) pattern = pattern.substr(0, kMaxPatternBytes);
  Flush();
  bool others = pattern.find(kOtherToken) != std::string_view::npos;

  platform::FileHandle h;
  if (platform::OpenReadOnly(s.logPath, h) != kOk) return 0;
  uint64_t size = 0;
  if (platform::SizeOf(h, size) != kOk) {
    platform::Close(h);
    return 0;
  }
  if (size >= kOthersLimitBytes) others = false;
  const std::string_view joined = JoinedGroupLists();
  const std::string_view photo = kPhotoList;

  // The decision for one extension is the same for every record that has it:
  // a small table of recent decisions spares the pattern search for most records.
  struct Decision {
    char ext[16];
    uint8_t length = 0xFF;  // 0xFF: empty slot
    bool match = false;
  };
  Decision decisions[64];
  std::vector<uint8_t> block(kBufferBytes);
  uint64_t offset = 0;
  int32_t result = 1;
  char dotted[kItemNameSize + 1];
  dotted[0] = '.';
  while (offset + kRecord <= size) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(kBufferBytes, size - offset));
    want -= want % kRecord;
    if (int32_t rc = ReadExact(h, block.data(), want, offset); rc != kOk) {
      result = rc;
      break;
    }
    for (size_t at = 0; at < want; at += kRecord) {
      const uint8_t* rec = block.data() + at;
      ByteReader r(rec, kRecord);
      if (r.le32(kOffIsFolder) != 0) continue;
      size_t n = LowerExtension(RawName(rec), dotted + 1);
      std::string_view ext(dotted + 1, n);
      bool match;
      if (n == 0) {
        match = others;
      } else {
        if (r.le32(kOffContentCheck) == 0 && photo.find(ext) != std::string_view::npos) continue;
        Decision* slot = nullptr;
        if (n < sizeof(Decision::ext)) {
          uint32_t h = 2166136261u;  // FNV-1a
          for (size_t k = 0; k < n; ++k) h = (h ^ static_cast<uint8_t>(ext[k])) * 16777619u;
          slot = &decisions[(h ^ (h >> 16)) % 64];
        }
        if (slot && slot->length == n && std::memcmp(slot->ext, ext.data(), n) == 0) {
          match = slot->match;
        } else {
          std::string_view withDot(dotted, n + 1);
          match = pattern.find(withDot) != std::string_view::npos ||
                  (others && joined.find(withDot) == std::string_view::npos);
          if (slot) {
            std::memcpy(slot->ext, ext.data(), n);
            slot->length = static_cast<uint8_t>(n);
            slot->match = match;
          }
        }
      }
      if (match) {
        out.emplace_back();
        std::memcpy(&out.back(), rec, kRecord);
      }
    }
    offset += want;
    if (s.searchCallback) {
      int32_t percent = static_cast<int32_t>(static_cast<unsigned __int128>(offset) * 100 / size);
      if (s.searchCallback(s.searchContext, percent, 0) != 0) break;
    }
  }
  platform::Close(h);
  SortListing(out);
  return result;
}

void ScanLogStore::SetSearchCallback(ShortCallback callback, void* context) {
  if (!impl_) impl_ = new (std::nothrow) Impl;
  if (!impl_) return;
  impl_->searchCallback = callback;
  impl_->searchContext = context;
}

int32_t ScanLogStore::ReadItem(uint32_t itemId, FoundItem& out) {
  if (!IsOpen()) return kErrInvalidHandle;
  return impl_->ReadRecord(itemId, out);
}

uint64_t ScanLogStore::AppendedCount() const { return impl_ ? impl_->appended : 0; }
uint64_t ScanLogStore::RecordCount() const { return impl_ ? impl_->RecordCount() : 0; }
int32_t ScanLogStore::FirstWriteError() const { return impl_ ? impl_->firstWriteError : kOk; }
size_t ScanLogStore::LoadErrors() const { return impl_ ? impl_->loadErrors : 0; }

const fs::path& ScanLogStore::LogPath() const {
  static const fs::path empty;
  return impl_ ? impl_->logPath : empty;
}

const std::map<RelationKey, std::vector<uint32_t>>& ScanLogStore::Relations() const {
  static const std::map<RelationKey, std::vector<uint32_t>> empty;
  return impl_ ? impl_->relations : empty;
}

const std::vector<DirInfoRecord>& ScanLogStore::FolderNames() const {
  static const std::vector<DirInfoRecord> empty;
  return impl_ ? impl_->folders : empty;
}

}  // namespace nuvarin
