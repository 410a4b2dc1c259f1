#include "cli/listing.h"

#include <cstdio>
#include <ctime>
#include <map>

#include "cli/scan_session.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "storage/file_type_groups.h"
#include "storage/text_helpers.h"

namespace nuvarin::cli {

std::string FiletimeText(uint64_t filetime) {
  if (filetime == 0) return "-";
  struct timespec ts = platform::FiletimeToTimespec(filetime);
  struct tm tm {};
  time_t t = ts.tv_sec;
  if (!gmtime_r(&t, &tm)) return "-";
  char buf[80];
  std::snprintf(buf, sizeof(buf), "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

std::string JsonString(const std::string& text) {
  std::string clean = platform::Utf16ToUtf8(platform::Utf8ToUtf16(text));
  std::string out = "\"";
  for (unsigned char c : clean) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof(buf), "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

namespace {

std::string ItemFolder(const JobFinding& f) {
  std::string folder;
  if (f.target && f.target->engine) f.target->engine->GetItemPath(&f.item, folder);
  return folder;
}

std::string ExtensionOf(const FoundItem& item) {
  std::string ext = platform::AsciiLower(NameExtension(item.Name()));
  return ext.empty() ? "(none)" : ext;
}

}  // namespace

void PrintSummary(std::ostream& out, const std::vector<JobFinding>& findings) {
  struct Tally {
    uint64_t count = 0;
    uint64_t bytes = 0;
  };
  std::map<std::string, std::map<std::string, Tally>> byGroup;
  Tally all;
  for (const JobFinding& f : findings) {
    Tally& t = byGroup[GroupFolderName(GroupOfName(f.item.Name()))][ExtensionOf(f.item)];
    ++t.count;
    t.bytes += f.item.size;
    ++all.count;
    all.bytes += f.item.size;
  }
  out << "Found " << all.count << " file" << (all.count == 1 ? "" : "s") << " ("
      << SizeText(static_cast<int64_t>(all.bytes)) << ")\n";
  for (const char* group : {"photo", "audio", "video", "document", "archive", "others"}) {
    auto it = byGroup.find(group);
    if (it == byGroup.end()) continue;
    Tally groupTotal;
    for (const auto& [ext, t] : it->second) {
      groupTotal.count += t.count;
      groupTotal.bytes += t.bytes;
    }
    out << "  " << group << ": " << groupTotal.count << " (" << SizeText(static_cast<int64_t>(groupTotal.bytes))
        << ")\n";
    for (const auto& [ext, t] : it->second) {
      out << "    " << ext << ": " << t.count << " (" << SizeText(static_cast<int64_t>(t.bytes)) << ")\n";
    }
  }
}

void PrintList(std::ostream& out, const std::vector<JobFinding>& findings) {
  for (const JobFinding& f : findings) {
    out << ItemFolder(f) << f.item.Name() << "\t" << f.item.size << "\t" << FiletimeText(f.item.modificationTime)
        << "\t" << SourceKindName(f.item.sourceKind) << "\t" << (f.item.contentCheck ? "ok" : "mismatch") << "\n";
  }
}

void PrintJson(std::ostream& out, const std::vector<JobFinding>& findings) {
  out << "[";
  bool first = true;
  for (const JobFinding& f : findings) {
    out << (first ? "\n" : ",\n");
    first = false;
    std::string folder = ItemFolder(f);
    out << "  {\"path\": " << JsonString(folder + std::string(f.item.Name()))
        << ", \"folder\": " << JsonString(folder) << ", \"name\": " << JsonString(std::string(f.item.Name()))
        << ", \"size\": " << f.item.size << ", \"modified\": " << JsonString(FiletimeText(f.item.modificationTime))
        << ", \"created\": " << JsonString(FiletimeText(f.item.creationTime))
        << ", \"group\": " << JsonString(GroupFolderName(GroupOfName(f.item.Name())))
        << ", \"engine\": " << JsonString(SourceKindName(f.item.sourceKind))
        << ", \"contentCheck\": " << (f.item.contentCheck ? "true" : "false") << ", \"itemId\": " << f.item.itemId
        << "}";
  }
  out << (first ? "]\n" : "\n]\n");
}

}  // namespace nuvarin::cli
