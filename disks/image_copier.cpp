#include "disks/image_copier.h"

#include <sys/types.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "disks/area_resolver.h"
#include "platform/block_device.h"
#include "platform/clock.h"
#include "platform/disk_table.h"
#include "platform/error_codes.h"

namespace fs = std::filesystem;

namespace nuvarin {
namespace {

// The bad-sector map, written line by line as ranges close, so that memory
// stays small however many sectors fail.
class BadMapWriter {
 public:
  ~BadMapWriter() { platform::Close(handle_); }
  int32_t Open(const fs::path& path, const ImageCopier& c) {
    int32_t rc = platform::OpenReadWrite(path, handle_, true);
    if (rc != kOk) return rc;
    std::string head = "# bad sectors of " + path.filename().replace_extension().string() + ", read from " +
                       c.sourcePath.string() + " from sector " + std::to_string(c.firstSector) + "\n" +
                       "# sector size " + std::to_string(c.sectorSize) +
                       "; each line: first sector (counted from the image start) and number of sectors\n";
    return platform::WriteAll(handle_, head.data(), head.size());
  }
  // Sector `s` of the image could not be read.
  int32_t Add(uint64_t s, ImageCopier& c) {
    ++c.badSectors;
    if (length_ > 0 && first_ + length_ == s) {
      ++length_;
      return kOk;
    }
    int32_t rc = Flush(c);
    first_ = s;
    length_ = 1;
    return rc;
  }
  int32_t Flush(ImageCopier& c) {
    if (length_ == 0) return kOk;
    std::string line = std::to_string(first_) + " " + std::to_string(length_) + "\n";
    length_ = 0;
    ++c.badRanges;
    return platform::WriteAll(handle_, line.data(), line.size());
  }
  int32_t Close(ImageCopier& c) {
    int32_t rc = Flush(c);
    if (rc == kOk && handle_ != platform::kInvalidHandle) rc = platform::Sync(handle_);
    platform::Close(handle_);
    return rc;
  }

 private:
  platform::FileHandle handle_ = platform::kInvalidHandle;
  uint64_t first_ = 0;
  uint64_t length_ = 0;
};

// Reads exactly `length` bytes at `offset` in as many calls as it takes. 30
// when a call fails or returns nothing; `code` carries the system's code.
int32_t ReadFully(platform::FileHandle h, uint8_t* out, size_t length, uint64_t offset, int32_t& code) {
  size_t done = 0;
  code = kOk;
  while (done < length) {
    size_t got = 0;
    int32_t rc = platform::ReadAt(h, out + done, length - done, offset + done, got);
    if (rc != kOk || got == 0) {
      code = rc;
      return kErrReadFault;
    }
    done += got;
  }
  return kOk;
}

bool IsRegularOrMissing(const fs::path& path) {
  std::error_code ec;
  auto st = fs::status(path, ec);
  if (ec || st.type() == fs::file_type::not_found) return true;
  return st.type() == fs::file_type::regular;
}

int32_t CopyLoop(ImageCopier& c, BadMapWriter* map) {
  const uint64_t totalBytes = c.sectorCount * c.sectorSize;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kImageChunkBytes]);
  if (!buffer) return kErrNotEnoughMemory;
  auto now = [&c] { return c.clockMs ? c.clockMs() : platform::TickMs(); };
  const uint64_t start = now();
  uint64_t lastEstimate = start;
  int32_t eta = -1;
  uint64_t copied = 0;
  const uint64_t sourceBase = c.firstSector * c.sectorSize;
  // Whole sectors per chunk, so that a bad sector never straddles two chunks.
  const size_t chunkLimit = kImageChunkBytes / c.sectorSize * c.sectorSize;
  while (copied < totalBytes) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(chunkLimit, totalBytes - copied));
    int32_t code = kOk;
    int32_t rc = ReadFully(c.source, buffer.get(), chunk, sourceBase + copied, code);
    if (rc != kOk) {
      c.errorSector = c.firstSector + copied / c.sectorSize;
      c.readError = code;
      uint64_t length = 0;
      const uint64_t areaEnd = sourceBase + totalBytes;
      if (platform::SizeOf(c.source, length) != kOk || length < areaEnd) c.sourceVanished = true;
      // Only sectors the medium reports as unreadable are skipped; a source
      // that ended or went away ends the image.
      if (!map || c.sourceVanished || code != kErrIoDevice) return kErrReadFault;
      for (size_t off = 0; off < chunk; off += c.sectorSize) {
        int32_t sectorCode = kOk;
        if (ReadFully(c.source, buffer.get() + off, c.sectorSize, sourceBase + copied + off, sectorCode) ==
            kOk)
          continue;
        if (sectorCode != kErrIoDevice) {
          c.errorSector = c.firstSector + (copied + off) / c.sectorSize;
          c.readError = sectorCode;
          return kErrReadFault;
        }
        std::memset(buffer.get() + off, 0, c.sectorSize);
        rc = map->Add((copied + off) / c.sectorSize, c);
        if (rc != kOk) return rc;
        // A failing sector can take the drive seconds to give up on: report
        // after each one, so that a cancel need not wait for the whole chunk.
        if (c.callback) {
          int32_t percent = static_cast<int32_t>(static_cast<unsigned __int128>(copied) * 100 / totalBytes);
          int32_t r = c.callback(c.context, percent, c.sectorsCopied, c.sectorCount, eta);
          if (r != 0) return r;
        }
      }
      c.errorSector = 0;
      c.readError = 0;
    }
    rc = platform::WriteAllAt(c.destination, buffer.get(), chunk, copied);
    if (rc != kOk) return rc;
    copied += chunk;
    c.sectorsCopied = copied / c.sectorSize;

    const uint64_t tick = now();
    if (tick - lastEstimate >= kImageEtaIntervalMs) {
      uint64_t seconds = std::max<uint64_t>(1, (tick - start) / 1000);
      uint64_t rate = std::max<uint64_t>(1, copied / seconds);
      uint64_t left = (totalBytes - copied) / rate;
      eta = static_cast<int32_t>(std::min<uint64_t>(left, INT32_MAX));
      lastEstimate = tick;
    }
    if (c.callback) {
      int32_t percent = static_cast<int32_t>(static_cast<unsigned __int128>(copied) * 100 / totalBytes);
      int32_t r = c.callback(c.context, percent, c.sectorsCopied, c.sectorCount, eta);
      if (r != 0) return r;
    }
  }
  return kOk;
}

}  // namespace

