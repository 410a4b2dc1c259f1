#include "fat/entry_names.h"

#include <string_view>

#include "platform/text.h"
#include "storage/found_item.h"

namespace nuvarin {
namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  // Count years from March so that the leap day falls at the end of a year.
  year -= month <= 2 ? 1 : 0;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  int64_t yearOfEra = year - era * 400;
  int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

int64_t DaysSince1601(int year, int month, int day) {
  return DaysFromCivil(year, month, day) - DaysFromCivil(1601, 1, 1);
}

// Code page 437, bytes 0x80 to 0xFF.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

void TrimTrailingSpaces(std::string& s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
}

}  // namespace

uint64_t FatDateTimeToFiletime(uint16_t date, uint16_t time, uint32_t milliseconds) {
  int day = date & 0x1F;
  int month = (date >> 5) & 0x0F;
  int year = (date >> 9) + 1980;
  int second = (time & 0x1F) * 2;
  int minute = (time >> 5) & 0x3F;
  int hour = time >> 11;
  // Seconds may carry one or two from the hundredths byte of a creation time.
  second += static_cast<int>(milliseconds / 1000);
  milliseconds %= 1000;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return 0;
  if (hour > 23 || minute > 59 || second > 59) return 0;
  int64_t days = DaysSince1601(year, month, day);
  int64_t secs = days * 86400 + hour * 3600 + minute * 60 + second;
  return static_cast<uint64_t>(secs) * 10000000ULL + static_cast<uint64_t>(milliseconds) * 10000ULL;
}

EntryTimeValues EntryTimes(const ByteReader& entry) {
  EntryTimeValues t;
  uint32_t hundredths = entry.u8(13);
  uint32_t extraSeconds = 0;
  if (hundredths > 100) {
    extraSeconds = hundredths / 100;
    hundredths %= 100;
  }
  uint32_t ms = extraSeconds * 1000 + (hundredths / 10) * 10;
  t.creation = FatDateTimeToFiletime(entry.le16(16), entry.le16(14), ms);
  t.access = FatDateTimeToFiletime(entry.le16(18), 0);
  t.modification = FatDateTimeToFiletime(entry.le16(24), entry.le16(22));
  return t;
}

std::string ShortName(const ByteReader& entry, bool isDirectory) {
  std::string raw;
  raw.reserve(12);
  for (size_t i = 0; i < 8; ++i) raw.push_back(static_cast<char>(entry.u8(i)));
  TrimTrailingSpaces(raw);
  if (!isDirectory && entry.u8(8) != ' ') {
    raw.push_back('.');
    for (size_t i = 8; i < 11; ++i) raw.push_back(static_cast<char>(entry.u8(i)));
    TrimTrailingSpaces(raw);
  }
  bool deleted = entry.u8(0) == kFatDeletedMark;
  std::u16string wide;
  wide.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(raw[i]);
    if (i == 0 && deleted) {
      wide.push_back(u'!');
    } else if (b >= 'A' && b <= 'Z') {
      wide.push_back(static_cast<char16_t>(b - 'A' + 'a'));
    } else if (b >= 0x80) {
      wide.push_back(kCp437High[b - 0x80]);
    } else if (i == 0 && b == 0x05) {
      wide.push_back(kCp437High[kFatDeletedMark - 0x80]);  // 0x05 stands for a real 0xE5 first byte
    } else {
      wide.push_back(static_cast<char16_t>(b));
    }
  }
  return platform::Utf16ToUtf8(wide);
}

bool LongName::Add(const ByteReader& entry) {
  position_ -= kCharsPerEntry;
  if (position_ <= 0) {
    Reset();
    return false;
  }
  static constexpr size_t kOffsets[kCharsPerEntry] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  for (int i = 0; i < kCharsPerEntry; ++i) chars_[position_ + i] = entry.le16(kOffsets[i]);
  return true;
}

std::string LongName::Text() const {
  std::u16string_view all(chars_.data() + position_, kCapacity - position_);
  size_t nul = all.find(u'\0');
  if (nul != std::u16string_view::npos) all = all.substr(0, nul);
  return std::string(platform::CutUtf8(platform::Utf16ToUtf8(all), kItemNameSize - 1));
}

void LongName::Reset() {
  chars_.fill(0);
  position_ = kCapacity;
}

}  // namespace nuvarin
