#include "engine/udf/UdfPartitions.h"

#include <algorithm>

#include "engine/udf/UdfFileEntry.h"
#include "engine/udf/UdfTag.h"

namespace umbra::udf {

namespace {
constexpr uint8_t kMetadataFileType = 250, kMetadataMirrorType = 251;
}

void UdfPartitions::addPartition(uint16_t number, uint32_t start, uint32_t length) {
  for (Partition& p : m_partitions)
    if (p.number == number) {
      p = {number, start, length};
      return;
    }
  m_partitions.push_back({number, start, length});
}

void UdfPartitions::addPhysicalMap(uint16_t partitionNumber) {
  Map map;
  map.partitionNumber = partitionNumber;
  m_maps.push_back(map);
}

void UdfPartitions::addMetadataMap(uint16_t partitionNumber, uint32_t fileBlock, uint32_t mirrorBlock) {
  Map map;
  map.metadata = true;
  map.partitionNumber = partitionNumber;
  map.fileBlock = fileBlock;
  map.mirrorBlock = mirrorBlock;
  m_maps.push_back(map);
}

bool UdfPartitions::hasMetadataMap() const {
  return std::any_of(m_maps.begin(), m_maps.end(), [](const Map& m) { return m.metadata; });
}

Error UdfPartitions::resolve(const ImageFile& file) {
  for (Map& map : m_maps) {
    for (size_t i = 0; i < m_partitions.size(); ++i)
      if (m_partitions[i].number == map.partitionNumber) map.partition = static_cast<int>(i);
    if (map.partition < 0)
      return damaged("partition " + std::to_string(map.partitionNumber) + " has no partition descriptor");
  }
  for (Map& map : m_maps) {
    if (!map.metadata) continue;
    bool found = false;
    for (size_t i = 0; i < m_maps.size() && !found; ++i)
      if (!m_maps[i].metadata && m_maps[i].partitionNumber == map.partitionNumber) {
        map.physicalRef = static_cast<uint16_t>(i);
        found = true;
      }
    if (!found) return damaged("the metadata partition has no physical partition map");
    if (Error e = readMetadataFile(file, map, map.fileBlock, kMetadataFileType, map.main)) return e;
    if (Error e = readMetadataFile(file, map, map.mirrorBlock, kMetadataMirrorType, map.mirror)) return e;
  }
  return {};
}

Error UdfPartitions::readMetadataFile(const ImageFile& file, const Map& map, uint32_t block, uint8_t fileType,
                                      std::vector<Run>& runs) const {
  UdfFileEntry entry;
  if (Error e = entry.read(file, *this, map.physicalRef, block)) return e;
  if (entry.fileType() != fileType || entry.embedded())
    return damaged("the metadata file at block " + std::to_string(block) + " is not a metadata file");
  uint64_t first = 0;
  for (const AllocationExtent& extent : entry.extents()) {
    const uint64_t count = (uint64_t{extent.length} + kBlockSize - 1) / kBlockSize;
    if (extent.type == AllocationExtent::kRecorded) {
      BlockCopies start, end;
      if (!blockCopies(extent.ref, extent.block, start) ||
          !blockCopies(extent.ref, static_cast<uint32_t>(extent.block + count - 1), end) ||
          end.sector[0] != start.sector[0] + count - 1)
        return damaged("the metadata file points outside its partition");
      runs.push_back({first, count, start.sector[0]});
    }
    first += count;
  }
  return {};
}

bool UdfPartitions::find(const std::vector<Run>& runs, uint32_t block, uint64_t& sector) {
  // Runs are in file order, so their first blocks ascend.
  auto it = std::upper_bound(runs.begin(), runs.end(), block,
                             [](uint32_t b, const Run& run) { return b < run.first; });
  if (it == runs.begin()) return false;
  --it;
  if (block - it->first >= it->count) return false;
  sector = it->sector + (block - it->first);
  return true;
}

bool UdfPartitions::blockCopies(uint16_t ref, uint32_t block, BlockCopies& out) const {
  out = {};
  if (ref >= m_maps.size()) return false;
  const Map& map = m_maps[ref];
  if (map.partition < 0) return false;
  if (!map.metadata) {
    const Partition& p = m_partitions[static_cast<size_t>(map.partition)];
    if (block >= p.length) return false;
    out.sector[0] = uint64_t{p.start} + block;
    out.count = 1;
    return true;
  }
  if (!find(map.main, block, out.sector[0])) return false;
  out.count = 1;
  uint64_t mirror = 0;
  if (find(map.mirror, block, mirror) && mirror != out.sector[0]) out.sector[out.count++] = mirror;
  return true;
}

}  // namespace umbra::udf
