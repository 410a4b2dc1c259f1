#include "storage/recovered_output.h"

#include <algorithm>
#include <memory>
#include <set>
#include <system_error>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "platform/error_codes.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace nuvarin {
namespace {

// What selects a folder's children, apart from its depth.
using FolderIdentity = std::tuple<uint32_t, uint16_t, uint32_t>;  // sourceKind, driveLetter, objectId

// Longest name one folder entry may have here, in bytes.
constexpr size_t kMaxComponentBytes = 255;
// A folder walk never goes deeper than this below the item it started from.
constexpr uint32_t kMaxWalkLevels = 1024;

bool IsCreatedOrExists(int32_t rc) { return rc == kOk || rc == kErrFileExists || rc == kErrAlreadyExists; }

int32_t EnsureFolder(const fs::path& folder) {
  if (folder.empty()) return kOk;
  int32_t rc = platform::CreateFolders(folder);
  return IsCreatedOrExists(rc) ? kOk : rc;
}

// Number of "/" in the path, its last character not counted.
int64_t SlashCount(const fs::path& path) {
  const std::string& text = path.native();
  if (text.empty()) return 0;
  return std::count(text.begin(), text.end() - 1, '/');
}

// A folder path as a lookup key: without trailing separators.
std::string FolderKey(const fs::path& path) {
  std::string text = path.native();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace

std::string SafeComponentName(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c == '/' || c == '\0') c = '_';
  }
  out = std::string(platform::CutUtf8(out, kMaxComponentBytes));
  if (out.empty() || out == "." || out == "..") return "_";
  return out;
}

int32_t RecoverFolderStep(const FoundItem& item, const fs::path& path, RecoverQueue& queue) {
  int32_t rc = EnsureFolder(path);
  if (rc != kOk) return rc;
  std::error_code ec;
  if (!fs::is_directory(path, ec)) return kErrFileExists;  // a file of that name is in the way
  queue.push_back(RecoverQueueEntry{item, path.parent_path()});
  return kOk;
}

int32_t RunRecoveryWalk(IFileRecoveryParse& engine, const FoundItem* item, const fs::path& destination,
                        uint32_t baseDepth, const RecoverOneFn& recoverOne) {
  if (!item) return kErrInvalidParameter;
  RecoverQueue queue;
  if (!item->isFolder) {
    int32_t rc = EnsureFolder(destination.parent_path());
    if (rc != kOk) return rc;
    return recoverOne(*item, destination, queue);
  }

  int32_t rc = EnsureFolder(destination);
  if (rc != kOk) return rc;
  queue.push_back(RecoverQueueEntry{*item, destination});
  fs::path current = destination;
  const int64_t startDepth = std::max<int64_t>(0, SlashCount(destination) - baseDepth);

  // The folder tree comes from disk and may loop (a folder listed inside
  // itself, or inside one of its own subfolders), possibly several times
  // over. Three bounds keep the walk finite: a folder that is one of its own
  // ancestors is not entered again (each written folder keeps the chain of
  // folders above it), a folder whose children were already read at the same
  // depth is not read twice, and the walk goes at most kMaxWalkLevels down.
  struct Ancestor {
    FolderIdentity id;
    std::shared_ptr<const Ancestor> up;
  };
  std::unordered_map<std::string, std::shared_ptr<const Ancestor>> chains;  // by output folder
  std::set<std::pair<FolderIdentity, uint32_t>> read;
  std::vector<FoundItem> children;
  int32_t result = kOk;
  bool first = true;
  while (!queue.empty()) {
    RecoverQueueEntry entry = std::move(queue.front());
    queue.pop_front();
    const FoundItem& folder = entry.item;
    FolderIdentity id{+folder.sourceKind, static_cast<uint16_t>(folder.driveLetter),
                      +folder.objectId};  // copies of packed fields
    std::shared_ptr<const Ancestor> above;
    if (!first) {
      current = entry.parentPath / SafeComponentName(folder.Name());
      auto it = chains.find(FolderKey(entry.parentPath));
      if (it != chains.end()) above = it->second;
    }
    first = false;
    bool loops = false;
    for (const Ancestor* a = above.get(); a && !loops; a = a->up.get()) loops = a->id == id;
    if (loops) continue;
    int64_t depth = std::max<int64_t>(0, SlashCount(current) - baseDepth);
    if (depth - startDepth > kMaxWalkLevels || depth > 0xFFFFFFFFLL) continue;
    if (!read.emplace(id, static_cast<uint32_t>(depth)).second) continue;
    chains[FolderKey(current)] = std::make_shared<const Ancestor>(Ancestor{id, above});

    children.clear();
    rc = engine.ReadFolder(&folder, static_cast<uint32_t>(depth), children);
    if (rc != kOk) {
      if (rc == kCancelCode) return rc;
      result = rc;
      continue;
    }
    for (const FoundItem& child : children) {
      result = recoverOne(child, current / SafeComponentName(child.Name()), queue);
      if (result == kCancelCode) return result;
    }
  }
  return result;
}

