// The cause read from an object store's error body, on arbitrary server bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "remote/direct/error_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    const std::string cause = fennic::remote::ErrorBodyCause(body);
    // One line of bounded length that nothing on a terminal acts on.
    if (cause.size() > 4096) __builtin_trap();
    for (char c : cause) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) __builtin_trap();
    }
    return 0;
}
