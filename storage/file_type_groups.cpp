#include "storage/file_type_groups.h"

#include "platform/text.h"
#include "storage/found_item.h"
#include "storage/recovered_output.h"

namespace nuvarin {

const char* const kPhotoList =
    "*.bmp|*.gif|*.jpg|*.jpeg|*.png|*.psd|*.tif|*.tiff|*.pcx|*.scr|*.ico|*.nef|*.nrw|*.crw|*.cr2|"
    "*.sr2|*.arw|*.srf|*.divu|*.pgm|*.k25|*.kdc|*.dcr|*.raf|*.iff|*.pbm|*.mef|*.jp2|*.mos|*.x3f|"
    "*.orf|*.erf|*.indd|*.pef|*.psp|*.mrw|*.dng|*.raw|*.pct|*.tga|*.thm";
const char* const kAudioList =
    "*.mp3|*.wav|*.ape|*.aiff|*.rps|*.mid|*.midi|*.m4a|*.m4p|*.au|*.ogg|*.wma|*.rm|*.ra|*.acd|"
    "*.amr|*.at3|*.caf|*.dss|*.m4r|*.nra|*.snd";
const char* const kVideoList =
    "*.rmvb|*.rm|*.mpeg|*.mov|*.avi|*.wmv|*.asf|*.mp4|*.flv|*.fla|*.swf|*.m4v|*.3gp|*.dv|*.3g2|"
    "*.m4b|*.mkv|*.mts|*.divx|*.ogm|*.moi|*.vob|*.ajp|*.f4v|*.mqv|*.svi|*.vid|*.tod|*.hdmov|*.mod|"
    "*.mxf|*.lrv";
const char* const kDocumentList =
    "*.doc|*.xls|*.ppt|*.odt|*.ods|*.pdf|*.docx|*.xlsx|*.pptx|*.ole|*.txt|*.xml|*.chm|*.htm|"
    "*.html|*.pst|*.dbx|*.wps|*.dps|*.et|*.one|*.mpp|*.mdb|*.accdb";
const char* const kArchiveList =
    "*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso";
const char* const kPreviewDocumentList =
    "*.pdf|*.doc|*.dot|*.docx|*.dotx|*.docm|*.dotm|*.rtf|*.odt|*.ppt|*.pptx|*.pptm|*.pps|*.ppsx|"
    "*.ppsm|*.odp|*.xls|*.xlsx|*.xlsm|*.csv|*.odc|*.vsd|*.vsdm|*.vsdx|*.pub|*.mpp|*.ics|*.vcf|"
    "*.msg|*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso";
const char* const kOtherToken = ".other";

const char* GroupFolderName(FileGroup group) {
  switch (group) {
    case FileGroup::kPhoto: return "photo";
    case FileGroup::kAudio: return "audio";
    case FileGroup::kVideo: return "video";
    case FileGroup::kDocument: return "document";
    case FileGroup::kArchive: return "archive";
    case FileGroup::kOthers: return "others";
  }
  return "others";
}

bool ParseGroupName(std::string_view word, FileGroup& out) {
  static const struct {
    const char* name;
    FileGroup group;
  } kNames[] = {{"photo", FileGroup::kPhoto},       {"audio", FileGroup::kAudio},
                {"video", FileGroup::kVideo},       {"document", FileGroup::kDocument},
                {"archive", FileGroup::kArchive},   {"others", FileGroup::kOthers},
                {"other", FileGroup::kOthers}};
  std::string lower = platform::AsciiLower(word);
  for (const auto& n : kNames) {
    if (lower == n.name) {
      out = n.group;
      return true;
    }
  }
  return false;
}

const char* GroupList(FileGroup group) {
  switch (group) {
    case FileGroup::kPhoto: return kPhotoList;
    case FileGroup::kAudio: return kAudioList;
    case FileGroup::kVideo: return kVideoList;
    case FileGroup::kDocument: return kDocumentList;
    case FileGroup::kArchive: return kArchiveList;
    case FileGroup::kOthers: return "";
  }
  return "";
}

FileGroup GroupOfName(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot + 1 >= name.size()) return FileGroup::kOthers;
  std::string ext = platform::AsciiLower(name.substr(dot + 1));
  for (FileGroup g : {FileGroup::kPhoto, FileGroup::kAudio, FileGroup::kVideo, FileGroup::kDocument,
                      FileGroup::kArchive}) {
    if (std::string_view(GroupList(g)).find(ext) != std::string_view::npos) return g;
  }
  return FileGroup::kOthers;
}

bool ListHasExtension(std::string_view list, std::string_view ext) {
  if (ext.empty()) return false;
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t bar = list.find('|', pos);
    std::string_view token = list.substr(pos, bar == std::string_view::npos ? std::string_view::npos : bar - pos);
    if (token.size() == ext.size() + 2 && token.substr(0, 2) == "*." && token.substr(2) == ext) return true;
    if (bar == std::string_view::npos) break;
    pos = bar + 1;
  }
  return false;
}

std::filesystem::path PreviewDestination(std::string_view name, const std::filesystem::path& folder) {
  const std::string ext = platform::AsciiLower(NameExtension(name));
  if (ListHasExtension(kPreviewDocumentList, ext)) {
    std::filesystem::path target = folder / SafeComponentName(name);
    if (platform::Utf8ToUtf16(target.string()).size() < 260) return target;
    return {};
  }
  if (ListHasExtension(kPhotoList, ext)) return folder / "tmp.jpg";
  if (ListHasExtension(kAudioList, ext) || ListHasExtension(kVideoList, ext)) return folder / "tmp.avi";
  return {};
}

std::string AllGroupsPattern() {
  std::string p = kPhotoList;
  for (const char* list : {kAudioList, kVideoList, kDocumentList, kArchiveList}) {
    p += "|";
    p += list;
  }
  return p;
}

std::string PatternForGroups(const std::vector<FileGroup>& groups) {
  std::string p;
  bool others = false;
  for (FileGroup g : groups) {
    if (g == FileGroup::kOthers) {
      others = true;
      continue;
    }
    if (!p.empty()) p += "|";
    p += GroupList(g);
  }
  if (others) {
    if (!p.empty()) p += "|";
    p += kOtherToken;
  }
  return p;
}

}  // namespace nuvarin
