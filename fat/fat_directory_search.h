// CProfessionalFatRecovery: FAT directory clusters found anywhere in an area
// by the deep scan's sweep, turned into findings with names and folders.
//
// The engine never walks a tree from a root. The sweep hands it every sector
// that looks like a directory; from the "." entries of subdirectory starts it
// infers where cluster 2 lies and how large a cluster is (a layout), places
// the files it sees under such a layout, and at the end writes the folders
// that lead to them. File data is read back as contiguous clusters.
//
// Every read the engine makes stays inside the area it was opened on; every
// list it keeps while sweeping has a fixed upper size.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "storage/recovered_output.h"
#include "storage/recovery_engine.h"
#include "storage/scan_log_store.h"
#include "storage/sector_device.h"

namespace nuvarin {

// One geometry candidate. Cluster c starts at volumeStart + dataStart +
// (c - 2) * sectorsPerCluster; cluster 0 of a layout with a fixed root area is
// that area, 32 sectors before the data start.
struct FatLayout {
  uint32_t sectorsPerCluster = 0;
  uint32_t dataStart = 0;    // sector of cluster 2, relative to volumeStart
  uint64_t volumeStart = 0;  // absolute
};

// A "." entry's cluster and the absolute sector where that directory starts.
struct DirAnchor {
  uint32_t cluster = 0;
  uint64_t sector = 0;
};

class CProfessionalFatRecovery : public IFileRecoveryParse {
 public:
  // Bounds of what the sweep may accumulate, whatever the area holds.
  static constexpr size_t kMaxLayouts = 64;
  static constexpr size_t kMaxAnchors = 4096;
  static constexpr size_t kMaxFolders = 1u << 17;
  static constexpr size_t kMaxPendingFiles = 1u << 15;
  static constexpr size_t kMaxUnplacedSectors = 1u << 14;
  static constexpr size_t kMaxOpenTails = 1024;
  static constexpr size_t kMaxCachedFolders = 1u << 17;

  CProfessionalFatRecovery();
  ~CProfessionalFatRecovery() override;

  int32_t OpenImage(const std::filesystem::path& imagePath, uint16_t driveLetter) override;
  int32_t OpenDisk(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount,
                   uint16_t driveLetter) override;
  int32_t SetProgressCallback(ProgressCallback progress, FileCallback file, void* context,
                              int32_t weight) override;
  int32_t OpenLog(const char*) override { return 0; }
  int32_t ReadFolder(const FoundItem* folder, uint32_t depth, std::vector<FoundItem>& out) override;
  int32_t CountFolderFiles(const FoundItem* folder, uint32_t depth, uint32_t& count) override;
  uint64_t GetItemCount() override;
  int32_t GetItemPath(const FoundItem* item, std::string& path) override;
  int32_t RecoverItem(const FoundItem* item, const std::filesystem::path& destination,
                      uint32_t baseDepth) override;
  int32_t NextFreeExtent(uint64_t&, uint64_t&) override { return 0; }
  int32_t SetSearchCallback(ShortCallback callback, void* context) override;
  int32_t SearchItems(const std::string& pattern, std::vector<FoundItem>& out) override;
  int32_t LoadAllocationBitmap() override { return 0; }
  int32_t PreviewItem(const FoundItem* item, std::filesystem::path& outPath, uint8_t* buffer,
                      uint32_t& bufferSize, ShortCallback callback, void* context) override;

  // Operations the deep scan calls besides the slots:
  // opens an existing log by name, or creates "Pro_Fat_..." when null/empty.
  int32_t OpenProLog(const char* name);
  // Reads the area's boot sector; a FAT boot sector gives the first layout.
  int32_t PrepareSweep();
  // A sector whose first two entries are "." and ".." (IsDotPair).
  void HandleSubdirectoryStart(const uint8_t* sector, size_t length, uint64_t absoluteSector);
  // A sector that reads as directory entries (LooksLikeDirectorySector).
  void HandleEntrySector(const uint8_t* sector, size_t length, uint64_t absoluteSector);
  // The folder pass after the sweep (also after a cancelled sweep).
  int32_t FinishFolders();

  // What the sweep has inferred so far (for the composite and for tests).
  const std::vector<FatLayout>& Layouts() const { return layouts_; }
  uint32_t RootCluster() const { return rootCluster_; }
  uint32_t BytesPerSector() const { return bytesPerSector_; }
  ScanLogStore* Store() { return store_.get(); }

 private:
  static constexpr int kNoLayout = -1;

  // A folder entry seen in some directory, kept until FinishFolders decides
  // whether it is needed.
  struct FolderEntry {
    std::string name;
    uint64_t creation = 0, access = 0, modification = 0;
    uint64_t entrySector = 0;
    uint32_t parent = 0;
    bool deleted = false;
    int layout = kNoLayout;
  };
  struct NeededFolder {
    int layout = kNoLayout;
    uint64_t sector = 0;
  };
  struct PendingFile {
    FoundItem record;  // everything but the layout's values and the item id
    uint32_t directory = 0;
    bool written = false;
  };
  // The start of a long-name chain cut off by the end of a processed buffer.
  struct OpenTail {
    uint8_t checksum = 0;
    int layout = kNoLayout;
    uint32_t directory = 0;
    uint64_t sector = 0;      // sector holding the chain's first entry
    size_t offset = 0;        // byte offset of that entry inside its sector
    uint64_t lastSector = 0;  // sector holding the tail's last byte
    std::vector<uint8_t> bytes;
  };
  struct Context {
    int layout = kNoLayout;
    uint32_t cluster = 0;
    uint64_t sector = 0;
  };
  // Where the bytes of a processed buffer lie on disk: the first `headBytes`
  // from byte `headOffset` of `headSector` on, the rest from `bodySector`.
  struct Placement {
    size_t headBytes = 0;
    uint64_t headSector = 0;
    size_t headOffset = 0;
    uint64_t bodySector = 0;
  };

