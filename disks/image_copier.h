// Disk images: a disk, or one area of it, copied sector by sector into a raw
// image file that later scans open instead of the (failing) disk.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/file_io.h"

namespace nuvarin {

constexpr size_t kImageChunkBytes = 65536;
// The remaining time is recomputed at most this often.
constexpr uint64_t kImageEtaIntervalMs = 5000;

// Called after every chunk: share done, sectors copied and in total, seconds
// left (-1 before the first estimate). 0 goes on; any other value (the cancel
// code -9527 after the user cancelled) ends the copy with that value.
using ImageProgressCallback = int32_t (*)(void* context, int32_t percent, uint64_t sectorsDone,
                                          uint64_t sectorsTotal, int32_t etaSeconds);

struct ImageCopier {
  platform::FileHandle source = platform::kInvalidHandle;       // opened read-only
  platform::FileHandle destination = platform::kInvalidHandle;  // the image file
  uint32_t sectorSize = 512;
  uint64_t firstSector = 0;
  uint64_t sectorCount = 0;  // 0 asks for the whole disk from firstSector on
  ImageProgressCallback callback = nullptr;
  void* context = nullptr;

  // Failing media: a chunk that cannot be read is read again sector by
  // sector; sectors that still fail are written as zeros and listed in the
  // map file "<image>.bad". Off: the first unreadable chunk ends the image.
  bool skipBad = false;
  // Test hooks: called with the source handle right after it was opened;
  // the millisecond clock of the time estimate (null: the system's).
  void (*onSourceOpened)(platform::FileHandle source, void* context) = nullptr;
  uint64_t (*clockMs)() = nullptr;

  // Results of the last copy.
  uint64_t sectorsCopied = 0;  // sectors written to the image, zero-filled ones included
  uint64_t badSectors = 0;     // sectors written as zeros
  uint64_t badRanges = 0;      // lines in the map file
  std::filesystem::path mapPath;
  std::filesystem::path sourcePath;
  // Where the copy stopped on a read error (sector of the source) and the
  // system's code for it; the source vanished when it reports a shorter length.
  uint64_t errorSector = 0;
  int32_t readError = 0;
  bool sourceVanished = false;
};

// Copies sectorCount sectors of disk `diskNumber` from firstSector on into
// `imagePath` (0 sectors: up to the end of the disk). Returns 0, the system
// error of an open, seek or write, 30 for a failed or empty read, 87 for an
// area outside the disk or a destination that is not a regular file, or the
// callback's non-zero result. The image keeps what was copied on any error.
int32_t CreateImage(ImageCopier& copier, uint32_t diskNumber, uint64_t firstSector, uint64_t sectorCount,
                    const std::filesystem::path& imagePath, void* context);
// The same from a source named by path (a disk or partition device, or an
// image file).
int32_t CreateImageFromPath(ImageCopier& copier, const std::filesystem::path& sourcePath,
                            uint64_t firstSector, uint64_t sectorCount,
                            const std::filesystem::path& imagePath, void* context);

// Path of the bad-sector map beside an image: "<image>.bad".
std::filesystem::path BadMapPath(const std::filesystem::path& imagePath);

}  // namespace nuvarin
