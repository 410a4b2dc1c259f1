// Writing recovered items below a destination folder: the folder walk shared by
// every engine that finds folders, the file writer that reports through the
// file callback, and the rule that keeps hostile names inside the destination.
#pragma once
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/file_io.h"
#include "storage/found_item.h"
#include "storage/recovery_engine.h"

namespace nuvarin {

// A name from disk made safe as one path component: "/" and NUL become "_",
// "." and ".." and an empty name become "_". Deterministic.
std::string SafeComponentName(std::string_view name);

struct RecoverQueueEntry {
  FoundItem item;
  std::filesystem::path parentPath;  // folder in which the item's own folder is created
};
using RecoverQueue = std::deque<RecoverQueueEntry>;

// Per-engine step: create a folder (and queue it) or write one file's data.
using RecoverOneFn =
    std::function<int32_t(const FoundItem& item, const std::filesystem::path& path, RecoverQueue& queue)>;

// The walk of RecoverItem: a file goes to `destination`; a folder becomes
// `destination` with its subtree, read through engine.ReadFolder at the depth
// given by the path's "/" count minus baseDepth.
int32_t RunRecoveryWalk(IFileRecoveryParse& engine, const FoundItem* item,
                        const std::filesystem::path& destination, uint32_t baseDepth,
                        const RecoverOneFn& recoverOne);

// Creates `path` as a folder (an existing one is fine) and queues the item, as
// RecoverOne does for a folder.
int32_t RecoverFolderStep(const FoundItem& item, const std::filesystem::path& path, RecoverQueue& queue);

// Output file of one recovered file. Opens (creates) the file, takes the data
// in pieces, reports percent through the file callback, and reports failures
// with (100, 100, error, path).
class RecoveredFileWriter {
 public:
  RecoveredFileWriter(FileCallback callback, void* context, std::filesystem::path path, uint64_t size);
  ~RecoveredFileWriter();
  // 0, or the open error (already reported).
  int32_t Open();
  // Appends bytes (never more than the size in total); returns the callback's
  // non-zero answer or a write error (reported). The write that completes the
  // file makes its 100 % report; Finish then reports nothing more.
  int32_t Write(const void* data, size_t length);
  // Appends zeros (sparse runs).
  int32_t WriteZeros(uint64_t length);
  // Finishes: 100 % with error 0 when all bytes arrived; otherwise reports
  // `errorIfShort` (default 30) and returns it.
  int32_t Finish(int32_t errorIfShort = 30);
  // Reports a failure now and returns it.
  int32_t Fail(int32_t error);
  uint64_t Written() const { return written_; }
  uint64_t Remaining() const { return size_ - written_; }

 private:
  int32_t Report(int32_t percent, int32_t error);
  FileCallback callback_;
  void* context_;
  std::filesystem::path path_;
  uint64_t size_;
  uint64_t written_ = 0;
  platform::FileHandle handle_ = platform::kInvalidHandle;
  bool reportedEnd_ = false;  // the one 100 % report of this file was made
  int32_t endError_ = 0;       // its error code
};

}  // namespace nuvarin
