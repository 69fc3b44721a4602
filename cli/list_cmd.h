#pragma once
// `fennic list`: the entry list of an archive; the local one of the window's road here.

#include <cstdio>
#include <string>

#include "app/archive_view.h"
#include "app/frontend.h"

namespace fennic::cli {

// Text: a header line of the eight column names, then one line per entry in engine order,
// cells separated by one tab. JSON: one object, {"version": 2, "comment", "comment_bytes",
// "entries"}, the archive's comment as text and as its stored bytes, then an array with one
// object of raw fields per entry; stored bytes are lower-case hex strings ("name_bytes",
// "comment_bytes").
void PrintEntryTsv(const CZipDirectory& dir, std::FILE* out);
void PrintEntryJson(const CZipDirectory& dir, const std::string& comment, std::FILE* out);
// For a person at a terminal: the archive comment, then size, date, time and name (with '/')
// in aligned columns, and a total line.
void PrintEntryAligned(const CZipDirectory& dir, const std::string& comment, std::FILE* out);

// Opens, lists and closes the archive at `path` (read only). Messages go through `frontEnd`.
// Returns the exit status: 0 listed, 1 the archive could not be opened or closed.
int ListLocalArchive(const std::string& path, bool json, IFrontEnd& frontEnd, std::FILE* out);

}  // namespace fennic::cli
