// `nuvarin scan IMAGE --mode deleted` and `nuvarin recover ... --to DIR` on the
// NTFS fixture volume: the command line reaches this engine through the
// factory and writes the deleted files byte for byte.
#include <gtest/gtest.h>

#include <set>

#include "scan_fixture.h"
#include "test_support.h"

namespace nuvarin {
namespace {

using test::NtfsVolumeFixture;
using test::RunCommand;
using test::ShellQuote;

TEST(NtfsCommandLineTest, ScanAndRecoverDeletedFiles) {
  auto& fx = NtfsVolumeFixture::Get();
  ASSERT_TRUE(fx.ok()) << fx.log();
  auto nuvarin = test::BuiltProgram("cli/nuvarin");
  ASSERT_TRUE(std::filesystem::exists(nuvarin)) << nuvarin;
  test::TempDir dir("ntfs-cli");
  std::string env = "XDG_DATA_HOME=" + ShellQuote((dir / "xdg").string()) + " " + ShellQuote(nuvarin.string());
  auto scan = RunCommand(env + " scan " + ShellQuote(fx.Image().string()) + " --mode deleted");
  ASSERT_EQ(scan.exitCode, 0) << scan.output;
  EXPECT_NE(scan.output.find("Found 809 files"), std::string::npos) << scan.output;

  auto out = dir / "out";
  auto recover = RunCommand(env + " recover " + ShellQuote(fx.Image().string()) + " --mode deleted --to " +
                            ShellQuote(out.string()));
  ASSERT_EQ(recover.exitCode, 0) << recover.output;
  std::set<std::vector<uint8_t>> written;
  for (const auto& e : std::filesystem::recursive_directory_iterator(out)) {
    if (e.is_regular_file()) written.insert(test::ReadFile(e.path()));
  }
  for (const char* path : {"docs/note.txt", "docs/deep/empty.dat", "docs/deep/deeper/tiny.txt", "docs/big.bin",
                           "frag/frag1.bin", "trash/a.bin", "trash/sub/b.txt", "trash/sub/subsub/c.dat",
                           "reuse/victim.txt"})
    EXPECT_EQ(written.count(test::ReadFile(fx.Original(path))), 1u) << path;
}

}  // namespace
}  // namespace nuvarin
