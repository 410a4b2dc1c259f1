#include "platform/volume.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
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
        if (c < '0' || c > '7') { ok = false; break; }
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

}  // namespace

fs::path MountPointOf(uint64_t devnum) {
  if (devnum == 0) return {};
  std::ifstream in("/proc/self/mountinfo");
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

int32_t ProbeFileSystem(const fs::path& devicePath, std::string& name, std::string* label) {
  name.clear();
  if (label) label->clear();
  blkid_probe pr = blkid_new_probe_from_filename(devicePath.c_str());
  if (!pr) return LastErrorCode();
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
      if (t == "ntfs") name = "NTFS";
      else if (t == "vfat") name = (version && std::string(version) == "FAT32") ? "FAT32" : "FAT";
      else if (t == "exfat") name = "exFAT";
      else name = t;
      if (label && lab) *label = lab;
      result = kOk;
    }
  }
  blkid_free_probe(pr);
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

}  // namespace nuvarin::platform
