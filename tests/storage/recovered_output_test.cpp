// Writing recovered items: the folder walk over a small engine whose tree
// lives in a real scan log, hostile names from disk, cancel and failures, and
// the file writer's reports.
#include "storage/recovered_output.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "storage/scan_log_store.h"
#include "tests/storage/store_fixture.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace nuvarin {
namespace {

using test::AddItem;
using test::MakeFile;
using test::MakeFolder;

constexpr RelationKey kRoot = MakeRelationKey(0, 2);

struct Report {
  int32_t percent, weight, error;
  std::string path;
};

// An engine over an in-memory volume: its tree is a scan log, its file data a
// map from name to bytes, handed out three bytes per read unit.
class FakeEngine final : public IFileRecoveryParse {
 public:
  explicit FakeEngine(const fs::path& logFolder) { EXPECT_EQ(store.Open(logFolder, "log"), kOk); }

  ScanLogStore store;
  std::map<std::string, std::string> data;                 // file name -> content
  std::set<std::string> unreadable;                        // reading stops after the first unit
  bool ignoreDepth = false;                                // children looked up by objectId alone
  std::vector<std::pair<uint32_t, uint32_t>> folderReads;  // (objectId, depth)
  std::vector<Report> reports;
  std::string cancelAtFirstReportOf;  // the callback answers -9527 there
  size_t maxFolderReads = 100000;

  uint32_t File(std::string_view name, std::string content, RelationKey key) {
    data[std::string(name)] = content;
    return AddItem(store, MakeFile(name, content.size()), key);
  }

  static int32_t Callback(void* context, int32_t percent, int32_t weight, int32_t error, const char* path) {
    auto* self = static_cast<FakeEngine*>(context);
    self->reports.push_back({percent, weight, error, path});
    if (!self->cancelAtFirstReportOf.empty() && fs::path(path).filename() == self->cancelAtFirstReportOf) {
      return kCancelCode;
    }
    return 0;
  }

  int32_t RecoverOne(const FoundItem& item, const fs::path& path, RecoverQueue& queue) {
    if (item.isFolder) return RecoverFolderStep(item, path, queue);
    const std::string& bytes = data[std::string(item.Name())];
    RecoveredFileWriter out(&Callback, this, path, item.size);
    if (int32_t rc = out.Open(); rc != kOk) return rc;
    for (size_t at = 0; at < bytes.size(); at += 3) {
      if (at > 0 && unreadable.count(std::string(item.Name()))) return out.Finish(kErrReadFault);
      if (int32_t rc = out.Write(bytes.data() + at, std::min<size_t>(3, bytes.size() - at)); rc != kOk)
        return rc;
    }
    return out.Finish();
  }

