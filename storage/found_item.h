// The fixed-size records of a scan log: one FoundItem per finding, one
// DirInfoRecord per named folder. Layouts are identical on disk and in memory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace nuvarin {

// Which engine wrote a record; the composite engine routes item operations by it.
enum SourceKind : uint32_t {
  kSourceFastNtfs = 0,
  kSourceFastFat = 1,
  kSourceNtfsRecordSearch = 2,
  kSourceFatDirectorySearch = 3,
  kSourceSignature = 4,
};

constexpr size_t kFoundItemSize = 346;
constexpr size_t kItemNameSize = 260;
constexpr uint32_t kNoClusterSize = 0xFFFFFFFFu;

#pragma pack(push, 1)
struct FoundItem {
  uint16_t driveLetter;       // letter of the scanned volume (its number here), 0 if none
  uint32_t sourceKind;        // SourceKind
  uint32_t isFolder;          // 1 folder, 0 file
  uint32_t isDeleted;         // FAT folder records only
  uint32_t contentCheck;      // 1 when the first bytes agree with the extension
  uint32_t itemId;            // own record number, 1-based
  uint32_t objectId;          // FAT first cluster, NTFS MFT record number, 0 carved
  uint32_t clusterSize;       // bytes per cluster; kNoClusterSize for carved files and lost folders
  uint64_t creationTime;      // FILETIME
  uint64_t accessTime;        // FILETIME
  uint64_t modificationTime;  // FILETIME
  uint64_t size;              // bytes, 0 for folders
  uint64_t dataStartSector;   // FAT: first sector of cluster 2, relative to the volume
  uint64_t entrySector;       // absolute sector of the entry / record / carved data
  uint64_t volumeStartSector; // absolute start sector of the scanned volume
  char name[kItemNameSize];   // UTF-8, NUL-terminated

  std::string_view Name() const { return std::string_view(name, strnlen(name, kItemNameSize)); }
  // Stores `text` cut to 259 bytes on a character boundary, NUL-padded.
  void SetName(std::string_view text);
};

struct DirInfoRecord {
  uint32_t objectId;
  uint32_t itemId;
  char name[kItemNameSize];
};
#pragma pack(pop)

static_assert(sizeof(FoundItem) == kFoundItemSize);
static_assert(offsetof(FoundItem, sourceKind) == 2);
static_assert(offsetof(FoundItem, isFolder) == 6);
static_assert(offsetof(FoundItem, isDeleted) == 10);
static_assert(offsetof(FoundItem, contentCheck) == 14);
static_assert(offsetof(FoundItem, itemId) == 18);
static_assert(offsetof(FoundItem, objectId) == 22);
static_assert(offsetof(FoundItem, clusterSize) == 26);
static_assert(offsetof(FoundItem, creationTime) == 30);
static_assert(offsetof(FoundItem, accessTime) == 38);
static_assert(offsetof(FoundItem, modificationTime) == 46);
static_assert(offsetof(FoundItem, size) == 54);
static_assert(offsetof(FoundItem, dataStartSector) == 62);
static_assert(offsetof(FoundItem, entrySector) == 70);
static_assert(offsetof(FoundItem, volumeStartSector) == 78);
static_assert(offsetof(FoundItem, name) == 86);
static_assert(sizeof(DirInfoRecord) == 268);

// (depth << 32) | parent objectId: the key of one folder's list of children.
using RelationKey = uint64_t;
constexpr RelationKey MakeRelationKey(uint32_t depth, uint32_t parentObjectId) {
  return (static_cast<uint64_t>(depth) << 32) | parentObjectId;
}

// Extension of a stored name: the text after the last '.', empty when there is
// none or the name ends with '.'.
std::string_view NameExtension(std::string_view name);

}  // namespace nuvarin
