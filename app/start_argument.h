#pragma once
// The one argument the window may be started with, as the program and the window both read it.

#include <string>

namespace fennic {

enum class StartArgument { kNone, kLocalArchive, kAddress };

// A regular file, named by its path or by a file: URL of this machine, is a local archive and
// `path` gets its path; other text with "://" is an address; anything else (a folder, a FIFO,
// which would block the open, or a word) is neither. A file of the name wins over an address
// reading: "a://b.zip" may be one.
StartArgument ReadStartArgument(const std::string& argument, std::string& path);

}  // namespace fennic