  int32_t OpenImage(const fs::path&, uint16_t) override { return 0; }
  int32_t OpenDisk(uint32_t, uint64_t, uint64_t, uint16_t) override { return 0; }
  int32_t SetProgressCallback(ProgressCallback, FileCallback, void*, int32_t) override { return 0; }
  int32_t OpenLog(const char*) override { return 0; }
  int32_t ReadFolder(const FoundItem* folder, uint32_t depth, std::vector<FoundItem>& out) override {
    if (!folder) return depth == 0 ? store.ReadFolder(0, out) : kErrInvalidParameter;
    folderReads.emplace_back(+folder->objectId, depth);
    if (folderReads.size() > maxFolderReads) ADD_FAILURE() << "the walk does not end";
    if (folderReads.size() > maxFolderReads) return kCancelCode;
    store.Flush();
    return store.ReadFolder(MakeRelationKey(ignoreDepth ? 1 : depth, folder->objectId), out);
  }
  int32_t CountFolderFiles(const FoundItem*, uint32_t, uint32_t& count) override { return count = 0; }
  uint64_t GetItemCount() override { return store.AppendedCount(); }
  int32_t GetItemPath(const FoundItem* item, std::string& path) override {
    return store.ItemPath(*item, path);
  }
  int32_t RecoverItem(const FoundItem* item, const fs::path& destination, uint32_t baseDepth) override {
    return RunRecoveryWalk(
        *this, item, destination, baseDepth,
        [this](const FoundItem& i, const fs::path& p, RecoverQueue& q) { return RecoverOne(i, p, q); });
  }
  int32_t NextFreeExtent(uint64_t&, uint64_t&) override { return 0; }
  int32_t SetSearchCallback(ShortCallback, void*) override { return 0; }
  int32_t SearchItems(const std::string&, std::vector<FoundItem>&) override { return 0; }
  int32_t LoadAllocationBitmap() override { return 0; }
  int32_t PreviewItem(const FoundItem*, fs::path&, uint8_t*, uint32_t& size, ShortCallback, void*) override {
    size = 0;
    return 0;
  }
};

uint32_t Slashes(const fs::path& p) {
  const std::string& s = p.native();
  return static_cast<uint32_t>(std::count(s.begin(), s.end() - (s.empty() ? 0 : 1), '/'));
}

std::string Content(const fs::path& p) {
  auto b = test::ReadFile(p);
  return std::string(b.begin(), b.end());
}

// Every path below `top`, relative to it.
std::set<std::string> Tree(const fs::path& top) {
  std::set<std::string> out;
  for (auto& e : fs::recursive_directory_iterator(top)) out.insert(fs::relative(e.path(), top).string());
  return out;
}

class WalkTest : public ::testing::Test {
 protected:
  test::TempDir dir{"walk"};
  FakeEngine engine{dir.path() / "log"};
  fs::path out = dir.path() / "out";
  FoundItem Item(uint32_t id) {
    FoundItem item;
    EXPECT_EQ(engine.store.ReadItem(id, item), kOk);
    return item;
  }
  std::vector<Report> EndReports() const {
    std::vector<Report> ends;
    for (const Report& r : engine.reports) {
      if (r.percent == 100) ends.push_back(r);
    }
    return ends;
  }
};

TEST_F(WalkTest, FolderBecomesATreeReadLevelByLevel) {
  uint32_t a = AddItem(engine.store, MakeFolder("a", 10), kRoot);
  engine.File("x.txt", "hello world", MakeRelationKey(1, 10));
  engine.File("empty.txt", "", MakeRelationKey(1, 10));
  AddItem(engine.store, MakeFolder("b", 11), MakeRelationKey(1, 10));
  AddItem(engine.store, MakeFolder("void", 12), MakeRelationKey(1, 10));
  engine.File("z.txt", "zz", MakeRelationKey(2, 11));

  FoundItem folder = Item(a);
  ASSERT_EQ(engine.RecoverItem(&folder, out / "a", Slashes(out / "a") - 1), kOk);
  EXPECT_EQ(engine.folderReads, (std::vector<std::pair<uint32_t, uint32_t>>{{10, 1}, {11, 2}, {12, 2}}));
  EXPECT_EQ(Tree(out), (std::set<std::string>{"a", "a/x.txt", "a/empty.txt", "a/b", "a/b/z.txt", "a/void"}));
  EXPECT_EQ(Content(out / "a" / "x.txt"), "hello world");
  EXPECT_EQ(fs::file_size(out / "a" / "empty.txt"), 0u);
  EXPECT_EQ(Content(out / "a" / "b" / "z.txt"), "zz");
  // Exactly one final report per file, each a success.
  auto ends = EndReports();
  ASSERT_EQ(ends.size(), 3u);
  for (const Report& r : ends) {
    EXPECT_EQ(r.error, 0) << r.path;
    EXPECT_EQ(r.weight, 100);
  }
}

TEST_F(WalkTest, ExistingDestinationIsUsedAsItIs) {
  uint32_t a = AddItem(engine.store, MakeFolder("a", 10), kRoot);
  engine.File("new.txt", "n", MakeRelationKey(1, 10));
  fs::create_directories(out / "a");
  test::WriteFile(out / "a" / "old.txt", "o", 1);
  FoundItem folder = Item(a);
  ASSERT_EQ(engine.RecoverItem(&folder, out / "a", Slashes(out / "a") - 1), kOk);
  EXPECT_EQ(Tree(out), (std::set<std::string>{"a", "a/new.txt", "a/old.txt"}));
}

TEST_F(WalkTest, FileItemGoesToItsDestinationWithParentsCreated) {
  uint32_t f = engine.File("photo.jpg", "JFIFdata", kRoot);
  FoundItem item = Item(f);
  ASSERT_EQ(engine.RecoverItem(&item, out / "photo" / "photo.jpg", 0), kOk);
  EXPECT_EQ(Content(out / "photo" / "photo.jpg"), "JFIFdata");
  EXPECT_EQ(engine.RecoverItem(nullptr, out, 0), kErrInvalidParameter);
}

TEST(SafeNames, NamesBecomeOnePathComponent) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain.txt", "plain.txt"},
      {"a/b", "a_b"},
      {"../../etc", ".._.._etc"},
      {"..", "_"},
      {".", "_"},
      {"", "_"},
      {"...", "..."},
      {std::string("a\0b", 3), "a_b"},
      {"/", "_"},
      {".hidden", ".hidden"},
  };
  for (const auto& [in, expected] : cases) {
    EXPECT_EQ(SafeComponentName(in), expected) << in;
    EXPECT_EQ(SafeComponentName(in), SafeComponentName(in));
  }
  std::string longName(250, 'a');
  longName += "\xC3\xA9\xC3\xA9\xC3\xA9";  // 256 bytes, the cut falls inside a character
  std::string cut = SafeComponentName(longName);
  EXPECT_EQ(cut.size(), 254u);
  EXPECT_EQ(cut.substr(250), "\xC3\xA9\xC3\xA9");
}

