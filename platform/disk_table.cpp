#include "platform/disk_table.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <fstream>
#include <mutex>

#include "platform/error_codes.h"

namespace fs = std::filesystem;

namespace nuvarin::platform {
namespace {

std::mutex g_rootMutex;
fs::path g_sysRoot = "/sys";
fs::path g_devRoot = "/dev";

bool HasPrefix(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool IsWholeDiskName(const std::string& name) {
  if (HasPrefix(name, "sd") || HasPrefix(name, "vd") || HasPrefix(name, "hd") ||
      HasPrefix(name, "xvd"))
    return true;
  if (HasPrefix(name, "mmcblk")) return name.find('p') == std::string::npos && name.find("boot") == std::string::npos && name.find("rpmb") == std::string::npos;
  if (HasPrefix(name, "nvme")) return name.find('n') != std::string::npos && name.find('p') == std::string::npos;
  return false;
}

uint64_t ParseDevnum(const std::string& text) {
  auto colon = text.find(':');
  if (colon == std::string::npos) return 0;
  try {
    unsigned long major = std::stoul(text.substr(0, colon));
    unsigned long minor = std::stoul(text.substr(colon + 1));
    return makedev(major, minor);
  } catch (...) {
    return 0;
  }
}

uint64_t ParseU64(const std::string& text) {
  try {
    return text.empty() ? 0 : std::stoull(text);
  } catch (...) {
    return 0;
  }
}

}  // namespace

void SetSysfsRoot(const fs::path& root) {
  std::lock_guard<std::mutex> lock(g_rootMutex);
  g_sysRoot = root.empty() ? fs::path("/sys") : root;
}

void SetDevRoot(const fs::path& root) {
  std::lock_guard<std::mutex> lock(g_rootMutex);
  g_devRoot = root.empty() ? fs::path("/dev") : root;
}

fs::path SysfsRoot() {
  std::lock_guard<std::mutex> lock(g_rootMutex);
  return g_sysRoot;
}

fs::path DevRoot() {
  std::lock_guard<std::mutex> lock(g_rootMutex);
  return g_devRoot;
}

std::string ReadSysAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line;
}

std::vector<SysDisk> ListWholeDisks() {
  std::vector<SysDisk> disks;
  const fs::path block = SysfsRoot() / "block";
  const fs::path dev = DevRoot();
  std::error_code ec;
  for (fs::directory_iterator it(block, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    bool take = IsWholeDiskName(name);
    if (!take && HasPrefix(name, "loop")) {
      take = !ReadSysAttribute(it->path() / "loop" / "backing_file").empty();
    }
    if (!take) continue;
    SysDisk disk;
    disk.name = name;
    disk.devicePath = dev / name;
    disk.devnum = ParseDevnum(ReadSysAttribute(it->path() / "dev"));
    disks.push_back(std::move(disk));
  }
  std::sort(disks.begin(), disks.end(), [](const SysDisk& a, const SysDisk& b) { return a.name < b.name; });
  return disks;
}

int32_t DiskDevicePath(uint32_t index, fs::path& out) {
  auto disks = ListWholeDisks();
  if (index >= disks.size()) return kErrFileNotFound;
  out = disks[index].devicePath;
  return kOk;
}

std::vector<SysPartition> ListPartitions(const std::string& diskName) {
  std::vector<SysPartition> parts;
  const fs::path diskDir = SysfsRoot() / "block" / diskName;
  const fs::path dev = DevRoot();
  std::error_code ec;
  for (fs::directory_iterator it(diskDir, ec), end; !ec && it != end; it.increment(ec)) {
    if (!fs::exists(it->path() / "partition")) continue;
    SysPartition p;
    p.name = it->path().filename().string();
    p.devicePath = dev / p.name;
    p.number = static_cast<uint32_t>(ParseU64(ReadSysAttribute(it->path() / "partition")));
    p.start = ParseU64(ReadSysAttribute(it->path() / "start"));
    p.size = ParseU64(ReadSysAttribute(it->path() / "size"));
    p.devnum = ParseDevnum(ReadSysAttribute(it->path() / "dev"));
    parts.push_back(std::move(p));
  }
  std::sort(parts.begin(), parts.end(), [](const SysPartition& a, const SysPartition& b) {
    return a.start != b.start ? a.start < b.start : a.number < b.number;
  });
  return parts;
}

std::optional<SysPartition> FindPartitionAt(uint32_t index, uint64_t startSector) {
  auto disks = ListWholeDisks();
  if (index >= disks.size()) return std::nullopt;
  for (auto& p : ListPartitions(disks[index].name)) {
    if (p.start == startSector) return p;
  }
  return std::nullopt;
}

}  // namespace nuvarin::platform
