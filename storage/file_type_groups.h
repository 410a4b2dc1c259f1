// The six file groups the result views offer, each a fixed list of extension
// masks ("*.jpg|*.png|...").
#pragma once
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace nuvarin {

enum class FileGroup { kPhoto, kAudio, kVideo, kDocument, kArchive, kOthers };

extern const char* const kPhotoList;
extern const char* const kAudioList;
extern const char* const kVideoList;
extern const char* const kDocumentList;
extern const char* const kArchiveList;
// Files that preview writes to disk under their own name.
extern const char* const kPreviewDocumentList;
// The token that selects the others group in a search pattern.
extern const char* const kOtherToken;  // ".other"

// Folder name of a group: "photo", "audio", "video", "document", "archive", "others".
const char* GroupFolderName(FileGroup group);
// Group by name ("photo", ..., "others" or "other"); false for an unknown word.
bool ParseGroupName(std::string_view word, FileGroup& out);
// The extension list of a group (empty for others).
const char* GroupList(FileGroup group);
// The group of a file name: its lower-cased extension searched as text in the
// lists in the order photo, audio, video, document, archive; else others.
FileGroup GroupOfName(std::string_view name);
// True when the list holds the mask "*.<ext>" for exactly this extension
// (given lower-case, without the dot).
bool ListHasExtension(std::string_view list, std::string_view ext);
// Where a preview of a file named `name` is written: `folder` + the name for
// the documents previews convert, `folder` + "tmp.jpg" for pictures,
// `folder` + "tmp.avi" for audio and video; empty (the memory buffer) for
// everything else and for a document path of 260 characters or more.
std::filesystem::path PreviewDestination(std::string_view name, const std::filesystem::path& folder);

// The five lists joined by "|" in the order photo, audio, video, document,
// archive: the pattern when the user picked no type.
std::string AllGroupsPattern();
// Pattern for chosen groups: their lists joined by "|", and ".other" when the
// others group is among them.
std::string PatternForGroups(const std::vector<FileGroup>& groups);

}  // namespace nuvarin