TEST_F(WalkTest, HostileNamesStayInsideTheDestination) {
  uint32_t top = AddItem(engine.store, MakeFolder("a", 10), kRoot);
  const RelationKey inA = MakeRelationKey(1, 10);
  for (const char* name : {"../../escape.txt", "a/b", "..", ".", "/abs"}) engine.File(name, "bad", inA);
  AddItem(engine.store, MakeFolder("../../evil", 12), inA);
  AddItem(engine.store, MakeFolder("..", 13), inA);
  engine.File("x", "1", MakeRelationKey(2, 12));
  engine.File("y", "2", MakeRelationKey(2, 13));

  fs::path sandbox = dir.path() / "sandbox";
  fs::path dest = sandbox / "deep" / "out" / "a";
  FoundItem folder = Item(top);
  EXPECT_EQ(engine.RecoverItem(&folder, dest, Slashes(dest) - 1), kOk);
  EXPECT_EQ(Tree(sandbox),
            (std::set<std::string>{"deep", "deep/out", "deep/out/a", "deep/out/a/.._.._escape.txt",
                                   "deep/out/a/a_b", "deep/out/a/_", "deep/out/a/_abs",
                                   "deep/out/a/.._.._evil", "deep/out/a/.._.._evil/x"}));
  // ".." the file and ".." the folder share the safe name: the folder cannot
  // be made over the file, and its child fails instead of landing elsewhere.
  std::set<std::string> everything{"log", "log/log", "log/log_Relation", "log/log_DirInfo", "sandbox"};
  for (const std::string& p : Tree(sandbox)) everything.insert("sandbox/" + p);
  EXPECT_EQ(Tree(dir.path()), everything);
}

TEST_F(WalkTest, CancelDuringTheSecondFileEndsTheWalkAtOnce) {
  uint32_t a = AddItem(engine.store, MakeFolder("a", 10), kRoot);
  engine.File("1.bin", "abcdef", MakeRelationKey(1, 10));
  engine.File("2.bin", "ghijkl", MakeRelationKey(1, 10));
  engine.File("3.bin", "mnopqr", MakeRelationKey(1, 10));
  AddItem(engine.store, MakeFolder("sub", 11), MakeRelationKey(1, 10));
  engine.File("4.bin", "st", MakeRelationKey(2, 11));
  engine.cancelAtFirstReportOf = "2.bin";
  FoundItem folder = Item(a);
  EXPECT_EQ(engine.RecoverItem(&folder, out / "a", Slashes(out / "a") - 1), kCancelCode);
  EXPECT_EQ(Content(out / "a" / "1.bin"), "abcdef");
  EXPECT_EQ(Content(out / "a" / "2.bin"), "ghi");
  EXPECT_FALSE(fs::exists(out / "a" / "3.bin"));
  EXPECT_FALSE(fs::exists(out / "a" / "sub" / "4.bin"));
}

