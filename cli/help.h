#pragma once
// The command line's help texts: the program's, and each command's with its options and an
// example. --help prints them on standard output.

#include <cstdio>
#include <string>

namespace fennic::cli {

// The program's help (commands, exit statuses) to out.
void PrintProgramHelp(std::FILE* out);
// A command's help to out; false for an unknown command.
bool PrintCommandHelp(const std::string& command, std::FILE* out);
// A command's usage line and where to read more, to out (for usage errors).
void PrintCommandUsage(const std::string& command, std::FILE* out);
// "fennic VERSION".
const char* VersionText();
// The version alone ("1.5").
const char* VersionNumber();

}  // namespace fennic::cli
