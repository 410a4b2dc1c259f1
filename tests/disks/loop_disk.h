// A loop device attached to an image file for one test, with the kernel
// told about its partitions; detached again (only this one) when the guard
// goes, also when the test fails.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/disk_table.h"
#include "tests/support/test_support.h"

namespace nuvarin::test {

// Names of the disk table, in disk-number order. Other tests attach and
// detach loop devices at the same time, which renumbers the disks after
// them; a step that works with disk numbers is repeated until the table
// stayed the same while it ran.
inline std::string DiskTableNames() {
  std::string names;
  for (const auto& d : platform::ListWholeDisks()) names += d.name + " ";
  return names;
}
template <class Step>
void WithStableDiskTable(Step step) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    const std::string before = DiskTableNames();
    step();
    if (DiskTableNames() == before) return;
  }
}

class LoopDisk {
 public:
  LoopDisk() = default;
  LoopDisk(const LoopDisk&) = delete;
  LoopDisk& operator=(const LoopDisk&) = delete;
  ~LoopDisk() { Detach(); }

  // Attaches `image`; with `partitions` the kernel learns the table.
  ::testing::AssertionResult Attach(const std::filesystem::path& image, bool partitions) {
    for (const char* tool : {"losetup", "partx"}) {
      if (!HaveTool(tool)) return ::testing::AssertionFailure() << tool << " (util-linux) is needed";
    }
    auto r = RunCommand("losetup -f --show " + ShellQuote(image.string()));
    if (r.exitCode != 0) return ::testing::AssertionFailure() << "losetup: " << r.output;
    device_ = r.output.substr(0, r.output.find('\n'));
    if (partitions) {
      r = RunCommand("partx -a " + device_);
      if (r.exitCode != 0) return ::testing::AssertionFailure() << "partx -a: " << r.output;
      partitioned_ = true;
    }
    return ::testing::AssertionSuccess();
  }
  void Detach() {
    if (device_.empty()) return;
    if (partitioned_) RunCommand("partx -d " + device_);
    RunCommand("losetup -d " + device_);
    device_.clear();
  }
  const std::string& device() const { return device_; }
  std::string Partition(int n) const { return device_ + "p" + std::to_string(n); }

 private:
  std::string device_;
  bool partitioned_ = false;
};

// An ntfs-3g mount of a device, ended (and waited for) with the guard.
class NtfsMount {
 public:
  ~NtfsMount() { Unmount(); }
  ::testing::AssertionResult Mount(const std::string& device, const std::filesystem::path& dir) {
    if (!HaveTool("ntfs-3g")) return ::testing::AssertionFailure() << "ntfs-3g is needed";
    dir_ = dir;
    std::filesystem::create_directories(dir);
    auto r = RunCommand("ntfs-3g -o no_detach " + ShellQuote(device) + " " + ShellQuote(dir.string()) +
                        " >/dev/null 2>&1 & echo $!");
    pid_ = r.output.substr(0, r.output.find('\n'));
    for (int i = 0; i < 100; ++i) {
      if (RunCommand("mountpoint -q " + ShellQuote(dir.string())).exitCode == 0)
        return ::testing::AssertionSuccess();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return ::testing::AssertionFailure() << "ntfs-3g did not mount " << device;
  }
  void Unmount() {
    if (pid_.empty()) return;
    RunCommand("umount " + ShellQuote(dir_.string()) + "; for i in $(seq 100); do kill -0 " + pid_ +
               " 2>/dev/null || break; sleep 0.05; done");
    pid_.clear();
  }

 private:
  std::filesystem::path dir_;
  std::string pid_;
};

}  // namespace nuvarin::test
