// BurnDrive on Windows: the recorder is chosen from the system's recording service (IMAPI2).
#include "BurnDrive.h"

#include "RecorderChoice.h"

std::unique_ptr<BurnDrive> BurnDrive::Acquire(const std::string& address, std::string& reason)
{
    std::unique_ptr<BurnDrive> drive(new BurnDrive);
    drive->m_service = CreateRecorderService();
    drive->m_recorderId = ChooseRecorder(*drive->m_service, address, reason);
    if (drive->m_recorderId.empty())
        return nullptr;
    return drive;
}

BurnDrive::~BurnDrive() = default;

bool BurnDrive::WriteImage(const std::filesystem::path& imagePath, const std::function<void(int)>& percent,
                           const std::function<bool()>& cancelRequested, std::string& reason)
{
    return m_service->WriteImage(m_recorderId, imagePath, percent, cancelRequested, reason);
}

// The recording service is not yet asked to erase: a medium left in an unknown state is reported,
// and the user is told to erase a rewritable one with the system's own tools.
bool BurnDrive::MediumErasable()
{
    return false;
}

bool BurnDrive::Erase(const std::function<void(int)>&, std::string& reason)
{
    reason = "Erasing a disc is not offered on this system";
    return false;
}
