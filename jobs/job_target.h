// One scan target of the jobs: the area, a text that names it for the user,
// and the engine of its last scan (owned by the target).
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "storage/recovery_engine.h"

namespace nuvarin {

struct JobTarget {
  ScanTarget area;
  std::string description;  // "image /path/x.img", "partition 2 (/dev/sdb2)"
  std::unique_ptr<IFileRecoveryParse> engine;
  int32_t scanResult = 0;   // OpenLog's result of the last scan
  bool scanned = false;
};

}  // namespace nuvarin
