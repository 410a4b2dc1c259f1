#include "storage/engine_factory.h"

#include <vector>

#include "deepscan/professional_recovery.h"
#include "fat/fast_fat_recovery.h"
#include "ntfs/fast_ntfs_recovery.h"
#include "platform/block_device.h"
#include "storage/byte_reader.h"
#include "storage/ext_stub.h"
#include "storage/sector_device.h"
// Engines register below, one row each.

namespace nuvarin {
namespace {

using Creator = std::unique_ptr<IFileRecoveryParse> (*)();

struct FactoryRow {
  AreaClass areaClass;
  Creator fast;          // professional flag 0
  Creator professional;  // professional flag 1
};

std::unique_ptr<IFileRecoveryParse> MakeExt() { return std::make_unique<CFastExtRecovery>(); }
std::unique_ptr<IFileRecoveryParse> MakeDeep() { return std::make_unique<CProfessionalRecovery>(); }

// One row per class of area, in the order ClassifyArea tests them.
const FactoryRow kRows[] = {
    {AreaClass::kNtfs, [] { return std::unique_ptr<IFileRecoveryParse>(new CFastNtfsRecovery); }, &MakeDeep},
    {AreaClass::kFat, [] { return std::unique_ptr<IFileRecoveryParse>(new CFastFatRecovery); }, &MakeDeep},
    {AreaClass::kExt, &MakeExt, &MakeDeep},
    {AreaClass::kOther, nullptr, &MakeDeep},
};

Creator CreatorFor(AreaClass c, bool professional) {
  for (const FactoryRow& row : kRows) {
    if (row.areaClass == c) return professional ? row.professional : row.fast;
  }
  return nullptr;
}

// Reads exactly kProbeBytes at `offset`; false when fewer arrive.
bool ReadProbe(platform::FileHandle handle, uint64_t offset, std::vector<uint8_t>& buffer) {
  buffer.assign(kProbeBytes, 0);
  size_t done = 0;
  while (done < kProbeBytes) {
    size_t got = 0;
    if (platform::ReadAt(handle, buffer.data() + done, kProbeBytes - done, offset + done, got) != kOk || got == 0)
      return false;
    done += got;
  }
  return true;
}

}  // namespace

bool EngineAvailable(AreaClass areaClass, bool professional) {
  return CreatorFor(areaClass, professional) != nullptr;
}

std::unique_ptr<IFileRecoveryParse> CreateEngineForDisk(uint32_t diskIndex, uint64_t startSector,
                                                        uint64_t sectorCount, uint16_t driveLetter,
                                                        bool professional) {
  SectorDevice disk;
  if (OpenPhysicalDrive(diskIndex, disk) != kOk) return nullptr;
  FlushVolume(diskIndex, startSector);
  uint64_t offset;
  if (!CheckedMul<uint64_t>(startSector, disk.bytesPerSector, offset)) return nullptr;
  std::vector<uint8_t> probe;
  if (!ReadProbe(disk.handle, offset, probe)) return nullptr;
  Creator create = CreatorFor(ClassifyArea(probe.data(), probe.size()), professional);
  if (!create) return nullptr;
  auto engine = create();
  engine->OpenDisk(diskIndex, startSector, sectorCount, driveLetter);  // result shows in the scan
  return engine;
}

std::unique_ptr<IFileRecoveryParse> CreateEngineForImage(const std::filesystem::path& imagePath,
                                                         uint16_t driveLetter, bool professional) {
  SectorDevice image;
  if (OpenImageFile(imagePath, image) != kOk) return nullptr;
  std::vector<uint8_t> probe;
  if (!ReadProbe(image.handle, 0, probe)) return nullptr;
  Creator create = CreatorFor(ClassifyArea(probe.data(), probe.size()), professional);
  if (!create) return nullptr;
  auto engine = create();
  engine->OpenImage(imagePath, driveLetter);  // result shows in the scan
  return engine;
}

}  // namespace nuvarin
