// The cancel and done protocol of a running job. The worker checks the cancel
// flag at every progress report (under the lock, so that a view that holds the
// lock while it asks "really cancel?" pauses the worker); the view sets it
// after the user confirmed, then waits for the done flag.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/error_codes.h"

namespace nuvarin {

class JobControl {
 public:
  // Clears both flags; called when a job starts.
  void Reset() {
    cancel_.store(false);
    done_.store(false);
  }
  std::mutex& Lock() { return lock_; }

  // Worker side: kCancelCode once cancelled, else 0. Takes the lock briefly.
  int32_t Check() {
    std::lock_guard<std::mutex> guard(lock_);
    return cancel_.load() ? kCancelCode : 0;
  }
  bool Cancelled() const { return cancel_.load(); }
  void MarkDone() { done_.store(true); }
  bool Done() const { return done_.load(); }

  // View side: set the flag (the caller may hold Lock() while asking first).
  void RequestCancel() { cancel_.store(true); }
  // View side: wait for the worker to finish, checking every 50 ms.
  void WaitDone() const {
    while (!done_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

 private:
  std::mutex lock_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> done_{false};
};

}  // namespace nuvarin
