#pragma once
// UTF-16 text stored as bytes (Joliet names, UDF identifiers) turned into UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/ByteOrder.h"

namespace umbra {

// Appends one code point (at most U+10FFFF) as UTF-8.
void appendUtf8(std::string& out, char32_t c);

// Replaces `out` with `n` bytes of UTF-16 in the given order as UTF-8. What a name on a disc may
// hold is kept as far as UTF-8 can hold it: a surrogate pair becomes its code point, a lone
// surrogate U+FFFD, a NUL unit a NUL byte; a last odd byte is left out. Reuses out's storage.
void utf16ToUtf8(const void* data, size_t n, ByteOrder order, std::string& out);
std::string utf16ToUtf8(const void* data, size_t n, ByteOrder order);

}  // namespace umbra
