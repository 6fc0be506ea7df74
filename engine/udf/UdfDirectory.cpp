#include "engine/udf/UdfDirectory.h"

#include <algorithm>

#include "engine/udf/UdfNames.h"
#include "engine/udf/UdfTag.h"

namespace umbra::udf {

namespace {
constexpr size_t kIdentifierLengthOffset = 19, kImplementationUseOffset = 36;
}

Error UdfDirectory::read(const ImageFile& file, const UdfPartitions& partitions, const UdfFileEntry& entry,
                         uint64_t maxBytes) {
  m_bytes.clear();
  m_pieces.clear();
  m_copyCount = 1;
  m_size = 0;
  m_embedded = entry.embedded();
  const std::string what = "the directory at block " + std::to_string(entry.block());
  const uint64_t size = entry.informationLength();
  if (size > maxBytes) return damaged(what + " is too large");
  if (entry.embedded()) {
    const uint8_t* data = entry.bytes().data() + entry.embeddedOffset();
    m_bytes.assign(data, data + size);
    m_pieces.push_back({0, static_cast<uint32_t>(size), entry.embeddedOffset(), entry.block(), entry.copies()});
    m_copyCount = entry.copies().count;
    m_size = size;
    return {};
  }
  m_bytes.resize(static_cast<size_t>(size));  // bounded by maxBytes
  uint64_t filled = 0;
  for (const AllocationExtent& extent : entry.extents()) {
    if (filled == size) break;
    if (extent.type != AllocationExtent::kRecorded) return damaged(what + " has an unrecorded extent");
    const uint64_t take = std::min<uint64_t>(extent.length, size - filled);
    for (uint64_t done = 0; done < take; done += kBlockSize) {
      const uint64_t block = uint64_t{extent.block} + done / kBlockSize;
      Piece piece;
      piece.streamOffset = filled + done;
      piece.length = static_cast<uint32_t>(std::min<uint64_t>(kBlockSize, take - done));
      piece.block = static_cast<uint32_t>(block);
      if (block > UINT32_MAX || !partitions.blockCopies(extent.ref, piece.block, piece.copies))
        return damaged(what + " has an extent outside the volume");
      if (!readExact(file, piece.copies.sector[0] * kBlockSize, m_bytes.data() + piece.streamOffset, piece.length))
        return damaged(what + " has an extent past the end of the image");
      m_copyCount = std::max(m_copyCount, piece.copies.count);
      m_pieces.push_back(piece);
    }
    filled += take;
  }
  if (filled != size) return damaged(what + " is longer than its extents");
  m_size = size;
  return {};
}

std::vector<uint64_t> UdfDirectory::sectors() const {
  std::vector<uint64_t> out;
  for (const Piece& piece : m_pieces)
    for (int c = 0; c < piece.copies.count; ++c) out.push_back(piece.copies.sector[c]);
  return out;
}

Error UdfDirectory::rereadBytes(const ImageFile& file) {
  m_bytes.resize(static_cast<size_t>(m_size));
  for (const Piece& piece : m_pieces)
    if (!readExact(file, piece.copies.sector[0] * kBlockSize + piece.within, m_bytes.data() + piece.streamOffset,
                   piece.length))
      return damaged("the directory at block " + std::to_string(m_pieces.front().block) + " cannot be read again");
  return {};
}

const UdfDirectory::Piece* UdfDirectory::pieceAt(uint64_t streamOffset) const {
  auto it = std::upper_bound(m_pieces.begin(), m_pieces.end(), streamOffset,
                             [](uint64_t offset, const Piece& p) { return offset < p.streamOffset; });
  if (it == m_pieces.begin()) return nullptr;
  --it;
  return streamOffset - it->streamOffset < it->length ? &*it : nullptr;
}

uint32_t UdfDirectory::tagBlock(uint64_t streamOffset) const {
  const Piece* piece = pieceAt(streamOffset);
  return piece ? piece->block : 0;
}

bool UdfDirectory::imageRuns(uint64_t offset, uint32_t n, int copy, std::vector<ImageRun>& runs) const {
  runs.clear();
  while (n > 0) {
    const Piece* piece = pieceAt(offset);
    if (!piece) return false;
    const int c = std::min(copy, piece->copies.count - 1);
    const uint64_t into = offset - piece->streamOffset;
    const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(n, piece->length - into));
    const uint64_t at = piece->copies.sector[c] * kBlockSize + piece->within + into;
    if (!runs.empty() && runs.back().first + runs.back().second == at)
      runs.back().second += take;
    else
      runs.emplace_back(at, take);
    offset += take;
    n -= take;
  }
  return true;
}

