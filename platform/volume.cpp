#include "platform/volume.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/disk_table.h"
#include "platform/error_codes.h"

namespace fs = std::filesystem;

namespace nuvarin::platform {
namespace {

// mountinfo escapes blanks and a few other characters as \ooo.
std::string UnescapeMountField(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size()) {
      int v = 0;
      bool ok = true;
      for (size_t k = 1; k <= 3; ++k) {
        char c = s[i + k];
        if (c < '0' || c > '7') {
          ok = false;
          break;
        }
        v = v * 8 + (c - '0');
      }
      if (ok) {
        out.push_back(static_cast<char>(v));
        i += 3;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

std::mutex g_mountInfoMutex;
fs::path g_mountInfoPath = "/proc/self/mountinfo";

fs::path MountInfoPath() {
  std::lock_guard<std::mutex> lock(g_mountInfoMutex);
  return g_mountInfoPath;
}

// Reads TYPE, VERSION and LABEL from a probe that has its device set.
int32_t ProbeNames(blkid_probe pr, std::string& name, std::string* label) {
  blkid_probe_enable_superblocks(pr, 1);
  blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL | BLKID_SUBLKS_VERSION);
  int32_t result = kErrInvalidParameter;
  if (blkid_do_safeprobe(pr) == 0) {
    const char* type = nullptr;
    const char* version = nullptr;
    const char* lab = nullptr;
    blkid_probe_lookup_value(pr, "TYPE", &type, nullptr);
    blkid_probe_lookup_value(pr, "VERSION", &version, nullptr);
    blkid_probe_lookup_value(pr, "LABEL", &lab, nullptr);
    if (type) {
      std::string t = type;
      if (t == "ntfs")
        name = "NTFS";
      else if (t == "vfat")
        name = (version && std::string(version) == "FAT32") ? "FAT32" : "FAT";
      else if (t == "exfat")
        name = "exFAT";
      else
        name = t;
      if (label && lab) *label = lab;
      result = kOk;
    }
  }
  return result;
}

}  // namespace

void SetMountInfoPath(const fs::path& path) {
  std::lock_guard<std::mutex> lock(g_mountInfoMutex);
  g_mountInfoPath = path.empty() ? fs::path("/proc/self/mountinfo") : path;
}

fs::path MountPointOf(uint64_t devnum) {
  if (devnum == 0) return {};
  std::ifstream in(MountInfoPath());
  std::string line;
  const std::string want = std::to_string(major(devnum)) + ":" + std::to_string(minor(devnum));
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majmin, root, mountPoint;
    if (!(fields >> id >> parent >> majmin >> root >> mountPoint)) continue;
    if (majmin == want) return UnescapeMountField(mountPoint);
  }
  return {};
}

void FlushPartition(const fs::path& devicePath, uint64_t devnum) {
  fs::path mount = MountPointOf(devnum);
  if (!mount.empty()) {
    int fd = ::open(mount.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      ::syncfs(fd);
      ::close(fd);
    }
  }
  if (!devicePath.empty()) {
    int fd = ::open(devicePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      ::fsync(fd);
      ::close(fd);
    }
  }
}

int32_t FreeBytesAt(const fs::path& path, uint64_t& bytes) {
  bytes = 0;
  struct statvfs st {};
  if (::statvfs(path.c_str(), &st) != 0) return LastErrorCode();
  bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  return kOk;
}

int32_t VolumeSpace(const fs::path& mountPoint, uint64_t& totalBytes, uint64_t& freeBytes) {
  totalBytes = freeBytes = 0;
  struct statvfs st {};
  if (::statvfs(mountPoint.c_str(), &st) != 0) return LastErrorCode();
  totalBytes = static_cast<uint64_t>(st.f_blocks) * st.f_frsize;
  freeBytes = static_cast<uint64_t>(st.f_bfree) * st.f_frsize;
  return kOk;
}

int32_t ProbeFileSystem(const fs::path& devicePath, std::string& name, std::string* label) {
  name.clear();
  if (label) label->clear();
  errno = 0;
  blkid_probe pr = blkid_new_probe_from_filename(devicePath.c_str());
  if (!pr) return errno != 0 ? LastErrorCode() : kErrReadFault;
  int32_t result = ProbeNames(pr, name, label);
  blkid_free_probe(pr);
  return result;
}

int32_t ProbeFileSystemAt(const fs::path& devicePath, uint64_t offsetBytes, uint64_t sizeBytes,
                          std::string& name, std::string* label) {
  name.clear();
  if (label) label->clear();
  if (sizeBytes == 0 || offsetBytes > static_cast<uint64_t>(INT64_MAX) ||
      sizeBytes > static_cast<uint64_t>(INT64_MAX))
    return kErrInvalidParameter;
  int fd = ::open(devicePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return LastErrorCode();
  int32_t result = kErrNotEnoughMemory;
  if (blkid_probe pr = blkid_new_probe()) {
    if (blkid_probe_set_device(pr, fd, static_cast<blkid_loff_t>(offsetBytes),
                               static_cast<blkid_loff_t>(sizeBytes)) == 0) {
      result = ProbeNames(pr, name, label);
    } else {
      result = kErrReadFault;
    }
    blkid_free_probe(pr);
  }
  ::close(fd);
  return result;
}

bool IsRemovableDiskName(const std::string& diskName) {
  if (diskName.rfind("mmcblk", 0) == 0) return true;
  const fs::path dir = SysfsRoot() / "block" / diskName;
  if (ReadSysAttribute(dir / "removable") == "1") return true;
  std::error_code ec;
  fs::path real = fs::canonical(dir, ec);
  if (!ec && real.string().find("/usb") != std::string::npos) return true;
  return false;
}

int32_t DeviceOfPath(const fs::path& path, uint64_t& devnum) {
  devnum = 0;
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  if (ec) p = path;
  // Bounded by the number of components of the path.
  for (int depth = 0; depth < 4096; ++depth) {
    struct stat st {};
    if (::stat(p.c_str(), &st) == 0) {
      devnum = st.st_dev;
      return kOk;
    }
    if (errno != ENOENT && errno != ENOTDIR) return LastErrorCode();
    fs::path parent = p.parent_path();
    if (parent.empty() || parent == p) break;
    p = parent;
  }
  return kErrPathNotFound;
}

int32_t FileSystemOfPath(const fs::path& path, std::string& name) {
  name.clear();
  uint64_t devnum = 0;
  int32_t rc = DeviceOfPath(path, devnum);
  if (rc != kOk) return rc;
  std::ifstream in(MountInfoPath());
  std::string line;
  const std::string want = std::to_string(major(devnum)) + ":" + std::to_string(minor(devnum));
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majmin;
    if (!(fields >> id >> parent >> majmin) || majmin != want) continue;
    // Optional fields end at " - ", then come the type and the source.
    size_t dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    std::istringstream tail(line.substr(dash + 3));
    std::string type, source;
    tail >> type >> source;
    source = UnescapeMountField(source);
    if (source.rfind("/dev/", 0) == 0 && (type == "vfat" || type == "msdos" || type == "fuseblk" ||
                                          type == "exfat" || type == "ntfs" || type == "ntfs3")) {
      std::string probed;
      if (ProbeFileSystem(source, probed) == kOk) {
        name = probed;
        return kOk;
      }
    }
    if (type == "vfat" || type == "msdos")
      name = "FAT";
    else if (type == "exfat")
      name = "exFAT";
    else if (type == "ntfs" || type == "ntfs3")
      name = "NTFS";
    else
      name = type;
    return kOk;
  }
  return kErrFileNotFound;
}

}  // namespace nuvarin::platform
