#include "platform/disk_table.h"

#include <blkid/blkid.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
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
  if (HasPrefix(name, "sd") || HasPrefix(name, "vd") || HasPrefix(name, "hd") || HasPrefix(name, "xvd"))
    return true;
  if (HasPrefix(name, "mmcblk"))
    return name.find('p') == std::string::npos && name.find("boot") == std::string::npos &&
           name.find("rpmb") == std::string::npos;
  if (HasPrefix(name, "nvme"))
    return name.find('n') != std::string::npos && name.find('p') == std::string::npos;
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
    // Hidden block devices (the per-path nodes of multipath NVMe) repeat a
    // disk that is listed under its own name.
    if (!take || ReadSysAttribute(it->path() / "hidden") == "1") continue;
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

uint64_t DiskSize512(const std::string& diskName) {
  return ParseU64(ReadSysAttribute(SysfsRoot() / "block" / diskName / "size"));
}

uint32_t DiskLogicalSectorSize(const std::string& diskName) {
  uint64_t size =
      ParseU64(ReadSysAttribute(SysfsRoot() / "block" / diskName / "queue" / "logical_block_size"));
  // Only the sizes real drives use; anything else in the file is not trusted.
  if (size < 512 || size > 65536 || (size & (size - 1)) != 0) return 512;
  return static_cast<uint32_t>(size);
}

std::string DiskModel(const std::string& diskName) {
  std::string model = ReadSysAttribute(SysfsRoot() / "block" / diskName / "device" / "model");
  while (!model.empty() && std::isspace(static_cast<unsigned char>(model.back()))) model.pop_back();
  size_t lead = 0;
  while (lead < model.size() && std::isspace(static_cast<unsigned char>(model[lead]))) ++lead;
  return model.substr(lead);
}

std::vector<uint64_t> UnderlyingDevices(uint64_t devnum) {
  std::vector<uint64_t> out;
  std::vector<uint64_t> todo{devnum};
  while (!todo.empty() && out.size() < 64) {
    const uint64_t d = todo.back();
    todo.pop_back();
    if (d == 0 || std::find(out.begin(), out.end(), d) != out.end()) continue;
    out.push_back(d);
    const fs::path dir =
        SysfsRoot() / "dev" / "block" / (std::to_string(major(d)) + ":" + std::to_string(minor(d)));
    std::error_code ec;
    for (fs::directory_iterator it(dir / "slaves", ec), end; !ec && it != end; it.increment(ec)) {
      todo.push_back(ParseDevnum(ReadSysAttribute(it->path() / "dev")));
    }
    const std::string backing = ReadSysAttribute(dir / "loop" / "backing_file");
    struct stat st {};
    if (!backing.empty() && ::stat(backing.c_str(), &st) == 0) todo.push_back(st.st_dev);
  }
  return out;
}

bool RunningAsRoot() { return ::geteuid() == 0; }

int32_t ReadPartitionTable(const fs::path& diskPath, std::string& tableType,
                           std::vector<TableEntry>& entries) {
  tableType.clear();
  entries.clear();
  errno = 0;
  blkid_probe pr = blkid_new_probe_from_filename(diskPath.c_str());
  if (!pr) return errno != 0 ? LastErrorCode() : kErrReadFault;
  blkid_probe_enable_superblocks(pr, 0);
  blkid_probe_enable_partitions(pr, 1);
  blkid_probe_set_partitions_flags(pr, BLKID_PARTS_ENTRY_DETAILS);
  blkid_partlist list = blkid_probe_get_partitions(pr);
  if (list) {
    if (blkid_parttable root = blkid_partlist_get_table(list)) {
      if (const char* t = blkid_parttable_get_type(root)) tableType = t;
    }
    int n = blkid_partlist_numof_partitions(list);
    // A table holds at most a few hundred entries; more is a damaged table.
    for (int i = 0; i < n && i < 1024; ++i) {
      blkid_partition par = blkid_partlist_get_partition(list, i);
      if (!par) continue;
      TableEntry e;
      int number = blkid_partition_get_partno(par);
      blkid_loff_t start = blkid_partition_get_start(par);
      blkid_loff_t size = blkid_partition_get_size(par);
      if (number <= 0 || start < 0 || size <= 0) continue;
      e.number = static_cast<uint32_t>(number);
      e.start = static_cast<uint64_t>(start);
      e.size = static_cast<uint64_t>(size);
      e.extended = blkid_partition_is_extended(par) != 0;
      int type = blkid_partition_get_type(par);
      if (type > 0 && type < 256) e.typeByte = static_cast<uint8_t>(type);
      if (const char* guid = blkid_partition_get_type_string(par)) {
        for (const char* c = guid; *c; ++c)
          e.typeGuid.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(*c))));
      }
      entries.push_back(std::move(e));
    }
  }
  blkid_free_probe(pr);
  return kOk;
}

}  // namespace nuvarin::platform
