#include <iostream>

#include "cli/commands.h"
#include "cli/listing.h"
#include "cli/options.h"
#include "cli/targets.h"
#include "storage/text_helpers.h"

namespace nuvarin::cli {

int CmdInfo(const std::vector<std::string>& args) {
  Options options(args, {}, {"json"});
  if (!options.ok() || options.positional().size() != 1) {
    std::cerr << "nuvarin info: " << (options.ok() ? "give exactly one TARGET" : options.error()) << "\n";
    return kExitUsage;
  }
  JobTarget target;
  AreaFacts facts;
  std::string error;
  if (!ResolveTarget(options.positional()[0], target, error) || !ProbeArea(target, facts, error)) {
    std::cerr << "nuvarin: " << error << "\n";
    return kExitFailed;
  }
  if (options.has("json")) {
    std::cout << "{\"target\": " << JsonString(target.description) << ", \"bytes\": " << facts.bytes
              << ", \"sectors\": " << facts.sectors << ", \"sectorSize\": " << facts.sectorSize
              << ", \"fileSystem\": \"" << AreaClassName(facts.areaClass) << "\"}\n";
    return kExitDone;
  }
  std::cout << "Target:      " << target.description << "\n"
            << "Size:        " << facts.bytes << " bytes (" << SizeText(static_cast<int64_t>(facts.bytes)) << ")\n"
            << "Sectors:     " << facts.sectors << "\n"
            << "Sector size: " << facts.sectorSize << " bytes\n"
            << "Holds:       " << AreaClassName(facts.areaClass) << "\n";
  return kExitDone;
}

}  // namespace nuvarin::cli
