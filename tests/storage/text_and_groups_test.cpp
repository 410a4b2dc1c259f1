// Size and duration texts, and the file type groups with their patterns.
#include <gtest/gtest.h>

#include <filesystem>

#include <cstdint>
#include <string>

#include "storage/file_type_groups.h"
#include "storage/text_helpers.h"

namespace nuvarin {
namespace {

TEST(TextHelpers, SizeText) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0 Bytes"},
      {1023, "1023 Bytes"},
      {-5, "-5 Bytes"},
      {-2048, "-2048 Bytes"},
      {1024, "1.00 KB"},
      {1536, "1.50 KB"},
      {1048575, "1024.00 KB"},
      {1048576, "1.00 MB"},
      {1073741823, "1024.00 MB"},
      {1073741824, "1.00 GB"},
      {1099511627775, "1024.00 GB"},
      {1099511627776, "1.00 TB"},
      {1649267441664, "1.50 TB"},
      {INT64_MAX, "8388608.00 TB"},
  };
  for (const auto& [n, text] : cases) EXPECT_EQ(SizeText(n), text) << n;
}

TEST(TextHelpers, DurationText) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0 Sec"},           {59, "59 Sec"},           {-3, "-3 Sec"},
      {60, "1 Min 0 Sec"},    {3599, "59 Min 59 Sec"},  {3600, "1 Hour 0 Min"},
      {7384, "2 Hour 3 Min"}, {90061, "25 Hour 1 Min"},
  };
  for (const auto& [s, text] : cases) EXPECT_EQ(DurationText(s), text) << s;
}

TEST(FileTypeGroups, ListsAreTheFixedMaskLists) {
  EXPECT_STREQ(
      kPhotoList,
      "*.bmp|*.gif|*.jpg|*.jpeg|*.png|*.psd|*.tif|*.tiff|*.pcx|*.scr|*.ico|*.nef|*.nrw|*.crw|*.cr2|*.sr2|"
      "*.arw|*.srf|*.divu|*.pgm|*.k25|*.kdc|*.dcr|*.raf|*.iff|*.pbm|*.mef|*.jp2|*.mos|*.x3f|*.orf|*.erf|"
      "*.indd|*.pef|*.psp|*.mrw|*.dng|*.raw|*.pct|*.tga|*.thm");
  EXPECT_STREQ(
      kAudioList,
      "*.mp3|*.wav|*.ape|*.aiff|*.rps|*.mid|*.midi|*.m4a|*.m4p|*.au|*.ogg|*.wma|*.rm|*.ra|*.acd|*.amr|"
      "*.at3|*.caf|*.dss|*.m4r|*.nra|*.snd");
  EXPECT_STREQ(
      kVideoList,
      "*.rmvb|*.rm|*.mpeg|*.mov|*.avi|*.wmv|*.asf|*.mp4|*.flv|*.fla|*.swf|*.m4v|*.3gp|*.dv|*.3g2|*.m4b|"
      "*.mkv|*.mts|*.divx|*.ogm|*.moi|*.vob|*.ajp|*.f4v|*.mqv|*.svi|*.vid|*.tod|*.hdmov|*.mod|*.mxf|*.lrv");
  EXPECT_STREQ(
      kDocumentList,
      "*.doc|*.xls|*.ppt|*.odt|*.ods|*.pdf|*.docx|*.xlsx|*.pptx|*.ole|*.txt|*.xml|*.chm|*.htm|*.html|"
      "*.pst|*.dbx|*.wps|*.dps|*.et|*.one|*.mpp|*.mdb|*.accdb");
  EXPECT_STREQ(kArchiveList,
               "*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso");
  EXPECT_STREQ(
      kPreviewDocumentList,
      "*.pdf|*.doc|*.dot|*.docx|*.dotx|*.docm|*.dotm|*.rtf|*.odt|*.ppt|*.pptx|*.pptm|*.pps|*.ppsx|*.ppsm|"
      "*.odp|*.xls|*.xlsx|*.xlsm|*.csv|*.odc|*.vsd|*.vsdm|*.vsdx|*.pub|*.mpp|*.ics|*.vcf|*.msg|*.zip|*.rar|"
      "*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso");
  EXPECT_STREQ(kOtherToken, ".other");
}

