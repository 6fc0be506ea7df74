#pragma once
// The volume descriptor sequence: partition descriptors and the logical volume descriptor with
// its partition maps, read from the main sequence or, when that cannot be read, the reserve one.
#include <cstdint>
#include <string>

#include "engine/Error.h"
#include "engine/io/ImageFile.h"
#include "engine/udf/UdfAnchor.h"
#include "engine/udf/UdfPartitions.h"

namespace umbra::udf {

struct LongAd {
  uint32_t length = 0;
  uint32_t block = 0;
  uint16_t ref = 0;
};

class UdfVolumeDescriptors {
 public:
  Error read(const ImageFile& file, const UdfAnchor& anchor);

  // The domain's UDF revision, e.g. 0x0102 or 0x0250; 0 when the domain is not OSTA UDF.
  uint16_t revision() const { return m_revision; }
  // Non-empty for a volume this reader cannot work with (another block size, virtual or
  // sparable partitions).
  const std::string& unsupported() const { return m_unsupported; }
  const LongAd& fileSet() const { return m_fileSet; }
  // The partitions and maps, not yet resolved.
  const UdfPartitions& partitions() const { return m_partitions; }

 private:
  Error readSequence(const ImageFile& file, const ExtentAd& extent);
  Error readLogicalVolume(const uint8_t* lvd);

  uint16_t m_revision = 0;
  std::string m_unsupported;
  LongAd m_fileSet;
  UdfPartitions m_partitions;
};

}  // namespace umbra::udf
