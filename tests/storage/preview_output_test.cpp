// The preview writer every engine uses: memory previews stop at the buffer's
// capacity, file previews replace the previous file, failures are reported
// once and leave no half-written file behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "platform/paths.h"
#include "storage/preview_output.h"
#include "tests/support/test_support.h"

namespace nuvarin {
namespace {

namespace fs = std::filesystem;

struct Calls {
  std::vector<std::pair<int32_t, int32_t>> seen;  // (percent, error)
  int32_t answer = 0;
  static int32_t Callback(void* ctx, int32_t percent, int32_t error) {
    auto* self = static_cast<Calls*>(ctx);
    self->seen.push_back({percent, error});
    return self->answer;
  }
};

const std::vector<uint8_t> kData(3000, 0x5A);

TEST(PreviewWriter, MemoryPreviewStopsAtTheBufferCapacity) {
  std::vector<uint8_t> buffer(1000, 0);
  uint32_t size = static_cast<uint32_t>(buffer.size());
  Calls calls;
  fs::path out;
  PreviewWriter writer("notes.txt", kData.size(), buffer.data(), size, &Calls::Callback, &calls);
  ASSERT_EQ(writer.Open(out), 0);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(writer.Total(), 1000u);
  EXPECT_EQ(writer.Write(kData.data(), 600), 0);
  EXPECT_EQ(writer.Write(kData.data(), 600), 0);
  EXPECT_TRUE(writer.Complete());
  EXPECT_EQ(writer.Finish(0, out), 0);
  EXPECT_EQ(size, 1000u);
  ASSERT_EQ(calls.seen.size(), 2u);
  EXPECT_EQ(calls.seen.back(), std::make_pair(100, 0));
}

TEST(PreviewWriter, FilePreviewReplacesThePreviousOneAndIsRemovedOnFailure) {
  test::TempDir dir("nuvarin-preview");
  setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
  const fs::path expected = platform::ScanLogRoot() / "tmp.jpg";
  uint32_t none = 0;
  {
    fs::path out;
    PreviewWriter writer("photo.JPG", kData.size(), nullptr, none, nullptr, nullptr);
    ASSERT_EQ(writer.Open(out), 0);
    EXPECT_EQ(out, expected);
    EXPECT_EQ(writer.Write(kData.data(), kData.size()), 0);
    EXPECT_EQ(writer.Finish(0, out), 0);
    EXPECT_EQ(test::ReadFile(expected), kData);
  }
  {
    Calls calls;
    fs::path out;
    PreviewWriter writer("photo.jpg", kData.size(), nullptr, none, &Calls::Callback, &calls);
    ASSERT_EQ(writer.Open(out), 0);
    EXPECT_EQ(fs::file_size(expected), 0u);  // the previous preview is gone
    EXPECT_EQ(writer.Write(kData.data(), 100), 0);
    EXPECT_EQ(writer.Finish(30, out), 30);
    EXPECT_FALSE(fs::exists(expected));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(calls.seen.back(), std::make_pair(100, 30));
  }
}

TEST(PreviewWriter, CancelAnswerAndEmptyItems) {
  std::vector<uint8_t> buffer(100);
  uint32_t size = 100;
  Calls calls;
  calls.answer = -9527;
  fs::path out;
  PreviewWriter writer("a.bin", 50, buffer.data(), size, &Calls::Callback, &calls);
  ASSERT_EQ(writer.Open(out), 0);
  EXPECT_EQ(writer.Write(kData.data(), 10), -9527);

  Calls empty;
  uint32_t size2 = 100;
  PreviewWriter none("empty.bin", 0, buffer.data(), size2, &Calls::Callback, &empty);
  ASSERT_EQ(none.Open(out), 0);
  EXPECT_EQ(none.Finish(0, out), 0);
  ASSERT_EQ(empty.seen.size(), 1u);
  EXPECT_EQ(empty.seen[0], std::make_pair(100, 0));
  uint32_t size3 = 0;
  PreviewWriter noBuffer("x.bin", 10, nullptr, size3, nullptr, nullptr);
  EXPECT_EQ(noBuffer.Open(out), 87);
}

}  // namespace
}  // namespace nuvarin