TEST_F(WalkTest, FailedFilesAreReportedAndTheWalkGoesOn) {
  uint32_t a = AddItem(engine.store, MakeFolder("a", 10), kRoot);
  engine.File("a_bad.bin", "abcdef", MakeRelationKey(1, 10));
  engine.File("b_good.bin", "ok", MakeRelationKey(1, 10));
  engine.unreadable.insert("a_bad.bin");
  uint32_t b = AddItem(engine.store, MakeFolder("b", 20), kRoot);
  engine.File("a_good.bin", "ok", MakeRelationKey(1, 20));
  engine.File("z_bad.bin", "abcdef", MakeRelationKey(1, 20));
  engine.unreadable.insert("z_bad.bin");

  FoundItem folder = Item(a);
  EXPECT_EQ(engine.RecoverItem(&folder, out / "a", Slashes(out / "a") - 1), kOk);  // the last file went well
  folder = Item(b);
  EXPECT_EQ(engine.RecoverItem(&folder, out / "b", Slashes(out / "b") - 1), kErrReadFault);
  EXPECT_EQ(Content(out / "a" / "b_good.bin"), "ok");
  EXPECT_EQ(Content(out / "b" / "a_good.bin"), "ok");
  std::map<std::string, int32_t> verdicts;
  for (const Report& r : EndReports()) verdicts[fs::path(r.path).filename().string()] = r.error;
  EXPECT_EQ(
      verdicts,
      (std::map<std::string, int32_t>{
          {"a_bad.bin", kErrReadFault}, {"b_good.bin", 0}, {"a_good.bin", 0}, {"z_bad.bin", kErrReadFault}}));
}

TEST_F(WalkTest, FoldersThatContainThemselvesEndTheWalk) {
  // Children are looked up by objectId alone, so folder 10 lists itself twice
  // and folder 11, which lists 10 again: without bounds the walk never ends.
  engine.ignoreDepth = true;
  engine.maxFolderReads = 50;
  uint32_t a = AddItem(engine.store, MakeFolder("a", 10), kRoot);
  AddItem(engine.store, MakeFolder("again", 10), MakeRelationKey(1, 10));
  AddItem(engine.store, MakeFolder("twice", 10), MakeRelationKey(1, 10));
  AddItem(engine.store, MakeFolder("b", 11), MakeRelationKey(1, 10));
  AddItem(engine.store, MakeFolder("back", 10), MakeRelationKey(1, 11));
  engine.File("f.txt", "f", MakeRelationKey(1, 11));
  FoundItem folder = Item(a);
  EXPECT_EQ(engine.RecoverItem(&folder, out / "a", Slashes(out / "a") - 1), kOk);
  EXPECT_EQ(engine.folderReads.size(), 2u);
  EXPECT_EQ(Content(out / "a" / "b" / "f.txt"), "f");
  engine.folderReads.clear();  // the same with a destination written with a final "/"
  EXPECT_EQ(engine.RecoverItem(&folder, out / "c" / "", Slashes(out / "c" / "") - 1), kOk);
  EXPECT_EQ(engine.folderReads.size(), 2u);
  EXPECT_EQ(Content(out / "c" / "b" / "f.txt"), "f");
}

TEST(FolderStep, AFileInTheWayFailsTheFolder) {
  test::TempDir dir{"step"};
  test::WriteFile(dir / "taken", "x", 1);
  RecoverQueue queue;
  EXPECT_NE(RecoverFolderStep(MakeFolder("taken", 5), dir / "taken", queue), kOk);
  EXPECT_TRUE(queue.empty());
  EXPECT_EQ(RecoverFolderStep(MakeFolder("new", 6), dir / "new", queue), kOk);
  ASSERT_EQ(queue.size(), 1u);
  EXPECT_EQ(queue[0].parentPath, dir.path());
  EXPECT_TRUE(fs::is_directory(dir / "new"));
}

// The file writer on its own.
struct WriterLog {
  std::vector<Report> reports;
  int32_t answer = 0;
  int32_t answerAt = -1;  // percent at which the answer is given
};

int32_t WriterCallback(void* context, int32_t percent, int32_t weight, int32_t error, const char* path) {
  auto* log = static_cast<WriterLog*>(context);
  log->reports.push_back({percent, weight, error, path});
  return percent == log->answerAt ? log->answer : 0;
}

std::vector<std::pair<int32_t, int32_t>> Shape(const WriterLog& log) {
  std::vector<std::pair<int32_t, int32_t>> shape;
  for (const Report& r : log.reports) shape.emplace_back(r.percent, r.error);
  return shape;
}

TEST(Writer, ReportsProgressAndOneFinalVerdict) {
  test::TempDir dir{"writer"};
  WriterLog log;
  RecoveredFileWriter w(&WriterCallback, &log, dir / "f", 10);
  ASSERT_EQ(w.Open(), kOk);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(w.Write("abc", 3), kOk);  // the last piece is cut to size
  EXPECT_EQ(w.Written(), 10u);
  EXPECT_EQ(w.Write("more", 4), kOk);
  EXPECT_EQ(w.Finish(), kOk);
  EXPECT_EQ(Shape(log), (std::vector<std::pair<int32_t, int32_t>>{{30, 0}, {60, 0}, {90, 0}, {100, 0}}));
  EXPECT_EQ(Content(dir / "f"), "abcabcabca");
  EXPECT_EQ(log.reports.back().path, (dir / "f").string());
}

