// Result codes shared by every layer. Operations return one 32-bit value: 0 for
// success, positive values in the Windows error numbering the engines compare
// against, negative values for engine-specific outcomes.
#pragma once
#include <cstdint>
#include <string>

namespace nuvarin {

constexpr int32_t kOk = 0;
constexpr int32_t kErrFileNotFound = 2;
constexpr int32_t kErrPathNotFound = 3;
constexpr int32_t kErrAccessDenied = 5;
constexpr int32_t kErrInvalidHandle = 6;
constexpr int32_t kErrNotEnoughMemory = 8;
constexpr int32_t kErrWriteProtect = 19;
constexpr int32_t kErrWriteFault = 29;
constexpr int32_t kErrReadFault = 30;
constexpr int32_t kErrGenFailure = 31;
constexpr int32_t kErrFileExists = 80;
constexpr int32_t kErrInvalidParameter = 87;
constexpr int32_t kErrDiskFull = 112;
constexpr int32_t kErrBusy = 170;
constexpr int32_t kErrAlreadyExists = 183;
constexpr int32_t kErrFilenameTooLong = 206;
constexpr int32_t kErrIoDevice = 1117;

// Engine codes.
constexpr int32_t kErrNotMftRecord = -1;
constexpr int32_t kErrNoAttribute = -100;
constexpr int32_t kErrNoResidentData = -101;
// Returned by every job callback once the user cancelled; handed back unchanged.
constexpr int32_t kCancelCode = -9527;

// Maps an errno value to the code numbering above.
int32_t ErrnoToCode(int err);
// Code of the current errno.
int32_t LastErrorCode();
// Short English text for a code ("Access is denied."); "Error N" for unknown codes.
std::string ErrorMessage(int32_t code);

}  // namespace nuvarin
