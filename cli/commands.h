#pragma once
// Subcommands of the command line; each returns the process exit status.

#include <string>
#include <vector>

namespace fennic::cli {

using Args = std::vector<std::string>;

int CmdList(const Args& args);
int CmdFetch(const Args& args);
int CmdExtract(const Args& args);
int CmdCat(const Args& args);
int CmdGet(const Args& args);

}  // namespace fennic::cli
