#pragma once
// The logical volume's address space: partition reference (the map's index) and logical block
// to image sectors. A type 1 map adds the partition's start; a metadata partition map goes
// through the metadata file, and its mirror file gives the second copy of each block.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/Error.h"
#include "engine/io/ImageFile.h"

namespace umbra::udf {

// The image sectors that hold one logical block: the main copy first, then the mirror copy
// when it lies elsewhere.
struct BlockCopies {
  static constexpr int kMax = 2;
  uint64_t sector[kMax] = {};
  int count = 0;
};

class UdfPartitions {
 public:
  void addPartition(uint16_t number, uint32_t start, uint32_t length);
  void addPhysicalMap(uint16_t partitionNumber);
  void addMetadataMap(uint16_t partitionNumber, uint32_t fileBlock, uint32_t mirrorBlock);
  size_t mapCount() const { return m_maps.size(); }
  bool hasMetadataMap() const;

  // Checks that every map names a recorded partition and reads the metadata files.
  Error resolve(const ImageFile& file);
  // False when the reference or the block lies outside the volume.
  bool blockCopies(uint16_t ref, uint32_t block, BlockCopies& out) const;

 private:
  struct Partition {
    uint16_t number = 0;
    uint32_t start = 0, length = 0;
  };
  struct Run {  // blocks [first, first + count) of a metadata file start at image sector `sector`
    uint64_t first = 0, count = 0, sector = 0;
  };
  struct Map {
    bool metadata = false;
    uint16_t partitionNumber = 0;
    int partition = -1;    // index in m_partitions
    uint16_t physicalRef = 0;  // metadata maps: the type 1 map of the same partition
    uint32_t fileBlock = 0, mirrorBlock = 0;
    std::vector<Run> main, mirror;
  };
  Error readMetadataFile(const ImageFile& file, const Map& map, uint32_t block, uint8_t fileType,
                         std::vector<Run>& runs) const;
  static bool find(const std::vector<Run>& runs, uint32_t block, uint64_t& sector);

  std::vector<Partition> m_partitions;
  std::vector<Map> m_maps;
};

}  // namespace umbra::udf
