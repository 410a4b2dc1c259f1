#include <iostream>

#include "cli/commands.h"

namespace nuvarin::cli {

int CmdDisks(const std::vector<std::string>&) {
  std::cerr << "nuvarin: the disks command is not available in this version yet\n";
  return kExitFailed;
}

}  // namespace nuvarin::cli
