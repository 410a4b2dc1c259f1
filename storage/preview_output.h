// The output of a preview: one file of the scan-log folder (documents under
// their own name, "tmp.jpg", "tmp.avi", chosen by PreviewDestination) or the
// caller's memory buffer. Every engine's PreviewItem feeds its data through
// one PreviewWriter, which reports progress through the short callback,
// reports a failure once with (100, error) and removes a half-written file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "platform/file_io.h"
#include "storage/recovery_engine.h"

namespace nuvarin {

class PreviewWriter {
 public:
  // `bufferSize` is the buffer's capacity on entry; it is kept at the number
  // of bytes copied into the buffer.
  PreviewWriter(std::string_view itemName, uint64_t itemSize, uint8_t* buffer, uint32_t& bufferSize,
                ShortCallback callback, void* context);
  ~PreviewWriter();
  PreviewWriter(const PreviewWriter&) = delete;
  PreviewWriter& operator=(const PreviewWriter&) = delete;

  // Creates the destination file (the previous one is deleted first) and sets
  // `outPath`, or checks that there is a buffer. 0, or the error (reported).
  int32_t Open(std::filesystem::path& outPath);
  // Bytes the preview takes: the item's size, or no more than the buffer holds.
  uint64_t Total() const { return total_; }
  bool Complete() const { return done_ >= total_; }
  // Takes at most the bytes still wanted; returns a write error or the
  // callback's non-zero answer.
  int32_t Write(const uint8_t* data, size_t length);
  int32_t WriteZeros(uint64_t length);
  // Ends the preview with `result`: an empty item reports 100 %, a positive
  // error is reported, the file is closed and, on failure, removed (and
  // `outPath` cleared). Returns `result`.
  int32_t Finish(int32_t result, std::filesystem::path& outPath);

 private:
  int32_t Report(int32_t percent, int32_t error);
  uint8_t* buffer_;
  uint32_t& bufferSize_;
  uint32_t capacity_;
  ShortCallback callback_;
  void* context_;
  std::filesystem::path target_;
  platform::FileHandle file_ = platform::kInvalidHandle;
  uint64_t size_;
  uint64_t total_ = 0;
  uint64_t done_ = 0;
};

}  // namespace nuvarin
