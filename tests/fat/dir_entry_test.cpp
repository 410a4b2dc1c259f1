#include "fat/dir_entry.h"

#include <gtest/gtest.h>

#include "tests/fat/entry_builder.h"

namespace nuvarin {
namespace {

using test::Concat;
using test::FatDate;
using test::FatTime;
using test::RawEntry;

struct PlausibleCase {
  const char* what;
  RawEntry entry;
  bool expected;
};

class PlausibleEntryTest : public ::testing::TestWithParam<PlausibleCase> {};

TEST_P(PlausibleEntryTest, Decides) {
  const PlausibleCase& c = GetParam();
  // The entry is followed by 32 zero bytes, as inside a directory cluster.
  std::vector<uint8_t> bytes = Concat({c.entry}, 64);
  EXPECT_EQ(IsPlausibleEntry(bytes.data(), bytes.size()), c.expected) << c.what;
  EXPECT_EQ(IsPlausibleEntry(bytes.data(), 32), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlausibleEntryTest,
    ::testing::Values(
        PlausibleCase{"live file", RawEntry::Short("PHOTO   JPG", 0x20, 5, 1000), true},
        PlausibleCase{"deleted file", RawEntry::Short("\xE5OTO    JPG", 0x20, 5, 1000), true},
        PlausibleCase{"live folder", RawEntry::Short("PHOTOS     ", 0x10, 7, 0), true},
        PlausibleCase{"live folder with a size", RawEntry::Short("PHOTOS     ", 0x10, 7, 512), false},
        PlausibleCase{"deleted folder with a size", RawEntry::Short("\xE5HOTOS     ", 0x10, 7, 512), true},
        PlausibleCase{"folder marked read-only", RawEntry::Short("PHOTOS     ", 0x11, 7, 0), false},
        PlausibleCase{"read-only file without archive bit", RawEntry::Short("A       TXT", 0x01, 5, 10),
                      false},
        PlausibleCase{"read-only archive file", RawEntry::Short("A       TXT", 0x21, 5, 10), true},
        PlausibleCase{"empty file with a cluster", RawEntry::Short("A       TXT", 0x20, 5, 0), false},
        PlausibleCase{"empty file without cluster", RawEntry::Short("A       TXT", 0x20, 0, 0), true},
        PlausibleCase{"high cluster word of an empty file",
                      RawEntry::Short("A       TXT", 0x20, 0x10000, 0), false},
        PlausibleCase{"volume label", RawEntry::Short("MYDISK     ", 0x08, 0, 0), true},
        PlausibleCase{"volume label with a cluster", RawEntry::Short("MYDISK     ", 0x08, 3, 0), false},
        PlausibleCase{"label bit with archive", RawEntry::Short("MYDISK     ", 0x28, 0, 0), false},
        PlausibleCase{"attribute bit 0x40", RawEntry::Short("A       TXT", 0x60, 5, 10), false},
        PlausibleCase{"attribute bit 0x80", RawEntry::Short("A       TXT", 0xA0, 5, 10), false},
        PlausibleCase{"lower-case name", RawEntry::Short("photo   jpg", 0x20, 5, 10), false},
        PlausibleCase{"control byte in name", RawEntry::Short("PH\x01TO   JPG", 0x20, 5, 10), false},
        PlausibleCase{"question mark in name", RawEntry::Short("PH?TO   JPG", 0x20, 5, 10), false},
        PlausibleCase{"dot in name", RawEntry::Short("PH.TO   JPG", 0x20, 5, 10), false},
        PlausibleCase{"high bytes in name", RawEntry::Short("\x8E\x84TO    JPG", 0x20, 5, 10), true},
        PlausibleCase{"dated 1989-12-31", RawEntry::Short("OLD     TXT", 0x20, 5, 10, FatDate(1989, 12, 31)),
                      false},
        PlausibleCase{"deleted, dated 1989-12-31",
                      RawEntry::Short("\xE5LD     TXT", 0x20, 5, 10, FatDate(1989, 12, 31)), true},
        PlausibleCase{"folder dated 1989-12-31",
                      RawEntry::Short("OLD        ", 0x10, 5, 0, FatDate(1989, 12, 31)), true},
        PlausibleCase{"dated 2049-12-31", RawEntry::Short("NEW     TXT", 0x20, 5, 10, FatDate(2049, 12, 31)),
                      true},
        PlausibleCase{"dated 2050-01-02", RawEntry::Short("NEW     TXT", 0x20, 5, 10, FatDate(2050, 1, 2)),
                      false},
        PlausibleCase{"impossible date 2020-02-30",
                      RawEntry::Short("BAD     TXT", 0x20, 5, 10, FatDate(2020, 2, 30)), false},
        PlausibleCase{"impossible time 25:00", RawEntry::Short("BAD     TXT", 0x20, 5, 10, FatDate(2020, 2, 3),
                                                               FatTime(25, 0, 0)),
                      false},
        PlausibleCase{"long-name part", RawEntry::Long(0x41, u"photo.jpg", 0x12), true},
        PlausibleCase{"long-name part 18", RawEntry::Long(0x52, u"abc", 0x12), true},
        PlausibleCase{"long-name part 19", RawEntry::Long(0x53, u"abc", 0x12), false},
        PlausibleCase{"deleted long-name part", RawEntry::Long(0xE5, u"abc", 0x12), true},
        PlausibleCase{"long-name part with a cluster", RawEntry::Long(0x41, u"abc", 0x12).SetLe16(26, 9),
                      false}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(PlausibleEntry, RejectsShortBuffers) {
  RawEntry e = RawEntry::Short("PHOTO   JPG", 0x20, 5, 1000);
  EXPECT_FALSE(IsPlausibleEntry(e.b.data(), 31));
  EXPECT_FALSE(IsPlausibleEntry(nullptr, 64));
}

TEST(DotPair, NeedsBothEntriesWithEqualTimes) {
  RawEntry dot = RawEntry::Short(".          ", 0x10, 9, 0);
  RawEntry dotdot = RawEntry::Short("..         ", 0x10, 0, 0);
  std::vector<uint8_t> pair = Concat({dot, dotdot});
  EXPECT_TRUE(IsDotPair(pair.data(), pair.size()));
  // "." alone fails the name rule, as a pair it is plausible.
  EXPECT_TRUE(IsPlausibleEntry(pair.data(), pair.size()));
  EXPECT_FALSE(IsPlausibleEntry(pair.data(), 32));
  EXPECT_FALSE(IsDotPair(pair.data(), 63));

  RawEntry later = RawEntry::Short("..         ", 0x10, 0, 0, FatDate(2020, 5, 18));
  std::vector<uint8_t> differentTimes = Concat({dot, later});
  EXPECT_FALSE(IsDotPair(differentTimes.data(), differentTimes.size()));

  RawEntry file = RawEntry::Short("..         ", 0x20, 0, 0);
  std::vector<uint8_t> notFolder = Concat({dot, file});
  EXPECT_FALSE(IsDotPair(notFolder.data(), notFolder.size()));

  RawEntry sized = RawEntry::Short(".          ", 0x10, 9, 0).SetLe32(28, 4096);
  std::vector<uint8_t> withSize = Concat({sized, dotdot});
  EXPECT_FALSE(IsDotPair(withSize.data(), withSize.size()));
}

// A directory sector of a folder holding "Holiday photo.jpg" and README.TXT.
std::vector<uint8_t> SampleDirectorySector() {
  RawEntry shortEntry = RawEntry::Short("HOLIDA~1JPG", 0x20, 12, 50000);
  uint8_t sum = RawEntry::Checksum(shortEntry);
  return Concat({RawEntry::Long(0x42, u"o.jpg", sum), RawEntry::Long(0x01, u"Holiday photo", sum), shortEntry,
                 RawEntry::Short("README  TXT", 0x20, 20, 10)},
                512);
}

TEST(DirectorySector, AcceptsRealLayout) {
  std::vector<uint8_t> sector = SampleDirectorySector();
  EXPECT_TRUE(LooksLikeDirectorySector(sector.data(), sector.size()));
  // Fewer than 32 bytes say nothing against it.
  EXPECT_TRUE(LooksLikeDirectorySector(sector.data(), 31));
}

TEST(DirectorySector, RejectsDamage) {
  struct Damage {
    const char* what;
    size_t offset;
    uint8_t value;
  };
  const Damage damages[] = {
      {"long-name checksum not carried", 32 + 13, 0x00},
      {"short name does not match the checksum", 64 + 1, 'X'},
      {"bytes after the end marker", 200, 0x01},
      {"lower-case letter in a short name", 96 + 2, 'a'},
      {"space inside the base name", 96 + 1, ' '},
  };
  for (const Damage& d : damages) {
    std::vector<uint8_t> sector = SampleDirectorySector();
    sector[d.offset] = d.value;
    EXPECT_FALSE(LooksLikeDirectorySector(sector.data(), sector.size())) << d.what;
  }
  std::vector<uint8_t> zeros(512, 0);
  EXPECT_FALSE(LooksLikeDirectorySector(zeros.data(), zeros.size()));
}

TEST(DirectorySector, RejectsFillPatternAndUnpairedHighBytes) {
  RawEntry patterned = RawEntry::Short("DATA    BIN", 0x20, 0, 0);
  for (size_t off = 13; off < 29; ++off) patterned.b[off] = "\x21\x01\x51\x50"[(off - 13) % 4];
  patterned.b[29] = patterned.b[13];
  patterned.b[30] = patterned.b[14];
  std::vector<uint8_t> a = Concat({patterned}, 512);
  EXPECT_FALSE(LooksLikeDirectorySector(a.data(), a.size()));

  std::vector<uint8_t> b = Concat({RawEntry::Short("A\x8E" "B     TXT", 0x20, 5, 10)}, 512);
  EXPECT_FALSE(LooksLikeDirectorySector(b.data(), b.size()));
  std::vector<uint8_t> c = Concat({RawEntry::Short("A\x8E\x8E" "B    TXT", 0x20, 5, 10)}, 512);
  EXPECT_TRUE(LooksLikeDirectorySector(c.data(), c.size()));
}

TEST(DirectorySector, SurvivesEveryTruncation) {
  std::vector<uint8_t> sector = SampleDirectorySector();
  for (size_t len = 0; len <= sector.size(); ++len) {
    std::vector<uint8_t> copy(sector.begin(), sector.begin() + len);
    (void)LooksLikeDirectorySector(copy.data(), copy.size());
  }
  SUCCEED();
}

}  // namespace
}  // namespace nuvarin
