#include "platform/block_device.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include "platform/error_codes.h"

namespace nuvarin::platform {

int32_t QueryLogicalSectorSize(FileHandle handle, uint32_t& bytesPerSector) {
  int size = 0;
  if (::ioctl(handle, BLKSSZGET, &size) != 0) return LastErrorCode();
  if (size <= 0) return kErrInvalidParameter;
  bytesPerSector = static_cast<uint32_t>(size);
  return kOk;
}

uint32_t SectorSizeOr512(FileHandle handle) {
  uint32_t size = 0;
  if (!IsBlockDevice(handle) || QueryLogicalSectorSize(handle, size) != kOk) return 512;
  return size;
}

bool IsBlockDevice(FileHandle handle) {
  struct stat st {};
  return ::fstat(handle, &st) == 0 && S_ISBLK(st.st_mode);
}

int32_t DeviceNumberOf(FileHandle handle, uint64_t& devnum) {
  struct stat st {};
  if (::fstat(handle, &st) != 0) return LastErrorCode();
  devnum = S_ISBLK(st.st_mode) ? st.st_rdev : st.st_dev;
  return kOk;
}

}  // namespace nuvarin::platform
