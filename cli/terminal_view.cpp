#include "cli/terminal_view.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>

#include "platform/clock.h"
#include "platform/error_codes.h"
#include "storage/text_helpers.h"

namespace nuvarin::cli {
namespace {

std::atomic<JobControl*> g_cancelTarget{nullptr};
std::atomic<bool> g_interrupted{false};

void HandleInterrupt(int) {
  g_interrupted.store(true);
  JobControl* control = g_cancelTarget.load();
  if (control) {
    control->RequestCancel();
  } else {
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
  }
}

}  // namespace

void InstallInterruptHandler() { std::signal(SIGINT, HandleInterrupt); }
void SetCancelTarget(JobControl* control) { g_cancelTarget.store(control); }
bool Interrupted() { return g_interrupted.load(); }

TerminalView::TerminalView(bool quiet) : interactive_(::isatty(STDERR_FILENO) == 1), quiet_(quiet) {}

TerminalView::~TerminalView() { EndLine(); }

void TerminalView::Draw(const std::string& line) {
  if (!interactive_ || quiet_) return;
  std::fprintf(stderr, "\r\033[2K%s", line.c_str());
  std::fflush(stderr);
  barShown_ = true;
}

void TerminalView::EndLine() {
  if (barShown_) {
    std::fputc('\n', stderr);
    std::fflush(stderr);
    barShown_ = false;
  }
}

void TerminalView::OnStage(const std::string& text) {
  if (quiet_) return;
  EndLine();
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

void TerminalView::OnProgress(const JobProgress& p) {
  if (!interactive_ || quiet_) return;
  uint64_t now = platform::TickMs();
  if (p.percent < 100 && now - lastDrawMs_ < 100) return;
  lastDrawMs_ = now;
  int percent = p.percent < 0 ? 0 : (p.percent > 100 ? 100 : p.percent);
  const int width = 30;
  int filled = percent * width / 100;
  std::string bar = "[" + std::string(filled, '#') + std::string(width - filled, '.') + "]";
  char head[32];
  std::snprintf(head, sizeof(head), " %3d%%", percent);
  std::string line = bar + head;
  line += p.etaSeconds < 0 ? "  estimating time" : "  " + DurationText(p.etaSeconds) + " left";
  if (p.sectorsTotal != 0) {
    line += "  sectors " + std::to_string(p.sectorsDone) + "/" + std::to_string(p.sectorsTotal);
    if (showFiles_) line += "  files " + std::to_string(p.filesFound);
  }
  Draw(line);
}

bool TerminalView::AskContinuePrevious(const std::string& description) {
  if (resumeAnswer_ >= 0) return resumeAnswer_ == 1;
  if (::isatty(STDIN_FILENO) != 1 || ::isatty(STDERR_FILENO) != 1) return true;
  EndLine();
  std::fprintf(stderr, "An unfinished deep scan of %s was found. Continue it? [Y/n] ", description.c_str());
  std::fflush(stderr);
  std::string answer;
  if (!std::getline(std::cin, answer)) return true;
  return !(answer.size() > 0 && (answer[0] == 'n' || answer[0] == 'N'));
}

void TerminalView::OnFileDone(const std::string& path, int32_t error, const RecoverCounts& counts) {
  if (quiet_) return;
  if (error != 0 && error != kCancelCode) {
    EndLine();
    std::fprintf(stderr, "failed: %s: %s\n", path.c_str(), ErrorMessage(error).c_str());
  }
  if (!interactive_) return;
  int percent = counts.total ? static_cast<int>(counts.processed * 100 / counts.total) : 100;
  Draw("[" + std::to_string(counts.processed) + "/" + std::to_string(counts.total) + "] " +
       std::to_string(percent) + "%  " + path);
}

void TerminalView::OnFileProgress(const std::string& path, int32_t percent, const RecoverCounts& counts) {
  if (!interactive_ || quiet_) return;
  uint64_t now = platform::TickMs();
  if (now - lastDrawMs_ < 100) return;
  lastDrawMs_ = now;
  Draw("[" + std::to_string(counts.processed) + "/" + std::to_string(counts.total) + "] " +
       std::to_string(percent) + "%  " + path);
}

void TerminalView::OnMessage(const std::string& text) {
  EndLine();
  std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace nuvarin::cli
