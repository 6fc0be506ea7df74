#pragma once
// UDF bridge images made at test time (genisoimage -udf, pycdlib, and a UDF 2.50 builder with a
// metadata partition), and an independent reading of them by the Python scripts in udf/.
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "TestImages.h"
#include "engine/model/TreeReader.h"

namespace umbra::test {

struct UdfFixture {
  std::string name;
  fs::path image;
  std::string description;             // what the reader should call the tree
  size_t copies = 1;                   // stored copies of each identifier (2 with a metadata mirror)
  bool embedded = false;               // identifiers inside their directory's entry
  bool pycdlibReads = false;           // pycdlib reads only single-map volumes
  std::vector<std::string> hideCases;  // top, nested, non-ASCII, crossing a sector
};

// Built once per test program, in a temporary folder. Do not modify these files: copy them.
const std::vector<UdfFixture>& udfFixtures();
const UdfFixture& udfFixture(const std::string& name);

struct UdfReference {
  struct Folder {
    std::vector<uint64_t> offsets;  // the identifier's first byte, every copy, main first
    unsigned characteristics = 0;
  };
  std::map<std::string, Folder> folders;                                         // by UDF path
  std::map<std::string, std::vector<std::pair<uint64_t, uint64_t>>> jolietFiles;  // folder -> (extent, size)
};
// Reads the image with udf/udf_reference.py; throws when that fails (e.g. a tag or CRC that does
// not verify).
UdfReference udfReference(const fs::path& image);
// A folder's entry in its parent's listing (its records and mark as they are now); an entry with
// no name when the listing fails or does not hold the folder.
TreeEntry folderEntry(const TreeReader& reader, const ImageFile& file, int folder);

// The command that runs one of the scripts in udf/ with Debian's Python.
std::string udfScript(const std::string& name);

}  // namespace umbra::test
