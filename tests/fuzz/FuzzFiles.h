#pragma once
// The files a fuzz target hands the engine: the engine reads images from files, so each input is
// written to a file in a folder of this process's own (named after its id, removed at exit), and
// never to a fixed name that two runs side by side would share.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace umbra::fuzz {

constexpr size_t kSectorSize = 2048;

// This process's folder, made on first use under the system's temporary folder.
const std::filesystem::path& privateFolder();

// Writes `zeroSectors` empty sectors and then the input to `name` in the private folder; returns
// its path as UTF-8, or "" when it cannot be written.
std::string writeInput(const std::string& name, const uint8_t* data, size_t size, size_t zeroSectors);

// Writes an input that lists sectors sparsely: records of a 4-byte sector number (little endian)
// and that sector's 2048 bytes (a short last record is padded with zeros). The file is as long as
// the highest sector listed needs, at least `minSectors`, and holds zeros elsewhere. A seed of a
// few hundred KiB of mostly empty sectors becomes a few dozen KiB this way.
std::string writeSparseInput(const std::string& name, const uint8_t* data, size_t size, uint32_t minSectors);

}  // namespace umbra::fuzz
