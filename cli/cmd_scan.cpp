#include <iostream>

#include "cli/commands.h"
#include "cli/listing.h"
#include "cli/scan_session.h"

namespace nuvarin::cli {

int CmdScan(const std::vector<std::string>& args) {
  std::set<std::string> flags = kSessionFlags;
  flags.insert({"list", "json"});
  Options options(args, kSessionValueOptions, flags);
  if (!options.ok()) {
    std::cerr << "nuvarin scan: " << options.error() << "\n";
    return kExitUsage;
  }
  TerminalView view(/*quiet=*/false);
  ScanSession session(view);
  int code = session.Prepare(options);
  if (code != kExitDone) return code;
  code = session.Run();
  if (options.has("json")) {
    PrintJson(std::cout, session.Findings());
  } else {
    PrintSummary(std::cout, session.Findings());
    if (options.has("list")) PrintList(std::cout, session.Findings());
  }
  return code;
}

}  // namespace nuvarin::cli
