// `nuvarin image SOURCE --to FILE.img [--skip-bad] [--overwrite]`: copies a
// disk, partition or gap sector by sector into an image file that later
// scans can use instead of the disk.
#include <iostream>
#include <system_error>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/terminal_view.h"
#include "disks/area_resolver.h"
#include "disks/image_checks.h"
#include "jobs/image_job.h"
#include "platform/disk_table.h"
#include "platform/error_codes.h"
#include "storage/text_helpers.h"

namespace fs = std::filesystem;

namespace nuvarin::cli {
namespace {

constexpr const char kUsage[] = "usage: nuvarin image SOURCE --to FILE.img [--skip-bad] [--overwrite]\n";

uint32_t SectorSizeOfDisk(const fs::path& diskDevice) {
  return diskDevice.empty() ? 512 : platform::DiskLogicalSectorSize(diskDevice.filename().string());
}

}  // namespace

int CmdImage(const std::vector<std::string>& args) {
  Options options(args, {"to"}, {"skip-bad", "overwrite"});
  if (!options.ok() || options.positional().size() != 1 || options.value("to").empty()) {
    std::cerr << "nuvarin image: "
              << (!options.ok()                      ? options.error()
                  : options.positional().size() != 1 ? "name one SOURCE"
                                                     : "--to FILE.img is required")
              << "\n"
              << kUsage;
    return kExitUsage;
  }
  const std::string sourceText = options.positional()[0];
  const fs::path imagePath = options.value("to");

  ScanTarget source;
  std::string description, error;
  fs::path diskDevice;
  if (!ResolveBlockTarget(sourceText, source, description, error, &diskDevice)) {
    std::error_code ec;
    if (error.empty() && fs::is_regular_file(sourceText, ec))
      error = sourceText + " is a file, not a disk; copy an image file with cp";
    else if (error.empty())
      error = sourceText + " is not a disk or partition; run \"nuvarin disks\" to see them";
    std::cerr << "nuvarin image: " << error << "\n";
    return kExitFailed;
  }
  std::error_code ec;
  if (fs::exists(imagePath, ec) && !options.has("overwrite")) {
    std::cerr << "nuvarin image: " << imagePath.string() << " exists; give --overwrite to replace it\n";
    return kExitFailed;
  }
  if (fs::exists(imagePath, ec) && !fs::is_regular_file(imagePath, ec)) {
    std::cerr << "nuvarin image: " << imagePath.string()
              << " is not a plain file; an image is written to a file\n";
    return kExitFailed;
  }
  const uint32_t sectorSize = SectorSizeOfDisk(diskDevice);
  const uint64_t imageBytes = source.sectorCount * sectorSize;
  ImageCheck check = CheckImageDestination(source, imageBytes, imagePath);
  if (check != ImageCheck::kOk) {
    std::cerr << "nuvarin image: " << ImageCheckText(check) << "\n";
    return kExitFailed;
  }

  ImageJobInput input;
  input.imagePath = imagePath;
  input.skipBad = options.has("skip-bad");
  input.diskDevice = diskDevice;
  PartitionRecord area;
  area.diskNumber = static_cast<int32_t>(source.diskIndex);
  area.firstSector = source.startSector;
  area.sectorCount = source.sectorCount;
  area.sectorSize = sectorSize;
  input.sources.push_back(area);

  TerminalView view;
  view.SetShowFileCount(false);
  view.OnMessage("Copying " + description + " (" + std::to_string(source.sectorCount) + " sectors, " +
                 SizeText(static_cast<int64_t>(imageBytes)) + ")");
  JobControl control;
  control.Reset();
  ImageJob job(view, control);
  SetCancelTarget(&control);
  int code = job.Run(input);
  SetCancelTarget(nullptr);
  view.EndLine();

  const ImageCopier& c = job.Copier();
  if (code == kJobCancelled) {
    std::cerr << "nuvarin image: cancelled; " << imagePath.string() << " holds the first " << c.sectorsCopied
              << " sectors\n";
    return kExitCancelled;
  }
  if (code != kJobFinished) {
    const int32_t rc = job.Result();
    if (rc == kErrReadFault && c.sourceVanished) {
      std::cerr << "nuvarin image: the source went away (disconnected?) at sector " << c.errorSector << "; "
                << imagePath.string() << " holds the " << c.sectorsCopied << " sectors before it\n";
    } else if (rc == kErrReadFault) {
      std::cerr << "nuvarin image: read error at sector " << c.errorSector;
      if (c.readError != 0) std::cerr << " (" << ErrorMessage(c.readError) << ")";
      std::cerr << "; " << imagePath.string() << " holds the " << c.sectorsCopied << " sectors before it.";
      if (!input.skipBad) std::cerr << " Run again with --skip-bad to copy around unreadable sectors.";
      std::cerr << "\n";
    } else {
      std::cerr << "nuvarin image: cannot create the image: " << ErrorMessage(rc) << "\n";
    }
    return kExitFailed;
  }
  std::cout << "Image written: " << imagePath.string() << " (" << c.sectorsCopied << " sectors, "
            << SizeText(static_cast<int64_t>(c.sectorsCopied * c.sectorSize)) << ")\n";
  if (input.skipBad) {
    if (c.badSectors == 0) {
      std::cout << "No unreadable sectors.\n";
    } else {
      std::cout << c.badSectors << " unreadable sectors (" << c.badRanges
                << " ranges) were written as zeros and are listed in " << c.mapPath.string() << "\n";
    }
  }
  return kExitDone;
}

}  // namespace nuvarin::cli
