// Arrival and removal of block devices, for the deferred refresh of the disk
// list. Listens to udev's own events and to the kernel's: without a running
// udev daemon only the kernel's arrive, with one both do and each change is
// reported once.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace nuvarin::platform {

struct DeviceEvent {
  enum class Change { kArrival, kRemoval, kOther };
  Change change = Change::kOther;
  std::string action;   // "add", "remove", "change", ...
  std::string name;     // kernel name ("sdb", "sdb1", "loop0p1")
  std::string devType;  // "disk" or "partition"
  uint64_t seqnum = 0;
};

class DeviceMonitor {
 public:
  DeviceMonitor() = default;
  ~DeviceMonitor();
  DeviceMonitor(const DeviceMonitor&) = delete;
  DeviceMonitor& operator=(const DeviceMonitor&) = delete;

  // Opens the monitors for subsystem "block". 0 when at least one source
  // could be opened.
  int32_t Start();
  void Stop();
  bool Running() const { return !fds_.empty(); }
  // Descriptors to wait on (a GUI event loop can watch them).
  std::vector<int> Fds() const { return fds_; }
  // Waits up to timeoutMs (0: do not wait) for events and appends every new
  // one. Returns the number appended.
  size_t Poll(int timeoutMs, std::vector<DeviceEvent>& out);

 private:
  bool Seen(uint64_t seqnum, const std::string& action, const std::string& name);
  void* udev_ = nullptr;
  std::vector<void*> monitors_;
  std::vector<int> fds_;
  std::deque<std::string> recent_;  // keys of the last events, to drop the second copy
};

}  // namespace nuvarin::platform
