// IFileRecoveryParse: the one interface through which jobs, windows and the
// command line talk to every recovery engine. The operations keep their slot
// order; results are the shared 32-bit codes (platform/error_codes.h).
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "storage/found_item.h"

namespace nuvarin {

// Called by a running scan. percent is the engine's own 0..100; weight is the
// value given to SetProgressCallback, passed back unchanged; etaSeconds -1 is
// unknown. A non-zero result stops the scan and is returned by OpenLog.
using ProgressCallback = int32_t (*)(void* context, int32_t percent, int32_t weight,
                                     int32_t etaSeconds, uint64_t sectorsDone,
                                     uint64_t sectorsTotal, uint64_t filesFound,
                                     uint32_t reserved);
// Called by RecoverItem for every file written: percent of the file done, the
// constant 100, an error code, the destination path (UTF-8).
using FileCallback = int32_t (*)(void* context, int32_t percent, int32_t weight,
                                 int32_t errorCode, const char* destinationPath);
// Called by SearchItems and PreviewItem.
using ShortCallback = int32_t (*)(void* context, int32_t percent, int32_t errorCode);

// What a scan runs on: a disk area or an image file.
struct ScanTarget {
  uint16_t driveLetter = 0;     // partition number in the disk list, 0 when none
  uint32_t diskIndex = 0;       // index into the platform's disk table
  uint64_t startSector = 0;     // first sector of the area on the disk
  uint64_t sectorCount = 0;     // length of the area in sectors
  std::filesystem::path imagePath;  // set for an image target; disk values are then ignored
  bool IsImage() const { return !imagePath.empty(); }
};

class IFileRecoveryParse {
 public:
  // Open on an image file: the area is the whole file, start sector 0.
  virtual int32_t OpenImage(const std::filesystem::path& imagePath, uint16_t driveLetter) = 0;
  // Open on an area of disk `diskIndex`.
  virtual int32_t OpenDisk(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount,
                           uint16_t driveLetter) = 0;
  virtual int32_t SetProgressCallback(ProgressCallback progress, FileCallback file, void* context,
                                      int32_t weight) = 0;
  // logName non-null: open that existing log and return 0 without scanning.
  // Null: create a new log and run the whole scan.
  virtual int32_t OpenLog(const char* logName) = 0;
  // Items directly inside `folder` (null with depth 0: the root).
  virtual int32_t ReadFolder(const FoundItem* folder, uint32_t depth, std::vector<FoundItem>& out) = 0;
  // Files in the folder's whole subtree.
  virtual int32_t CountFolderFiles(const FoundItem* folder, uint32_t depth, uint32_t& count) = 0;
  // Records the engine's log store has written since it was created or opened.
  virtual uint64_t GetItemCount() = 0;
  // Folder path from the volume root, each folder name followed by "/".
  virtual int32_t GetItemPath(const FoundItem* item, std::string& path) = 0;
  // Writes the item (a file, or a folder with its subtree) below `destination`.
  virtual int32_t RecoverItem(const FoundItem* item, const std::filesystem::path& destination,
                              uint32_t baseDepth) = 0;
  // Moves `position` to the next unallocated run at or after it; returns 1 when
  // implemented, 0 otherwise (arguments unchanged).
  virtual int32_t NextFreeExtent(uint64_t& position, uint64_t& length) = 0;
  virtual int32_t SetSearchCallback(ShortCallback callback, void* context) = 0;
  // Appends every file whose extension matches the pattern; returns 1 when the
  // log was read.
  virtual int32_t SearchItems(const std::string& pattern, std::vector<FoundItem>& out) = 0;
  virtual int32_t LoadAllocationBitmap() = 0;
  // Prepares one file for preview: a file path in `outPath`, or bytes copied
  // into `buffer` (bufferSize in: capacity, out: bytes copied).
  virtual int32_t PreviewItem(const FoundItem* item, std::filesystem::path& outPath, uint8_t* buffer,
                              uint32_t& bufferSize, ShortCallback callback, void* context) = 0;
  virtual ~IFileRecoveryParse() = default;
};

}  // namespace nuvarin
