// Size and duration texts shown by the windows and the command line.
#pragma once
#include <cstdint>
#include <string>

namespace nuvarin {

// "1.50 KB", "1023 Bytes", ... (binary units, two decimals).
std::string SizeText(int64_t bytes);
// "1 Hour 1 Min", "1 Min 15 Sec", "59 Sec".
std::string DurationText(int64_t seconds);

}  // namespace nuvarin
