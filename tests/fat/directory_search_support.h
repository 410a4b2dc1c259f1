// Shared pieces of the directory search tests: the sweep loop of the deep
// scan over an image, and the tree of findings read back from the log.
#pragma once
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fat/dir_entry.h"
#include "fat/fat_directory_search.h"
#include "storage/scan_log_index.h"
#include "tests/support/test_support.h"

namespace nuvarin::test {

// Gives this test process a scan-log folder of its own (test programs may run
// side by side) and a fresh scan folder in it for the next log.
inline void FreshLogFolder() {
  static TempDir root("fatsearch-logs");
  static bool set = setenv("XDG_DATA_HOME", root.path().c_str(), 1) == 0;
  (void)set;
  ScanLogIndex::Instance().NewScanFolder();
}

// Hands every sector of the image to the engine as the sweep does: a "." and
// ".." pair to the subdirectory handler, else a sector of plausible entries to
// the entry handler. The image is read in 64 KiB buffers, from sector
// `first` up to (not including) sector `end`.
inline void SweepImage(CProfessionalFatRecovery& engine, const std::filesystem::path& image,
                       uint64_t first = 0, uint64_t end = UINT64_MAX) {
  std::ifstream in(image, std::ios::binary);
  ASSERT_TRUE(in.good()) << image;
  in.seekg(static_cast<std::streamoff>(first * 512));
  std::vector<uint8_t> buffer(65536);
  uint64_t sector = first;
  while (in && sector < end) {
    in.read(reinterpret_cast<char*>(buffer.data()), buffer.size());
    size_t got = static_cast<size_t>(in.gcount());
    for (size_t off = 0; off + 512 <= got && sector < end; off += 512, ++sector) {
      const uint8_t* s = buffer.data() + off;
      if (IsDotPair(s, 512)) {
        engine.HandleSubdirectoryStart(s, 512, sector);
      } else if (LooksLikeDirectorySector(s, 512)) {
        engine.HandleEntrySector(s, 512, sector);
      }
    }
  }
}

struct FoundFile {
  std::string path;  // folders joined with "/", then the name
  FoundItem item;
};

// Every file below `folder` (null: the root), depth first.
inline void CollectFiles(CProfessionalFatRecovery& engine, const FoundItem* folder, uint32_t depth,
                         const std::string& prefix, std::vector<FoundFile>& files,
                         std::vector<FoundFile>* folders = nullptr) {
  ASSERT_LT(depth, 32u) << "folder tree loops at " << prefix;
  std::vector<FoundItem> items;
  ASSERT_EQ(engine.ReadFolder(folder, depth, items), 0);
  for (const FoundItem& item : items) {
    std::string path = prefix + std::string(item.Name());
    if (item.isFolder) {
      if (folders) folders->push_back(FoundFile{path, item});
      CollectFiles(engine, &item, depth + 1, path + "/", files, folders);
    } else {
      files.push_back(FoundFile{path, item});
    }
  }
}

}  // namespace nuvarin::test
