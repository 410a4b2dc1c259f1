// Scan log store throughput: appends a million findings (with their folder
// relation, as an engine does), then searches the log for all groups and for
// the others group, and reads folder listings back.
//
//   bench_store [records] [folder]   (defaults: 1000000, a fresh temp folder)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "storage/file_type_groups.h"
#include "storage/scan_log_store.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

void Line(const char* what, uint64_t records, uint64_t bytes, double seconds) {
  std::printf("%-28s %10llu records %8.3f s %12.0f records/s %9.1f MB/s\n", what,
              static_cast<unsigned long long>(records), seconds, records / seconds, bytes / seconds / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  fs::path folder = argc > 2 ? fs::path(argv[2])
                             : fs::temp_directory_path() /
                                   ("bench_store_" + std::to_string(Clock::now().time_since_epoch().count()));
  fs::remove_all(folder);

  static const char* kNames[] = {"IMG_%06llu.jpg", "report_%06llu.docx", "track%06llu.mp3",
                                 "clip%06llu.mp4", "backup%06llu.zip",   "notes%06llu",
                                 "data%06llu.bin", "page%06llu.HTM"};
  constexpr uint32_t kFilesPerFolder = 100;
  nuvarin::ScanLogStore store;
  if (store.Open(folder, "Fast_0_bench") != 0) {
    std::fprintf(stderr, "cannot open a log in %s\n", folder.c_str());
    return 1;
  }

  auto start = Clock::now();
  uint32_t parent = 2;
  for (uint64_t i = 0; i < count; ++i) {
    uint32_t id = 0;
    nuvarin::FoundItem* item = store.AppendItem(id);
    item->sourceKind = nuvarin::kSourceFastFat;
    item->itemId = id;
    item->contentCheck = (i % 50) ? 1 : 0;
    item->clusterSize = 4096;
    item->size = 1000 + i;
    item->entrySector = 2048 + i;
    char name[64];
    if (i % kFilesPerFolder == 0) {
      std::snprintf(name, sizeof(name), "Folder%06llu", static_cast<unsigned long long>(i));
      item->isFolder = 1;
      item->objectId = static_cast<uint32_t>(1000 + i);
      item->SetName(name);
      store.AddRelation(nuvarin::MakeRelationKey(0, 2), id, item->objectId, name);  // folders in the root
      parent = item->objectId;
    } else {
      std::snprintf(name, sizeof(name), kNames[i % 8], static_cast<unsigned long long>(i));
      item->objectId = static_cast<uint32_t>(5000000 + i);
      item->SetName(name);
      store.AddRelation(nuvarin::MakeRelationKey(1, parent), id, item->objectId, nullptr);
    }
  }
  int32_t rc = store.Flush();
  double appendSeconds = Seconds(start);
  const uint64_t logBytes = count * nuvarin::kFoundItemSize;
  Line("append + flush", count, logBytes, appendSeconds);
  if (rc != 0) std::fprintf(stderr, "flush failed: %d\n", rc);

  struct Search {
    const char* what;
    std::string pattern;
  };
  const Search searches[] = {
      {"search all five groups", nuvarin::AllGroupsPattern()},
      {"search photo", nuvarin::kPhotoList},
      {"search others", ".other"},
  };
  for (const Search& s : searches) {
    std::vector<nuvarin::FoundItem> found;
    start = Clock::now();
    store.SearchItems(s.pattern, found);
    double seconds = Seconds(start);
    Line(s.what, count, logBytes, seconds);
    std::printf("%-28s %10zu found\n", "", found.size());
  }

  start = Clock::now();
  uint64_t listed = 0;
  const uint64_t folders = (count + kFilesPerFolder - 1) / kFilesPerFolder;
  const uint64_t sample = std::min<uint64_t>(folders, 1000);
  for (uint64_t f = 0; f < sample; ++f) {
    std::vector<nuvarin::FoundItem> items;
    store.ReadFolder(nuvarin::MakeRelationKey(1, static_cast<uint32_t>(1000 + f * kFilesPerFolder)), items);
    listed += items.size();
  }
  double seconds = Seconds(start);
  Line("ReadFolder (1000 folders)", listed, listed * nuvarin::kFoundItemSize, seconds);

  start = Clock::now();
  const uint32_t paths = static_cast<uint32_t>(std::min<uint64_t>(count, 100000));
  uint64_t pathBytes = 0;
  for (uint32_t id = 1; id <= paths; ++id) {
    nuvarin::FoundItem item;
    std::string path;
    if (store.ReadItem(id, item) == 0 && store.ItemPath(item, path) == 0) pathBytes += path.size();
  }
  seconds = Seconds(start);
  Line("ReadItem + ItemPath", paths, paths * nuvarin::kFoundItemSize, seconds);

  store.Close();
  fs::remove_all(folder);
  return 0;
}
