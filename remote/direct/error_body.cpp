#include "remote/direct/error_body.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "app/text_convert.h"
#include "inet/http.h"

namespace fennic::remote {
namespace {

constexpr size_t kMaxCodeChars = 64;
constexpr size_t kMaxMessageChars = 240;
constexpr int kMaxDepth = 16;  // nesting a JSON body may have before it is no known shape

// A code point from the server, U+FFFD where it is none or NUL.
void AppendCodePoint(std::string& out, uint32_t cp) {
    if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    AppendUtf8(out, cp);
}

// The server's text as one terminal line of at most max characters.
std::string OneLine(const std::string& text, size_t max) {
    std::string flat;
    for (char ch : SanitizeUtf8(text)) {
        const auto c = static_cast<unsigned char>(ch);
        const bool blank = c < 0x20 || c == 0x7F || c == ' ';
        if (!blank)
            flat += ch;
        else if (!flat.empty() && flat.back() != ' ')
            flat += ' ';
    }
    if (!flat.empty() && flat.back() == ' ') flat.pop_back();
    bool cut = false;
    std::string line = Utf8Prefix(flat, max, &cut);
    if (cut) line += "...";
    return TerminalText(line);
}

// ---- XML: <Error> as the root, its first <Code> and <Message>

std::string DecodeXmlText(const std::string& raw) {
    static const struct {
        const char* name;
        char ch;
    } kNamed[] = {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        const size_t semi = raw[i] == '&' ? raw.find(';', i) : std::string::npos;
        if (semi == std::string::npos || semi - i > 10) {
            out += raw[i];
            continue;
        }
        const std::string name = raw.substr(i + 1, semi - i - 1);
        bool done = false;
        for (const auto& n : kNamed) {
            if (name != n.name) continue;
            out += n.ch;
            done = true;
        }
        if (!done && name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            char* end = nullptr;
            const char* digits = name.c_str() + (hex ? 2 : 1);
            const unsigned long cp = std::strtoul(digits, &end, hex ? 16 : 10);
            done = *digits != '\0' && *end == '\0';
            if (done) AppendCodePoint(out, cp > 0x10FFFF ? 0xFFFD : static_cast<uint32_t>(cp));
        }
        if (!done) {
            out += raw[i];
            continue;
        }
        i = semi;
    }
    return out;
}

// The text of the first <tag>...</tag> in body[from, to).
void XmlElement(const std::string& body, size_t from, size_t to, const std::string& tag,
                std::string& text) {
    const std::string open = "<" + tag + ">", close = "</" + tag + ">";
    const size_t start = body.find(open, from);
    if (start == std::string::npos || start >= to) return;
    const size_t end = body.find(close, start + open.size());
    if (end == std::string::npos || end > to) return;
    text = DecodeXmlText(body.substr(start + open.size(), end - start - open.size()));
}

bool FromXml(const std::string& body, std::string& code, std::string& message) {
    size_t at = body.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    at = body.find_first_not_of(" \t\r\n", at);
    if (at != std::string::npos && body.compare(at, 5, "<?xml") == 0) {
        const size_t end = body.find("?>", at);
        at = end == std::string::npos ? end : body.find_first_not_of(" \t\r\n", end + 2);
    }
    if (at == std::string::npos || body.compare(at, 7, "<Error>") != 0) return false;
    // A body cut at the bound may have lost its end; what came before it still counts.
    const size_t to = std::min(body.find("</Error>", at), body.size());
    XmlElement(body, at + 7, to, "Code", code);
    XmlElement(body, at + 7, to, "Message", message);
    return true;
}

// ---- JSON: the top object's "code" and "message", or those of its "error" object

class JsonCause {
public:
    explicit JsonCause(const std::string& text) : m_text(text) {}

    // What was found before the text ended or stopped being JSON, which a cut body does.
    bool Read(std::string& code, std::string& message) {
        Blank();
        if (!Peek('{')) return false;
        Object(0, m_top);
        const Fields& use = m_error.code.empty() && m_error.message.empty() ? m_top : m_error;
        code = use.code;
        message = use.message;
        return true;
    }

private:
    struct Fields {
        std::string code, message;
    };

    bool Peek(char c) const { return m_at < m_text.size() && m_text[m_at] == c; }
    void Blank() {
        while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\t' ||
                                        m_text[m_at] == '\r' || m_text[m_at] == '\n'))
            ++m_at;
    }
    bool Take(char c) {
        Blank();
        if (!Peek(c)) return false;
        ++m_at;
        return true;
    }

