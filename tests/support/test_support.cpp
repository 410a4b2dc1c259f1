#include "tests/support/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace nuvarin::test {

TempDir::TempDir(const std::string& tag) {
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = fs::temp_directory_path() /
                         (tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(rd() % 1000000000));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

CommandResult RunCommand(const std::string& commandLine) {
  CommandResult result;
  std::string full = "bash -c " + ShellQuote(commandLine) + " 2>&1";
  FILE* pipe = ::popen(full.c_str(), "r");
  if (!pipe) return result;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), pipe)) > 0) result.output.append(buf, n);
  int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool HaveTool(const std::string& tool) {
  return RunCommand("command -v " + ShellQuote(tool) + " >/dev/null").exitCode == 0;
}

fs::path FixtureScript(const std::string& name) { return fs::path(NUVARIN_SOURCE_DIR) / "tests" / "fixtures" / name; }

fs::path BuiltProgram(const std::string& relative) { return fs::path(NUVARIN_BINARY_DIR) / relative; }

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace nuvarin::test