TEST(Writer, EmptyFileReportsDone) {
  test::TempDir dir{"writer"};
  WriterLog log;
  RecoveredFileWriter w(&WriterCallback, &log, dir / "empty", 0);
  ASSERT_EQ(w.Open(), kOk);
  EXPECT_EQ(w.Finish(), kOk);
  EXPECT_EQ(Shape(log), (std::vector<std::pair<int32_t, int32_t>>{{100, 0}}));
  EXPECT_TRUE(fs::exists(dir / "empty"));
}

TEST(Writer, IncompleteFileIsNeverASuccess) {
  test::TempDir dir{"writer"};
  for (int32_t given : {kErrReadFault, kOk}) {
    WriterLog log;
    RecoveredFileWriter w(&WriterCallback, &log, dir / "short", 10);
    ASSERT_EQ(w.Open(), kOk);
    ASSERT_EQ(w.Write("abcd", 4), kOk);
    EXPECT_EQ(w.Finish(given), kErrReadFault);
    EXPECT_EQ(Shape(log), (std::vector<std::pair<int32_t, int32_t>>{{40, 0}, {100, kErrReadFault}}));
  }
}

TEST(Writer, OpenAndWriteFailuresAreReported) {
  test::TempDir dir{"writer"};
  struct Case {
    fs::path path;
    int32_t openResult;
  };
  const Case cases[] = {{dir / "missing" / "f", kErrFileNotFound}, {dir / "..", kErrInvalidParameter}};
  for (const Case& c : cases) {
    WriterLog log;
    RecoveredFileWriter w(&WriterCallback, &log, c.path, 5);
    EXPECT_EQ(w.Open(), c.openResult) << c.path;
    EXPECT_EQ(Shape(log), (std::vector<std::pair<int32_t, int32_t>>{{100, c.openResult}})) << c.path;
    EXPECT_EQ(w.Finish(), c.openResult);
    EXPECT_EQ(log.reports.size(), 1u);
  }
  WriterLog log;
  RecoveredFileWriter full(&WriterCallback, &log, "/dev/full", 5);
  ASSERT_EQ(full.Open(), kOk);
  EXPECT_EQ(full.Write("abcde", 5), kErrDiskFull);
  EXPECT_EQ(full.Finish(), kErrDiskFull);
  EXPECT_EQ(Shape(log), (std::vector<std::pair<int32_t, int32_t>>{{100, kErrDiskFull}}));
}

TEST(Writer, CallbackAnswerStopsTheFile) {
  test::TempDir dir{"writer"};
  WriterLog log;
  log.answer = kCancelCode;
  log.answerAt = 50;
  RecoveredFileWriter w(&WriterCallback, &log, dir / "f", 4);
  ASSERT_EQ(w.Open(), kOk);
  EXPECT_EQ(w.Write("ab", 2), kCancelCode);

  WriterLog last;
  last.answer = kCancelCode;
  last.answerAt = 100;
  RecoveredFileWriter v(&WriterCallback, &last, dir / "g", 4);
  ASSERT_EQ(v.Open(), kOk);
  EXPECT_EQ(v.Write("ab", 2), kOk);
  EXPECT_EQ(v.Finish(), kCancelCode);  // asked to stop at the failure report of the short file
}

TEST(Writer, ReplacesALongerOldFileAndWritesZeroRuns) {
  test::TempDir dir{"writer"};
  test::WriteFile(dir / "f", std::string(100, 'x').data(), 100);
  WriterLog log;
  RecoveredFileWriter w(nullptr, nullptr, dir / "f", 70000);
  ASSERT_EQ(w.Open(), kOk);
  ASSERT_EQ(w.Write("head", 4), kOk);
  ASSERT_EQ(w.WriteZeros(80000), kOk);  // cut to the size
  EXPECT_EQ(w.Remaining(), 0u);
  EXPECT_EQ(w.Finish(), kOk);
  auto bytes = test::ReadFile(dir / "f");
  ASSERT_EQ(bytes.size(), 70000u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "head");
  EXPECT_TRUE(std::all_of(bytes.begin() + 4, bytes.end(), [](uint8_t b) { return b == 0; }));
}

}  // namespace
}  // namespace nuvarin
