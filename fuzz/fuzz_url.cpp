// The address split on arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "inet/url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string url(reinterpret_cast<const char*>(data), size);
    // A launcher's file: URL names an absolute path without NUL, or nothing.
    std::string local;
    if (fennic::inet::LocalPathOfFileUrl(url, local) &&
        (local.empty() || local[0] != '/' || local.find('\0') != std::string::npos))
        __builtin_trap();
    std::string canonical;
    if (!fennic::inet::CanonicalizeUrl(url, canonical)) return 0;
    // Canonical text is stable: a second pass changes nothing.
    std::string again;
    if (!fennic::inet::CanonicalizeUrl(canonical, again) || again != canonical) __builtin_trap();
    fennic::inet::UrlParts parts;
    if (fennic::inet::CrackUrl(canonical, parts)) {
        if (parts.host.size() > fennic::inet::kMaxHost ||
            parts.path.size() > fennic::inet::kMaxPath)
            __builtin_trap();
        for (char c : parts.path) {
            if (static_cast<unsigned char>(c) <= 0x20) __builtin_trap();
        }
    }
    fennic::inet::PercentDecode(url);
    return 0;
}
