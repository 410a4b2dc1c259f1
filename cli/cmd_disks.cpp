// `nuvarin disks [--json]`: the disks, their partitions and the unallocated
// gaps, in the order and with the numbers that scan, recover and image take.
#include <cstdio>
#include <iostream>
#include <sstream>

#include "cli/commands.h"
#include "cli/listing.h"
#include "cli/options.h"
#include "disks/disk_map.h"
#include "storage/text_helpers.h"

namespace nuvarin::cli {
namespace {

const char* KindName(RecordKind kind) {
  switch (kind) {
    case RecordKind::kVolume:
      return "partition";
    case RecordKind::kGap:
      return "unallocated";
    case RecordKind::kBlankDisk:
      return "disk";
  }
  return "partition";
}

std::string Cell(const std::string& s) { return s.empty() ? "-" : s; }

void PrintText(std::ostream& out, const DiskMap& map) {
  if (map.Disks().empty()) {
    out << "No disks found.\n";
    return;
  }
  for (const auto& disk : map.Disks()) {
    out << "Disk " << disk.diskNumber << "  " << disk.devicePath << "  "
        << (disk.removable ? "removable" : "fixed") << "  " << SizeText(static_cast<int64_t>(disk.sizeBytes));
    if (!disk.model.empty()) out << "  " << disk.model;
    if (!disk.tableType.empty())
      out << "  ("
          << (disk.tableType == "dos"   ? "MBR"
              : disk.tableType == "gpt" ? "GPT"
                                        : disk.tableType)
          << ")";
    if (disk.sectorSize != 512) out << "  " << disk.sectorSize << "-byte sectors";
    out << "\n";
    if (!disk.message.empty()) out << "  " << disk.message << "\n";
    auto it = map.Records().find(disk.diskNumber);
    if (it == map.Records().end()) continue;
    char line[512];
    std::snprintf(line, sizeof(line), "  %-4s %-18s %-12s %-14s %12s %12s %10s %10s %10s  %s\n", "No.",
                  "Device", "File system", "Label", "First sector", "Sectors", "Size", "Used", "Free",
                  "Mounted on");
    out << line;
    for (const auto& r : it->second) {
      std::string device = r.devicePath;
      if (r.kind == RecordKind::kGap)
        device = "(unallocated)";
      else if (r.kind == RecordKind::kBlankDisk)
        device = "(whole disk)";
      else if (device.empty())
        device = "(partition " + std::to_string(r.partitionNumber) + ")";
      const bool mounted = !r.mountPoint.empty();
      std::string fileSystem = r.fileSystem;
      if (fileSystem.empty() && r.kind == RecordKind::kVolume && r.type != 0) {
        char type[16];
        std::snprintf(type, sizeof(type), "type 0x%02X", r.type);
        fileSystem = type;
      }
      std::snprintf(
          line, sizeof(line), "  %-4u %-18s %-12s %-14s %12llu %12llu %10s %10s %10s  %s\n",
          static_cast<unsigned>(r.letter), device.c_str(), Cell(fileSystem).c_str(), Cell(r.label).c_str(),
          static_cast<unsigned long long>(r.firstSector), static_cast<unsigned long long>(r.sectorCount),
          SizeText(static_cast<int64_t>(r.totalBytes)).c_str(),
          r.kind == RecordKind::kVolume && !mounted ? "-"
                                                    : SizeText(static_cast<int64_t>(r.usedBytes)).c_str(),
          r.kind == RecordKind::kVolume && !mounted ? "-"
                                                    : SizeText(static_cast<int64_t>(r.freeBytes)).c_str(),
          Cell(r.mountPoint).c_str());
      out << line;
      if (!r.message.empty() && r.message != disk.message) out << "       " << r.message << "\n";
    }
  }
}

void PrintJsonList(std::ostream& out, const DiskMap& map) {
  out << "{\"disks\":[";
  bool firstDisk = true;
  for (const auto& disk : map.Disks()) {
    out << (firstDisk ? "" : ",") << "\n {\"number\":" << disk.diskNumber
        << ",\"name\":" << JsonString(disk.name) << ",\"device\":" << JsonString(disk.devicePath)
        << ",\"model\":" << JsonString(disk.model) << ",\"removable\":" << (disk.removable ? "true" : "false")
        << ",\"sizeBytes\":" << disk.sizeBytes << ",\"sectorSize\":" << disk.sectorSize
        << ",\"table\":" << JsonString(disk.tableType) << ",\"message\":" << JsonString(disk.message)
        << ",\"entries\":[";
    firstDisk = false;
    auto it = map.Records().find(disk.diskNumber);
    if (it != map.Records().end()) {
      bool first = true;
      for (const auto& r : it->second) {
        out << (first ? "" : ",") << "\n  {\"number\":" << r.letter << ",\"kind\":\"" << KindName(r.kind)
            << "\",\"device\":" << JsonString(r.devicePath) << ",\"partition\":" << r.partitionNumber
            << ",\"type\":" << static_cast<unsigned>(r.type) << ",\"fileSystem\":" << JsonString(r.fileSystem)
            << ",\"label\":" << JsonString(r.label) << ",\"firstSector\":" << r.firstSector
            << ",\"sectorCount\":" << r.sectorCount << ",\"totalBytes\":" << r.totalBytes
            << ",\"usedBytes\":" << r.usedBytes << ",\"freeBytes\":" << r.freeBytes
            << ",\"mountPoint\":" << JsonString(r.mountPoint) << ",\"message\":" << JsonString(r.message)
            << "}";
        first = false;
      }
    }
    out << "]}";
  }
  out << "\n]}\n";
}

}  // namespace

int CmdDisks(const std::vector<std::string>& args) {
  Options options(args, {}, {"json"});
  if (!options.ok() || !options.positional().empty()) {
    std::cerr << "nuvarin disks: " << (options.ok() ? "no arguments expected" : options.error())
              << "\nusage: nuvarin disks [--json]\n";
    return kExitUsage;
  }
  DiskMap map;
  if (!map.EnumerateDisks()) {
    std::cerr << "nuvarin disks: the list of block devices cannot be read (is /sys mounted?)\n";
    return kExitFailed;
  }
  if (options.has("json"))
    PrintJsonList(std::cout, map);
  else
    PrintText(std::cout, map);
  return kExitDone;
}

}  // namespace nuvarin::cli
