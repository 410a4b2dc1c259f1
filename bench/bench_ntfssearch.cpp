// Throughput of the NTFS record search as the deep scan's sweep drives it:
// 64 KiB reads, the in-memory candidate test on every sector, each file record
// handed to the engine, then the folder pass. Reports the sweep's MB/s and the
// records handled per second, and the peak RSS.
//
//   bench_ntfssearch [IMAGE]
//   bench_ntfssearch --make IMAGE   (only writes the built area)
//
// Without an image, a 256 MiB area is built in the temp folder: an MFT of
// 200,000 records (one folder per 50 files, folders four deep, non-resident
// data), the rest zero.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs_record_search.h"
#include "platform/error_codes.h"
#include "storage/sector_device.h"

namespace fs = std::filesystem;
using nuvarin::CProfessionalNtfsRecovery;

namespace {

void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
void Put64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

// One 1 KiB record: a file name (parent, name) and a data attribute.
void MakeRecord(uint8_t* rec, uint32_t number, uint32_t parent, bool folder, uint32_t cluster) {
  std::memset(rec, 0, 1024);
  std::memcpy(rec, "FILE", 4);
  Put16(rec + 0x04, 0x30);
  Put16(rec + 0x06, 3);
  Put16(rec + 0x14, 0x38);
  Put16(rec + 0x16, folder ? 3 : 1);
  Put32(rec + 0x1C, 1024);
  Put32(rec + 0x2C, number);
  Put16(rec + 0x30, 1);
  size_t pos = 0x38;
  char name[32];
  int n = std::snprintf(name, sizeof(name), folder ? "folder%u" : "file%u.bin", number);
  uint32_t fnLength = (0x18 + 0x42 + 2 * n + 7) & ~7u;
  Put32(rec + pos, 0x30);
  Put32(rec + pos + 4, fnLength);
  Put32(rec + pos + 0x10, 0x42 + 2 * n);
  Put16(rec + pos + 0x14, 0x18);
  uint8_t* v = rec + pos + 0x18;
  Put32(v, parent);
  Put64(v + 0x30, 12345);
  v[0x40] = static_cast<uint8_t>(n);
  v[0x41] = 1;
  for (int i = 0; i < n; ++i) v[0x42 + 2 * i] = static_cast<uint8_t>(name[i]);
  pos += fnLength;
  if (!folder) {
    Put32(rec + pos, 0x80);
    Put32(rec + pos + 4, 0x48);
    rec[pos + 8] = 1;
    Put16(rec + pos + 0x20, 0x40);
    Put64(rec + pos + 0x28, 3 * 4096);
    Put64(rec + pos + 0x30, 12345);
    Put64(rec + pos + 0x38, 12345);
    uint8_t runs[] = {0x31, 0x03, static_cast<uint8_t>(cluster), static_cast<uint8_t>(cluster >> 8),
                      static_cast<uint8_t>(cluster >> 16), 0};
    std::memcpy(rec + pos + 0x40, runs, sizeof(runs));
    pos += 0x48;
  }
  Put32(rec + pos, 0xFFFFFFFF);
  Put32(rec + 0x18, static_cast<uint32_t>(pos + 8));
  // Update sequence: the saved words, then the sequence number at both sector ends.
  std::memcpy(rec + 0x32, rec + 510, 2);
  std::memcpy(rec + 0x34, rec + 1022, 2);
  Put16(rec + 510, 1);
  Put16(rec + 1022, 1);
}

fs::path BuildArea(fs::path path) {
  if (path.empty()) path = fs::temp_directory_path() / ("bench_ntfssearch_" + std::to_string(getpid()) + ".img");
  const uint64_t bytes = 256ull << 20;
  const uint32_t records = 200000;
  const uint64_t mftSector = 8192;
  std::ofstream out(path, std::ios::binary);
  std::vector<uint8_t> zero(1 << 20, 0);
  for (uint64_t done = 0; done < bytes; done += zero.size()) out.write(reinterpret_cast<char*>(zero.data()), zero.size());
  // Written in pieces so that the benchmark's own memory stays small.
  std::vector<uint8_t> mft(1024 * 1024);
  out.seekp(static_cast<std::streamoff>(mftSector * 512));
  for (uint32_t n = 0; n < records; ++n) {
    if (n % 1024 == 0 && n > 0) out.write(reinterpret_cast<char*>(mft.data()), static_cast<std::streamsize>(mft.size()));
    if (n % 1024 == 0) std::fill(mft.begin(), mft.end(), 0);
    if (n < 16) continue;
    // Records 16.. : every 50th a folder, in chains of four below the root;
    // the files between two folders live in the one before them.
    bool folder = n % 50 == 0;
    uint32_t parent;
    if (folder)
      parent = (n / 50) % 4 == 0 ? 5 : n - 50;
    else
      parent = n < 50 ? 5 : n - n % 50;
    MakeRecord(mft.data() + static_cast<size_t>(n % 1024) * 1024, n, parent, folder, 100000 + n * 3);
  }
  out.write(reinterpret_cast<char*>(mft.data()), static_cast<std::streamsize>((records % 1024) * 1024));
  return path;
}

int32_t NoCheck(const uint8_t*, size_t, std::string_view, const nuvarin::SectorDevice&, uint32_t, uint64_t) {
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--make") {
    BuildArea(argv[2]);
    return 0;
  }
  bool built = argc < 2;
  fs::path image = built ? BuildArea({}) : fs::path(argv[1]);
  std::string xdg = (fs::temp_directory_path() / ("bench_ntfssearch_xdg_" + std::to_string(getpid()))).string();
  setenv("XDG_DATA_HOME", xdg.c_str(), 1);

