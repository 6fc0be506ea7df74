// BurnDrive on Windows: the recorder is chosen from the system's recording service (IMAPI2).
#include "BurnDrive.h"

#include "RecorderChoice.h"

std::unique_ptr<BurnDrive> BurnDrive::Acquire(const std::string& address, std::string& reason) {
  std::unique_ptr<BurnDrive> drive(new BurnDrive);
  drive->m_service = CreateRecorderService();
  drive->m_recorderId = ChooseRecorder(*drive->m_service, address, reason);
  if (drive->m_recorderId.empty()) return nullptr;
  return drive;
}

BurnDrive::~BurnDrive() = default;

bool BurnDrive::WriteImage(const std::filesystem::path& imagePath, const std::function<void(int)>& percent,
                           const std::function<bool()>& cancelRequested, std::string& reason) {
  return m_service->WriteImage(m_recorderId, imagePath, percent, cancelRequested, reason);
}

bool BurnDrive::MediumErasable() {
  std::string ignored;
  return m_service->CanEraseMedium(m_recorderId, ignored);
}

bool BurnDrive::Erase(const std::function<void(int)>& percent, std::string& reason) {
  if (!m_service->CanEraseMedium(m_recorderId, reason)) return false;
  return m_service->EraseMedium(m_recorderId, percent, reason);
}
