// CProfessionalNtfsRecovery: MFT file records found anywhere in an area by the
// deep scan's sweep, turned into findings with their volume and folder chain.
#pragma once
#include <cstddef>
#include <cstdint>

#include "storage/recovery_engine.h"

namespace nuvarin {

class CProfessionalNtfsRecovery : public IFileRecoveryParse {
 public:
  enum class CandidateMode { kSweep, kFolder };

  // Operations the deep scan calls besides the slots:
  // opens an existing log by name, or creates "Pro_Ntfs_..." when null/empty.
  int32_t OpenProLog(const char* name);
  // One record (its bytes, at least one record long) found at `absoluteSector`.
  int32_t HandleCandidateRecord(const uint8_t* record, size_t length, uint64_t absoluteSector,
                                CandidateMode mode, uint32_t missingNumber);
  // The folder pass after the sweep.
  int32_t FinishFolders();
  // First absolute sector of a file finding's data (kinds 0 and 2), for the
  // removal of carved duplicates; false for resident files and unreadable runs.
  bool FirstDataSector(const FoundItem& item, uint64_t& sector);
};

}  // namespace nuvarin
