// BurnDrive on Windows: the recorder is chosen from the system's recording service (IMAPI2).
#include "BurnDrive.h"

#include "RecorderChoice.h"

namespace umbra {

std::unique_ptr<BurnDrive> BurnDrive::acquire(const std::string& address, std::string& reason) {
  std::unique_ptr<BurnDrive> drive(new BurnDrive);
  drive->m_service = createRecorderService();
  drive->m_recorderId = chooseRecorder(*drive->m_service, address, reason);
  if (drive->m_recorderId.empty()) return nullptr;
  return drive;
}

BurnDrive::~BurnDrive() = default;

bool BurnDrive::writeImage(const std::filesystem::path& imagePath, const std::function<void(int)>& percent,
                           const std::function<bool()>& cancelRequested, std::string& reason) {
  return m_service->writeImage(m_recorderId, imagePath, percent, cancelRequested, reason);
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
