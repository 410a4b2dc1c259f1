// CProfessionalFatRecovery: FAT directory clusters found anywhere in an area
// by the deep scan's sweep, turned into findings with names and folders.
#pragma once
#include <cstddef>
#include <cstdint>

#include "storage/recovery_engine.h"

namespace nuvarin {

class CProfessionalFatRecovery : public IFileRecoveryParse {
 public:
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
};

}  // namespace nuvarin
