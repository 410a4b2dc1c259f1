// libFuzzer target over IdentifyAndSize. The input is a small raw image: its
// first sector is the candidate, the rest is what the header tests and size
// rules read on. Every identification must stay inside its buffers, end, and
// agree with the plain walk of the table.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "signature/carve_state.h"
#include "signature/catalogue.h"
#include "storage/sector_device.h"

using namespace nuvarin;

namespace {

const std::filesystem::path& ImagePath() {
  static const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("carve_fuzz_" + std::to_string(std::rand()) + ".img");
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 256 * 1024) return 0;
  // The first byte picks the candidate's sector and the byte count it is given.
  const uint64_t candidate = data[0] % 4;
  const size_t count = 1 + (data[1] * 2);  // 1..511 or the whole sector below
  const uint8_t* image = data + 2;
  const size_t imageSize = size - 2;
  {
    std::ofstream out(ImagePath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image), static_cast<std::streamsize>(imageSize));
    // Whole sectors only: the tail is zero-filled.
    static const char zeros[512] = {};
    out.write(zeros, static_cast<std::streamsize>((512 - imageSize % 512) % 512));
  }
  SectorDevice device;
  if (OpenImageFile(ImagePath(), device) != 0 || device.sectorCount <= candidate) return 0;
  uint8_t sector[512] = {};
  const size_t at = static_cast<size_t>(candidate * 512);
  for (size_t i = 0; i < 512 && at + i < imageSize; ++i) sector[i] = image[at + i];

  CarveState& st = CarveState::Instance();
  st.Reset();
  st.device = &device;
  st.fileStart = st.cursorSector = candidate;
  st.tsFollow = data[1] & 1;
  for (size_t n : {count, size_t{512}}) {
    size_t rowFast = 0, rowPlain = 0;
    uint32_t fast = RunHeaderTests(sector, n, &rowFast);
    uint32_t plain = RunHeaderTestsPlain(sector, n, &rowPlain);
    if (fast != plain || (plain != kNoKind && rowFast != rowPlain)) __builtin_trap();
  }
  CarveHit hit;
  IdentifyAndSize(sector, data[1] & 2 ? 512 : count, device, 512, candidate, CarveProgress{0, 4, -1, 0}, hit);
  MatchesExtension(sector, 512, "doc", device, 512, candidate);
  return 0;
}
