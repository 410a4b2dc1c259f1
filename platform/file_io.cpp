#include "platform/file_io.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>

#include "platform/error_codes.h"

namespace nuvarin::platform {
namespace {

std::atomic<bool> g_anyFaults{false};
std::mutex g_faultMutex;
std::map<FileHandle, std::vector<std::pair<uint64_t, uint64_t>>> g_faults;

bool TouchesFault(FileHandle handle, uint64_t offset, size_t length) {
  if (!g_anyFaults.load(std::memory_order_relaxed)) return false;
  std::lock_guard<std::mutex> lock(g_faultMutex);
  auto it = g_faults.find(handle);
  if (it == g_faults.end()) return false;
  for (const auto& [first, count] : it->second) {
    if (offset < first + count && first < offset + length) return true;
  }
  return false;
}

}  // namespace

int32_t OpenReadOnly(const std::filesystem::path& path, FileHandle& out) {
  out = kInvalidHandle;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return LastErrorCode();
  out = fd;
  return kOk;
}

int32_t OpenReadWrite(const std::filesystem::path& path, FileHandle& out, bool truncate) {
  out = kInvalidHandle;
  int flags = O_RDWR | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0);
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return LastErrorCode();
  out = fd;
  return kOk;
}

void Close(FileHandle& handle) {
  if (handle == kInvalidHandle) return;
  if (g_anyFaults.load(std::memory_order_relaxed)) {
    std::lock_guard<std::mutex> lock(g_faultMutex);
    g_faults.erase(handle);
    g_anyFaults = !g_faults.empty();
  }
  ::close(handle);
  handle = kInvalidHandle;
}

int32_t SizeOf(FileHandle handle, uint64_t& bytes) {
  bytes = 0;
  struct stat st {};
  if (::fstat(handle, &st) != 0) return LastErrorCode();
  if (S_ISBLK(st.st_mode)) {
    uint64_t size = 0;
    if (::ioctl(handle, BLKGETSIZE64, &size) != 0) return LastErrorCode();
    bytes = size;
    return kOk;
  }
  bytes = st.st_size < 0 ? 0 : static_cast<uint64_t>(st.st_size);
  return kOk;
}

int32_t ReadAt(FileHandle handle, void* buffer, size_t length, uint64_t offset, size_t& got) {
  got = 0;
  if (handle == kInvalidHandle) return kErrInvalidHandle;
  if (TouchesFault(handle, offset, length)) return ErrnoToCode(EIO);
  ssize_t n;
  do {
    n = ::pread(handle, buffer, length, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  if (n < 0) return LastErrorCode();
  got = static_cast<size_t>(n);
  return kOk;
}

int32_t Seek(FileHandle handle, uint64_t offset) {
  if (::lseek(handle, static_cast<off_t>(offset), SEEK_SET) < 0) return LastErrorCode();
  return kOk;
}

int32_t SeekEnd(FileHandle handle, uint64_t& newPosition) {
  off_t pos = ::lseek(handle, 0, SEEK_END);
  if (pos < 0) return LastErrorCode();
  newPosition = static_cast<uint64_t>(pos);
  return kOk;
}

int32_t Read(FileHandle handle, void* buffer, size_t length, size_t& got) {
  got = 0;
  if (handle == kInvalidHandle) return kErrInvalidHandle;
  if (g_anyFaults.load(std::memory_order_relaxed)) {
    off_t pos = ::lseek(handle, 0, SEEK_CUR);
    if (pos >= 0 && TouchesFault(handle, static_cast<uint64_t>(pos), length)) return ErrnoToCode(EIO);
  }
  ssize_t n;
  do {
    n = ::read(handle, buffer, length);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return LastErrorCode();
  got = static_cast<size_t>(n);
  return kOk;
}

int32_t WriteAll(FileHandle handle, const void* buffer, size_t length) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (length > 0) {
    ssize_t n = ::write(handle, p, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastErrorCode();
    }
    if (n == 0) return kErrWriteFault;
    p += n;
    length -= static_cast<size_t>(n);
  }
  return kOk;
}

int32_t WriteAllAt(FileHandle handle, const void* buffer, size_t length, uint64_t offset) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (length > 0) {
    ssize_t n = ::pwrite(handle, p, length, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastErrorCode();
    }
    if (n == 0) return kErrWriteFault;
    p += n;
    offset += static_cast<uint64_t>(n);
    length -= static_cast<size_t>(n);
  }
  return kOk;
}

int32_t Truncate(FileHandle handle, uint64_t length) {
  if (::ftruncate(handle, static_cast<off_t>(length)) != 0) return LastErrorCode();
  return kOk;
}

int32_t Sync(FileHandle handle) {
  if (::fsync(handle) != 0) return LastErrorCode();
  return kOk;
}

void SetReadFaults(FileHandle handle, std::vector<std::pair<uint64_t, uint64_t>> byteRanges) {
  std::lock_guard<std::mutex> lock(g_faultMutex);
  if (byteRanges.empty()) {
    g_faults.erase(handle);
  } else {
    g_faults[handle] = std::move(byteRanges);
  }
  g_anyFaults = !g_faults.empty();
}

}  // namespace nuvarin::platform
