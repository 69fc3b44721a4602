#pragma once
// The program's string table: texts looked up by id and filled with "%1"/"%2".

#include <string>

namespace fennic {

// The text of string `id`; empty for an id the table does not hold.
const std::string& LoadString(unsigned id);

// Replaces each "%1" and "%2" by its argument; any other per-cent sign is copied unchanged.
std::string FillMessage(const std::string& text, const std::string& arg1 = {},
                        const std::string& arg2 = {});

// FillMessage on the text of string `id`.
std::string FormatMessageId(unsigned id, const std::string& arg1 = {},
                            const std::string& arg2 = {});

}  // namespace fennic
