// ScanLogStore: owner of one scan log (FoundItem records back to back) and its
// "_Relation" (folder key -> item ids, text) and "_DirInfo" (folder names)
// companions. Appends are buffered and written in blocks of 200 records.
#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "storage/found_item.h"
#include "storage/recovery_engine.h"

namespace nuvarin {

// The order of every folder listing and search result: files before folders,
// then names compared without regard to case; stable.
void SortFolderListing(std::vector<FoundItem>& items);

class ScanLogStore {
 public:
  static constexpr size_t kBufferBytes = 69200;  // 200 records

  ScanLogStore() = default;
  ScanLogStore(const ScanLogStore&) = delete;
  ScanLogStore& operator=(const ScanLogStore&) = delete;
  ~ScanLogStore();

  // Creates or opens `folder`/`logName` and its two companions; appends go
  // after the records already in the log.
  int32_t Open(const std::filesystem::path& folder, const std::string& logName);
  bool IsOpen() const;

  // Next free record slot (zero-filled); `itemId` receives its 1-based record
  // number, which the caller stores in the record.
  FoundItem* AppendItem(uint32_t& itemId);
  // Adds itemId to the key's list; with a name, also records the folder name.
  void AddRelation(RelationKey key, uint32_t itemId, uint32_t objectId, const char* folderName);
  // Writes the pending block and rewrites both companions. 0 or the first error.
  int32_t Flush();
  void Close();

  int32_t ReadFolder(RelationKey key, std::vector<FoundItem>& out);
  int32_t CountFolderFiles(RelationKey key, uint32_t& count);
  // Parents of `item` from the nearest to the root-most.
  int32_t FindParents(const FoundItem& item, std::vector<FoundItem>& out);
  // Folder path of the item: parent names from the root down, each + "/".
  int32_t ItemPath(const FoundItem& item, std::string& path);
  int32_t SearchItems(const std::string& pattern, std::vector<FoundItem>& out);
  void SetSearchCallback(ShortCallback callback, void* context);

  // Reads record `itemId` (1-based) from the log (pending appends flushed first).
  int32_t ReadItem(uint32_t itemId, FoundItem& out);

  uint64_t AppendedCount() const;   // GetItemCount
  uint64_t RecordCount() const;     // records in the log, old and new
  // First failed block write of the log since Open; 0 when none. A scan
  // returns it so that the user learns the findings are incomplete.
  int32_t FirstWriteError() const;
  // Relation entries and folder-name records that could not be loaded.
  size_t LoadErrors() const;

  const std::filesystem::path& LogPath() const;
  const std::map<RelationKey, std::vector<uint32_t>>& Relations() const;
  const std::vector<DirInfoRecord>& FolderNames() const;

 private:
  struct Impl;
  Impl* impl_ = nullptr;
};

}  // namespace nuvarin
