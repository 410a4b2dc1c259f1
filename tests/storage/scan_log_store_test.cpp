// The scan log store: the three file formats byte for byte, the block writes,
// reopening, the reading operations and their rules, and damaged companions.
#include "storage/scan_log_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "storage/file_type_groups.h"
#include "tests/storage/store_fixture.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace nuvarin {
namespace {

using test::AddItem;
using test::MakeFile;
using test::MakeFolder;
using test::Names;

constexpr RelationKey kFat32Root = MakeRelationKey(0, 2);

std::string ReadText(const fs::path& p) {
  auto bytes = test::ReadFile(p);
  return std::string(bytes.begin(), bytes.end());
}

uint64_t SizeOf(const fs::path& p) { return fs::exists(p) ? fs::file_size(p) : 0; }

class StoreTest : public ::testing::Test {
 protected:
  test::TempDir dir{"store"};
  fs::path folder = dir.path() / "scan" / "1";
  const std::string name = "Fast_0_2026121113 5";
  fs::path LogFile() const { return folder / name; }
  fs::path RelationFile() const { return folder / (name + "_Relation"); }
  fs::path DirInfoFile() const { return folder / (name + "_DirInfo"); }
  ScanLogStore store;
  void SetUp() override { ASSERT_EQ(store.Open(folder, name), kOk); }
  void Reopen() {
    store.Close();
    ASSERT_EQ(store.Open(folder, name), kOk);
  }
};

TEST_F(StoreTest, OpenCreatesTheFolderAndThreeEmptyFiles) {
  EXPECT_TRUE(store.IsOpen());
  for (const fs::path& p : {LogFile(), RelationFile(), DirInfoFile()}) {
    ASSERT_TRUE(fs::exists(p)) << p;
    EXPECT_EQ(fs::file_size(p), 0u) << p;
  }
}

TEST_F(StoreTest, CompanionFormatsAreExact) {
  AddItem(store, MakeFile("a.txt"), kFat32Root);
  AddItem(store, MakeFile("b.txt"), kFat32Root);
  AddItem(store, MakeFolder("Docs", 3), kFat32Root);
  AddItem(store, MakeFile("c.txt"), MakeRelationKey(1, 3));
  ASSERT_EQ(store.Flush(), kOk);

  EXPECT_EQ(ReadText(RelationFile()), " | 2 - [1,2,3] | 4294967299 - [4]");

  auto dirInfo = test::ReadFile(DirInfoFile());
  ASSERT_EQ(dirInfo.size(), 268u);
  uint32_t objectId, itemId;
  std::memcpy(&objectId, dirInfo.data(), 4);
  std::memcpy(&itemId, dirInfo.data() + 4, 4);
  EXPECT_EQ(objectId, 3u);
  EXPECT_EQ(itemId, 3u);
  EXPECT_STREQ(reinterpret_cast<const char*>(dirInfo.data() + 8), "Docs");
  EXPECT_TRUE(std::all_of(dirInfo.begin() + 12, dirInfo.end(), [](uint8_t b) { return b == 0; }));

  auto log = test::ReadFile(LogFile());
  ASSERT_EQ(log.size(), 4u * kFoundItemSize);
  FoundItem third;
  std::memcpy(&third, log.data() + 2 * kFoundItemSize, kFoundItemSize);
  EXPECT_EQ(+third.itemId, 3u);
  EXPECT_EQ(+third.isFolder, 1u);
  EXPECT_EQ(third.Name(), "Docs");
}

TEST_F(StoreTest, LogIsWrittenInBlocksOf200Records) {
  for (int i = 0; i < 200; ++i) AddItem(store, MakeFile("f" + std::to_string(i)), kFat32Root);
  EXPECT_EQ(SizeOf(LogFile()), 0u);
  uint32_t id = 0;
  ASSERT_NE(store.AppendItem(id), nullptr);  // the 201st record pushes out the first block
  EXPECT_EQ(id, 201u);
  EXPECT_EQ(SizeOf(LogFile()), 69200u);
  EXPECT_EQ(store.AppendedCount(), 201u);
  ASSERT_EQ(store.Flush(), kOk);
  EXPECT_EQ(SizeOf(LogFile()), 201u * kFoundItemSize);
}

TEST_F(StoreTest, ReopenedLogKeepsItsTreeAndNumbersContinue) {
  AddItem(store, MakeFolder("Docs", 3), kFat32Root);
  AddItem(store, MakeFile("a.txt"), MakeRelationKey(1, 3));
  Reopen();
  EXPECT_EQ(store.AppendedCount(), 0u);
  EXPECT_EQ(store.RecordCount(), 2u);
  EXPECT_EQ(store.LoadErrors(), 0u);
  ASSERT_EQ(store.FolderNames().size(), 1u);
  EXPECT_EQ(store.Relations().size(), 2u);

  uint32_t id = AddItem(store, MakeFile("b.txt"), MakeRelationKey(1, 3));
  EXPECT_EQ(id, 3u);
  EXPECT_EQ(store.AppendedCount(), 1u);
  std::vector<FoundItem> items;
  ASSERT_EQ(store.ReadFolder(MakeRelationKey(1, 3), items), kOk);
  EXPECT_EQ(Names(items), (std::vector<std::string>{"a.txt", "b.txt"}));
  ASSERT_EQ(store.Flush(), kOk);
  EXPECT_EQ(ReadText(RelationFile()), " | 2 - [1] | 4294967299 - [2,3]");
}

TEST_F(StoreTest, ReadFolderKeyZeroTakesTheSmallestKey) {
  std::vector<FoundItem> items;
  ASSERT_EQ(store.ReadFolder(0, items), kOk);  // no relation at all
  EXPECT_TRUE(items.empty());

  AddItem(store, MakeFile("deep.txt"), MakeRelationKey(1, 9));
  AddItem(store, MakeFile("top.txt"), kFat32Root);
  ASSERT_EQ(store.ReadFolder(0, items), kOk);
  EXPECT_EQ(Names(items), (std::vector<std::string>{"top.txt"}));
}

TEST_F(StoreTest, AbsentKeyGivesNothingAndIsNeverCreated) {
  AddItem(store, MakeFile("a.txt"), kFat32Root);
  std::vector<FoundItem> items;
  ASSERT_EQ(store.ReadFolder(MakeRelationKey(1, 77), items), kOk);
  uint32_t count = 99;
  ASSERT_EQ(store.CountFolderFiles(MakeRelationKey(1, 77), count), kOk);
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(store.Relations().size(), 1u);
  ASSERT_EQ(store.Flush(), kOk);
  EXPECT_EQ(ReadText(RelationFile()), " | 2 - [1]");
  Reopen();
  EXPECT_EQ(store.LoadErrors(), 0u);
}

TEST_F(StoreTest, ListingSortsFilesFirstThenNamesIgnoringCase) {
  AddItem(store, MakeFolder("beta", 5), kFat32Root);
  AddItem(store, MakeFile("Zeta.txt"), kFat32Root);
  AddItem(store, MakeFolder("Alpha", 6), kFat32Root);
  AddItem(store, MakeFile("apple.txt"), kFat32Root);
  AddItem(store, MakeFile("Apple.txt"), kFat32Root);  // equal ignoring case: order of addition kept
  std::vector<FoundItem> items;
  ASSERT_EQ(store.ReadFolder(kFat32Root, items), kOk);
  EXPECT_EQ(Names(items), (std::vector<std::string>{"apple.txt", "Apple.txt", "Zeta.txt", "Alpha", "beta"}));
}

TEST_F(StoreTest, LargeListingsSortLikeAPlainStableSort) {
  std::mt19937 rng(7);
  const char letters[] = "aAbB_.0";
  for (int i = 0; i < 3000; ++i) {
    std::string name;
    size_t length = 1 + rng() % 20;
    for (size_t k = 0; k < length; ++k) name.push_back(letters[rng() % (sizeof(letters) - 1)]);
    FoundItem item = (rng() % 4 == 0) ? MakeFolder(name, 100 + i) : MakeFile(name + ".txt", i);
    AddItem(store, item, kFat32Root, false);
  }
  std::vector<FoundItem> items;
  ASSERT_EQ(store.ReadFolder(kFat32Root, items), kOk);
  ASSERT_EQ(items.size(), 3000u);
  std::vector<FoundItem> expected;
  for (uint32_t id = 1; id <= 3000; ++id) {
    FoundItem item;
    ASSERT_EQ(store.ReadItem(id, item), kOk);
    expected.push_back(item);
  }
  auto lower = [](std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
  };
  std::stable_sort(expected.begin(), expected.end(), [&](const FoundItem& a, const FoundItem& b) {
    if ((a.isFolder != 0) != (b.isFolder != 0)) return a.isFolder == 0;
    return lower(a.Name()) < lower(b.Name());
  });
  for (size_t i = 0; i < items.size(); ++i) ASSERT_EQ(+items[i].itemId, +expected[i].itemId) << i;
}

TEST_F(StoreTest, DamagedPicturesAreHiddenFromListingsAndSearches) {
  struct Case {
    const char* name;
    uint32_t contentCheck;
    bool shown;
  };
  const Case cases[] = {
      {"bad.jpg", 0, false}, {"BAD2.JPG", 0, false}, {"good.jpg", 1, true}, {"odd.pn", 0, false},
      {"note.txt", 0, true}, {"plain", 0, true},     {"dot.", 0, true},     {"raw.NEF", 0, false},
  };
  for (const Case& c : cases) AddItem(store, MakeFile(c.name, 10, c.contentCheck), kFat32Root);
  std::vector<FoundItem> listed, found;
  ASSERT_EQ(store.ReadFolder(kFat32Root, listed), kOk);
  ASSERT_EQ(store.SearchItems(AllGroupsPattern() + "|.other", found), 1);
  auto names = Names(listed);
  auto foundNames = Names(found);
  for (const Case& c : cases) {
    bool inListing = std::find(names.begin(), names.end(), c.name) != names.end();
    bool inSearch = std::find(foundNames.begin(), foundNames.end(), c.name) != foundNames.end();
    EXPECT_EQ(inListing, c.shown) << c.name;
    EXPECT_EQ(inSearch, c.shown) << c.name;
  }
}

TEST_F(StoreTest, CountFolderFilesCountsTheWholeSubtree) {
  AddItem(store, MakeFile("r1"), kFat32Root);
  AddItem(store, MakeFolder("A", 10), kFat32Root);
  AddItem(store, MakeFile("a1"), MakeRelationKey(1, 10));
  AddItem(store, MakeFile("a2"), MakeRelationKey(1, 10));
  AddItem(store, MakeFolder("B", 11), MakeRelationKey(1, 10));
  AddItem(store, MakeFile("b1"), MakeRelationKey(2, 11));
  AddItem(store, MakeFolder("Empty", 12), MakeRelationKey(2, 11));
  uint32_t count = 0;
  ASSERT_EQ(store.CountFolderFiles(0, count), kOk);
  EXPECT_EQ(count, 4u);
  ASSERT_EQ(store.CountFolderFiles(MakeRelationKey(1, 10), count), kOk);
  EXPECT_EQ(count, 3u);
  ASSERT_EQ(store.CountFolderFiles(MakeRelationKey(2, 11), count), kOk);
  EXPECT_EQ(count, 1u);
}

TEST_F(StoreTest, ItemPathNamesTheParentsFromTheRootDown) {
  uint32_t docs = AddItem(store, MakeFolder("Docs", 3), kFat32Root);
  AddItem(store, MakeFolder("Old", 4), MakeRelationKey(1, 3));
  uint32_t deep = AddItem(store, MakeFile("x.txt"), MakeRelationKey(2, 4));
  uint32_t top = AddItem(store, MakeFile("top.txt"), kFat32Root);

  FoundItem item;
  std::string path = "junk";
  ASSERT_EQ(store.ReadItem(top, item), kOk);
  ASSERT_EQ(store.ItemPath(item, path), kOk);
  EXPECT_EQ(path, "");
  ASSERT_EQ(store.ReadItem(deep, item), kOk);
  ASSERT_EQ(store.ItemPath(item, path), kOk);
  EXPECT_EQ(path, "Docs/Old/");
  std::vector<FoundItem> parents;
  ASSERT_EQ(store.FindParents(item, parents), kOk);
  ASSERT_EQ(parents.size(), 2u);
  EXPECT_EQ(+parents[1].itemId, docs);
  EXPECT_EQ(+parents[1].objectId, 3u);
}

TEST_F(StoreTest, ItemPathFollowsLaterAdditionsAndTheSmallestOwningKey) {
  AddItem(store, MakeFolder("Docs", 3), kFat32Root);
  uint32_t first = AddItem(store, MakeFile("a.txt"), MakeRelationKey(1, 3));
  FoundItem item;
  std::string path;
  ASSERT_EQ(store.ReadItem(first, item), kOk);
  ASSERT_EQ(store.ItemPath(item, path), kOk);
  EXPECT_EQ(path, "Docs/");
  // Added after the first lookup: a deeper folder, and a record listed twice
  // (the smaller key is where it lives).
  AddItem(store, MakeFolder("Sub", 4), MakeRelationKey(1, 3));
  uint32_t deep = AddItem(store, MakeFile("b.txt"), MakeRelationKey(2, 4));
  AddItem(store, MakeFolder("Other", 5), kFat32Root);
  store.AddRelation(MakeRelationKey(1, 5), deep, 0, nullptr);
  ASSERT_EQ(store.ReadItem(deep, item), kOk);
  ASSERT_EQ(store.ItemPath(item, path), kOk);
  EXPECT_EQ(path, "Other/");
  Reopen();  // the same answers from the loaded relation
  ASSERT_EQ(store.ItemPath(item, path), kOk);
  EXPECT_EQ(path, "Other/");
  ASSERT_EQ(store.ReadItem(first, item), kOk);
  ASSERT_EQ(store.ItemPath(item, path), kOk);
  EXPECT_EQ(path, "Docs/");
}

TEST_F(StoreTest, ParentWithoutFolderNameIsFoundInTheLog) {
  AddItem(store, MakeFile("decoy", 0, 1, 8), kFat32Root);  // same objectId, but a file
  AddItem(store, MakeFolder("Lost", 8), kFat32Root, /*named=*/false);
  uint32_t inside = AddItem(store, MakeFile("y.txt"), MakeRelationKey(1, 8));
  AddItem(store, MakeFile("orphan.txt"), MakeRelationKey(1, 99));  // its parent is nowhere
  FoundItem item;
  std::string path;
  ASSERT_EQ(store.ReadItem(inside, item), kOk);
  ASSERT_EQ(store.ItemPath(item, path), kOk);
  EXPECT_EQ(path, "Lost/");
  ASSERT_EQ(store.ReadItem(inside + 1, item), kOk);
  EXPECT_EQ(store.ItemPath(item, path), kErrInvalidParameter);
  EXPECT_EQ(path, "");
}

TEST_F(StoreTest, FolderCyclesEndEveryWalk) {
  // A (objectId 20) lists B (21), B lists A again, and a key at the deepest
  // depth points back to depth 0 when its depth is increased.
  AddItem(store, MakeFolder("A", 20), kFat32Root);
  AddItem(store, MakeFolder("B", 21), MakeRelationKey(1, 20));
  AddItem(store, MakeFolder("A", 20), MakeRelationKey(2, 21), /*named=*/false);
  AddItem(store, MakeFile("f.txt"), MakeRelationKey(1, 20));
  AddItem(store, MakeFolder("Wrap", 2), MakeRelationKey(0xFFFFFFFFu, 30));
  AddItem(store, MakeFolder("Self", 30), MakeRelationKey(0xFFFFFFFFu, 30));
  uint32_t count = 0;
  ASSERT_EQ(store.CountFolderFiles(0, count), kOk);
  EXPECT_EQ(count, 1u);
  ASSERT_EQ(store.CountFolderFiles(MakeRelationKey(0xFFFFFFFFu, 30), count), kOk);

  // Folder names that make the parent chain a loop: 40 is inside 41, 41 inside 40.
  uint32_t p = AddItem(store, MakeFolder("P", 40), MakeRelationKey(3, 41));
  AddItem(store, MakeFolder("Q", 41), MakeRelationKey(3, 40));
  uint32_t leaf = AddItem(store, MakeFile("leaf"), MakeRelationKey(4, 40));
  FoundItem item;
  ASSERT_EQ(store.ReadItem(leaf, item), kOk);
  std::string path;
  ASSERT_EQ(store.ItemPath(item, path), kOk);
  EXPECT_EQ(path, "Q/P/");  // cut where the chain comes back to P
  std::vector<FoundItem> parents;
  ASSERT_EQ(store.FindParents(item, parents), kOk);
  ASSERT_EQ(parents.size(), 2u);
  EXPECT_EQ(+parents[0].itemId, p);
}

TEST_F(StoreTest, SearchFollowsTheSubstringRules) {
  const char* names[] = {"report.doc", "report.docx", "pic.jpg",   "song.mp3",  "readme",
                         "a.",         "data.xyz",    "UPPER.PDF", "Folder.doc"};
  for (const char* n : names) {
    if (std::string(n) == "Folder.doc")
      AddItem(store, MakeFolder(n, 50), kFat32Root);
    else
      AddItem(store, MakeFile(n, 1), kFat32Root);
  }
  struct Case {
    std::string pattern;
    std::vector<std::string> expected;  // sorted as the search returns them
  };
  const Case cases[] = {
      {"*.docx", {"report.doc", "report.docx"}},
      {"*.doc", {"report.doc"}},
      {"*.pdf", {"UPPER.PDF"}},
      {".other", {"a.", "data.xyz", "readme"}},
      {"*.jpg|.other", {"a.", "data.xyz", "pic.jpg", "readme"}},
      {AllGroupsPattern(), {"pic.jpg", "report.doc", "report.docx", "song.mp3", "UPPER.PDF"}},
      {"*.zip", {}},
  };
  for (const Case& c : cases) {
    std::vector<FoundItem> found;
    ASSERT_EQ(store.SearchItems(c.pattern, found), 1) << c.pattern;
    EXPECT_EQ(Names(found), c.expected) << c.pattern;
  }
}

TEST_F(StoreTest, OthersAreNotSearchedInLogsOf128MiBOrMore) {
  AddItem(store, MakeFile("readme", 5), kFat32Root);
  AddItem(store, MakeFile("pic.jpg", 5), kFat32Root);
  store.Close();
  fs::resize_file(LogFile(), 128ull << 20);  // sparse: empty-named records that would count as others
  ASSERT_EQ(store.Open(folder, name), kOk);
  std::vector<FoundItem> found;
  ASSERT_EQ(store.SearchItems("*.jpg|.other", found), 1);
  EXPECT_EQ(Names(found), (std::vector<std::string>{"pic.jpg"}));
}

TEST_F(StoreTest, OthersLimitLiesExactlyAt128MiB) {
  // 387,912 records end 526 bytes below 128 MiB; one record more reaches past it.
  const uint64_t below = (128ull << 20) / kFoundItemSize;
  AddItem(store, MakeFile("readme", 5), kFat32Root);
  for (uint64_t i = 1; i < below; ++i) {
    uint32_t id;
    FoundItem* slot = store.AppendItem(id);
    slot->isFolder = 1;
  }
  std::vector<FoundItem> found;
  ASSERT_EQ(store.SearchItems(".other", found), 1);
  EXPECT_EQ(Names(found), (std::vector<std::string>{"readme"}));
  uint32_t id;
  store.AppendItem(id)->isFolder = 1;
  found.clear();
  ASSERT_EQ(store.SearchItems(".other", found), 1);
  EXPECT_TRUE(found.empty());
  EXPECT_GE(SizeOf(LogFile()), 128ull << 20);
}

TEST_F(StoreTest, GarbageRecordsNeverBreakTheReaders) {
  std::mt19937 rng(99);
  store.Close();
  std::vector<uint8_t> log(64 * kFoundItemSize);
  for (uint8_t& b : log) b = static_cast<uint8_t>(rng());
  for (size_t r = 0; r < 64; r += 3) log[r * kFoundItemSize + 6] = 1;  // some claim to be folders
  test::WriteFile(LogFile(), log);
  std::string relation;
  for (int e = 0; e < 40; ++e) {
    relation += " | " + std::to_string((uint64_t(rng() % 4) << 32) | (rng() % 8)) + " - [";
    for (int k = 0, n = 1 + rng() % 6; k < n; ++k)
      relation += (k ? "," : "") + std::to_string(1 + rng() % 64);
    relation += "]";
  }
  test::WriteFile(RelationFile(), relation.data(), relation.size());
  ASSERT_EQ(store.Open(folder, name), kOk);
  EXPECT_EQ(store.LoadErrors(), 0u);
  for (const auto& [key, ids] : store.Relations()) {
    std::vector<FoundItem> items;
    EXPECT_EQ(store.ReadFolder(key, items), kOk);
    uint32_t count;
    EXPECT_EQ(store.CountFolderFiles(key, count), kOk);
  }
  for (uint32_t id = 1; id <= 64; ++id) {
    FoundItem item;
    ASSERT_EQ(store.ReadItem(id, item), kOk);
    item.itemId = id;
    std::string path;
    store.ItemPath(item, path);
    EXPECT_LT(path.size(), 4096u * 260u);
  }
  std::vector<FoundItem> found;
  EXPECT_EQ(store.SearchItems(AllGroupsPattern() + "|.other", found), 1);
}

struct CallbackLog {
  std::vector<int32_t> percents;
  int32_t stopAfter = -1;
};

int32_t SearchCallback(void* context, int32_t percent, int32_t error) {
  auto* log = static_cast<CallbackLog*>(context);
  log->percents.push_back(percent);
  EXPECT_EQ(error, 0);
  return static_cast<int32_t>(log->percents.size()) == log->stopAfter ? 1 : 0;
}

TEST_F(StoreTest, SearchCallbackReportsEachBlockAndCanStop) {
  for (int i = 0; i < 450; ++i) AddItem(store, MakeFile("f" + std::to_string(i) + ".txt"), kFat32Root);
  CallbackLog log;
  store.SetSearchCallback(&SearchCallback, &log);
  std::vector<FoundItem> found;
  ASSERT_EQ(store.SearchItems("*.txt", found), 1);
  EXPECT_EQ(found.size(), 450u);
  EXPECT_EQ(log.percents, (std::vector<int32_t>{200 * 100 / 450, 400 * 100 / 450, 100}));

  log = CallbackLog{{}, 1};
  found.clear();
  ASSERT_EQ(store.SearchItems("*.txt", found), 1);
  EXPECT_EQ(found.size(), 200u);  // stopped after the first block
  EXPECT_EQ(log.percents.size(), 1u);
}

TEST_F(StoreTest, RecordOffsetsAreSixtyFourBit) {
  // A sparse log of 12.5 million records passes 4 GiB: the next record lies
  // where a 32-bit offset would wrap around.
  store.Close();
  const uint64_t existing = 12'500'000;
  { test::WriteFile(LogFile(), "", 0); }
  fs::resize_file(LogFile(), existing * kFoundItemSize);
  ASSERT_EQ(store.Open(folder, name), kOk);
  EXPECT_EQ(store.RecordCount(), existing);
  uint32_t id = AddItem(store, MakeFile("far.txt", 7), kFat32Root);
  EXPECT_EQ(id, existing + 1);
  ASSERT_EQ(store.Flush(), kOk);
  EXPECT_EQ(SizeOf(LogFile()), (existing + 1) * kFoundItemSize);
  FoundItem item;
  ASSERT_EQ(store.ReadItem(id, item), kOk);
  EXPECT_EQ(item.Name(), "far.txt");
  std::vector<FoundItem> items;
  ASSERT_EQ(store.ReadFolder(kFat32Root, items), kOk);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(+items[0].size, 7u);
}

TEST_F(StoreTest, ReadingPastTheEndOfTheLogFails) {
  AddItem(store, MakeFile("a"), kFat32Root);
  FoundItem item;
  EXPECT_EQ(store.ReadItem(0, item), kErrInvalidParameter);
  EXPECT_EQ(store.ReadItem(2, item), kErrReadFault);
}

TEST_F(StoreTest, TornLastRecordIsCountedAndOverwritten) {
  AddItem(store, MakeFile("whole"), kFat32Root);
  store.Close();
  {
    std::FILE* f = std::fopen(LogFile().c_str(), "ab");
    std::fwrite("torn", 1, 4, f);
    std::fclose(f);
  }
  ASSERT_EQ(store.Open(folder, name), kOk);
  EXPECT_EQ(store.LoadErrors(), 1u);
  uint32_t id = AddItem(store, MakeFile("next"), kFat32Root);
  EXPECT_EQ(id, 2u);
  ASSERT_EQ(store.Flush(), kOk);
  EXPECT_EQ(SizeOf(LogFile()), 2 * kFoundItemSize);
  FoundItem item;
  ASSERT_EQ(store.ReadItem(2, item), kOk);
  EXPECT_EQ(item.Name(), "next");
}

// Damaged "_Relation" texts: what is well formed loads, the rest is counted.
TEST(StoreDamage, DamagedRelationLoadsWhatIsWellFormed) {
  struct Case {
    const char* text;
    std::map<RelationKey, std::vector<uint32_t>> expected;
    size_t errors;
  };
  const Case cases[] = {
      {" | 2 - [1,2] | 7 - [3]", {{2, {1, 2}}, {7, {3}}}, 0},
      {"garbage | 2 - [1]", {{2, {1}}}, 1},
      {"garbage without any entry", {}, 1},
      {" | 2 - [1,2 | 7 - [3]", {{7, {3}}}, 1},            // unbalanced bracket
      {" | 2 - 1,2] | 7 - [3]", {{7, {3}}}, 1},            // no opening bracket
      {" | 2 - [1]] | 7 - [3]", {{2, {1}}, {7, {3}}}, 1},  // stray text after a list
      {" | 99999999999999999999999 - [1]", {}, 1},         // key does not fit 64 bits
      {" | 2 - [1,99999999999,3]", {{2, {1, 3}}}, 1},      // id does not fit 32 bits
      {" | 2 - [1,x,,3]", {{2, {1, 3}}}, 2},
      {" | 2 - [4,1,0,-5]", {{2, {1}}}, 3},  // past the end (3 records), 0, negative
      {" | 2 - []", {}, 1},
      {" | abc - [1]", {}, 1},
      {" | 2 - [1] | 2 - [3]", {{2, {1, 3}}}, 0},  // a key written twice is merged
      {"", {}, 0},
  };
  for (const Case& c : cases) {
    test::TempDir dir{"relation"};
    {
      ScanLogStore store;
      ASSERT_EQ(store.Open(dir.path(), "log"), kOk);
      for (int i = 0; i < 3; ++i) AddItem(store, MakeFile("f"), 2);
    }
    test::WriteFile(dir / "log_Relation", c.text, std::strlen(c.text));
    ScanLogStore store;
    ASSERT_EQ(store.Open(dir.path(), "log"), kOk) << c.text;
    EXPECT_EQ(store.Relations(), c.expected) << c.text;
    EXPECT_EQ(store.LoadErrors(), c.errors) << c.text;
  }
}

TEST(StoreDamage, RewriteAfterDamageLeavesACleanRelationFile) {
  test::TempDir dir{"relation"};
  {
    ScanLogStore store;
    ASSERT_EQ(store.Open(dir.path(), "log"), kOk);
    AddItem(store, MakeFile("a"), 2);
    AddItem(store, MakeFile("b"), 2);
  }
  const std::string damaged = " | 2 - [1] | 3 - [2, trailing text that is long and damaged";
  test::WriteFile(dir / "log_Relation", damaged.data(), damaged.size());
  ScanLogStore store;
  ASSERT_EQ(store.Open(dir.path(), "log"), kOk);
  EXPECT_EQ(store.LoadErrors(), 1u);
  AddItem(store, MakeFile("c"), 2);
  ASSERT_EQ(store.Flush(), kOk);
  EXPECT_EQ(ReadText(dir / "log_Relation"), " | 2 - [1,3]");
}

TEST(StoreDamage, RandomRelationTextNeverBreaksTheLoad) {
  std::mt19937 rng(1234);
  const char alphabet[] = " |-[],0123456789x";
  test::TempDir dir{"relation"};
  {
    ScanLogStore store;
    ASSERT_EQ(store.Open(dir.path(), "log"), kOk);
    for (int i = 0; i < 5; ++i) AddItem(store, MakeFile("f"), 2);
  }
  for (int round = 0; round < 300; ++round) {
    std::string text;
    size_t length = rng() % 200;
    for (size_t i = 0; i < length; ++i) text.push_back(alphabet[rng() % (sizeof(alphabet) - 1)]);
    test::WriteFile(dir / "log_Relation", text.data(), text.size());
    ScanLogStore store;
    ASSERT_EQ(store.Open(dir.path(), "log"), kOk);
    for (const auto& [key, ids] : store.Relations()) {
      EXPECT_FALSE(ids.empty());
      for (uint32_t id : ids) EXPECT_TRUE(id >= 1 && id <= 5) << text;
    }
    std::vector<FoundItem> items;
    EXPECT_EQ(store.ReadFolder(0, items), kOk);
    uint32_t count;
    EXPECT_EQ(store.CountFolderFiles(0, count), kOk);
  }
}

TEST(StoreDamage, DirInfoOfOddSizeLoadsItsWholeRecords) {
  test::TempDir dir{"dirinfo"};
  {
    ScanLogStore store;
    ASSERT_EQ(store.Open(dir.path(), "log"), kOk);
    AddItem(store, MakeFolder("One", 5), 2);
    AddItem(store, MakeFolder("Two", 6), 2);
  }
  auto bytes = test::ReadFile(dir / "log_DirInfo");
  ASSERT_EQ(bytes.size(), 2 * 268u);
  DirInfoRecord past{};
  past.objectId = 7;
  past.itemId = 40;  // beyond the two records of the log
  std::memcpy(past.name, "Ghost", 6);
  bytes.insert(bytes.end(), reinterpret_cast<uint8_t*>(&past), reinterpret_cast<uint8_t*>(&past) + 268);
  bytes.resize(bytes.size() + 100, 0xAB);  // a torn record
  test::WriteFile(dir / "log_DirInfo", bytes);
  ScanLogStore store;
  ASSERT_EQ(store.Open(dir.path(), "log"), kOk);
  ASSERT_EQ(store.FolderNames().size(), 2u);
  EXPECT_STREQ(store.FolderNames()[1].name, "Two");
  EXPECT_EQ(store.LoadErrors(), 2u);
}

TEST(StoreWriteFailure, FailedBlockWriteIsKeptAndReturnedByFlush) {
  test::TempDir dir{"full"};
  fs::create_symlink("/dev/full", dir / "log");  // every write fails with "disk full"
  ScanLogStore store;
  ASSERT_EQ(store.Open(dir.path(), "log"), kOk);
  for (int i = 0; i < 200; ++i) AddItem(store, MakeFile("f"), 2);
  EXPECT_EQ(store.FirstWriteError(), kOk);
  uint32_t id = 0;
  ASSERT_NE(store.AppendItem(id), nullptr);
  EXPECT_EQ(store.FirstWriteError(), kErrDiskFull);
  EXPECT_EQ(store.Flush(), kErrDiskFull);
  EXPECT_EQ(store.Flush(), kErrDiskFull);  // still reported once the buffer is empty
}

TEST(StoreOpen, OpenReportsAFolderThatCannotBeCreated) {
  test::TempDir dir{"open"};
  test::WriteFile(dir / "file", "x", 1);
  ScanLogStore store;
  EXPECT_NE(store.Open(dir / "file" / "sub", "log"), kOk);
  EXPECT_FALSE(store.IsOpen());
  uint32_t id = 5;
  EXPECT_EQ(store.AppendItem(id), nullptr);
  EXPECT_EQ(id, 0u);
  std::vector<FoundItem> items;
  EXPECT_EQ(store.SearchItems("*.jpg", items), 0);
}

}  // namespace
}  // namespace nuvarin
