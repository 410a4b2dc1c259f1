#include "storage/found_item.h"

#include "platform/text.h"

namespace nuvarin {

void FoundItem::SetName(std::string_view text) {
  std::memset(name, 0, sizeof(name));
  std::string_view cut = platform::CutUtf8(text, kItemNameSize - 1);
  std::memcpy(name, cut.data(), cut.size());
}

std::string_view NameExtension(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  return name.substr(dot + 1);
}

}  // namespace nuvarin
