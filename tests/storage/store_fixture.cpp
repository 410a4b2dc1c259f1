#include "tests/storage/store_fixture.h"

#include <cstring>

namespace nuvarin::test {

FoundItem MakeFile(std::string_view name, uint64_t size, uint32_t contentCheck, uint32_t objectId) {
  FoundItem item;
  std::memset(&item, 0, sizeof(item));
  item.sourceKind = kSourceFastFat;
  item.contentCheck = contentCheck;
  item.objectId = objectId;
  item.clusterSize = 4096;
  item.size = size;
  item.SetName(name);
  return item;
}

FoundItem MakeFolder(std::string_view name, uint32_t objectId) {
  FoundItem item = MakeFile(name, 0, 1, objectId);
  item.isFolder = 1;
  return item;
}

uint32_t AddItem(ScanLogStore& store, FoundItem item, RelationKey key, bool named) {
  uint32_t id = 0;
  FoundItem* slot = store.AppendItem(id);
  item.itemId = id;
  std::memcpy(slot, &item, sizeof(item));
  std::string name(item.Name());
  store.AddRelation(key, id, item.objectId, item.isFolder && named ? name.c_str() : nullptr);
  return id;
}

std::vector<std::string> Names(const std::vector<FoundItem>& items) {
  std::vector<std::string> names;
  for (const FoundItem& i : items) names.emplace_back(i.Name());
  return names;
}

}  // namespace nuvarin::test