    bool Hex4(uint32_t& value) {
        if (m_at + 4 > m_text.size()) return false;
        value = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = m_text[m_at++];
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (d < 0) return false;
            value = value * 16 + static_cast<uint32_t>(d);
        }
        return true;
    }

    // out is set only by a whole string: a cut one is no value.
    bool String(std::string& result) {
        if (!Take('"')) return false;
        std::string out;
        while (m_at < m_text.size()) {
            const char c = m_text[m_at++];
            if (c == '"') {
                result = std::move(out);
                return true;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_at >= m_text.size()) return false;
            const char e = m_text[m_at++];
            static const char kFrom[] = "\"\\/bfnrt", kTo[] = "\"\\/\b\f\n\r\t";
            if (const char* p = std::strchr(kFrom, e); p && e != '\0') {
                out += kTo[p - kFrom];
                continue;
            }
            uint32_t cp = 0;
            if (e != 'u' || !Hex4(cp)) return false;
            if (cp >= 0xD800 && cp <= 0xDBFF && m_text.compare(m_at, 2, "\\u") == 0) {
                m_at += 2;
                uint32_t low = 0;
                if (!Hex4(low)) return false;
                cp = low >= 0xDC00 && low <= 0xDFFF
                         ? 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00)
                         : 0xFFFD;
            }
            AppendCodePoint(out, cp);
        }
        return false;
    }

    // A number, true, false or null, as written.
    bool Scalar(std::string& out) {
        Blank();
        const size_t start = m_at;
        while (m_at < m_text.size() && std::strchr("+-.0123456789eEtrufalsn", m_text[m_at]) &&
               m_text[m_at] != '\0')
            ++m_at;
        out = m_text.substr(start, m_at - start);
        return m_at > start;
    }

    bool Value(int depth, Fields* fields) {
        Blank();
        if (depth > kMaxDepth) return false;
        std::string ignored;
        if (Peek('"')) return String(ignored);
        if (Peek('{')) {
            Fields unused;
            return Object(depth + 1, fields ? *fields : unused);
        }
        if (Take('[')) {
            if (Take(']')) return true;
            do {
                if (!Value(depth + 1, nullptr)) return false;
            } while (Take(','));
            return Take(']');
        }
        return Scalar(ignored);
    }

    bool Object(int depth, Fields& fields) {
        if (!Take('{')) return false;
        if (Take('}')) return true;
        do {
            std::string key;
            if (!String(key) || !Take(':')) return false;
            Blank();
            std::string* wanted = key == "code"      ? &fields.code
                                  : key == "message" ? &fields.message
                                                     : nullptr;
            if (wanted && Peek('"')) {
                if (!String(*wanted)) return false;
            } else if (wanted && key == "code" && !Peek('{') && !Peek('[')) {
                if (!Scalar(*wanted)) return false;
            } else if (!Value(depth, depth == 0 && key == "error" ? &m_error : nullptr)) {
                return false;
            }
        } while (Take(','));
        return Take('}');
    }

    const std::string& m_text;
    size_t m_at = 0;
    Fields m_top, m_error;
};

bool IsXmlOrJson(const std::string& contentType) {
    std::string type = contentType.substr(0, contentType.find(';'));
    const size_t first = type.find_first_not_of(" \t");
    const size_t last = type.find_last_not_of(" \t");
    type = first == std::string::npos ? "" : type.substr(first, last - first + 1);
    auto is = [&](const char* t) { return strcasecmp(type.c_str(), t) == 0; };
    auto endsWith = [&](const char* suffix) {
        const size_t n = std::strlen(suffix);
        return type.size() > n && strcasecmp(type.c_str() + type.size() - n, suffix) == 0;
    };
    return is("application/xml") || is("text/xml") || is("application/json") || endsWith("+xml") ||
           endsWith("+json");
}

}  // namespace

std::string ErrorBodyCause(const std::string& body) {
    std::string code, message;
    if (!FromXml(body, code, message) && !JsonCause(body).Read(code, message)) return "";
    code = OneLine(code, kMaxCodeChars);
    message = OneLine(message, kMaxMessageChars);
    if (code.empty() || message.empty()) return code + message;
    return code + ": " + message;
}

std::string ReadErrorBodyCause(inet::HttpRequest& request) {
    std::string type;
    if (request.QueryHeader("Content-Type", type) && !IsXmlOrJson(type)) return "";
    std::string body;
    char buffer[1024];
    // A body that comes slowly is not waited for past a moment: the status says enough.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (body.size() < kErrorBodyBytes && std::chrono::steady_clock::now() < deadline) {
        size_t got = 0;
        const size_t want = std::min(sizeof buffer, kErrorBodyBytes - body.size());
        if (!request.Read(buffer, want, got) || got == 0) break;
        body.append(buffer, got);
    }
    return ErrorBodyCause(body);
}

}  // namespace fennic::remote
