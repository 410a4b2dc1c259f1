// Deleted-file scan speed on an NTFS volume of 120,000 files in 120 folders,
// 60,000 of them deleted, made once with mkntfs and ntfs-3g; reports MFT
// records per second, total time and peak memory, and times The Sleuth Kit's
// "fls -rd" on the same image.
//   bench_ntfs [IMAGE]   (default: $TMPDIR/nuvarin-bench/ntfs-120k.img, built once)
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ntfs/fast_ntfs_recovery.h"
#include "storage/scan_log_index.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  using nuvarin::CFastNtfsRecovery;
  const char* tmp = std::getenv("TMPDIR");
  std::filesystem::path base = std::filesystem::path(tmp ? tmp : "/tmp") / "nuvarin-bench";
  std::filesystem::path image = argc > 1 ? std::filesystem::path(argv[1]) : base / "ntfs-120k.img";
  if (!std::filesystem::exists(image)) {
    std::filesystem::create_directories(image.parent_path());
    std::printf("building %s (once, a few minutes)...\n", image.c_str());
    auto start = std::chrono::steady_clock::now();
    std::string cmd = std::string("bash '") + NUVARIN_NTFS_BENCH_SCRIPT + "' '" + image.string() + "'";
    if (std::system(cmd.c_str()) != 0) {
      std::fprintf(stderr, "could not build the image (mkntfs and ntfs-3g needed, as root)\n");
      return 1;
    }
    std::printf("built in %.1f s\n", Seconds(start));
  }
  // Logs go to a private folder, not the user's.
  std::filesystem::path logs = base / "ntfs-logs";
  std::filesystem::remove_all(logs);
  setenv("XDG_DATA_HOME", logs.c_str(), 1);
  nuvarin::ScanLogIndex::Instance().NewScanFolder();

  // Page cache warm for both readers.
  std::system(("cat '" + image.string() + "' > /dev/null").c_str());

  CFastNtfsRecovery engine;
  auto start = std::chrono::steady_clock::now();
  int32_t rc = engine.OpenImage(image, 0);
  if (rc != 0) {
    std::fprintf(stderr, "open failed: %d\n", rc);
    return 1;
  }
  rc = engine.OpenLog(nullptr);
  double scan = Seconds(start);
  uint64_t records = 0;
  for (const auto& run : engine.MftRuns()) records += run.clusterCount * engine.Geometry().ClusterBytes();
  records /= engine.Geometry().recordSize;
  uint64_t findings = engine.GetItemCount();
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("nuvarin deleted-file scan: result %d, %llu MFT records in %zu runs, %llu findings\n", rc,
              static_cast<unsigned long long>(records), engine.MftRuns().size(),
              static_cast<unsigned long long>(findings));
  std::printf("  total %.3f s, %.0f records/s, peak RSS %ld KiB\n", scan, records / scan, usage.ru_maxrss);

  auto flsStart = std::chrono::steady_clock::now();
  std::string fls = "fls -rd '" + image.string() + "' | wc -l";
  FILE* p = popen(fls.c_str(), "r");
  long lines = 0;
  if (p) {
    if (std::fscanf(p, "%ld", &lines) != 1) lines = -1;
    pclose(p);
  }
  std::printf("fls -rd: %ld deleted entries in %.3f s\n", lines, Seconds(flsStart));
  return rc == 0 ? 0 : 1;
}
