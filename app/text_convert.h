#pragma once
// Text from the archive's code pages to the UTF-8 that every front end shows.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fennic {

// A code point appended to out as UTF-8; cp must be a Unicode scalar value (no surrogate, at
// most U+10FFFF).
void AppendUtf8(std::string& out, uint32_t cp);
// Code page 437 bytes to UTF-8, each to its own character (box drawing, Greek letters and all).
std::string Cp437ToUtf8(const std::string& text);
// Whether text is valid UTF-8 throughout (by the rules SanitizeUtf8 applies).
bool IsValidUtf8(const std::string& text);
// Copies valid UTF-8 and puts U+FFFD in place of every byte that does not start a valid
// sequence (overlong forms, surrogates and values above U+10FFFF included).
std::string SanitizeUtf8(const std::string& text);
// Text for a terminal: control characters (C0, DEL, C1), line and paragraph separators and
// bidirectional overrides become visible escapes (\t, \n, \r, \xHH, \u202E), as does every
// byte outside valid UTF-8, so that no text can move the cursor, recolour the screen, ring
// the bell or fake a row. `keepNewlines` lets '\n' through for multi-line messages.
std::string TerminalText(const std::string& text, bool keepNewlines = false);
// The same, appended to out.
void AppendTerminalText(std::string& out, const std::string& text, bool keepNewlines = false);
// text as a JSON string with its quotes: '"', '\\' and the characters TerminalText escapes
// become JSON escapes (\u202E and the like), bytes outside UTF-8 become U+FFFD.
std::string JsonQuoted(const std::string& text);
// The same, appended to out.
void AppendJsonQuoted(std::string& out, const std::string& text);
// The first `maxChars` characters of valid UTF-8 text; `cut` tells whether any were left out.
std::string Utf8Prefix(const std::string& text, size_t maxChars, bool* cut);

}  // namespace fennic
