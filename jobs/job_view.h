// The face of a job: what a job reports while it runs. The command line is one
// view, the desktop program's job windows are another; the job logic is the
// same for both.
#pragma once
#include <cstdint>
#include <string>

namespace nuvarin {

struct JobProgress {
  int32_t percent = 0;        // shown share: engine percent x weight / 100
  int32_t etaSeconds = -1;    // -1 while unknown
  uint64_t sectorsDone = 0;
  uint64_t sectorsTotal = 0;  // 0: the engine reports no totals
  uint64_t filesFound = 0;
};

struct RecoverCounts {
  uint64_t processed = 0;
  uint64_t failed = 0;
  uint64_t total = 0;
};

class IJobView {
 public:
  virtual ~IJobView() = default;
  // What is being worked on ("Scanning image /x.img", ...).
  virtual void OnStage(const std::string& text) = 0;
  // Scan, search and image progress.
  virtual void OnProgress(const JobProgress& progress) = 0;
  // An unfinished earlier deep scan of the same area exists: continue it?
  virtual bool AskContinuePrevious(const std::string& description) = 0;
  // Recovery: one file finished (error 0 = success) and the running counts.
  virtual void OnFileDone(const std::string& path, int32_t error, const RecoverCounts& counts) = 0;
  // Recovery: the file being written and its share done.
  virtual void OnFileProgress(const std::string& path, int32_t percent, const RecoverCounts& counts) = 0;
  // A message for the user (warnings, errors that do not end the job).
  virtual void OnMessage(const std::string& text) = 0;
};

// A view that ignores everything (tests, background work). Questions answer
// "continue".
class NullJobView : public IJobView {
 public:
  void OnStage(const std::string&) override {}
  void OnProgress(const JobProgress&) override {}
  bool AskContinuePrevious(const std::string&) override { return true; }
  void OnFileDone(const std::string&, int32_t, const RecoverCounts&) override {}
  void OnFileProgress(const std::string&, int32_t, const RecoverCounts&) override {}
  void OnMessage(const std::string&) override {}
};

}  // namespace nuvarin
