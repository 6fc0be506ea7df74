#include "CCDBurner.h"

#include "BurnDrive.h"
#ifdef _WIN32
#include "DiscRecorderService.h"
#else
#include "LibburnSession.h"
#endif
#include "StagingCopy.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <mutex>

namespace {

constexpr char kDriveVariable[] = "UMBRADISC_BURN_DRIVE";
constexpr char kStagingVariable[] = "UMBRADISC_STAGING_DIR";
constexpr char kSettingsOrganisation[] = "KorvantisSoft";
constexpr char kSettingsApplication[] = "Umbradisc";
constexpr char kDriveSetting[] = "BurnDrive";
constexpr char kStagingSubfolder[] = "/umbradisc/burn";

// libburn lists drives for one caller at a time.
std::mutex g_burnMutex;

} // namespace

QString BurnResultMessage(int code)
{
    switch (code) {
    case BURN_SUCCESS:
        return QStringLiteral("Brun Success! ");
    case BURN_NO_RECORDER:
        return QStringLiteral("Can not find recordable driver in the computer.");
    case BURN_COPY_FAILED:
        return QStringLiteral("Failed to copy file to CD-Recorder buffer");
    default:
        return QStringLiteral("Burn failed.");
    }
}

bool IsBurnAvailable()
{
#ifdef _WIN32
    // As with libburn on a machine without a drive, a missing service shows when a burn is tried:
    // the burn then ends with BURN_NO_RECORDER and the reason.
    return true;
#else
    const LibburnSession session;
    return session.IsReady();
#endif
}

QString CCDBurner::GetStagingFolder()
{
    const QString overridden = qEnvironmentVariable(kStagingVariable);
    if (!overridden.isEmpty())
        return overridden;
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
           + QLatin1String(kStagingSubfolder);
}

QString CCDBurner::DriveAddress() const
{
    if (!m_strDriveAddress.isEmpty())
        return m_strDriveAddress;
    const QString fromEnvironment = qEnvironmentVariable(kDriveVariable);
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QSettings settings{QString::fromLatin1(kSettingsOrganisation), QString::fromLatin1(kSettingsApplication)};
    return settings.value(QLatin1String(kDriveSetting)).toString();
}

bool CCDBurner::BurnFile(const QString& imagePath, int& code, const BurnProgress& progress)
{
    const std::lock_guard<std::mutex> lock(g_burnMutex);
    code = BURN_SUCCESS;
    m_strLastError.clear();

    std::unique_ptr<BurnDrive> drive = BurnDrive::Acquire(DriveAddress(), m_strLastError);
    if (!drive) {
        code = BURN_NO_RECORDER;
        return false;
    }

    const QString staged = GetStagingFolder() + QLatin1Char('/') + QFileInfo(imagePath).fileName();
    if (!CopyIntoStaging(imagePath, staged, progress.copyPercent, progress.cancelRequested,
                         m_strLastError)) {
        code = BURN_COPY_FAILED;
        return false;
    }

    const bool wrote = drive->WriteImage(staged, progress.burnPercent, progress.cancelRequested,
                                         m_strLastError);
    QFile::remove(staged); // the copy was ours alone; a failure to delete it changes no result
    drive.reset();
    if (!wrote) {
        code = BURN_FAILED;
        return false;
    }
    return true;
}
