// A FAT volume built by tests/fixtures/fat_volume.sh, scanned by the fast
// engine, with helpers to walk what the scan logged.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fat/fast_fat_recovery.h"
#include "storage/scan_log_index.h"
#include "tests/support/test_support.h"

namespace nuvarin::test {

inline void RequireTools(std::initializer_list<const char*> tools) {
  for (const char* tool : tools) ASSERT_TRUE(HaveTool(tool)) << "missing tool " << tool << " (scripts/setup installs it)";
}

struct FatVolume {
  std::filesystem::path image;
  std::filesystem::path originals;
};

// Builds volume `kind` under `dir`.
inline FatVolume BuildFatVolume(const TempDir& dir, const std::string& kind) {
  FatVolume v{dir / ("fat" + kind + ".img"), dir / ("originals" + kind)};
  CommandResult r = RunCommand(ShellQuote(FixtureScript("fat_volume.sh").string()) + " " + kind + " " +
                               ShellQuote(v.image.string()) + " " + ShellQuote(v.originals.string()));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  return v;
}

// Opens `image` and runs the scan into a fresh scan folder (two scans in one
// minute would otherwise share a log name).
inline int32_t OpenAndScan(CFastFatRecovery& engine, const std::filesystem::path& image) {
  ScanLogIndex::Instance().NewScanFolder();
  int32_t rc = engine.OpenImage(image, 3);
  return rc != 0 ? rc : engine.OpenLog(nullptr);
}

// Every record reachable from the root through ReadFolder, by path
// ("Docs/Work/" for a folder, "Docs/Work/a.txt" for a file).
inline std::map<std::string, FoundItem> WalkTree(IFileRecoveryParse& engine) {
  std::map<std::string, FoundItem> out;
  struct Pending {
    std::unique_ptr<FoundItem> folder;
    uint32_t depth;
    std::string path;
  };
  std::vector<Pending> stack;
  stack.push_back({nullptr, 0, ""});
  size_t guard = 0;
  while (!stack.empty() && ++guard < 100000) {
    Pending p = std::move(stack.back());
    stack.pop_back();
    std::vector<FoundItem> children;
    engine.ReadFolder(p.folder.get(), p.depth, children);
    for (const FoundItem& child : children) {
      std::string path = p.path + std::string(child.Name()) + (child.isFolder ? "/" : "");
      out[path] = child;
      if (child.isFolder) stack.push_back({std::make_unique<FoundItem>(child), p.depth + 1, path});
    }
  }
  return out;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

// The deleted entries The Sleuth Kit lists: "r/r * 12:\tpath" -> path, kind, inode.
struct OracleEntry {
  bool isFolder;
  std::string inode;
};
inline std::map<std::string, OracleEntry> OracleDeleted(const std::filesystem::path& image) {
  std::map<std::string, OracleEntry> out;
  CommandResult r = RunCommand("fls -rdp " + ShellQuote(image.string()));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  for (const std::string& line : Lines(r.output)) {
    size_t tab = line.find('\t');
    size_t star = line.find("* ");
    if (tab == std::string::npos || star == std::string::npos) continue;
    std::string path = line.substr(tab + 1);
    if (path.find("$OrphanFiles") != std::string::npos) continue;
    std::string inode = line.substr(star + 2, line.find(':', star) - star - 2);
    out[path] = {line.rfind("d/d", 0) == 0, inode};
  }
  return out;
}

inline std::vector<uint8_t> OracleBytes(const std::filesystem::path& image, const std::string& inode) {
  TempDir dir("icat");
  CommandResult r = RunCommand("icat " + ShellQuote(image.string()) + " " + inode + " > " +
                               ShellQuote((dir / "out").string()));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  return ReadFile(dir / "out");
}

struct FileReports {
  std::vector<std::pair<std::string, int32_t>> ends;  // path, error of each 100 % report
  static int32_t Callback(void* context, int32_t percent, int32_t, int32_t error, const char* path) {
    auto* self = static_cast<FileReports*>(context);
    if (percent == 100 || error != 0) self->ends.emplace_back(path ? path : "", error);
    return 0;
  }
};

}  // namespace nuvarin::test
