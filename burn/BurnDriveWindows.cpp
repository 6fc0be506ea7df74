// BurnDrive on Windows: the recorder is chosen from the system's recording service (IMAPI2).
#include "BurnDrive.h"

#include "BlockReader.h"
#include "RecorderChoice.h"

namespace umbra {

std::unique_ptr<BurnDrive> BurnDrive::acquire(const std::string& address, std::string& reason) {
  std::unique_ptr<BurnDrive> drive(new BurnDrive);
  drive->m_service = createRecorderService();
  drive->m_recorderId = chooseRecorder(*drive->m_service, address, reason);
  if (drive->m_recorderId.empty()) return nullptr;
  return drive;
}

// The recording service writes and checks what it wrote (writeCheck); reading a disc back here is not
// offered on Windows.
std::unique_ptr<BurnDrive> BurnDrive::acquireForReading(const std::string& address, std::string& reason) {
  reason = "reading a disc back is not available on Windows (drive " + address + ")";
  return nullptr;
}

BurnDrive::~BurnDrive() = default;

std::string BurnDrive::address() const { return m_recorderId; }

std::unique_ptr<BlockReader> BurnDrive::mediumReader(std::string& reason) {
  reason = "reading a disc back is not available on Windows";
  return nullptr;
}

bool BurnDrive::writeImage(const std::filesystem::path& imagePath, const std::function<void(int)>& percent,
                           const std::function<bool()>& cancelRequested, std::string& reason) {
  m_check.failed = false;
  return m_service->writeImage(m_recorderId, imagePath, m_check, percent, cancelRequested, reason);
}

bool BurnDrive::mediumErasable() {
  std::string ignored;
  return m_service->canEraseMedium(m_recorderId, ignored);
}

bool BurnDrive::erase(const std::function<void(int)>& percent, std::string& reason) {
  if (!m_service->canEraseMedium(m_recorderId, reason)) return false;
  return m_service->eraseMedium(m_recorderId, percent, reason);
}

}  // namespace umbra
