// Throughput of the FAT directory search as the deep scan's sweep drives it:
// 64 KiB reads, the two in-memory directory tests on every sector, each
// directory sector handed to the engine, then the folder pass. Reports the
// sweep's MB/s, the findings and the peak RSS.
//
//   bench_fatsearch [IMAGE]
//   bench_fatsearch --make IMAGE   (only writes the built area)
//
// Without an image, a 256 MiB area is built in the temp folder: the data area
// of a formatted FAT32 volume (4 KiB clusters, cluster 2 at sector 2,048) with
// a directory every 64 KiB, eight subfolders per folder, 24 files with long
// names in each, and random bytes everywhere else.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fat/dir_entry.h"
#include "fat/fat_directory_search.h"
#include "storage/scan_log_index.h"

namespace fs = std::filesystem;
using nuvarin::CProfessionalFatRecovery;

namespace {

constexpr uint64_t kAreaBytes = 256ull << 20;
constexpr uint32_t kSpc = 8;
constexpr uint64_t kDataStart = 2048;
constexpr uint32_t kDirEvery = 16;  // clusters
constexpr uint32_t kFilesPerDir = 24;

void Put16(uint8_t* p, uint16_t v) {
  std::memcpy(p, &v, 2);
}
void Put32(uint8_t* p, uint32_t v) {
  std::memcpy(p, &v, 4);
}

void ShortEntry(uint8_t* e, const char* name11, uint8_t attr, uint32_t cluster, uint32_t size) {
  std::memset(e, 0, 32);
  std::memcpy(e, name11, 11);
  e[11] = attr;
  const uint16_t date = ((2021 - 1980) << 9) | (3 << 5) | 14, time = (9 << 11) | (30 << 5);
  Put16(e + 14, time);
  Put16(e + 16, date);
  Put16(e + 18, date);
  Put16(e + 20, static_cast<uint16_t>(cluster >> 16));
  Put16(e + 22, time);
  Put16(e + 24, date);
  Put16(e + 26, static_cast<uint16_t>(cluster));
  Put32(e + 28, size);
}

uint8_t Checksum(const uint8_t* e) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + e[i]);
  return sum;
}

// Long-name parts then the short entry; returns the entries used.
size_t FileEntries(uint8_t* at, const std::string& name, const char* short11, uint32_t cluster,
                   uint32_t size) {
  static const size_t kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  uint8_t shortEntry[32];
  ShortEntry(shortEntry, short11, 0x20, cluster, size);
  const uint8_t sum = Checksum(shortEntry);
  const size_t parts = (name.size() + 12) / 13;
  for (size_t p = 0; p < parts; ++p) {
    size_t index = parts - 1 - p;  // last part first
    uint8_t* e = at + p * 32;
    std::memset(e, 0, 32);
    e[0] = static_cast<uint8_t>((index + 1) | (p == 0 ? 0x40 : 0));
    e[11] = 0x0F;
    e[13] = sum;
    for (size_t i = 0; i < 13; ++i) {
      size_t c = index * 13 + i;
      uint16_t ch = c < name.size() ? static_cast<uint8_t>(name[c]) : (c == name.size() ? 0 : 0xFFFF);
      Put16(e + kOffsets[i], ch);
    }
  }
  std::memcpy(at + parts * 32, shortEntry, 32);
  return parts + 1;
}

uint32_t DirCluster(uint32_t d) {
  return 2 + d * kDirEvery;
}

