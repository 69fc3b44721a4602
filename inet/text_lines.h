#pragma once
// Texts of lines that each end in "\r\n", as callers hand in commands and headers.

#include <string>
#include <vector>

namespace fennic::inet {

// The lines of text without their "\r\n"; empty lines are left out, and a last line without its
// end is kept. A lone CR or LF stays inside its line, for the caller to refuse.
std::vector<std::string> CrLfLines(const std::string& text);

}  // namespace fennic::inet
