// Deep-scan sweep speed: one composite scan of an image, reported as MB/s of
// the area read, beside a plain buffered read and an O_DIRECT read of the same
// image, with the peak resident memory.
//   bench_deepscan IMAGE
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "deepscan/professional_recovery.h"
#include "storage/engine_factory.h"
#include "storage/file_type_groups.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Reads the whole file in 1 MiB pieces; O_DIRECT when asked. Returns MB/s.
double ReadSpeed(const char* path, bool direct) {
  int fd = ::open(path, O_RDONLY | (direct ? O_DIRECT : 0));
  if (fd < 0) return 0;
  const size_t piece = 1 << 20;
  void* buf = nullptr;
  if (posix_memalign(&buf, 4096, piece) != 0) return 0;
  auto start = std::chrono::steady_clock::now();
  uint64_t total = 0;
  ssize_t n;
  while ((n = ::read(fd, buf, piece)) > 0) total += static_cast<uint64_t>(n);
  double s = Seconds(start);
  std::free(buf);
  ::close(fd);
  return s > 0 ? total / s / 1e6 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_deepscan IMAGE   (make one with bench/make_deepscan_image.sh)\n");
    return 2;
  }
  const char* image = argv[1];
  std::string logs = (std::filesystem::temp_directory_path() / "nuvarin-bench-deepscan").string();
  std::filesystem::remove_all(logs);
  setenv("XDG_DATA_HOME", logs.c_str(), 1);

  double buffered = ReadSpeed(image, false);  // also warms the page cache
  double direct = ReadSpeed(image, true);

  auto engine = nuvarin::CreateEngineForImage(image, 1, true);
  if (!engine) {
    std::fprintf(stderr, "bench_deepscan: cannot open %s\n", image);
    return 1;
  }
  engine->SetProgressCallback(nullptr, nullptr, nullptr, 100);
  auto start = std::chrono::steady_clock::now();
  int32_t rc = engine->OpenLog(nullptr);
  double s = Seconds(start);
  auto* composite = dynamic_cast<nuvarin::CProfessionalRecovery*>(engine.get());
  uint64_t bytes = composite ? composite->LastSweep().bytesRead : 0;
  uint64_t covered = composite ? composite->LastSweep().sectorsDone * 512 : 0;
  std::vector<nuvarin::FoundItem> found;
  engine->SearchItems(nuvarin::AllGroupsPattern(), found);
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("deep scan: area of %.1f MB in %.2f s = %.0f MB/s; the sweep itself read %.1f MB (%.0f MB/s), "
              "the rest lies inside carved files (result %d, %llu records, %zu listed)\n",
              covered / 1e6, s, s > 0 ? covered / s / 1e6 : 0.0, bytes / 1e6, s > 0 ? bytes / s / 1e6 : 0.0, rc,
              static_cast<unsigned long long>(engine->GetItemCount()), found.size());
  std::printf("plain read (page cache): %.0f MB/s\nO_DIRECT read: %.0f MB/s\npeak RSS: %.1f MB\n", buffered, direct,
              ru.ru_maxrss / 1024.0);
  std::filesystem::remove_all(logs);
  return rc == 0 ? 0 : 1;
}