void MakeArea(const fs::path& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::mt19937_64 rng(7);
  std::vector<uint8_t> chunk(64 * 1024);
  const uint64_t chunks = kAreaBytes / chunk.size();
  const uint32_t dirs = static_cast<uint32_t>((kAreaBytes / 512 - kDataStart) / (kSpc * kDirEvery));
  for (uint64_t c = 0; c < chunks; ++c) {
    for (size_t i = 0; i < chunk.size(); i += 8) {
      uint64_t v = rng();
      std::memcpy(chunk.data() + i, &v, 8);
    }
    uint64_t firstSector = c * chunk.size() / 512;
    if (firstSector < kDataStart) std::memset(chunk.data(), 0, chunk.size());
    // The directory cluster that starts in this chunk, if any.
    for (uint32_t k = 0; k < chunk.size() / 512; k += kSpc) {
      uint64_t s = firstSector + k;
      if (s < kDataStart || (s - kDataStart) % (kSpc * kDirEvery) != 0) continue;
      uint32_t d = static_cast<uint32_t>((s - kDataStart) / (kSpc * kDirEvery));
      if (d >= dirs) continue;
      uint8_t* dir = chunk.data() + k * 512;
      std::memset(dir, 0, kSpc * 512);
      uint32_t parent = d < 8 ? 0 : DirCluster(d / 8 - 1);
      ShortEntry(dir, ".          ", 0x10, DirCluster(d), 0);
      ShortEntry(dir + 32, "..         ", 0x10, parent, 0);
      size_t e = 2;
      for (uint32_t f = 0; f < kFilesPerDir; ++f) {
        char short11[12];
        std::snprintf(short11, sizeof(short11), "DOC%05u", f);
        std::memcpy(short11 + 8, "TXT", 3);
        std::string name =
            "Document number " + std::to_string(f) + " of folder " + std::to_string(d) + ".txt";
        e += FileEntries(dir + e * 32, name, short11, DirCluster(d) + 1 + f % (kDirEvery - 1), 3000);
      }
      for (uint32_t child = 8 * (d + 1); child < 8 * (d + 1) + 8 && child < dirs; ++child) {
        char short11[12];
        std::snprintf(short11, sizeof(short11), "SUB%05u   ", child);
        ShortEntry(dir + e * 32, short11, 0x10, DirCluster(child), 0);
        ++e;
      }
    }
    out.write(reinterpret_cast<const char*>(chunk.data()), chunk.size());
  }
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

long PeakRssKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path image;
  if (argc >= 3 && std::string(argv[1]) == "--make") {
    MakeArea(argv[2]);
    return 0;
  }
  fs::path tmp = fs::temp_directory_path() / "nuvarin-bench-fatsearch";
  fs::create_directories(tmp);
  if (argc >= 2) {
    image = argv[1];
  } else {
    image = tmp / "area.img";
    if (!fs::exists(image) || fs::file_size(image) != kAreaBytes) MakeArea(image);
  }
  setenv("XDG_DATA_HOME", (tmp / "xdg").c_str(), 1);
  nuvarin::ScanLogIndex::Instance().NewScanFolder();

  CProfessionalFatRecovery engine;
  if (engine.OpenImage(image, 0) != 0 || engine.OpenProLog(nullptr) != 0) {
    std::fprintf(stderr, "cannot open %s\n", image.c_str());
    return 1;
  }
  engine.PrepareSweep();
  auto start = std::chrono::steady_clock::now();
  const double cpuStart = CpuSeconds();
  std::ifstream in(image, std::ios::binary);
  std::vector<uint8_t> buffer(65536);
  uint64_t sector = 0, bytes = 0, handed = 0;
  double handlerSeconds = 0;
  while (in) {
    in.read(reinterpret_cast<char*>(buffer.data()), buffer.size());
    size_t got = static_cast<size_t>(in.gcount());
    bytes += got;
    for (size_t off = 0; off + 512 <= got; off += 512, ++sector) {
      const uint8_t* s = buffer.data() + off;
      bool dot = nuvarin::IsDotPair(s, 512);
      if (!dot && !nuvarin::LooksLikeDirectorySector(s, 512)) continue;
      auto t0 = std::chrono::steady_clock::now();
      if (dot) {
        engine.HandleSubdirectoryStart(s, 512, sector);
      } else {
        engine.HandleEntrySector(s, 512, sector);
      }
      handlerSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      ++handed;
    }
  }
  auto swept = std::chrono::steady_clock::now();
  const double cpuSweep = CpuSeconds() - cpuStart;
  engine.FinishFolders();
  auto done = std::chrono::steady_clock::now();
  double sweepSeconds = std::chrono::duration<double>(swept - start).count();
  double finishSeconds = std::chrono::duration<double>(done - swept).count();
  std::printf("area %.0f MiB, %llu directory sectors handed, %llu records written\n", bytes / 1048576.0,
              static_cast<unsigned long long>(handed),
              static_cast<unsigned long long>(engine.GetItemCount()));
  std::printf("sweep %.3f s (%.0f MB/s), of which handlers %.3f s; folder pass %.3f s; peak RSS %ld MiB\n",
              sweepSeconds, bytes / 1e6 / sweepSeconds, handlerSeconds, finishSeconds, PeakRssKiB() / 1024);
  std::printf("sweep CPU time %.3f s (%.0f MB/s of CPU)\n", cpuSweep, bytes / 1e6 / cpuSweep);
  return 0;
}
