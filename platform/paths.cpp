#include "platform/paths.h"

#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "platform/error_codes.h"

namespace fs = std::filesystem;

namespace nuvarin::platform {

fs::path UserDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg) return fs::path(xdg);
  const char* home = std::getenv("HOME");
  if (home && *home) return fs::path(home) / ".local" / "share";
  return fs::temp_directory_path();
}

fs::path ScanLogRoot() { return UserDataFolder() / "Nuvarin Data Recovery" / "ScanLog"; }

fs::path ProgramFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::current_path(ec);
  return exe.parent_path();
}

int32_t CreateFolders(const fs::path& folder) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return kErrAlreadyExists;
  fs::create_directories(folder, ec);
  if (ec) {
    if (fs::is_directory(folder)) return kErrAlreadyExists;
    return ErrnoToCode(ec.value());
  }
  return kOk;
}

void RemoveTree(const fs::path& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

}  // namespace nuvarin::platform
