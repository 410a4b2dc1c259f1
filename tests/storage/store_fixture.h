// Small builders for scan-log tests: records with the fields the store and the
// recovery walk look at, appended with their folder relation.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "storage/found_item.h"
#include "storage/scan_log_store.h"

namespace nuvarin::test {

FoundItem MakeFile(std::string_view name, uint64_t size = 0, uint32_t contentCheck = 1,
                   uint32_t objectId = 0);
FoundItem MakeFolder(std::string_view name, uint32_t objectId);

// Appends `item` and lists it under `key`; a folder also gets its folder name
// unless `named` is false. Returns the record number.
uint32_t AddItem(ScanLogStore& store, FoundItem item, RelationKey key, bool named = true);

std::vector<std::string> Names(const std::vector<FoundItem>& items);

}  // namespace nuvarin::test
