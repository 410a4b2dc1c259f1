// Image copier throughput: copies a source file (or a device) into an image,
// once plainly and once with --skip-bad's sector-by-sector rereads of chunks
// that fail (one bad sector in every 256 chunks), and the disk list build.
//
//   bench_image [MiB] [source]   (defaults: 512 MiB of a fresh temp file)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "disks/disk_map.h"
#include "disks/image_copier.h"
#include "platform/file_io.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

uint64_t g_bytes = 0;

void SparseFaults(nuvarin::platform::FileHandle h, void*) {
  std::vector<std::pair<uint64_t, uint64_t>> faults;
  for (uint64_t at = 65536 * 100; at < g_bytes; at += 65536 * 256) faults.emplace_back(at + 512 * 7, 512);
  nuvarin::platform::SetReadFaults(h, faults);
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 512;
  fs::path folder =
      fs::temp_directory_path() / ("bench_image_" + std::to_string(Clock::now().time_since_epoch().count()));
  fs::create_directories(folder);
  fs::path source = argc > 2 ? fs::path(argv[2]) : folder / "source.bin";
  if (argc <= 2) {
    std::ofstream out(source, std::ios::binary);
    std::vector<char> block(1 << 20);
    std::mt19937_64 rng(1);
    for (auto& c : block) c = static_cast<char>(rng());
    for (uint64_t i = 0; i < mib; ++i) out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  g_bytes = fs::file_size(source);
  const fs::path image = folder / "copy.img";

  for (int pass = 0; pass < 2; ++pass) {
    nuvarin::ImageCopier c;
    c.skipBad = pass == 1;
    if (pass == 1) c.onSourceOpened = &SparseFaults;
    auto start = Clock::now();
    int32_t rc = nuvarin::CreateImageFromPath(c, source, 0, 0, image, nullptr);
    double s = Seconds(start);
    std::printf("%-22s rc %d  %8.1f MiB  %7.3f s  %8.1f MiB/s  bad sectors %llu\n",
                pass == 0 ? "plain copy" : "skip-bad, sparse faults", rc, c.sectorsCopied * 512.0 / (1 << 20),
                s, c.sectorsCopied * 512.0 / (1 << 20) / s, static_cast<unsigned long long>(c.badSectors));
  }
  auto start = Clock::now();
  nuvarin::DiskMap map;
  for (int i = 0; i < 10; ++i) map.EnumerateDisks();
  std::printf("%-22s %zu disks  %7.3f ms per build\n", "disk list", map.Disks().size(), Seconds(start) * 100);
  fs::remove_all(folder);
  return 0;
}
