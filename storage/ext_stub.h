// CFastExtRecovery: the fast engine for ext2/3/4 areas. Deleted ext files are
// not recovered from metadata; the engine finds nothing, so that a fast scan of
// an ext area ends at once with an empty result.
#pragma once
#include "storage/recovery_engine.h"
#include "storage/sector_device.h"

namespace nuvarin {

class CFastExtRecovery final : public IFileRecoveryParse {
 public:
  int32_t OpenImage(const std::filesystem::path& imagePath, uint16_t driveLetter) override;
  int32_t OpenDisk(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount,
                   uint16_t driveLetter) override;
  int32_t SetProgressCallback(ProgressCallback, FileCallback, void*, int32_t) override { return 0; }
  int32_t OpenLog(const char*) override { return 0; }
  int32_t ReadFolder(const FoundItem*, uint32_t, std::vector<FoundItem>&) override { return 0; }
  int32_t CountFolderFiles(const FoundItem*, uint32_t, uint32_t& count) override {
    count = 0;
    return 0;
  }
  uint64_t GetItemCount() override { return 0; }
  int32_t GetItemPath(const FoundItem*, std::string& path) override {
    path.clear();
    return 0;
  }
  int32_t RecoverItem(const FoundItem*, const std::filesystem::path&, uint32_t) override { return 0; }
  int32_t NextFreeExtent(uint64_t&, uint64_t&) override { return 0; }
  int32_t SetSearchCallback(ShortCallback, void*) override { return 0; }
  int32_t SearchItems(const std::string&, std::vector<FoundItem>&) override { return 0; }
  int32_t LoadAllocationBitmap() override { return 0; }
  int32_t PreviewItem(const FoundItem*, std::filesystem::path&, uint8_t*, uint32_t& bufferSize, ShortCallback,
                      void*) override {
    bufferSize = 0;
    return 0;
  }

  uint32_t diskIndex() const { return diskIndex_; }
  uint64_t startSector() const { return startSector_; }
  uint64_t sectorCount() const { return sectorCount_; }

 private:
  SectorDevice device_;
  uint32_t diskIndex_ = 0;
  uint64_t startSector_ = 0;
  uint64_t sectorCount_ = 0;
  uint16_t driveLetter_ = 0;
};

}  // namespace nuvarin
