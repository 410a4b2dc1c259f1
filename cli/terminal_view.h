// The command line's face of a job: a progress bar on stderr when stderr is a
// terminal, plain stage lines otherwise, and Ctrl-C turned into a cancel.
#pragma once
#include <cstdint>
#include <string>

#include "jobs/job_control.h"
#include "jobs/job_view.h"

namespace nuvarin::cli {

class TerminalView : public IJobView {
 public:
  // assumeYes: the answer to questions when there is no terminal to ask on.
  explicit TerminalView(bool quiet = false);
  ~TerminalView() override;

  void OnStage(const std::string& text) override;
  void OnProgress(const JobProgress& progress) override;
  bool AskContinuePrevious(const std::string& description) override;
  void OnFileDone(const std::string& path, int32_t error, const RecoverCounts& counts) override;
  void OnFileProgress(const std::string& path, int32_t percent, const RecoverCounts& counts) override;
  void OnMessage(const std::string& text) override;

  // Ends the bar line, so that later output starts on a fresh line.
  void EndLine();
  bool Interactive() const { return interactive_; }
  // Pre-set answer to AskContinuePrevious (--resume / --fresh); -1 asks.
  void SetResumeAnswer(int answer) { resumeAnswer_ = answer; }
  // Jobs that find no files (disk imaging) leave the file count out.
  void SetShowFileCount(bool show) { showFiles_ = show; }

 private:
  void Draw(const std::string& line);
  bool interactive_;
  bool quiet_;
  bool barShown_ = false;
  uint64_t lastDrawMs_ = 0;
  int resumeAnswer_ = -1;
  bool showFiles_ = true;
};

// Ctrl-C cancels the job whose control is installed; a second Ctrl-C while
// nothing listens ends the program as usual.
void InstallInterruptHandler();
void SetCancelTarget(JobControl* control);
// True once Ctrl-C was pressed during this run.
bool Interrupted();

}  // namespace nuvarin::cli