RecoveredFileWriter::RecoveredFileWriter(FileCallback callback, void* context, fs::path path, uint64_t size)
    : callback_(callback), context_(context), path_(std::move(path)), size_(size) {}

RecoveredFileWriter::~RecoveredFileWriter() { platform::Close(handle_); }

int32_t RecoveredFileWriter::Report(int32_t percent, int32_t error) {
  if (percent >= 100) {
    reportedEnd_ = true;
    endError_ = error;
  }
  if (!callback_) return 0;
  return callback_(context_, percent, 100, error, path_.c_str());
}

int32_t RecoveredFileWriter::Open() {
  if (handle_ != platform::kInvalidHandle) return kOk;
  std::string last = path_.filename().string();
  if (last.empty() || last == "." || last == "..") return Fail(kErrInvalidParameter);
  // An existing file of that name is replaced whole: no old tail stays behind.
  int32_t rc = platform::OpenReadWrite(path_, handle_, /*truncate=*/true);
  if (rc != kOk) return Fail(rc);
  return kOk;
}

int32_t RecoveredFileWriter::Write(const void* data, size_t length) {
  if (handle_ == platform::kInvalidHandle)
    return reportedEnd_ && endError_ != kOk ? endError_ : kErrInvalidHandle;
  size_t n = static_cast<size_t>(std::min<uint64_t>(length, Remaining()));
  if (n == 0) return kOk;
  int32_t rc = platform::WriteAllAt(handle_, data, n, written_);
  if (rc != kOk) return Fail(rc);
  written_ += n;
  int32_t percent = static_cast<int32_t>(static_cast<unsigned __int128>(written_) * 100 / size_);
  return Report(percent, kOk);
}

int32_t RecoveredFileWriter::WriteZeros(uint64_t length) {
  static const std::vector<uint8_t> zeros(65536, 0);
  length = std::min(length, Remaining());
  while (length > 0) {
    size_t piece = static_cast<size_t>(std::min<uint64_t>(length, zeros.size()));
    int32_t rc = Write(zeros.data(), piece);
    if (rc != kOk) return rc;
    length -= piece;
  }
  return kOk;
}

int32_t RecoveredFileWriter::Finish(int32_t errorIfShort) {
  bool complete = handle_ != platform::kInvalidHandle && written_ == size_;
  platform::Close(handle_);
  if (reportedEnd_) return endError_;
  if (complete) return Report(100, kOk);
  if (errorIfShort == kOk) errorIfShort = kErrReadFault;  // a short file is never a success
  int32_t answer = Report(100, errorIfShort);
  return answer == kCancelCode ? answer : errorIfShort;
}

int32_t RecoveredFileWriter::Fail(int32_t error) {
  platform::Close(handle_);
  if (error == kOk) error = kErrWriteFault;
  if (reportedEnd_) return endError_ != kOk ? endError_ : error;
  int32_t answer = Report(100, error);
  return answer == kCancelCode ? answer : error;
}

}  // namespace nuvarin
