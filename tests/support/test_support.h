// Helpers shared by the test programs: temporary folders, running the real
// tools that build fixtures, reading and writing whole files.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace nuvarin::test {

// A fresh folder under the system temp folder, removed with everything in it.
class TempDir {
 public:
  explicit TempDir(const std::string& tag = "nuvarin");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

struct CommandResult {
  int exitCode = -1;
  std::string output;  // stdout and stderr together
};

// Runs a shell command line (bash -c), capturing its output.
CommandResult RunCommand(const std::string& commandLine);
// True when `tool` is on PATH.
bool HaveTool(const std::string& tool);
// Path of a fixture script under tests/fixtures.
std::filesystem::path FixtureScript(const std::string& name);
// Path of a built program in the build tree (for example "cli/nuvarin").
std::filesystem::path BuiltProgram(const std::string& relative);

std::vector<uint8_t> ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const void* data, size_t size);
inline void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  WriteFile(path, bytes.data(), bytes.size());
}
std::string ShellQuote(const std::string& s);

}  // namespace nuvarin::test