fs::path BadMapPath(const fs::path& imagePath) {
  fs::path p = imagePath;
  p += ".bad";
  return p;
}

int32_t CreateImageFromPath(ImageCopier& c, const fs::path& sourcePath, uint64_t firstSector,
                            uint64_t sectorCount, const fs::path& imagePath, void* context) {
  c.context = context;
  c.sectorsCopied = c.badSectors = c.badRanges = 0;
  c.errorSector = 0;
  c.readError = 0;
  c.sourceVanished = false;
  c.sourcePath = sourcePath;
  c.mapPath.clear();
  c.sectorSize = 512;

  int32_t rc = platform::OpenReadOnly(sourcePath, c.source);
  if (rc != kOk) return rc;
  auto closeAll = [&](int32_t result) {
    platform::Close(c.source);
    platform::Close(c.destination);
    return result;
  };
  if (c.onSourceOpened) c.onSourceOpened(c.source, context);
  c.sectorSize = platform::SectorSizeOr512(c.source);
  if (c.sectorSize == 0 || c.sectorSize > kImageChunkBytes) return closeAll(kErrInvalidParameter);
  uint64_t length = 0;
  rc = platform::SizeOf(c.source, length);
  if (rc != kOk) return closeAll(rc);
  const uint64_t diskSectors = length / c.sectorSize;
  if (firstSector > diskSectors) return closeAll(kErrInvalidParameter);
  if (sectorCount == 0) sectorCount = diskSectors - firstSector;
  if (sectorCount > diskSectors - firstSector) return closeAll(kErrInvalidParameter);
  c.firstSector = firstSector;
  c.sectorCount = sectorCount;

  // Only a plain file can be an image: a device named as destination could
  // be the very disk being rescued.
  std::error_code ec;
  if (!IsRegularOrMissing(imagePath) || fs::equivalent(sourcePath, imagePath, ec))
    return closeAll(kErrInvalidParameter);
  rc = platform::OpenReadWrite(imagePath, c.destination, false);
  if (rc != kOk) return closeAll(rc);
  if (platform::IsBlockDevice(c.destination)) return closeAll(kErrInvalidParameter);
  // An older, longer file of the same name must not leave its tail behind
  // the new image.
  rc = platform::Truncate(c.destination, 0);
  if (rc != kOk) return closeAll(rc);

  std::unique_ptr<BadMapWriter> map;
  const fs::path mapPath = BadMapPath(imagePath);
  if (c.skipBad) {
    map = std::make_unique<BadMapWriter>();
    rc = map->Open(mapPath, c);
    if (rc != kOk) return closeAll(rc);
    c.mapPath = mapPath;
  } else {
    // A map left by an earlier copy would describe sectors of another image.
    fs::remove(mapPath, ec);
  }

  int32_t result = CopyLoop(c, map.get());
  if (map) {
    int32_t mrc = map->Close(c);
    if (result == kOk) result = mrc;
  }
  int32_t src = platform::Sync(c.destination);
  if (result == kOk) result = src;
  return closeAll(result);
}

int32_t CreateImage(ImageCopier& copier, uint32_t diskNumber, uint64_t firstSector, uint64_t sectorCount,
                    const fs::path& imagePath, void* context) {
  fs::path path;
  int32_t rc = platform::DiskDevicePath(diskNumber, path);
  if (rc != kOk) return rc;
  // The callers check this first and say so; writing the image into the area
  // being copied would change the source under the copy, so it never happens.
  ScanTarget area;
  area.diskIndex = diskNumber;
  area.startSector = firstSector;
  area.sectorCount = sectorCount;
  if (DestinationOnScannedArea(area, imagePath)) return kErrInvalidParameter;
  return CreateImageFromPath(copier, path, firstSector, sectorCount, imagePath, context);
}

}  // namespace nuvarin
