#pragma once
// Code page 437 to code page 1252 with the Windows best-fit results.

#include <cstddef>
#include <cstdint>

namespace fennic {

// The code page 1252 byte for a code page 437 byte.
uint8_t Cp437ToCp1252(uint8_t c);
// Converts `length` bytes in place.
void OemToCharBuff(char* buffer, size_t length);

}  // namespace fennic
