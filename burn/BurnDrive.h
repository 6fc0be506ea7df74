#pragma once

#include "LibburnSession.h"

#include <filesystem>
#include <functional>
#include <memory>

// libburn declares its C interface inside namespace burn when read by C++.
namespace burn {
struct burn_drive;
struct burn_drive_info;
} // namespace burn

// One recorder grabbed through libburn, holding a blank (writable) medium, for the length of one burn.
class BurnDrive
{
public:
    // Grabs the drive at address (a device such as /dev/sr0, or libburn's stdio:/path pseudo-drive);
    // with an empty address, the first drive that holds a writable medium. Null with a reason otherwise.
    static std::unique_ptr<BurnDrive> Acquire(const std::string& address, std::string& reason);

    ~BurnDrive();
    BurnDrive(const BurnDrive&) = delete;
    BurnDrive& operator=(const BurnDrive&) = delete;

    // Writes the file as the medium's only data track, closes the medium and waits for the end.
    // True only when libburn reports that the data was written well.
    bool WriteImage(const std::filesystem::path& imagePath, const std::function<void(int)>& percent,
                    const std::function<bool()>& cancelRequested, std::string& reason);

private:
    BurnDrive() = default;
    bool GrabAddress(const std::string& address, std::string& reason);
    bool GrabFirstWritable(std::string& reason);

    LibburnSession m_session; // first member: libburn outlives the drive handles below
    burn::burn_drive_info* m_infos = nullptr;
    burn::burn_drive* m_drive = nullptr;
};
