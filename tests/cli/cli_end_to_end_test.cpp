// The nuvarin command line end to end, on images made by real tools.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "tests/support/test_support.h"

namespace nuvarin::test {
namespace {

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(std::filesystem::exists(Nuvarin())) << Nuvarin(); }
  static std::string Nuvarin() { return BuiltProgram("cli/nuvarin").string(); }
  CommandResult Run(const std::string& args) {
    return RunCommand("XDG_DATA_HOME=" + ShellQuote(dir_.path().string()) + " " + ShellQuote(Nuvarin()) + " " +
                      args + " </dev/null");
  }
  TempDir dir_{"nuvarin-cli"};
};

TEST_F(CliTest, Ext4ImageScansToAnEmptyResult) {
  ASSERT_TRUE(HaveTool("mkfs.ext4"));
  std::string img = (dir_ / "ext4.img").string();
  ASSERT_EQ(RunCommand("truncate -s 8M " + ShellQuote(img) + " && mkfs.ext4 -q -F " + ShellQuote(img)).exitCode, 0);

  CommandResult info = Run("info " + ShellQuote(img));
  EXPECT_EQ(info.exitCode, 0) << info.output;
  EXPECT_NE(info.output.find("Holds:       ext"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("Sectors:     16384"), std::string::npos) << info.output;

  CommandResult scan = Run("scan " + ShellQuote(img) + " --mode deleted");
  EXPECT_EQ(scan.exitCode, 0) << scan.output;
  EXPECT_NE(scan.output.find("Found 0 files"), std::string::npos) << scan.output;

  CommandResult json = Run("scan " + ShellQuote(img) + " --json");
  EXPECT_EQ(json.exitCode, 0) << json.output;
  EXPECT_NE(json.output.find("[]"), std::string::npos) << json.output;

  std::string out = (dir_ / "out").string();
  CommandResult recover = Run("recover " + ShellQuote(img) + " --to " + ShellQuote(out));
  EXPECT_EQ(recover.exitCode, 0) << recover.output;
  EXPECT_NE(recover.output.find("Recovered 0 of 0 files"), std::string::npos) << recover.output;
}

TEST_F(CliTest, ScanningNeverWritesTheSource) {
  std::string img = (dir_ / "ext4.img").string();
  ASSERT_EQ(RunCommand("truncate -s 4M " + ShellQuote(img) + " && mkfs.ext4 -q -F " + ShellQuote(img)).exitCode, 0);
  std::string before = RunCommand("sha256sum < " + ShellQuote(img)).output;
  ASSERT_EQ(RunCommand("chmod 0444 " + ShellQuote(img)).exitCode, 0);
  EXPECT_EQ(Run("scan " + ShellQuote(img)).exitCode, 0);
  EXPECT_EQ(RunCommand("sha256sum < " + ShellQuote(img)).output, before);
}

struct BadCase {
  const char* name;
  const char* setup;  // shell run in the temp folder first
  const char* args;   // "%D" stands for the temp folder
  int exitCode;
  const char* message;  // part of what the user reads
};

const BadCase kBadCases[] = {
    {"missing target", "", "scan %D/nothing.img", 1, "cannot find the file"},
    {"folder as target", "mkdir -p %D/folder", "scan %D/folder", 1, "is a folder"},
    {"1000-byte image", "head -c 1000 /dev/urandom > %D/tiny.img", "scan %D/tiny.img", 1, "at least 16 KiB"},
    {"empty image", ": > %D/empty.img", "info %D/empty.img", 1, "at least 16 KiB"},
    {"random bytes in fast mode", "head -c 65536 /dev/urandom > %D/rnd.img", "scan %D/rnd.img", 1,
     "no NTFS, FAT or ext file system"},
    {"no target", "", "scan", 2, "exactly one TARGET"},
    {"unknown mode", "head -c 65536 /dev/zero > %D/z.img", "scan %D/z.img --mode quick", 2, "unknown mode"},
    {"unknown group", "head -c 65536 /dev/zero > %D/z.img", "scan %D/z.img --types pictures", 2,
     "unknown file type group"},
    {"unknown option", "", "scan x --fast", 2, "unknown option"},
    {"recover without --to", "head -c 65536 /dev/zero > %D/z.img", "recover %D/z.img", 2, "--to DIR"},
    {"unknown command", "", "undelete x", 2, "unknown command"},
};

std::string Expand(std::string text, const std::string& dir) {
  for (size_t p; (p = text.find("%D")) != std::string::npos;) text.replace(p, 2, dir);
  return text;
}

TEST_F(CliTest, BadInputGivesAClearErrorAndExitCode) {
  for (const BadCase& c : kBadCases) {
    SCOPED_TRACE(c.name);
    if (*c.setup) {
      ASSERT_EQ(RunCommand(Expand(c.setup, dir_.path().string())).exitCode, 0);
    }
    CommandResult r = Run(Expand(c.args, dir_.path().string()));
    EXPECT_EQ(r.exitCode, c.exitCode) << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("terminate called"), std::string::npos) << r.output;
  }
}