TEST(FileTypeGroups, Patterns) {
  EXPECT_EQ(AllGroupsPattern(), std::string(kPhotoList) + "|" + kAudioList + "|" + kVideoList + "|" +
                                    kDocumentList + "|" + kArchiveList);
  EXPECT_EQ(AllGroupsPattern().find(".other"), std::string::npos);  // picking nothing leaves others out
  EXPECT_EQ(PatternForGroups({FileGroup::kOthers}), ".other");
  EXPECT_EQ(PatternForGroups({FileGroup::kAudio, FileGroup::kOthers, FileGroup::kArchive}),
            std::string(kAudioList) + "|" + kArchiveList + "|.other");
  EXPECT_EQ(PatternForGroups({FileGroup::kPhoto}), kPhotoList);
}

TEST(FileTypeGroups, GroupOfNameSearchesTheListsInOrder) {
  const std::pair<const char*, FileGroup> cases[] = {
      {"a.jpg", FileGroup::kPhoto},
      {"A.JPG", FileGroup::kPhoto},
      {"song.mp3", FileGroup::kAudio},
      {"clip.rm", FileGroup::kAudio},
      {"movie.mkv", FileGroup::kVideo},
      {"x.docx", FileGroup::kDocument},
      {"a.tar.gz", FileGroup::kArchive},
      {"readme", FileGroup::kOthers},
      {"a.", FileGroup::kOthers},
      {"weird.xyz", FileGroup::kOthers},
      {"m.mp", FileGroup::kPhoto} /* "mp" is text of "*.bmp" */,
      {".bashrc", FileGroup::kOthers},
  };
  for (const auto& [name, group] : cases) EXPECT_EQ(GroupOfName(name), group) << name;
}

TEST(FileTypeGroups, FolderNamesAndParsing) {
  const std::pair<FileGroup, const char*> names[] = {
      {FileGroup::kPhoto, "photo"},       {FileGroup::kAudio, "audio"},     {FileGroup::kVideo, "video"},
      {FileGroup::kDocument, "document"}, {FileGroup::kArchive, "archive"}, {FileGroup::kOthers, "others"},
  };
  for (const auto& [group, name] : names) {
    EXPECT_STREQ(GroupFolderName(group), name);
    FileGroup parsed;
    ASSERT_TRUE(ParseGroupName(name, parsed)) << name;
    EXPECT_EQ(parsed, group);
  }
  FileGroup parsed;
  EXPECT_TRUE(ParseGroupName("Other", parsed));
  EXPECT_EQ(parsed, FileGroup::kOthers);
  EXPECT_FALSE(ParseGroupName("pictures", parsed));
  EXPECT_FALSE(ParseGroupName("", parsed));
}

// Where every engine writes a preview: documents under their own (safe) name,
// pictures to tmp.jpg, sound and video to tmp.avi, the rest to memory.
TEST(FileTypeGroups, PreviewDestinations) {
  const std::filesystem::path folder = "/logs";
  const std::pair<const char*, const char*> cases[] = {
      {"Report.PDF", "/logs/Report.PDF"}, {"a.docx", "/logs/a.docx"},  {"photo.jpg", "/logs/tmp.jpg"},
      {"scan.TIFF", "/logs/tmp.jpg"},     {"song.mp3", "/logs/tmp.avi"}, {"clip.mkv", "/logs/tmp.avi"},
      {"notes.txt", ""},                  {"x.do", ""},                  {"readme", ""},
      {"../evil.pdf", "/logs/.._evil.pdf"},
  };
  for (const auto& [name, expected] : cases) {
    EXPECT_EQ(PreviewDestination(name, folder).string(), std::string(expected)) << name;
  }
  EXPECT_TRUE(PreviewDestination(std::string(300, 'a') + ".pdf", folder).empty());
  EXPECT_TRUE(ListHasExtension(kArchiveList, "7z"));
  EXPECT_FALSE(ListHasExtension(kArchiveList, "z"));
  EXPECT_FALSE(ListHasExtension(kArchiveList, ""));
}

}  // namespace
}  // namespace nuvarin
