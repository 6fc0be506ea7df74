#pragma once
// OSTA CS0 d-characters as UTF-8: compression id 8 (one byte per character, Latin-1) or 16
// (UTF-16 big-endian); 254 and 255 are the same forms in deleted identifiers.
#include <cstddef>
#include <cstdint>
#include <string>

namespace umbra::udf {

// False for an unknown compression id. An empty field gives an empty name.
bool decodeDCharacters(const uint8_t* data, size_t n, std::string& utf8);
// Whether decodeDCharacters knows a compression id.
inline bool knownCompression(uint8_t id) { return id == 8 || id == 16 || id == 254 || id == 255; }
// A fixed-size d-string field: its last byte holds the used length, compression id included.
std::string decodeDStringField(const uint8_t* field, size_t size);

}  // namespace umbra::udf
