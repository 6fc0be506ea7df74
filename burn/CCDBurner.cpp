#include "CCDBurner.h"

#include "BurnDrive.h"
#include "LibburnSession.h"
#include "StagedCopies.h"
#include "StagedCopyGuard.h"
#include "StagingCopy.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <filesystem>
#include <mutex>
#include <system_error>

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
    const LibburnSession session;
    return session.IsReady();
}

QString CCDBurner::GetStagingFolder()
{
    const QString overridden = qEnvironmentVariable(kStagingVariable);
    if (!overridden.isEmpty())
        return overridden;
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
           + QLatin1String(kStagingSubfolder);
}

void CCDBurner::RemoveLeftoverCopies()
{
    RemoveStaleStagedCopies(QFile::encodeName(GetStagingFolder()).toStdString());
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
    // Declared before the drive, so a signal held back by the guard is raised only after the
    // drive has been released.
    StagedCopyGuard guard;
    code = BURN_SUCCESS;
    m_strLastError.clear();

    std::unique_ptr<BurnDrive> drive = BurnDrive::Acquire(DriveAddress(), m_strLastError);
    if (!drive) {
        code = BURN_NO_RECORDER;
        return false;
    }

    const std::filesystem::path image = QFile::encodeName(imagePath).toStdString();
    const std::filesystem::path staged = StagedCopyPath(QFile::encodeName(GetStagingFolder()).toStdString(),
                                                        image.filename().string());
    guard.Arm(staged, PartialCopyPath(staged));
    const std::function<bool()> stop = [&progress] {
        return StagedCopyGuard::StopRequested() || (progress.cancelRequested && progress.cancelRequested());
    };
    std::string reason;
    if (!CopyIntoStaging(image, staged, progress.copyPercent, stop, reason)) {
        m_strLastError = QString::fromStdString(reason);
        code = BURN_COPY_FAILED;
        return false;
    }

    const bool wrote = drive->WriteImage(QFile::decodeName(staged.string().c_str()), progress.burnPercent, stop,
                                         m_strLastError);
    std::error_code ignored;
    std::filesystem::remove(staged, ignored); // the copy was ours alone; a failure to delete it changes no result
    drive.reset();
    if (!wrote) {
        code = BURN_FAILED;
        return false;
    }
    return true;
}
