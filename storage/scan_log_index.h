// ScanLogIndex: the process-wide owner of the per-user scan-log folders and of
// the "config" index of deep and formatted scans (rewritten through
// "config.tmp").
#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace nuvarin {

// Log names: prefix + area start sector + local date and time, as
// "Fast_%lld_%d%d%d%d%2d" (year, month, day, hour, minute; no separators, the
// minute padded to width 2 with a space). Prefixes: "Fast_", "Pro_Fat_",
// "Pro_Ntfs_", "File_Type_".
std::string MakeLogName(const char* prefix, uint64_t startSector);

// Five resume values of a deep scan; their meaning belongs to the deep scan.
using ResumeState = std::array<uint64_t, 5>;

struct ScanIndexEntry {
  uint32_t diskIndex = 0;
  uint64_t startSector = 0;
  uint64_t sectorCount = 0;
  ResumeState resume{};
  uint64_t freeBytes = 0;         // free bytes of the area's volume when recorded
  uint64_t imageWriteTime = 0;    // FILETIME of the image's last write
  std::u16string imagePath;       // empty for disk areas (UTF-16 on disk, 260 units)
  std::u16string scanFolder;      // with a trailing "/"
};

class ScanLogIndex {
 public:
  static constexpr size_t kEntryBytes = 1120;

  // The process-wide index, rooted at platform::ScanLogRoot(), loaded on first use.
  static ScanLogIndex& Instance();
  // An index rooted elsewhere (tests).
  explicit ScanLogIndex(std::filesystem::path root);

  const std::filesystem::path& Root() const;
  uint64_t Counter() const;
  const std::vector<ScanIndexEntry>& Entries() const;
  // Entries that could not be loaded from a damaged "config".
  size_t LoadErrors() const;

  // The folder new logs go to: the selected previous scan's, else root/counter/.
  std::filesystem::path CurrentLogFolder() const;
  // counter + 1, clear the selection, remove a stale folder of that number.
  void NewScanFolder();
  bool FindPreviousForDisk(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount,
                           uint16_t driveLetter, ScanIndexEntry& out);
  bool FindPreviousForImage(const std::filesystem::path& imagePath, ScanIndexEntry& out);
  int32_t RecordScan(uint16_t driveLetter, uint32_t diskIndex, uint64_t startSector,
                     uint64_t sectorCount, const ResumeState& resume,
                     const std::filesystem::path& scanFolder, const std::filesystem::path& imagePath);
  // Drops the entry of `folder` and deletes the folder, but only inside Root().
  void RemoveEntry(const std::filesystem::path& folder);
  // First file in `folder` whose name contains `prefix` (names starting "." skipped).
  bool FindLogInFolder(const std::string& prefix, const std::filesystem::path& folder,
                       std::string& outName) const;
  int32_t Save();
  // Undo the last NewScanFolder's counter step (a fresh deep scan stopped in
  // its first pass records nothing).
  void DecrementCounter();
  bool HasSelection() const;
  void ClearSelection();

  // Free-space source; tests replace it. Default: GetFreeSpace of the area.
  using FreeSpaceFn = uint64_t (*)(uint32_t diskIndex, uint64_t startSector, uint16_t driveLetter);
  void SetFreeSpaceSource(FreeSpaceFn fn);

 private:
  void Load();
  std::filesystem::path root_;
  uint64_t counter_ = 0;
  std::vector<ScanIndexEntry> entries_;
  bool selected_ = false;
  std::filesystem::path selectedFolder_;
  size_t loadErrors_ = 0;
  FreeSpaceFn freeSpace_ = nullptr;
};

}  // namespace nuvarin
