#include <iostream>
#include <system_error>

#include "cli/commands.h"
#include "cli/scan_session.h"
#include "disks/area_resolver.h"
#include "jobs/recover_job.h"
#include "jobs/scan_job.h"
#include "platform/error_codes.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

namespace nuvarin::cli {

int CmdRecover(const std::vector<std::string>& args) {
  std::set<std::string> values = kSessionValueOptions;
  values.insert({"to", "layout"});
  std::set<std::string> flags = kSessionFlags;
  flags.insert("allow-same-device");
  Options options(args, values, flags);
  if (!options.ok()) {
    std::cerr << "nuvarin recover: " << options.error() << "\n";
    return kExitUsage;
  }
  if (options.value("to").empty()) {
    std::cerr << "nuvarin recover: give the destination folder with --to DIR\n";
    return kExitUsage;
  }
  std::string layoutWord = options.value("layout", "types");
  RecoverLayout layout;
  if (layoutWord == "types") {
    layout = RecoverLayout::kByType;
  } else if (layoutWord == "folders") {
    layout = RecoverLayout::kByFolder;
  } else {
    std::cerr << "nuvarin recover: --layout is types or folders\n";
    return kExitUsage;
  }

  TerminalView view;
  ScanSession session(view);
  int code = session.Prepare(options);
  if (code != kExitDone) return code;

  std::error_code ec;
  fs::path destination = fs::absolute(options.value("to"), ec);
  int32_t rc = platform::CreateFolders(destination);
  if (rc != kOk && rc != kErrAlreadyExists) {
    std::cerr << "nuvarin recover: cannot create the destination " << destination.string() << ": "
              << ErrorMessage(rc) << "\n";
    return kExitFailed;
  }
  if (!session.Target().area.IsImage() && !options.has("allow-same-device") &&
      DestinationOnScannedArea(session.Target().area, destination)) {
    std::cerr << "nuvarin recover: the destination " << destination.string() << " lies on "
              << session.Target().description
              << ", the area being recovered. Writing there can overwrite the very files you want back. "
                 "Choose a folder on another disk (or pass --allow-same-device if you accept the risk).\n";
    return kExitFailed;
  }

  int scanCode = session.Run();
  if (scanCode == kExitCancelled) {
    std::cerr << "nuvarin recover: cancelled before recovery; nothing was written.\n";
    return kExitCancelled;
  }

  JobControl control;
  SetCancelTarget(&control);
  RecoverJob job(view, control);
  int jobCode = job.Run(session.Findings(), destination, layout);
  SetCancelTarget(nullptr);
  view.EndLine();

  const RecoverCounts& counts = job.Counts();
  std::cout << "Recovered " << (counts.processed - counts.failed) << " of " << counts.processed
            << " file" << (counts.processed == 1 ? "" : "s") << " to " << destination.string();
  if (counts.failed) std::cout << " (" << counts.failed << " failed)";
  std::cout << "\n";
  for (const RecoverFailure& f : job.Failures()) {
    std::cout << "  failed: " << f.path << ": " << ErrorMessage(f.error) << "\n";
  }
  if (jobCode == kJobCancelled) {
    std::cerr << "nuvarin recover: cancelled; the files written so far are kept.\n";
    return kExitCancelled;
  }
  if (counts.failed || scanCode != kExitDone) return kExitFailed;
  return kExitDone;
}

}  // namespace nuvarin::cli