  void ResetSweepState();
  void CloseStore();
  bool OpenArea(int32_t openResult);

  // Area reads, clipped to the area; `got` sectors arrived.
  int32_t ReadArea(uint64_t absoluteSector, uint64_t count, uint8_t* buffer, uint64_t& got) const;
  bool InArea(uint64_t absoluteSector) const;

  // Geometry.
  void AddAnchor(uint32_t cluster, uint64_t sector);
  bool ClusterStart(int layout, uint32_t cluster, uint64_t& sector) const;
  int LayoutForClusterAt(uint32_t cluster, uint64_t sector) const;
  int LayoutStartingClusterAt(uint64_t sector, uint32_t& cluster) const;
  int LayoutContaining(uint64_t sector, uint32_t& cluster) const;
  int LayoutForPendingEntry(uint64_t sector) const;
  uint32_t RootAreaSectors(int layout) const;
  uint32_t ClusterBytes(int layout) const;

  // Entry processing.
  void ProcessBuffer(const uint8_t* data, size_t length, int layout, const Placement& where,
                     uint32_t directory);
  void ProcessSector(const uint8_t* data, size_t length, int layout, uint64_t sector, uint32_t directory);
  bool TryJoinTail(const uint8_t* data, size_t length, uint64_t sector);
  void JoinAndProcess(OpenTail tail, const uint8_t* data, size_t length, uint64_t sector);
  void JoinOnce(OpenTail tail, const uint8_t* data, size_t length, uint64_t sector);
  void DrainJoins();
  void KeepTail(OpenTail tail);
  void KeepUnplaced(const uint8_t* data, size_t length, uint64_t sector);
  bool ContinuesTail(const OpenTail& tail, const uint8_t* data, size_t length, uint64_t sector) const;

  uint32_t NormalizeParent(uint32_t cluster) const { return cluster == 0 ? rootCluster_ : cluster; }
  bool IsRoot(uint32_t cluster) const { return cluster == rootCluster_ || cluster == 0; }
  uint32_t SearchFolderHighWord(int layout, uint32_t low) const;
  uint32_t SearchFileHighWord(int layout, const std::string& name, uint32_t low) const;
  uint32_t ContentCheck(const FoundItem& record) const;

  // Files and folders.
  void WriteFile(const FoundItem& record, int layout, uint32_t directory);
  void NoteNeededFolders(uint32_t directory, int layout, uint64_t sector);
  bool ReadDotDot(int layout, uint32_t cluster, uint32_t& parent) const;
  uint32_t ParentOf(int layout, uint32_t cluster);
  uint32_t LevelOf(int layout, uint32_t cluster);
  void PlacePendingFiles();
  void WriteFolders();

  int32_t RecoverOne(const FoundItem& item, const std::filesystem::path& path, RecoverQueue& queue);
  int32_t RecoverFileData(const FoundItem& item, const std::filesystem::path& path);

  SectorDevice device_;
  bool deviceOpen_ = false;
  uint64_t areaStart_ = 0;
  uint64_t areaCount_ = 0;
  uint16_t driveLetter_ = 0;
  uint32_t bytesPerSector_ = 512;

  uint32_t rootCluster_ = 2;
  bool bootLayout_ = false;
  uint32_t rootAreaSectors_ = 0;  // fixed root directory before the boot layout's data area
  std::vector<FatLayout> layouts_;
  // Subdirectory starts each layout has placed: where several layouts would
  // place a sector, the one the directories agree with most is taken.
  std::vector<uint32_t> votes_;
  std::vector<DirAnchor> anchors_;
  std::optional<Context> context_;
  std::map<uint32_t, FolderEntry> folders_;
  std::map<uint32_t, NeededFolder> needed_;
  std::vector<PendingFile> pending_;
  std::map<uint64_t, OpenTail> tails_;                 // by lastSector
  std::map<uint64_t, std::vector<uint8_t>> unplaced_;  // by absolute sector
  // A tail and the kept-aside sector that continues it, joined next. Chains of
  // such joins run in a loop, never as nested calls, however long they are.
  struct PendingJoin {
    OpenTail tail;
    std::vector<uint8_t> data;
    uint64_t sector = 0;
  };
  std::optional<PendingJoin> pendingJoin_;
  // Parent and level of a folder cluster under a layout, read once.
  std::map<std::pair<int, uint32_t>, uint32_t> parentCache_;
  std::map<std::pair<int, uint32_t>, uint32_t> levelCache_;
  // Folders the log already holds a record of (also from before a reopen).
  std::set<uint32_t> writtenFolders_;

  std::unique_ptr<ScanLogStore> store_;
  ProgressCallback progress_ = nullptr;
  FileCallback fileCallback_ = nullptr;
  void* fileContext_ = nullptr;
  int32_t weight_ = 0;
  ShortCallback searchCallback_ = nullptr;
  void* searchContext_ = nullptr;
};

}  // namespace nuvarin