std::vector<uint64_t> UdfDirectory::recordOffsets(const FileIdentifier& fid) const {
  std::vector<uint64_t> offsets;
  std::vector<ImageRun> runs;
  for (int copy = 0; copy < m_copyCount; ++copy)
    if (imageRuns(fid.streamOffset, 1, copy, runs) &&
        std::find(offsets.begin(), offsets.end(), runs[0].first) == offsets.end())
      offsets.push_back(runs[0].first);
  return offsets;
}

Error UdfDirectory::identifiers(std::vector<FileIdentifier>& out, bool foldersOnlyNamed) const {
  size_t count = 0;  // the entries of `out` are reused: their names keep their buffers
  const uint64_t size = m_bytes.size();
  for (uint64_t pos = 0; pos < size;) {
    const uint8_t* d = m_bytes.data() + pos;
    const uint64_t left = size - pos;
    auto what = [&] {
      return "the file identifier at byte " + std::to_string(pos) + " of the directory at block " +
             std::to_string(m_pieces.empty() ? 0 : m_pieces[0].block);
    };
    if (left < FileIdentifier::kMinSize) {
      if (std::all_of(d, d + left, [](uint8_t b) { return b == 0; })) break;
      return damaged(what() + " is cut short");
    }
    const uint64_t used = FileIdentifier::kMinSize + readLe16(d + kImplementationUseOffset) + d[kIdentifierLengthOffset];
    if (used > left) return damaged(what() + " runs past the end of its directory");
    const uint64_t padded = std::min<uint64_t>((used + 3) & ~uint64_t{3}, left);
    std::string why;
    if (!checkTag(d, static_cast<size_t>(padded), kTagFileIdentifier, tagBlock(pos), {}, why))
      return damaged(what() + why);
    if (count == out.size()) out.emplace_back();
    FileIdentifier& fid = out[count++];
    fid.streamOffset = pos;
    fid.length = static_cast<uint32_t>(padded);
    fid.characteristics = d[FileIdentifier::kCharacteristicsOffset];
    fid.icbBlock = readLe32(d + FileIdentifier::kIcbOffset + 4);
    fid.icbRef = readLe16(d + FileIdentifier::kIcbOffset + 8);
    fid.name.clear();
    const uint8_t* name = d + FileIdentifier::kMinSize + readLe16(d + kImplementationUseOffset);
    const uint8_t nameLength = d[kIdentifierLengthOffset];
    const bool decoded = foldersOnlyNamed && !fid.isDirectory()
                             ? nameLength == 0 || knownCompression(name[0])
                             : decodeDCharacters(name, nameLength, fid.name);
    if (!decoded) {
      out.resize(count - 1);
      return damaged(what() + " has a name in an unknown encoding");
    }
    pos += padded;
  }
  out.resize(count);
  return {};
}

Error UdfDirectory::readCopy(const ImageFile& file, const FileIdentifier& fid, int copy,
                             std::vector<uint8_t>& bytes) const {
  std::vector<ImageRun> runs;
  if (!imageRuns(fid.streamOffset, fid.length, copy, runs)) return damaged("a file identifier lies outside its directory");
  bytes.assign(fid.length, 0);
  size_t at = 0;
  for (const ImageRun& run : runs) {
    if (!readExact(file, run.first, bytes.data() + at, run.second))
      return damaged("a file identifier lies past the end of the image");
    at += run.second;
  }
  std::string why;
  if (!checkTag(bytes.data(), bytes.size(), kTagFileIdentifier, tagBlock(fid.streamOffset),
                "the file identifier at offset " + std::to_string(runs[0].first), why))
    return damaged(why);
  return {};
}

}  // namespace umbra::udf
