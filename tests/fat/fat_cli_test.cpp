// The command line on FAT images: the README's sample card and FAT12, FAT16
// and FAT32 volumes come back byte for byte through "nuvarin recover".
#include <gtest/gtest.h>

#include "tests/fat/fat_image_fixture.h"

namespace nuvarin {
namespace {

using test::TempDir;

test::CommandResult Nuvarin(const std::string& args, const TempDir& home) {
  return test::RunCommand("XDG_DATA_HOME=" + test::ShellQuote(home.path().string()) + " " +
                          test::ShellQuote(test::BuiltProgram("cli/nuvarin").string()) + " " + args + " 2>&1");
}

TEST(FatCommandLine, RecoversTheBundledSample) {
  test::RequireTools({"mkfs.fat", "mcopy", "mdeltree", "convert", "gs", "zip"});
  TempDir dir("fatcli");
  std::filesystem::path img = dir / "card.img";
  std::filesystem::path manifest = dir / "manifest.txt";
  test::CommandResult made = test::RunCommand("cd " + test::ShellQuote(dir.path().string()) + " && bash " +
                                              test::ShellQuote(test::FixtureScript("sample_fat32.sh").string()) +
                                              " card.img manifest.txt");
  ASSERT_EQ(made.exitCode, 0) << made.output;
  test::CommandResult r = Nuvarin("recover " + test::ShellQuote(img.string()) + " --to " +
                                      test::ShellQuote((dir / "out").string()),
                                  dir);
  ASSERT_EQ(r.exitCode, 0) << r.output;
  std::vector<uint8_t> list = test::ReadFile(manifest);
  std::vector<std::string> lines = test::Lines(std::string(list.begin(), list.end()));
  ASSERT_EQ(lines.size(), 5u);
  for (const std::string& line : lines) {
    std::string original = line.substr(line.find('\t') + 1);
    std::string name = std::filesystem::path(original).filename().string();
    std::string group = name.find(".jpg") != std::string::npos || name.find(".png") != std::string::npos
                            ? "photo" : "document";
    SCOPED_TRACE(name);
    std::vector<uint8_t> want = test::ReadFile(dir / original);
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(test::ReadFile(dir / "out" / group / name), want);
  }
}

class FatCommandLineFolders : public ::testing::TestWithParam<const char*> {};

TEST_P(FatCommandLineFolders, KeepFoldersAndBytes) {
  test::RequireTools({"mkfs.fat", "mcopy", "mdeltree", "faketime", "convert"});
  TempDir dir("fatclifolders");
  test::FatVolume v = test::BuildFatVolume(dir, GetParam());
  test::CommandResult r = Nuvarin("recover " + test::ShellQuote(v.image.string()) + " --layout folders --to " +
                                      test::ShellQuote((dir / "out").string()),
                                  dir);
  ASSERT_EQ(r.exitCode, 0) << r.output;
  std::vector<uint8_t> list = test::ReadFile(v.originals / "deleted.txt");
  for (const std::string& path : test::Lines(std::string(list.begin(), list.end()))) {
    SCOPED_TRACE(path);
    EXPECT_EQ(test::ReadFile(dir / "out" / path), test::ReadFile(v.originals / path));
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FatCommandLineFolders, ::testing::Values("12", "16", "32"));

}  // namespace
}  // namespace nuvarin
