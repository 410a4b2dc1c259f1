#include <iostream>

#include "cli/commands.h"

namespace nuvarin::cli {

int CmdImage(const std::vector<std::string>&) {
  std::cerr << "nuvarin: the image command is not available in this version yet\n";
  return kExitFailed;
}

}  // namespace nuvarin::cli
