// Printing findings: the summary by group and type, the full list, JSON.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "jobs/search_job.h"

namespace nuvarin::cli {

// "2024-05-01 12:30:00" (UTC) of a FILETIME; "-" for 0.
std::string FiletimeText(uint64_t filetime);
// JSON string literal (quotes included) of UTF-8 text; invalid bytes become U+FFFD.
std::string JsonString(const std::string& text);

void PrintSummary(std::ostream& out, const std::vector<JobFinding>& findings);
void PrintList(std::ostream& out, const std::vector<JobFinding>& findings);
void PrintJson(std::ostream& out, const std::vector<JobFinding>& findings);

}  // namespace nuvarin::cli
