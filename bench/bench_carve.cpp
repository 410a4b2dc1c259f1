// bench_carve IMAGE [--to DIR] [--quiet]
// Sweeps a raw image with the signature carver the way the deep scan does and
// prints every carved file (name, size), the totals and the sweep's speed.
// With --to, every carved file is recovered into DIR through RecoverItem.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "signature/carve_harness.h"
#include "signature/file_type_recovery.h"
#include "storage/scan_log_index.h"

using namespace nuvarin;

int main(int argc, char** argv) {
  std::string image, to;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--to") == 0 && i + 1 < argc) to = argv[++i];
    else if (std::strcmp(argv[i], "--quiet") == 0) quiet = true;
    else image = argv[i];
  }
  if (image.empty()) {
    std::fprintf(stderr, "usage: bench_carve IMAGE [--to DIR] [--quiet]\n");
    return 2;
  }
  // A fresh scan folder, as a scan job starts one, so that the log holds this sweep only.
  ScanLogIndex::Instance().NewScanFolder();
  CFileTypeRecovery engine;
  int32_t rc = engine.OpenImage(image, 0);
  if (rc != kOk) {
    std::fprintf(stderr, "cannot open %s: %s\n", image.c_str(), ErrorMessage(rc).c_str());
    return 1;
  }
  engine.BeginScan();
  SweepStats stats;
  rc = SweepArea(engine, 0, engine.Device().sectorCount, stats, [&](const CarveHit& hit, uint64_t) {
    if (!quiet) std::printf("%s %llu\n", hit.name, static_cast<unsigned long long>(hit.length));
  });
  engine.FlushLog();
  const double seconds = stats.elapsedMs / 1000.0;
  const double mb = static_cast<double>(stats.sectorsSwept) * engine.Device().bytesPerSector / 1e6;
  std::printf("items %llu, carved bytes %llu, swept %.1f MB in %.3f s, %.1f MB/s\n",
              static_cast<unsigned long long>(stats.itemsFound), static_cast<unsigned long long>(stats.bytesCarved),
              mb, seconds, seconds > 0 ? mb / seconds : 0.0);
  if (rc != kOk) return 1;
  if (!to.empty()) {
    std::vector<FoundItem> items;
    engine.ReadFolder(nullptr, 0, items);
    int failures = 0;
    for (const FoundItem& item : items) {
      std::filesystem::path dest = std::filesystem::path(to) / std::string(item.Name());
      int32_t r = engine.RecoverItem(&item, dest, 0);
      if (r != kOk) {
        std::fprintf(stderr, "recover %s: %s\n", std::string(item.Name()).c_str(), ErrorMessage(r).c_str());
        ++failures;
      }
    }
    std::printf("recovered %zu files into %s\n", items.size() - failures, to.c_str());
    if (failures) return 1;
  }
  return 0;
}
