// The NTFS volume of tests/fixtures/ntfs_volume.sh, built once per test
// program, and helpers to scan it and walk the findings as paths.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ntfs/fast_ntfs_recovery.h"
#include "test_support.h"

namespace nuvarin::test {

struct Finding {
  FoundItem item;
  uint32_t level;  // 1 for the root's children
};

// Every finding reachable from the root, by path ("docs/deep/empty.dat").
inline std::map<std::string, Finding> WalkFindings(IFileRecoveryParse& engine) {
  std::map<std::string, Finding> out;
  struct Pending {
    std::string prefix;
    FoundItem folder;
    uint32_t level;
  };
  std::vector<Pending> stack;
  std::vector<FoundItem> items;
  EXPECT_EQ(engine.ReadFolder(nullptr, 0, items), kOk);
  for (const FoundItem& it : items) {
    std::string path(it.Name());
    out[path] = Finding{it, 1};
    if (it.isFolder) stack.push_back({path + "/", it, 1});
  }
  for (size_t guard = 0; !stack.empty() && guard < 100000; ++guard) {
    Pending p = stack.back();
    stack.pop_back();
    items.clear();
    EXPECT_EQ(engine.ReadFolder(&p.folder, p.level, items), kOk);
    for (const FoundItem& it : items) {
      std::string path = p.prefix + std::string(it.Name());
      out[path] = Finding{it, p.level + 1};
      if (it.isFolder) stack.push_back({path + "/", it, p.level + 1});
    }
  }
  return out;
}

// Deleted entries listed by `fls -rdp`: path -> (inode, is folder).
struct OracleEntry {
  uint64_t inode;
  bool folder;
};
inline std::map<std::string, OracleEntry> OracleDeleted(const std::filesystem::path& image) {
  std::map<std::string, OracleEntry> out;
  CommandResult r = RunCommand("fls -rdp " + ShellQuote(image.string()));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  size_t pos = 0;
  while (pos < r.output.size()) {
    size_t end = r.output.find('\n', pos);
    if (end == std::string::npos) end = r.output.size();
    std::string line = r.output.substr(pos, end - pos);
    pos = end + 1;
    size_t tab = line.find('\t');
    size_t star = line.find("* ");
    if (tab == std::string::npos || star == std::string::npos || line.size() < 3) continue;
    std::string path = line.substr(tab + 1);
    if (path.rfind("$OrphanFiles", 0) == 0) continue;
    OracleEntry e;
    e.folder = line[2] == 'd';
    e.inode = std::stoull(line.substr(star + 2));
    out[path] = e;
  }
  return out;
}

class NtfsVolumeFixture {
 public:
  static NtfsVolumeFixture& Get() {
    static NtfsVolumeFixture* fixture = new NtfsVolumeFixture();
    return *fixture;
  }
  const std::filesystem::path& Image() const { return image_; }
  std::filesystem::path Original(const std::string& path) const { return root_ / "orig" / path; }
  const std::map<std::string, uint64_t>& Records() const { return records_; }
  bool ok() const { return ok_; }
  const std::string& log() const { return log_; }

 private:
  // The volume is built once into NUVARIN_NTFS_FIXTURE_CACHE (under the build
  // tree) and rebuilt when the script changes; test programs running side by
  // side take turns through a lock. Tests only read it.
  NtfsVolumeFixture() {
    for (const char* tool : {"mkntfs", "ntfs-3g", "fls", "icat", "flock"}) {
      if (!HaveTool(tool)) {
        log_ = std::string("missing tool: ") + tool;
        return;
      }
    }
    const char* cache = std::getenv("NUVARIN_NTFS_FIXTURE_CACHE");
    std::filesystem::path base = cache && *cache ? std::filesystem::path(cache) : dir_.path();
    std::filesystem::create_directories(base);
    root_ = base / "volume";
    std::string script = ShellQuote(FixtureScript("ntfs_volume.sh").string());
    std::string b = ShellQuote(base.string()), v = ShellQuote(root_.string());
    CommandResult r = RunCommand("flock " + b + "/lock bash -c " +
                                 ShellQuote("if ! cmp -s " + script + " " + b + "/stamp; then rm -rf " + v +
                                            " " + b + "/stamp && mkdir -p " + v + " && bash " + script + " " + v +
                                            " && cp " + script + " " + b + "/stamp; fi"));
    log_ = r.output;
    image_ = root_ / "ntfs.img";
    ok_ = r.exitCode == 0 && std::filesystem::exists(image_);
    std::vector<uint8_t> text = ReadFile(root_ / "records.txt");
    std::string s(text.begin(), text.end());
    size_t pos = 0;
    while (pos < s.size()) {
      size_t end = s.find('\n', pos);
      if (end == std::string::npos) end = s.size();
      std::string line = s.substr(pos, end - pos);
      pos = end + 1;
      size_t sp = line.rfind(' ');
      if (sp != std::string::npos) records_[line.substr(0, sp)] = std::stoull(line.substr(sp + 1));
    }
  }
  TempDir dir_{"ntfs-volume"};
  std::filesystem::path root_;
  std::filesystem::path image_;
  std::map<std::string, uint64_t> records_;
  bool ok_ = false;
  std::string log_;
};

}  // namespace nuvarin::test
