#include "app/text_convert.h"

#include <cstdint>

namespace fennic {
namespace {

// Code points of bytes 0x80 to 0xFF in code page 437.
constexpr uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Length of the valid sequence at text[i], or 0.
size_t SequenceLength(const std::string& text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(i);
    if (lead < 0x80) return 1;
    size_t n;
    uint32_t cp;
    if (lead >= 0xC2 && lead <= 0xDF)
        n = 2, cp = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF)
        n = 3, cp = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4)
        n = 4, cp = lead & 0x07;
    else
        return 0;
    if (text.size() - i < n) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return n;
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string Cp437ToUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char ch : text) {
        const uint8_t c = static_cast<uint8_t>(ch);
        if (c < 0x80)
            out += ch;
        else
            AppendUtf8(out, kCp437High[c - 0x80]);
    }
    return out;
}

bool IsValidUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const size_t n = SequenceLength(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string SanitizeUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t n = SequenceLength(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text, i, n);
            i += n;
        }
    }
    return out;
}

namespace {

uint32_t CodePointAt(const std::string& text, size_t i, size_t n) {
    static constexpr uint8_t kLeadMask[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t cp = static_cast<uint8_t>(text[i]) & kLeadMask[n];
    for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
    return cp;
}

bool NeedsEscape(uint32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 ||
           (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200E ||
           cp == 0x200F;
}

// The escapes both quoted forms share: the short ones for tab and the line ends, else \u and
// four hex digits in the case `hex` gives.
void AppendEscape(std::string& out, uint32_t cp, const char* hex) {
    if (cp == '\t') {
        out += "\\t";
    } else if (cp == '\n') {
        out += "\\n";
    } else if (cp == '\r') {
        out += "\\r";
    } else {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out += hex[(cp >> shift) & 0xF];
    }
}

}  // namespace

std::string TerminalText(const std::string& text, bool keepNewlines) {
    std::string out;
    AppendTerminalText(out, text, keepNewlines);
    return out;
}

void AppendTerminalText(std::string& out, const std::string& text, bool keepNewlines) {
    static const char kHex[] = "0123456789ABCDEF";
    // Printable ASCII, the usual case, goes through as it is.
    size_t plain = 0;
    while (plain < text.size() && text[plain] >= 0x20 && text[plain] < 0x7F) ++plain;
    out.append(text, 0, plain);
    for (size_t i = plain; i < text.size();) {
        const size_t n = SequenceLength(text, i);
        if (n == 0) {
            const auto b = static_cast<uint8_t>(text[i++]);
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
            continue;
        }
        const uint32_t cp = CodePointAt(text, i, n);
        if (keepNewlines && cp == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;  // a reply's CR LF line ends show as plain line breaks
            continue;
        }
        if (!NeedsEscape(cp) || (keepNewlines && cp == '\n')) {
            out.append(text, i, n);
        } else if (cp < 0x80 && cp != '\t' && cp != '\n' && cp != '\r') {
            out += "\\x";
            out += kHex[cp >> 4];
            out += kHex[cp & 0xF];
        } else {
            AppendEscape(out, cp, kHex);
        }
        i += n;
    }
}

std::string JsonQuoted(const std::string& text) {
    std::string out;
    AppendJsonQuoted(out, text);
    return out;
}

void AppendJsonQuoted(std::string& out, const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    // Printable ASCII other than the quote and the backslash goes through as it is.
    size_t plain = 0;
    while (plain < text.size() && text[plain] >= 0x20 && text[plain] < 0x7F && text[plain] != '"' &&
           text[plain] != '\\')
        ++plain;
    out.append(text, 0, plain);
    for (size_t i = plain; i < text.size();) {
        const size_t n = SequenceLength(text, i);
        const uint32_t cp = n == 0 ? 0xFFFD : CodePointAt(text, i, n);
        i += n == 0 ? 1 : n;
        if (cp == '"' || cp == '\\') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (NeedsEscape(cp)) {
            AppendEscape(out, cp, kHex);
        } else {
            AppendUtf8(out, cp);
        }
    }
    out += '"';
}

std::string Utf8Prefix(const std::string& text, size_t maxChars, bool* cut) {
    size_t i = 0;
    size_t chars = 0;
    while (i < text.size() && chars < maxChars) {
        const size_t n = SequenceLength(text, i);
        i += n == 0 ? 1 : n;
        ++chars;
    }
    if (cut) *cut = i < text.size();
    return text.substr(0, i);
}

}  // namespace fennic
