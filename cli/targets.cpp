#include "cli/targets.h"

#include <sys/stat.h>

#include <vector>

#include "disks/area_resolver.h"
#include "platform/error_codes.h"
#include "storage/sector_device.h"

namespace nuvarin::cli {
namespace {

std::string OpenFailureText(const std::string& what, int32_t code) {
  std::string text = "cannot open " + what + ": " + ErrorMessage(code);
  if (code == kErrAccessDenied)
    text += " Reading disks needs root or membership of the \"disk\" group: run with sudo.";
  if (code == kErrFileNotFound || code == kErrPathNotFound) text += " Check the path.";
  return text;
}

}  // namespace

bool ResolveTarget(const std::string& text, JobTarget& target, std::string& error) {
  target = JobTarget{};
  struct stat st {};
  if (::stat(text.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    target.area.imagePath = text;
    target.description = "image " + text;
    return true;
  }
  if (::stat(text.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    error = text + " is a folder. Give a disk image file, a block device such as /dev/sdb1, or a "
                   "number from `nuvarin disks`.";
    return false;
  }
  std::string description;
  if (ResolveBlockTarget(text, target.area, description, error)) {
    target.description = description;
    return true;
  }
  if (error.empty()) {
    error = ::stat(text.c_str(), &st) != 0 ? OpenFailureText(text, LastErrorCode())
                                             : text + " is neither an image file nor a block device.";
  }
  return false;
}

bool ProbeArea(const JobTarget& target, AreaFacts& facts, std::string& error) {
  facts = AreaFacts{};
  SectorDevice device;
  int32_t rc;
  uint64_t firstByte = 0;
  if (target.area.IsImage()) {
    rc = OpenImageFile(target.area.imagePath, device);
    if (rc != kOk) {
      error = OpenFailureText(target.area.imagePath.string(), rc);
      return false;
    }
    GetImageFileSize(target.area.imagePath, facts.bytes);
    facts.sectorSize = 512;
    facts.sectors = device.sectorCount;
  } else {
    rc = OpenPhysicalDrive(target.area.diskIndex, device);
    if (rc != kOk) {
      error = OpenFailureText(target.description, rc);
      return false;
    }
    facts.sectorSize = device.bytesPerSector;
    facts.sectors = target.area.sectorCount;
    facts.bytes = target.area.sectorCount * device.bytesPerSector;
    firstByte = target.area.startSector * device.bytesPerSector;
  }
  if (facts.bytes < kProbeBytes) {
    error = target.description + " holds only " + std::to_string(facts.bytes) +
            " bytes; a volume needs at least 16 KiB. Check that the image was copied completely.";
    return false;
  }
  std::vector<uint8_t> probe(kProbeBytes);
  size_t done = 0;
  while (done < probe.size()) {
    size_t got = 0;
    rc = platform::ReadAt(device.handle, probe.data() + done, probe.size() - done, firstByte + done, got);
    if (rc != kOk || got == 0) {
      error = "cannot read the start of " + target.description + ": " +
              ErrorMessage(rc != kOk ? rc : kErrReadFault);
      return false;
    }
    done += got;
  }
  facts.areaClass = ClassifyArea(probe.data(), probe.size());
  return true;
}

}  // namespace nuvarin::cli
