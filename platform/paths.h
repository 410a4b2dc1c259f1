// Per-user folders, the program's own folder, folder creation and removal.
#pragma once
#include <cstdint>
#include <filesystem>

namespace nuvarin::platform {

// $XDG_DATA_HOME, else $HOME/.local/share.
std::filesystem::path UserDataFolder();
// UserDataFolder() + "/Nuvarin Data Recovery/ScanLog".
std::filesystem::path ScanLogRoot();
// Folder of the running executable (/proc/self/exe).
std::filesystem::path ProgramFolder();
// Creates the folder with all missing parents. 0 when created, 183 when it
// already existed as a folder, or the error.
int32_t CreateFolders(const std::filesystem::path& folder);
// Removes a file or folder tree; failures are ignored.
void RemoveTree(const std::filesystem::path& path);

}  // namespace nuvarin::platform
