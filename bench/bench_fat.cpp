// Fast FAT scan speed on a healthy FAT32 volume of 50,000 files in 100
// folders with 50 deletions, beside The Sleuth Kit's "fls -rd" on the same
// image, with the peak resident memory.
//   bench_fat [IMAGE]   (default: $TMPDIR/nuvarin-bench/fat32_50k.img, built once)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fat/fast_fat_recovery.h"
#include "storage/scan_log_index.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

int Run(const std::string& command) { return std::system(command.c_str()); }

// 100 folders of 500 one-cluster files with distinct 8.3 names (long names that
// share a prefix make mtools crawl), then 50 deletions.
bool BuildImage(const std::filesystem::path& image) {
  std::filesystem::path work = image.parent_path() / "fat32_50k.src";
  std::filesystem::create_directories(work);
  std::string w = "'" + work.string() + "'";
  std::string img = "'" + image.string() + ".part'";
  std::string script =
      "set -e; export MTOOLS_SKIP_CHECK=1; rm -rf " + w + "/*; cd " + w + "; "
      "for d in $(seq -w 0 99); do mkdir D$d; for f in $(seq -w 0 499); do echo \"folder $d file $f\" > D$d/F$f.TXT; done; done; "
      "rm -f " + img + "; mkfs.fat -F 32 -C " + img + " 1048576 >/dev/null; "
      "mcopy -s -i " + img + " D* ::/; "
      "for d in 00 11 22 33 44 55 66 77 88 99; do for f in 000 100 200 300 400; do mdel -i " + img + " ::/D$d/F$f.TXT; done; done; "
      "mv " + img + " '" + image.string() + "'; rm -rf " + w;
  std::filesystem::path file = image.parent_path() / "build_fat32_50k.sh";
  FILE* f = std::fopen(file.c_str(), "w");
  if (!f) return false;
  std::fputs(script.c_str(), f);
  std::fclose(f);
  return Run("bash '" + file.string() + "'") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* tmp = std::getenv("TMPDIR");
  std::filesystem::path image = argc > 1 ? std::filesystem::path(argv[1])
                                         : std::filesystem::path(tmp ? tmp : "/tmp") / "nuvarin-bench" / "fat32_50k.img";
  if (!std::filesystem::exists(image)) {
    std::filesystem::create_directories(image.parent_path());
    std::printf("building %s (once)...\n", image.c_str());
    auto start = std::chrono::steady_clock::now();
    if (!BuildImage(image)) {
      std::fprintf(stderr, "could not build the image (mkfs.fat and mtools needed)\n");
      return 1;
    }
    std::printf("built in %.1f s\n", Seconds(start));
  }
  std::filesystem::path logs = image.parent_path() / "logs";
  setenv("XDG_DATA_HOME", logs.c_str(), 1);

  double best = 1e9;
  uint64_t records = 0;
  for (int round = 0; round < 3; ++round) {
    nuvarin::ScanLogIndex::Instance().NewScanFolder();
    nuvarin::CFastFatRecovery engine;
    auto start = std::chrono::steady_clock::now();
    if (engine.OpenImage(image, 0) != 0 || engine.OpenLog(nullptr) != 0) {
      std::fprintf(stderr, "scan failed\n");
      return 1;
    }
    best = std::min(best, Seconds(start));
    records = engine.GetItemCount();
  }
  nuvarin::CFastFatRecovery engine;
  engine.OpenImage(image, 0);
  auto bitmapStart = std::chrono::steady_clock::now();
  engine.LoadAllocationBitmap();
  double bitmap = Seconds(bitmapStart);

  auto flsStart = std::chrono::steady_clock::now();
  int fls = Run("fls -rd '" + image.string() + "' > /dev/null");
  double flsTime = Seconds(flsStart);
  auto flsAllStart = std::chrono::steady_clock::now();
  Run("fls -r '" + image.string() + "' > /dev/null");
  double flsAll = Seconds(flsAllStart);

  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("fast FAT scan: %.3f s (best of 3), %llu records logged\n", best,
              static_cast<unsigned long long>(records));
  std::printf("allocation bitmap: %.3f s for %u clusters\n", bitmap, engine.Geometry().clusterCount);
  if (fls == 0) std::printf("fls -rd: %.3f s, fls -r: %.3f s\n", flsTime, flsAll);
  std::printf("peak resident memory: %ld MiB\n", usage.ru_maxrss / 1024);
  return 0;
}
