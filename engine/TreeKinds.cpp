#include "engine/TreeKinds.h"

#include "engine/iso9660/CIsoImage.h"
#include "engine/iso9660/IsoTreeReader.h"
#include "engine/udf/UdfTreeReader.h"

namespace umbra {

namespace {
Error findIso9660(const CIsoImage& image, std::unique_ptr<TreeReader>& out) { return IsoTreeReader::open(image, false, out); }
Error findJoliet(const CIsoImage& image, std::unique_ptr<TreeReader>& out) { return IsoTreeReader::open(image, true, out); }
Error findUdf(const CIsoImage& image, std::unique_ptr<TreeReader>& out) {
  out = findUdfTree(image.file());  // a damaged UDF tree says so through its reader's problem()
  return {};
}

constexpr TreeFinder kFinders[] = {findIso9660, findJoliet, findUdf};
}  // namespace

std::span<const TreeFinder> treeFinders() { return kFinders; }

}  // namespace umbra
