#include "cli/scan_session.h"

#include <iostream>

#include "cli/commands.h"
#include "jobs/scan_job.h"
#include "platform/error_codes.h"
#include "storage/engine_factory.h"

namespace nuvarin::cli {

const std::set<std::string> kSessionValueOptions = {"mode", "types"};
const std::set<std::string> kSessionFlags = {"resume", "fresh"};

const char* SourceKindName(uint32_t sourceKind) {
  switch (sourceKind) {
    case kSourceFastNtfs: return "fast-ntfs";
    case kSourceFastFat: return "fast-fat";
    case kSourceNtfsRecordSearch: return "ntfs-records";
    case kSourceFatDirectorySearch: return "fat-directories";
    case kSourceSignature: return "signature";
    default: return "unknown";
  }
}

namespace {

bool ParseTypes(const std::string& list, std::vector<FileGroup>& groups, std::string& error) {
  groups.clear();
  if (list.empty()) {
    groups = {FileGroup::kPhoto, FileGroup::kAudio, FileGroup::kVideo,
              FileGroup::kDocument, FileGroup::kArchive, FileGroup::kOthers};
    return true;
  }
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string word = list.substr(start, comma - start);
    FileGroup g;
    if (!ParseGroupName(word, g)) {
      error = "unknown file type group \"" + word + "\"; use any of photo,audio,video,document,archive,other";
      return false;
    }
    bool seen = false;
    for (FileGroup have : groups) seen |= (have == g);
    if (!seen) groups.push_back(g);
    start = comma + 1;
  }
  return true;
}

}  // namespace

int ScanSession::Prepare(const Options& options) {
  if (options.positional().size() != 1) {
    std::cerr << "nuvarin: give exactly one TARGET (an image file, a block device or a disk number)\n";
    return kExitUsage;
  }
  std::string mode = options.value("mode", "deleted");
  if (mode == "deleted") {
    professional_ = false;
  } else if (mode == "formatted" || mode == "deep") {
    professional_ = true;
  } else {
    std::cerr << "nuvarin: unknown mode \"" << mode << "\"; use deleted, formatted or deep\n";
    return kExitUsage;
  }
  std::string error;
  if (!ParseTypes(options.value("types"), groups_, error)) {
    std::cerr << "nuvarin: " << error << "\n";
    return kExitUsage;
  }
  if (options.has("resume") && options.has("fresh")) {
    std::cerr << "nuvarin: --resume and --fresh exclude each other\n";
    return kExitUsage;
  }
  if (options.has("resume")) view_.SetResumeAnswer(1);
  if (options.has("fresh")) view_.SetResumeAnswer(0);

  if (!ResolveTarget(options.positional()[0], target_, error) || !ProbeArea(target_, facts_, error)) {
    std::cerr << "nuvarin: " << error << "\n";
    return kExitFailed;
  }
  if (!EngineAvailable(facts_.areaClass, professional_)) {
    if (professional_) {
      std::cerr << "nuvarin: the " << mode
                << " scan is not available in this version yet; use --mode deleted for a volume whose "
                   "file system is intact.\n";
    } else if (facts_.areaClass == AreaClass::kOther) {
      std::cerr << "nuvarin: no NTFS, FAT or ext file system starts at the beginning of "
                << target_.description
                << ". If the volume was formatted or its partition table lost, run a deep scan (--mode deep).\n";
    } else {
      std::cerr << "nuvarin: " << AreaClassName(facts_.areaClass) << " volumes cannot be scanned yet in this "
                << "version (" << target_.description << ").\n";
    }
    return kExitFailed;
  }
  return kExitDone;
}

int ScanSession::Run() {
  std::vector<JobTarget*> targets = {&target_};
  JobControl scanControl;
  SetCancelTarget(&scanControl);
  ScanJob scan(view_, scanControl);
  int code = scan.Run(targets, professional_);
  SetCancelTarget(nullptr);
  view_.EndLine();
  if (code == kJobFailed) {
    std::cerr << "nuvarin: could not start a scan of " << target_.description
              << ": the area could not be opened or its first 16 KiB could not be read.\n";
    return kExitFailed;
  }
  cancelled_ = scan.Cancelled();
  int32_t scanResult = target_.scanResult;
  if (cancelled_) view_.OnMessage("Scan cancelled; showing what was found so far.");

  JobControl searchControl;
  SetCancelTarget(&searchControl);
  SearchJob search(view_, searchControl);
  search.Run(targets, PatternForGroups(groups_), findings_);
  SetCancelTarget(nullptr);
  view_.EndLine();
  if (search.Cancelled()) cancelled_ = true;
  if (cancelled_) return kExitCancelled;
  if (scanResult != 0) {
    std::cerr << "nuvarin: the scan of " << target_.description << " ended with an error: "
              << ErrorMessage(scanResult) << " The findings listed may be incomplete.\n";
    return kExitFailed;
  }
  return kExitDone;
}

}  // namespace nuvarin::cli
