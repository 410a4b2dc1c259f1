#include "platform/error_codes.h"

#include <cerrno>

namespace nuvarin {

int32_t ErrnoToCode(int err) {
  switch (err) {
    case 0: return kOk;
    case ENOENT: return kErrFileNotFound;
    case ENOTDIR: return kErrPathNotFound;
    case EACCES:
    case EPERM: return kErrAccessDenied;
    case EBADF: return kErrInvalidHandle;
    case ENOMEM: return kErrNotEnoughMemory;
    case EROFS: return kErrWriteProtect;
    case EIO: return kErrIoDevice;
    case EBUSY: return kErrBusy;
    case EEXIST: return kErrFileExists;
    case EINVAL: return kErrInvalidParameter;
    case ENOSPC: return kErrDiskFull;
    case ENAMETOOLONG: return kErrFilenameTooLong;
    default: return kErrGenFailure;
  }
}

int32_t LastErrorCode() {
  int32_t code = ErrnoToCode(errno);
  return code == kOk ? kErrGenFailure : code;
}

std::string ErrorMessage(int32_t code) {
  switch (code) {
    case kOk: return "The operation completed successfully.";
    case kErrFileNotFound: return "The system cannot find the file specified.";
    case kErrPathNotFound: return "The system cannot find the path specified.";
    case kErrAccessDenied: return "Access is denied.";
    case kErrInvalidHandle: return "The handle is invalid.";
    case kErrNotEnoughMemory: return "Not enough memory resources are available to process this command.";
    case kErrWriteProtect: return "The media is write protected.";
    case kErrWriteFault: return "The system cannot write to the specified device.";
    case kErrReadFault: return "The system cannot read from the specified device.";
    case kErrGenFailure: return "A device attached to the system is not functioning.";
    case kErrFileExists: return "The file exists.";
    case kErrInvalidParameter: return "The parameter is incorrect.";
    case kErrDiskFull: return "There is not enough space on the disk.";
    case kErrBusy: return "The requested resource is in use.";
    case kErrAlreadyExists: return "Cannot create a file when that file already exists.";
    case kErrFilenameTooLong: return "The filename or extension is too long.";
    case kErrIoDevice: return "The request could not be performed because of an I/O device error.";
    case kErrNotMftRecord: return "The sector holds no file record.";
    case kErrNoAttribute: return "The file's data attribute or runs were not found.";
    case kErrNoResidentData: return "The file record holds no resident data.";
    case kCancelCode: return "Cancelled by the user.";
    default: return "Error " + std::to_string(code);
  }
}

}  // namespace nuvarin
