#include "Sha256.h"

#include <algorithm>
#include <bit>

namespace umbra {

namespace {

// FIPS 180-4 5.3.3: the first 32 bits of the fractional parts of the square roots of the first 8 primes.
constexpr std::array<std::uint32_t, 8> kInitialState = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

// FIPS 180-4 4.2.2: the first 32 bits of the fractional parts of the cube roots of the first 64 primes.
constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::size_t kLengthFieldSize = 8;  // the message length in bits, big-endian, ends the last block

std::uint32_t bigEndian32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

}  // namespace

Sha256::Sha256() : m_state(kInitialState) {}

void Sha256::compress(const std::uint8_t* block) {
  // FIPS 180-4 6.2.2: the message schedule, then 64 rounds over the working variables.
  std::array<std::uint32_t, 64> w{};
  for (std::size_t t = 0; t < 16; ++t) w[t] = bigEndian32(block + 4 * t);
  for (std::size_t t = 16; t < 64; ++t) {
    const std::uint32_t s0 = std::rotr(w[t - 15], 7) ^ std::rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
    const std::uint32_t s1 = std::rotr(w[t - 2], 17) ^ std::rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  auto [a, b, c, d, e, f, g, h] = m_state;
  for (std::size_t t = 0; t < 64; ++t) {
    const std::uint32_t sum1 = std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25);
    const std::uint32_t choose = (e & f) ^ (~e & g);
    const std::uint32_t t1 = h + sum1 + choose + kRoundConstants[t] + w[t];
    const std::uint32_t sum0 = std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22);
    const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    const std::uint32_t t2 = sum0 + majority;
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  const std::array<std::uint32_t, 8> worked = {a, b, c, d, e, f, g, h};
  for (std::size_t i = 0; i < m_state.size(); ++i) m_state[i] += worked[i];
}

void Sha256::add(std::span<const std::uint8_t> bytes) {
  m_totalBytes += bytes.size();
  if (m_pendingSize > 0) {
    const std::size_t taken = std::min(kBlockSize - m_pendingSize, bytes.size());
    std::copy_n(bytes.begin(), taken, m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingSize));
    m_pendingSize += taken;
    bytes = bytes.subspan(taken);
    if (m_pendingSize < kBlockSize) return;
    compress(m_pending.data());
    m_pendingSize = 0;
  }
  for (; bytes.size() >= kBlockSize; bytes = bytes.subspan(kBlockSize)) compress(bytes.data());
  std::copy(bytes.begin(), bytes.end(), m_pending.begin());
  m_pendingSize = bytes.size();
}

Sha256::Digest Sha256::finish() {
  // FIPS 180-4 5.1.1: a one bit, zeros up to 8 bytes before a block's end, then the length in bits.
  const std::uint64_t totalBits = m_totalBytes * 8;
  m_pending[m_pendingSize++] = 0x80;
  if (m_pendingSize > kBlockSize - kLengthFieldSize) {
    std::fill(m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingSize), m_pending.end(), 0);
    compress(m_pending.data());
    m_pendingSize = 0;
  }
  std::fill(m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingSize), m_pending.end() - kLengthFieldSize, 0);
  for (std::size_t i = 0; i < kLengthFieldSize; ++i)
    m_pending[kBlockSize - 1 - i] = static_cast<std::uint8_t>(totalBits >> (8 * i));
  compress(m_pending.data());

  Digest digest{};
  for (std::size_t i = 0; i < m_state.size(); ++i)
    for (std::size_t j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<std::uint8_t>(m_state[i] >> (24 - 8 * j));
  *this = Sha256();
  return digest;
}

std::string Sha256::hex(const Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * digest.size());
  for (const std::uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0f];
  }
  return text;
}

}  // namespace umbra
