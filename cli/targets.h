// What the user names as TARGET: an image file, a block device or a number
// from `nuvarin disks`, and what its first 16 KiB hold.
#pragma once
#include <cstdint>
#include <string>

#include "jobs/job_target.h"
#include "storage/boot_probes.h"

namespace nuvarin::cli {

struct AreaFacts {
  uint64_t bytes = 0;
  uint64_t sectors = 0;
  uint32_t sectorSize = 512;
  AreaClass areaClass = AreaClass::kOther;
};

// Fills the target from TARGET. False with a message that says what to do.
bool ResolveTarget(const std::string& text, JobTarget& target, std::string& error);
// Opens the area read-only, reads its size and its first 16 KiB, and
// classifies them. False with a message (missing, unreadable, too short).
bool ProbeArea(const JobTarget& target, AreaFacts& facts, std::string& error);

}  // namespace nuvarin::cli
