// The subcommands of `nuvarin`. Each takes the words after its name and
// returns the process exit status.
#pragma once
#include <string>
#include <vector>

namespace nuvarin::cli {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 130;

int CmdInfo(const std::vector<std::string>& args);
int CmdScan(const std::vector<std::string>& args);
int CmdRecover(const std::vector<std::string>& args);
int CmdDisks(const std::vector<std::string>& args);
int CmdImage(const std::vector<std::string>& args);

}  // namespace nuvarin::cli
