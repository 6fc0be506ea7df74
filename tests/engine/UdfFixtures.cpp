#include "UdfFixtures.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace umbra::test {

namespace {

void makeSourceTree(const fs::path& root) {
  writeFile(root / "Alpha" / "a.txt", "alpha\n");
  writeFile(root / "Beta" / "b1.txt", "b1\n");
  writeFile(root / "Beta" / "b2.bin", std::string(5000, 'x'));
  writeFile(root / "Beta" / "Sub" / "c.txt", "c\n");
  // u8 literals: MinGW's path reads plain char strings in the C locale, not as UTF-8.
  writeFile(root / u8"Ünïcode Folder" / u8"ü.txt", "u\n");
  writeFile(root / u8"Ωmega Δ" / "o.txt", "o\n");  // needs 16-bit characters in UDF
  writeFile(root / "A very long folder name with spaces.and.dots" / "long.txt", "l\n");
  writeFile(root / "readme.txt", "root\n");
}

void runOrThrow(const std::string& command) {
  std::string log;
  if (run(command + " 2>&1", &log) != 0) throw std::runtime_error(command + " failed: " + log);
}

// Names of the folders in /Many whose identifier crosses a sector boundary.
std::vector<std::string> crossingFolders(const fs::path& image) {
  std::vector<std::string> crossing;
  for (const auto& [path, folder] : udfReference(image).folders) {
    if (path.rfind("/Many/", 0) != 0) continue;
    const uint64_t length = (38 + 1 + (path.size() - 6) + 3) & ~uint64_t{3};  // 8-bit name
    if (folder.offsets[0] % 2048 + length > 2048) crossing.push_back(path);
  }
  return crossing;
}

std::vector<UdfFixture> build() {
  static TempDir dir;
  makeSourceTree(dir / "src");
  for (int i = 1; i <= 60; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "folder number %02d with a fairly long name", i);
    writeFile(dir / "srcbig" / "Many" / name / "f.txt", std::to_string(i) + "\n");
  }
  const std::string geniso = genisoimage() + " -quiet -input-charset utf-8 -J -udf -V TESTVOL ";
  std::vector<UdfFixture> fixtures;
  const std::vector<std::string> common{"/Beta", "/Beta/Sub", "/Ünïcode Folder"};

  UdfFixture g{"geniso", dir / "geniso-udf.iso", "UDF 1.02", 1, false, true, common};
  g.hideCases.push_back("/Ωmega Δ");
  runOrThrow(geniso + "-o " + quote(g.image.string()) + " " + quote((dir / "src").string()));
  fixtures.push_back(g);

  UdfFixture s{"straddle", dir / "geniso-udf-straddle.iso", "UDF 1.02", 1, false, true, {"/Many"}};
  runOrThrow(geniso + "-joliet-long -o " + quote(s.image.string()) + " " + quote((dir / "srcbig").string()));
  for (const std::string& path : crossingFolders(s.image)) s.hideCases.push_back(path);
  fixtures.push_back(s);

  UdfFixture p{"pycdlib", dir / "pycdlib-udf260.iso", "UDF 1.02", 1, false, true, common};
  runOrThrow(udfScript("mk_pycdlib_udf260.py") + " " + quote(p.image.string()));
  fixtures.push_back(p);

  UdfFixture m{"meta", dir / "bridge-udf250-meta.iso", "UDF 2.50", 2, false, false, common};
  runOrThrow(udfScript("mk_bridge_udf250.py") + " " + quote(m.image.string()));
  fixtures.push_back(m);

  UdfFixture e{"meta_embedded", dir / "bridge-udf250-meta-inicb.iso", "UDF 2.50", 2, true, false, common};
  runOrThrow(udfScript("mk_bridge_udf250.py") + " " + quote(e.image.string()) + " --inicb");
  fixtures.push_back(e);
  return fixtures;
}

}  // namespace

const std::vector<UdfFixture>& udfFixtures() {
  static const std::vector<UdfFixture> fixtures = build();
  return fixtures;
}

const UdfFixture& udfFixture(const std::string& name) {
  for (const UdfFixture& f : udfFixtures())
    if (f.name == name) return f;
  throw std::runtime_error("no fixture " + name);
}

std::string udfScript(const std::string& name) {
  return "/usr/bin/python3 " + quote(std::string(UMBRA_UDF_SCRIPTS) + "/" + name);
}

UdfReference udfReference(const fs::path& image) {
  std::string text;
  if (run(udfScript("udf_reference.py") + " " + quote(image.string()) + " 2>&1", &text) != 0)
    throw std::runtime_error("udf_reference.py failed on " + image.string() + ": " + text);
  UdfReference ref;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream parts(line);
    for (std::string field; std::getline(parts, field, '\t');) fields.push_back(field);
    if (fields.size() != 4) throw std::runtime_error("udf_reference.py: odd line " + line);
    if (fields[0] == "dir") {
      UdfReference::Folder folder;
      std::istringstream offsets(fields[1]);
      for (std::string o; std::getline(offsets, o, ',');) folder.offsets.push_back(std::stoull(o));
      folder.characteristics = static_cast<unsigned>(std::stoul(fields[2]));
      ref.folders[fields[3]] = folder;
    } else {
      ref.jolietFiles[fields[1]].emplace_back(std::stoull(fields[2]), std::stoull(fields[3]));
    }
  }
  return ref;
}

TreeEntry folderEntry(const TreeReader& reader, const ImageFile& file, int folder) {
  const int parent = reader.folders()[static_cast<size_t>(folder)].parent;
  std::vector<TreeEntry> entries;
  if (parent >= 0 && !reader.listFolder(file, parent, entries))
    for (TreeEntry& entry : entries)
      if (entry.isFolder && entry.folder == folder) return std::move(entry);
  return {};
}

}  // namespace umbra::test
