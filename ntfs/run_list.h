// Run lists of non-resident attributes: the mapping of a stream's clusters to
// the volume, decoded into (cluster count, offset from the previous run) pairs.
#pragma once
#include <cstdint>
#include <vector>

#include "ntfs/attribute.h"

namespace nuvarin {

struct DataRun {
  uint64_t clusterCount = 0;  // only the low 32 bits are ever filled
  int64_t lcnDelta = 0;       // from the previous run's start; the first run's is absolute
  bool sparse = false;        // no offset field: a hole that reads as zeros, no clusters behind it
};

// Upper bound on the runs one look-up collects, so that hostile lists cannot
// grow memory without limit.
constexpr size_t kMaxRunsPerStream = 1u << 20;

// Decodes the run list of a non-resident attribute and appends its runs to
// `out`. Decoding starts at the run-list offset and stays inside the
// attribute's extent (`attribute.bytes`): it ends at a 0 header byte, at a
// header with a field width above 7, and at a run whose fields would pass the
// attribute's end. Returns the number of runs appended.
size_t DecodeRunList(const AttributeView& attribute, std::vector<DataRun>& out);

// Sum of the clusters of all runs (saturating).
uint64_t TotalClusters(const std::vector<DataRun>& runs);

}  // namespace nuvarin
