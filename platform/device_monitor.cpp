#include "platform/device_monitor.h"

#include <libudev.h>
#include <poll.h>

#include <algorithm>
#include <cstdlib>

#include "platform/error_codes.h"

namespace nuvarin::platform {
namespace {

constexpr size_t kRecentKeys = 256;
// Events handled per Poll call, so that a storm of events cannot hold the caller.
constexpr size_t kMaxEventsPerPoll = 1024;

const char* Or(const char* s) { return s ? s : ""; }

}  // namespace

DeviceMonitor::~DeviceMonitor() { Stop(); }

int32_t DeviceMonitor::Start() {
  Stop();
  auto* udev = udev_new();
  if (!udev) return kErrNotEnoughMemory;
  udev_ = udev;
  for (const char* source : {"udev", "kernel"}) {
    udev_monitor* mon = udev_monitor_new_from_netlink(udev, source);
    if (!mon) continue;
    if (udev_monitor_filter_add_match_subsystem_devtype(mon, "block", nullptr) < 0 ||
        udev_monitor_enable_receiving(mon) < 0) {
      udev_monitor_unref(mon);
      continue;
    }
    monitors_.push_back(mon);
    fds_.push_back(udev_monitor_get_fd(mon));
  }
  if (monitors_.empty()) {
    Stop();
    return kErrAccessDenied;
  }
  return kOk;
}

void DeviceMonitor::Stop() {
  for (void* m : monitors_) udev_monitor_unref(static_cast<udev_monitor*>(m));
  monitors_.clear();
  fds_.clear();
  if (udev_) udev_unref(static_cast<struct udev*>(udev_));
  udev_ = nullptr;
  recent_.clear();
}

bool DeviceMonitor::Seen(uint64_t seqnum, const std::string& action, const std::string& name) {
  // The kernel's copy and udev's copy of one event share the sequence number.
  std::string key = std::to_string(seqnum) + " " + action + " " + name;
  if (std::find(recent_.begin(), recent_.end(), key) != recent_.end()) return true;
  recent_.push_back(std::move(key));
  if (recent_.size() > kRecentKeys) recent_.pop_front();
  return false;
}

size_t DeviceMonitor::Poll(int timeoutMs, std::vector<DeviceEvent>& out) {
  if (monitors_.empty()) return 0;
  std::vector<pollfd> pfds;
  for (int fd : fds_) pfds.push_back({fd, POLLIN, 0});
  size_t added = 0;
  size_t handled = 0;
  int wait = timeoutMs;
  while (handled < kMaxEventsPerPoll) {
    int n = ::poll(pfds.data(), pfds.size(), wait);
    if (n <= 0) break;
    wait = 0;  // after the first events, only collect what is already queued
    for (size_t i = 0; i < pfds.size(); ++i) {
      if (!(pfds[i].revents & POLLIN)) continue;
      udev_device* dev = udev_monitor_receive_device(static_cast<udev_monitor*>(monitors_[i]));
      ++handled;
      if (!dev) continue;
      DeviceEvent e;
      e.action = Or(udev_device_get_action(dev));
      e.name = Or(udev_device_get_sysname(dev));
      e.devType = Or(udev_device_get_devtype(dev));
      e.seqnum = udev_device_get_seqnum(dev);
      e.change = e.action == "add"      ? DeviceEvent::Change::kArrival
                 : e.action == "remove" ? DeviceEvent::Change::kRemoval
                                        : DeviceEvent::Change::kOther;
      udev_device_unref(dev);
      if (Seen(e.seqnum, e.action, e.name)) continue;
      out.push_back(std::move(e));
      ++added;
    }
  }
  return added;
}

}  // namespace nuvarin::platform
