// File and device handles: POSIX descriptors behind a small set of calls that
// return the shared result codes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <utility>
#include <vector>

namespace nuvarin::platform {

using FileHandle = int;
constexpr FileHandle kInvalidHandle = -1;

// Sources (disks, partitions, images) are only ever opened read-only.
int32_t OpenReadOnly(const std::filesystem::path& path, FileHandle& out);
// Output files: read+write, created when missing, truncated only on request.
int32_t OpenReadWrite(const std::filesystem::path& path, FileHandle& out,
                      bool truncate = false);
void Close(FileHandle& handle);

// Size in bytes: BLKGETSIZE64 for block devices, st_size for files.
int32_t SizeOf(FileHandle handle, uint64_t& bytes);

// One positioned read of at most `length` bytes (a single pread call,
// EINTR retried). `got` is 0 at the end of the source.
int32_t ReadAt(FileHandle handle, void* buffer, size_t length, uint64_t offset, size_t& got);
// Sequential calls that use the descriptor's own position.
int32_t Seek(FileHandle handle, uint64_t offset);
int32_t SeekEnd(FileHandle handle, uint64_t& newPosition);
int32_t Read(FileHandle handle, void* buffer, size_t length, size_t& got);
// Writes the whole buffer or fails (29 for a short write without errno).
int32_t WriteAll(FileHandle handle, const void* buffer, size_t length);
int32_t WriteAllAt(FileHandle handle, const void* buffer, size_t length, uint64_t offset);
int32_t Truncate(FileHandle handle, uint64_t length);
int32_t Sync(FileHandle handle);

// Test support: make reads of `handle` fail with EIO wherever they touch one
// of the byte ranges [first, first + count). An empty list removes the faults.
void SetReadFaults(FileHandle handle, std::vector<std::pair<uint64_t, uint64_t>> byteRanges);

}  // namespace nuvarin::platform
