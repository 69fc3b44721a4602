// Arbitrary bytes as the probe file of a remote archive's end record.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/scratch_file.h"
#include "remote/classic/end_record_reader.h"

namespace {

class SilentFrontEnd : public fennic::IFrontEnd {
public:
    int MessageBox(const std::string&, const std::string&, unsigned) override {
        return fennic::IDOK;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = fuzz::WriteScratch(data, size);

    SilentFrontEnd frontEnd;
    fennic::CEndRecordReader reader(path, frontEnd);
    const int32_t offset = reader.GetCentralDirOffset();
    // Found exactly when the file is one record with the signature.
    const bool expected = size == 22 && std::memcmp(data, "PK\x05\x06", 4) == 0;
    if (expected != reader.HasSignature()) std::abort();
    if (!expected && offset != -1) std::abort();
    if (expected) {
        uint32_t raw = uint32_t(data[16]) | uint32_t(data[17]) << 8 | uint32_t(data[18]) << 16 |
                       uint32_t(data[19]) << 24;
        if (offset != static_cast<int32_t>(raw)) std::abort();
    }
    return 0;
}