// The README's main command: the bundled card image gives back its deleted
// photos and documents, byte for byte, sorted into group folders.
TEST_F(CliTest, SampleCardRecoversItsDeletedFiles) {
  std::string img = (dir_ / "card.img").string(), manifest = (dir_ / "card.manifest").string();
  CommandResult made = RunCommand(ShellQuote(FixtureScript("sample_fat32.sh").string()) + " " + ShellQuote(img) +
                                  " " + ShellQuote(manifest));
  ASSERT_EQ(made.exitCode, 0) << made.output;
  std::string out = (dir_ / "recovered").string();
  CommandResult r = Run("recover " + ShellQuote(img) + " --to " + ShellQuote(out));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("Recovered 5 of 5 files"), std::string::npos) << r.output;
  const std::map<std::string, std::string> kGroupOf = {{".jpg", "photo"}, {".png", "photo"}, {".pdf", "document"},
                                                       {".txt", "document"}};
  const std::vector<uint8_t> manifestBytes = ReadFile(manifest);
  std::istringstream lines(std::string(manifestBytes.begin(), manifestBytes.end()));
  std::string line;
  int checked = 0;
  while (std::getline(lines, line)) {
    std::filesystem::path original = line.substr(line.find('\t') + 1);
    std::filesystem::path recovered =
        std::filesystem::path(out) / kGroupOf.at(original.extension().string()) / original.filename();
    SCOPED_TRACE(recovered.string());
    EXPECT_EQ(ReadFile(recovered), ReadFile(original));
    ++checked;
  }
  EXPECT_EQ(checked, 5);

  CommandResult listed = Run("scan " + ShellQuote(img) + " --types photo --list");
  EXPECT_EQ(listed.exitCode, 0) << listed.output;
  EXPECT_NE(listed.output.find("Camera/Holiday Beach 2024.jpg\t8"), std::string::npos) << listed.output;
  EXPECT_EQ(listed.output.find(".pdf"), std::string::npos) << listed.output;

  CommandResult folders = Run("recover " + ShellQuote(img) + " --to " + ShellQuote(out + "-tree") +
                              " --layout folders --types document");
  EXPECT_EQ(folders.exitCode, 0) << folders.output;
  EXPECT_TRUE(std::filesystem::exists(out + "-tree/Documents/Old Letters/Letter to Anna.txt")) << folders.output;
}

// Clusters above 64 KiB are written as a negative exponent in the boot
// sector; such a volume is still taken for NTFS and its deleted file comes back.
TEST_F(CliTest, NtfsWith128KiBClustersIsRecognisedAndRecovered) {
  CommandResult made = RunCommand("bash " + ShellQuote(FixtureScript("ntfs_big_clusters.sh").string()) + " " +
                                  ShellQuote(dir_.path().string()));
  ASSERT_EQ(made.exitCode, 0) << made.output;
  std::string img = (dir_ / "big.img").string();
  CommandResult info = Run("info " + ShellQuote(img));
  EXPECT_NE(info.output.find("Holds:       NTFS"), std::string::npos) << info.output;
  std::string out = (dir_ / "out").string();
  CommandResult r = Run("recover " + ShellQuote(img) + " --to " + ShellQuote(out));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(ReadFile(std::filesystem::path(out) / "others" / "data.bin"), ReadFile(dir_ / "orig" / "data.bin"));
}

// A deep scan is recorded; the next one of the same unchanged image continues
// it (the default without a terminal, or --resume), --fresh starts again.
TEST_F(CliTest, DeepScanContinuesUnlessToldToStartAfresh) {
  std::string img = (dir_ / "raw.img").string();
  ASSERT_EQ(RunCommand("head -c 4194304 /dev/urandom > " + ShellQuote(img)).exitCode, 0);
  CommandResult first = Run("scan " + ShellQuote(img) + " --mode deep");
  ASSERT_EQ(first.exitCode, 0) << first.output;
  EXPECT_EQ(first.output.find("Continuing"), std::string::npos) << first.output;
  for (const char* flags : {"", " --resume"}) {
    CommandResult again = Run("scan " + ShellQuote(img) + " --mode formatted" + flags);
    EXPECT_EQ(again.exitCode, 0) << again.output;
    EXPECT_NE(again.output.find("Continuing the earlier deep scan"), std::string::npos) << flags << again.output;
  }
  CommandResult fresh = Run("scan " + ShellQuote(img) + " --mode deep --fresh");
  EXPECT_EQ(fresh.exitCode, 0) << fresh.output;
  EXPECT_NE(fresh.output.find("Starting a new deep scan"), std::string::npos) << fresh.output;
  EXPECT_EQ(Run("scan " + ShellQuote(img) + " --resume --fresh --mode deep").exitCode, 2);
}

TEST_F(CliTest, HelpListsTheCommands) {
  CommandResult r = Run("--help");
  EXPECT_EQ(r.exitCode, 0);
  for (const char* word : {"info", "scan", "recover", "disks", "image"}) {
    EXPECT_NE(r.output.find(word), std::string::npos) << word;
  }
}

}  // namespace
}  // namespace nuvarin::test
