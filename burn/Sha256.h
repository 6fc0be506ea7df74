#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace umbra {

// SHA-256 (FIPS 180-4) fed in pieces; the burn back end links no crypto library for this one use.
class Sha256 {
 public:
  static constexpr std::size_t kDigestSize = 32;
  using Digest = std::array<std::uint8_t, kDigestSize>;

  Sha256();

  void add(std::span<const std::uint8_t> bytes);

  // Ends the message; the object starts over afterwards.
  Digest finish();

  // The digest as 64 lower-case hexadecimal digits.
  static std::string hex(const Digest& digest);

 private:
  static constexpr std::size_t kBlockSize = 64;

  void compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> m_state{};
  std::array<std::uint8_t, kBlockSize> m_pending{};
  std::size_t m_pendingSize = 0;
  std::uint64_t m_totalBytes = 0;
};

}  // namespace umbra
