// nuvarin: find and recover deleted and lost files from disks, partitions and
// disk images, from a shell.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/terminal_view.h"

namespace {

const char kUsage[] =
    "usage: nuvarin COMMAND [ARGS]\n"
    "\n"
    "Find deleted and lost files and copy them to a safe folder. Sources are\n"
    "only read, never written.\n"
    "\n"
    "commands:\n"
    "  info TARGET                  size, sector size and file system of TARGET\n"
    "  scan TARGET [--mode deleted|formatted|deep] [--types LIST] [--list] [--json]\n"
    "                               scan and show what can be recovered\n"
    "  recover TARGET --to DIR [--mode ...] [--types LIST] [--layout types|folders]\n"
    "          [--allow-same-device]\n"
    "                               scan and copy every finding below DIR\n"
    "  disks [--json]               disks, partitions and unallocated gaps\n"
    "  image SOURCE --to FILE.img [--skip-bad] [--overwrite]\n"
    "                               copy a disk or partition sector by sector\n"
    "\n"
    "TARGET is a disk image file, a block device (/dev/sdb, /dev/sdb1) or a\n"
    "number from `nuvarin disks`. LIST is any of photo,audio,video,document,\n"
    "archive,other (default: all). Deep scans take --resume or --fresh to\n"
    "answer the question whether to continue an unfinished earlier scan.\n"
    "Exit status: 0 done, 1 failed, 2 usage error, 130 cancelled.\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace nuvarin::cli;
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
      !std::strcmp(argv[1], "help")) {
    (argc < 2 ? std::cerr : std::cout) << kUsage;
    return argc < 2 ? kExitUsage : kExitDone;
  }
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  InstallInterruptHandler();
  if (command == "info") return CmdInfo(args);
  if (command == "scan") return CmdScan(args);
  if (command == "recover") return CmdRecover(args);
  if (command == "disks") return CmdDisks(args);
  if (command == "image") return CmdImage(args);
  std::cerr << "nuvarin: unknown command \"" << command << "\"\n\n" << kUsage;
  return kExitUsage;
}
