#include "fat/entry_names.h"

#include <gtest/gtest.h>

#include "tests/fat/entry_builder.h"

namespace nuvarin {
namespace {

using test::FatDate;
using test::FatTime;
using test::RawEntry;

ByteReader View(const RawEntry& e) { return ByteReader(e.b.data(), e.b.size()); }

TEST(ShortName, Forms) {
  struct Case {
    const char* name11;
    bool isDirectory;
    const char* expected;
  };
  const Case cases[] = {
      {"\xE5OTO    JPG", false, "!oto.jpg"},
      {"PHOTOS  EXT", true, "photos"},
      {"README     ", false, "readme"},
      {"A       B  ", false, "a.b"},
      {"DATA_1  TX ", false, "data_1.tx"},
      {"\x8E" "PFEL   TXT", false, "\xC3\x84pfel.txt"},
      {"\x05" "BC     TXT", false, "\xCF\x83" "bc.txt"},
  };
  for (const Case& c : cases) {
    RawEntry e = RawEntry::Short(c.name11, c.isDirectory ? 0x10 : 0x20, 3, 0);
    EXPECT_EQ(ShortName(View(e), c.isDirectory), c.expected) << c.name11;
  }
}

TEST(LongName, CollectsPartsInDiskOrder) {
  LongName name;
  EXPECT_TRUE(name.Empty());
  ASSERT_TRUE(name.Add(View(RawEntry::Long(0x42, u"ÿ Résumé.txt", 0))));
  ASSERT_TRUE(name.Add(View(RawEntry::Long(0x01, u"Crème brûlée ", 0))));
  EXPECT_EQ(name.Text(), "Crème brûlée ÿ Résumé.txt");
  name.Reset();
  EXPECT_TRUE(name.Empty());
  EXPECT_EQ(name.Text(), "");
}

TEST(LongName, TwentiethPartEndsTheScan) {
  LongName name;
  for (int i = 0; i < 19; ++i) ASSERT_TRUE(name.Add(View(RawEntry::Long(0x01, u"abcdefghijklm", 0)))) << i;
  EXPECT_FALSE(name.Add(View(RawEntry::Long(0x01, u"abcdefghijklm", 0))));
  EXPECT_TRUE(name.Empty());
}

TEST(EntryTimes, DecodesFields) {
  // 2020-05-17 10:30:20 is 132341850200000000 in 100 ns units since 1601.
  RawEntry e = RawEntry::Short("A       TXT", 0x20, 5, 10, FatDate(2020, 5, 17), FatTime(10, 30, 20));
  e.Set(13, 57);
  EntryTimeValues t = EntryTimes(View(e));
  EXPECT_EQ(t.modification, 132341850200000000ULL);
  EXPECT_EQ(t.creation, 132341850200000000ULL + 50 * 10000ULL);  // (57 / 10) * 10 ms
  EXPECT_EQ(t.access, 132341850200000000ULL - (10 * 3600 + 30 * 60 + 20) * 10000000ULL);

  e.Set(13, 199);  // one extra second, then (99 / 10) * 10 ms
  EXPECT_EQ(EntryTimes(View(e)).creation, 132341850200000000ULL + 10000000ULL + 90 * 10000ULL);
  e.Set(13, 0);
  e.SetLe16(14, FatTime(10, 30, 58));
  e.Set(13, 250);  // 58 s plus 2 s is 60: not a time
  EXPECT_EQ(EntryTimes(View(e)).creation, 0u);
}

TEST(EntryTimes, KnownDates) {
  EXPECT_EQ(FatDateTimeToFiletime(FatDate(1980, 1, 1), 0), 119600064000000000ULL);
  EXPECT_EQ(FatDateTimeToFiletime(FatDate(2000, 2, 29), 0), 125962560000000000ULL);
  EXPECT_EQ(FatDateTimeToFiletime(FatDate(2001, 2, 29), 0), 0u);
  EXPECT_EQ(FatDateTimeToFiletime(0, 0), 0u);
  EXPECT_EQ(FatDateTimeToFiletime(FatDate(2020, 13, 1), 0), 0u);
  EXPECT_EQ(FatDateTimeToFiletime(FatDate(2020, 1, 1), FatTime(12, 60, 0)), 0u);
}

}  // namespace
}  // namespace nuvarin
