#pragma once
// Finding a UDF volume: the volume recognition sequence from sector 16 (an NSR02 or NSR03
// descriptor between BEA01 and TEA01) and the anchor that points at the descriptor sequences.
#include <cstdint>

#include "engine/Error.h"
#include "engine/io/ImageFile.h"

namespace umbra::udf {

struct ExtentAd {
  uint32_t length = 0;  // bytes
  uint32_t sector = 0;
};

class UdfAnchor {
 public:
  // 2 for NSR02 (UDF 1.0x/1.50), 3 for NSR03 (UDF 2.x); 0 when the image has no UDF volume.
  static int recognitionVersion(const ImageFile& file);
  // Reads the anchor at sector 256, else at the last sector, else at last - 256.
  Error read(const ImageFile& file);

  uint32_t sector() const { return m_sector; }
  const ExtentAd& mainSequence() const { return m_main; }
  const ExtentAd& reserveSequence() const { return m_reserve; }

 private:
  uint32_t m_sector = 0;
  ExtentAd m_main, m_reserve;
};

}  // namespace umbra::udf
