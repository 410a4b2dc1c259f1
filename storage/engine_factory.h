// The engine factory: reads the first 16 KiB of an area, classifies it with the
// boot-area tests and creates the matching engine, already opened.
#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>

#include "storage/boot_probes.h"
#include "storage/recovery_engine.h"

namespace nuvarin {

std::unique_ptr<IFileRecoveryParse> CreateEngineForDisk(uint32_t diskIndex, uint64_t startSector,
                                                        uint64_t sectorCount, uint16_t driveLetter,
                                                        bool professional);
std::unique_ptr<IFileRecoveryParse> CreateEngineForImage(const std::filesystem::path& imagePath,
                                                         uint16_t driveLetter, bool professional);

// Whether an engine exists for this class and mode (the command line refuses
// the rest with a clear message).
bool EngineAvailable(AreaClass areaClass, bool professional);

}  // namespace nuvarin
