#include "jobs/recover_job.h"

#include <system_error>

#include "jobs/scan_job.h"
#include "storage/file_type_groups.h"
#include "storage/recovered_output.h"

namespace fs = std::filesystem;

namespace nuvarin {

int32_t RecoverJob::OnFile(void* context, int32_t percent, int32_t weight, int32_t errorCode, const char* path) {
  auto* self = static_cast<RecoverJob*>(context);
  std::lock_guard<std::mutex> guard(self->control_.Lock());
  if (self->control_.Cancelled()) return kCancelCode;
  int32_t shown = static_cast<int32_t>(static_cast<int64_t>(percent) * weight / 100);
  std::string where = path ? path : "";
  if (shown == 100) {
    if (errorCode != 0) {
      ++self->counts_.failed;
      self->failures_.push_back(RecoverFailure{where, errorCode});
    }
    ++self->counts_.processed;
    self->view_.OnFileDone(where, errorCode, self->counts_);
  } else {
    self->view_.OnFileProgress(where, shown, self->counts_);
  }
  return 0;
}

fs::path RecoverJob::UniquePath(const fs::path& path) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(path, ec))) return path;
  const fs::path folder = path.parent_path();
  const std::string stem = path.stem().string();
  const std::string ext = path.extension().string();
  for (uint32_t n = 1; n < 1000000; ++n) {
    fs::path candidate = folder / (stem + "(" + std::to_string(n) + ")" + ext);
    if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
  }
  return path;
}

fs::path RecoverJob::TypePath(const fs::path& destination, const FoundItem& item) {
  std::string name = SafeComponentName(item.Name());
  return UniquePath(destination / GroupFolderName(GroupOfName(name)) / name);
}

fs::path RecoverJob::FolderPath(const fs::path& destination, const std::string& itemFolderPath,
                                const FoundItem& item) {
  fs::path out = destination;
  size_t start = 0;
  while (start < itemFolderPath.size()) {
    size_t slash = itemFolderPath.find('/', start);
    if (slash == std::string::npos) slash = itemFolderPath.size();
    if (slash > start) out /= SafeComponentName(std::string_view(itemFolderPath).substr(start, slash - start));
    start = slash + 1;
  }
  return UniquePath(out / SafeComponentName(item.Name()));
}

uint32_t RecoverJob::BaseDepth(const fs::path& folder) {
  std::string s = folder.string();
  if (!s.empty()) s.pop_back();
  uint32_t n = 0;
  for (char c : s) n += (c == '/');
  return n;
}

int RecoverJob::Run(const std::vector<JobFinding>& findings, const fs::path& destination, RecoverLayout layout) {
  counts_ = RecoverCounts{};
  counts_.total = findings.size();
  failures_.clear();
  const uint32_t baseDepth = BaseDepth(destination);
  view_.OnStage("Recovering " + std::to_string(findings.size()) + " finding" + (findings.size() == 1 ? "" : "s") +
                " to " + destination.string());
  int code = kJobFinished;
  for (const JobFinding& f : findings) {
    if (!f.target || !f.target->engine) {
      std::lock_guard<std::mutex> guard(control_.Lock());
      ++counts_.processed;
      ++counts_.failed;
      failures_.push_back(RecoverFailure{std::string(f.item.Name()), kErrInvalidParameter});
      continue;
    }
    IFileRecoveryParse& engine = *f.target->engine;
    fs::path path;
    if (layout == RecoverLayout::kByFolder) {
      std::string folder;
      engine.GetItemPath(&f.item, folder);
      path = FolderPath(destination, folder, f.item);
    } else {
      path = TypePath(destination, f.item);
    }
    view_.OnFileProgress(path.string(), 0, counts_);
    if (engine.SetProgressCallback(nullptr, &RecoverJob::OnFile, this, 100) != 0) break;
    uint64_t before = counts_.processed;
    int32_t rc = engine.RecoverItem(&f.item, path, baseDepth);
    if (rc == kCancelCode || control_.Cancelled()) {
      code = kJobCancelled;
      break;
    }
    if (counts_.processed == before) {
      // The engine ended without a per-file report (it could not even start the
      // file): count it here so that no failure goes unseen.
      std::lock_guard<std::mutex> guard(control_.Lock());
      ++counts_.processed;
      if (rc != 0) {
        ++counts_.failed;
        failures_.push_back(RecoverFailure{path.string(), rc});
      }
      view_.OnFileDone(path.string(), rc, counts_);
    }
  }
  control_.MarkDone();
  return code;
}

}  // namespace nuvarin
