#pragma once

#ifdef _WIN32
#include "DiscRecorderService.h"
#else
#include "LibburnSession.h"
#endif

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#ifndef _WIN32
// libburn declares its C interface inside namespace burn when read by C++.
namespace burn {
struct burn_drive;
struct burn_drive_info;
}  // namespace burn
#endif

namespace umbra {

class BlockReader;

// One recorder holding a blank (writable) medium, for the length of one burn: grabbed through
// libburn, or on Windows chosen from the system's recording service (IMAPI2).
class BurnDrive {
 public:
  // Grabs the drive at address (a device such as /dev/sr0, or libburn's stdio:/path pseudo-drive);
  // with an empty address, the first drive that holds a writable medium. Null with a reason otherwise.
  static std::unique_ptr<BurnDrive> acquire(const std::string& address, std::string& reason);

  // Grabs the drive at address to read back what a burn wrote: it must hold a written medium.
  // Null with a reason otherwise.
  static std::unique_ptr<BurnDrive> acquireForReading(const std::string& address, std::string& reason);

  ~BurnDrive();
  BurnDrive(const BurnDrive&) = delete;
  BurnDrive& operator=(const BurnDrive&) = delete;

  // Writes the file as the medium's only data track, closes the medium and waits for the end.
  // True only when libburn reports that the data was written well.
  bool writeImage(const std::filesystem::path& imagePath, const std::function<void(int)>& percent,
                  const std::function<bool()>& cancelRequested, std::string& reason);

  // The address that names this drive to acquireForReading, also when acquire picked the first drive.
  std::string address() const;

  // Reads the medium's data from its start; the reader must not outlive this drive. Null with a
  // reason when the medium cannot be read.
  std::unique_ptr<BlockReader> mediumReader(std::string& reason);

  // True when the medium in the drive is rewritable and can be blanked here (CD-RW, DVD-RW,
  // DVD+RW, DVD-RAM, BD-RE...); false for write-once media and where erasing is not offered.
  bool mediumErasable();

  // Blanks the medium quickly (its table of contents, not every sector) and waits for the end.
  bool erase(const std::function<void(int)>& percent, std::string& reason);

#ifdef _WIN32
  // The recording service's check of the next writeImage: its level before, its verdict after.
  WriteCheck& writeCheck() { return m_check; }
#endif

 private:
  BurnDrive() = default;
#ifdef _WIN32
  std::unique_ptr<DiscRecorderService> m_service;
  std::string m_recorderId;
  WriteCheck m_check;
#else
  // Grabs the drive at address and waits until its medium shows; false when none has the wanted state.
  bool grabAddress(const std::string& address, bool blankWanted, std::string& reason);
  bool grabFirstWritable(std::string& reason);

  LibburnSession m_session;  // first member: libburn outlives the drive handles below
  burn::burn_drive_info* m_infos = nullptr;
  burn::burn_drive* m_drive = nullptr;
#endif
};

}  // namespace umbra
