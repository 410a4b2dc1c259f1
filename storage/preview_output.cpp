#include "storage/preview_output.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "platform/error_codes.h"
#include "platform/paths.h"
#include "storage/file_type_groups.h"

namespace nuvarin {

PreviewWriter::PreviewWriter(std::string_view itemName, uint64_t itemSize, uint8_t* buffer, uint32_t& bufferSize,
                             ShortCallback callback, void* context)
    : buffer_(buffer),
      bufferSize_(bufferSize),
      capacity_(buffer ? bufferSize : 0),
      callback_(callback),
      context_(context),
      target_(PreviewDestination(itemName, platform::ScanLogRoot())),
      size_(itemSize) {
  bufferSize_ = 0;
}

PreviewWriter::~PreviewWriter() { platform::Close(file_); }

int32_t PreviewWriter::Report(int32_t percent, int32_t error) {
  return callback_ ? callback_(context_, percent, error) : 0;
}

int32_t PreviewWriter::Open(std::filesystem::path& outPath) {
  if (target_.empty()) {
    if (buffer_ == nullptr) return kErrInvalidParameter;
    total_ = std::min<uint64_t>(size_, capacity_);
    return kOk;
  }
  platform::CreateFolders(target_.parent_path());
  std::error_code ec;
  std::filesystem::remove(target_, ec);
  int32_t rc = platform::OpenReadWrite(target_, file_, /*truncate=*/true);
  if (rc != kOk) {
    Report(100, rc);
    return rc;
  }
  outPath = target_;
  total_ = size_;
  return kOk;
}

int32_t PreviewWriter::Write(const uint8_t* data, size_t length) {
  length = static_cast<size_t>(std::min<uint64_t>(length, total_ - done_));
  if (file_ != platform::kInvalidHandle) {
    int32_t rc = platform::WriteAll(file_, data, length);
    if (rc != kOk) return rc;
  } else if (length > 0) {
    std::memcpy(buffer_ + done_, data, length);
    bufferSize_ = static_cast<uint32_t>(done_ + length);
  }
  done_ += length;
  return Report(total_ ? static_cast<int32_t>(done_ * 100 / total_) : 100, 0);
}

int32_t PreviewWriter::WriteZeros(uint64_t length) {
  static const uint8_t kZeros[4096] = {};
  length = std::min(length, total_ - done_);
  while (length > 0) {
    size_t piece = static_cast<size_t>(std::min<uint64_t>(length, sizeof(kZeros)));
    int32_t rc = Write(kZeros, piece);
    if (rc != kOk) return rc;
    length -= piece;
  }
  return kOk;
}

int32_t PreviewWriter::Finish(int32_t result, std::filesystem::path& outPath) {
  if (result == kOk && total_ == 0) Report(100, 0);
  if (result > 0) Report(100, result);
  if (file_ != platform::kInvalidHandle) {
    platform::Close(file_);
    if (result != kOk) {
      std::error_code ec;
      std::filesystem::remove(target_, ec);
      outPath.clear();
    }
  }
  return result;
}

}  // namespace nuvarin