  nuvarin::SectorDevice device;
  if (nuvarin::OpenImageFile(image, device) != nuvarin::kOk) {
    std::fprintf(stderr, "cannot open %s\n", image.c_str());
    return 1;
  }
  CProfessionalNtfsRecovery engine;
  if (engine.OpenImage(image, 0) != nuvarin::kOk || engine.OpenProLog(nullptr) != nuvarin::kOk) {
    std::fprintf(stderr, "cannot open the engine\n");
    return 1;
  }
  if (!getenv("BENCH_NO_CHECK")) engine.SetContentChecker(&NoCheck);

  auto t0 = std::chrono::steady_clock::now();
  std::vector<uint8_t> buffer(65536), single(nuvarin::kMftReadBytes);
  uint64_t candidates = 0;
  for (uint64_t pos = 0; pos < device.sectorCount;) {
    uint64_t k = std::min<uint64_t>(128, device.sectorCount - pos), got = 0;
    nuvarin::ReadSectors(k, device, buffer.data(), pos, 512, got);
    for (uint64_t s = 0; s < got; ++s) {
      size_t left = (got - s) * 512;
      if (CProfessionalNtfsRecovery::ClassifySector(buffer.data() + s * 512, left, 512) !=
          CProfessionalNtfsRecovery::SectorKind::kFileRecord)
        continue;
      ++candidates;
      if (left < 1024) {
        uint64_t n = 0;
        std::memset(single.data(), 0, single.size());
        nuvarin::ReadSectors(std::min<uint64_t>(16, device.sectorCount - pos - s), device, single.data(), pos + s, 512,
                             n);
        engine.HandleCandidateRecord(single.data(), single.size(), pos + s,
                                     CProfessionalNtfsRecovery::CandidateMode::kSweep, 0);
      } else {
        engine.HandleCandidateRecord(buffer.data() + s * 512, left, pos + s,
                                     CProfessionalNtfsRecovery::CandidateMode::kSweep, 0);
      }
    }
    pos += k;
  }
  auto t1 = std::chrono::steady_clock::now();
  engine.FinishFolders();
  auto t2 = std::chrono::steady_clock::now();

  double sweep = std::chrono::duration<double>(t1 - t0).count();
  double folders = std::chrono::duration<double>(t2 - t1).count();
  double mb = device.sectorCount * 512.0 / 1e6;
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("area %.0f MB, %llu candidates, %llu findings, %zu folders\n", mb,
              static_cast<unsigned long long>(candidates), static_cast<unsigned long long>(engine.GetItemCount()),
              engine.FolderCount());
  std::printf("sweep %.3f s: %.0f MB/s, %.0f records/s; folder pass %.3f s; peak RSS %ld MB\n", sweep, mb / sweep,
              candidates / sweep, folders, usage.ru_maxrss / 1024);
  if (built) fs::remove(image);
  fs::remove_all(xdg);
  return 0;
}
