#include "storage/ext_stub.h"

namespace nuvarin {

int32_t CFastExtRecovery::OpenImage(const std::filesystem::path&, uint16_t driveLetter) {
  driveLetter_ = driveLetter;
  return 0;
}

int32_t CFastExtRecovery::OpenDisk(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount,
                                   uint16_t driveLetter) {
  diskIndex_ = diskIndex;
  startSector_ = startSector;
  sectorCount_ = sectorCount;
  driveLetter_ = driveLetter;
  return OpenPhysicalDrive(diskIndex, device_);
}

}  // namespace nuvarin
