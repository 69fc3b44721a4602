#pragma once
// Which entries a list of patterns names, for the commands that extract many.

#include <string>
#include <vector>

#include "zip/zip_directory.h"

namespace fennic::remote {

// The entry's name as a path: UTF-8, folders separated by '/'.
std::string EntryPathName(const CZipEntryHeader& header);

// Indexes, in directory order, of the entries that a pattern names: its exact name (with '/' or
// '\'), a shell-style glob over the path name ('*' also crosses '/'), or a folder's name, which
// takes everything under it. No pattern: every entry. Patterns that name nothing are returned
// in `unmatched`.
std::vector<size_t> SelectEntries(const CZipDirectory& dir,
                                  const std::vector<std::string>& patterns,
                                  std::vector<std::string>& unmatched);

}  // namespace fennic::remote
