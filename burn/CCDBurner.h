#pragma once

#include <filesystem>
#include <functional>
#include <string>

// The burn back end: plain C++ and libburn, no Qt, so the command line tool links neither.

enum BurnResultCode { BURN_SUCCESS = 0, BURN_NO_RECORDER = 1, BURN_COPY_FAILED = 2, BURN_FAILED = 3 };

// The text the user sees for a result code.
std::string BurnResultMessage(int code);

// True when the burning library can be initialised on this system.
bool IsBurnAvailable();

// Progress of one burn. The callbacks run on the thread that called BurnFile; any may be empty.
struct BurnProgress
{
    std::function<void(int)> copyPercent; // 0..100 while the image is copied into the staging folder
    std::function<void(int)> burnPercent; // 0..100 while the staged copy is written to the medium
    std::function<bool()> cancelRequested; // polled during the copy and the burn; true stops them
};

// Burns one image file as the data track of a blank medium: finds the recorder, copies the image
// into the staging folder, burns the copy and deletes it again, also when SIGINT or SIGTERM ends the
// burn (the process then ends by that signal once the drive is released). The image file itself
// is only read.
class CCDBurner
{
public:
    // Names the drive explicitly (a device or libburn's stdio:/path pseudo-drive); empty restores the
    // default: $UMBRADISC_BURN_DRIVE, then the setting "BurnDrive", then the first drive with a writable medium.
    void SetDriveAddress(const std::string& address) { m_strDriveAddress = address; }

    // Blocks until the burn has ended. code receives a BurnResultCode; true only with BURN_SUCCESS.
    // Burns run one at a time in a process; a second caller waits.
    bool BurnFile(const std::filesystem::path& imagePath, int& code, const BurnProgress& progress = {});

    // Why the last BurnFile failed, naming the file or drive; empty after a success.
    const std::string& LastError() const { return m_strLastError; }

    // $UMBRADISC_STAGING_DIR, else the folder "umbradisc/burn" in the user's cache.
    static std::filesystem::path GetStagingFolder();

    // Removes the staged copies that burns ended by a crash left in the staging folder (older than a
    // day, of our naming); called at start-up. Other files there are never touched.
    static void RemoveLeftoverCopies();

private:
    std::string DriveAddress() const;

    std::string m_strDriveAddress;
    std::string m_strLastError;
};
