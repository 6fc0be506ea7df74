#include "CCDBurner.h"

#include "BurnDrive.h"
#include "BurnSettings.h"
#ifdef _WIN32
#include "DiscRecorderService.h"
#else
#include "LibburnSession.h"
#endif
#include "StagedCopies.h"
#include "StagedCopyGuard.h"
#include "StagingCopy.h"

#include <cstdlib>
#include <mutex>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr char kDriveVariable[] = "UMBRADISC_BURN_DRIVE";
constexpr char kStagingVariable[] = "UMBRADISC_STAGING_DIR";
constexpr char kStagingSubfolder[] = "umbradisc/burn";

// libburn lists drives for one caller at a time.
std::mutex g_burnMutex;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Where the desktop keeps a user's cache ($XDG_CACHE_HOME, else ~/.cache; on Windows the local
// application data folder's "cache").
fs::path UserCacheFolder() {
#ifdef _WIN32
  return fs::path(Environment("LOCALAPPDATA")) / "cache";
#else
  const std::string cache = Environment("XDG_CACHE_HOME");
  if (!cache.empty()) return cache;
  return fs::path(Environment("HOME")) / ".cache";
#endif
}

}  // namespace

std::string BurnResultMessage(int code) {
  switch (code) {
    case BURN_SUCCESS:
      return "Burn succeeded!";
    case BURN_NO_RECORDER:
      return "Cannot find a recordable drive in this computer.";
    case BURN_COPY_FAILED:
      return "Failed to copy the file to the CD recorder's buffer.";
    default:
      return "Burn failed.";
  }
}

std::string DiscStateMessage(DiscState state) {
  switch (state) {
    case DiscState::UnknownRewritable:
      return "The disc is now in an unknown state: part of the image may be on it. It is rewritable, so it "
             "can be erased and used again.";
    case DiscState::UnknownWriteOnce:
      return "The disc is now in an unknown state: part of the image may be on it, and it may no longer be "
             "usable.";
    case DiscState::Untouched:
      break;
  }
  return {};
}

bool IsBurnAvailable() {
#ifdef _WIN32
  // Without the recording service Windows cannot burn at all; a missing drive, as with libburn,
  // shows when a burn is tried.
  return CreateRecorderService()->IsInstalled();
#else
  const LibburnSession session;
  return session.IsReady();
#endif
}

fs::path CCDBurner::GetStagingFolder() {
  const std::string overridden = Environment(kStagingVariable);
  if (!overridden.empty()) return overridden;
  return UserCacheFolder() / kStagingSubfolder;
}

void CCDBurner::RemoveLeftoverCopies() { RemoveStaleStagedCopies(GetStagingFolder()); }

std::string CCDBurner::DriveAddress() const {
  if (!m_strDriveAddress.empty()) return m_strDriveAddress;
  const std::string fromEnvironment = Environment(kDriveVariable);
  if (!fromEnvironment.empty()) return fromEnvironment;
  return ReadBurnDriveSetting().value_or("");
}

CCDBurner::CCDBurner() = default;

CCDBurner::~CCDBurner() = default;

bool CCDBurner::BurnFile(const fs::path& imagePath, int& code, const BurnProgress& progress) {
  const std::lock_guard<std::mutex> lock(g_burnMutex);
  m_erasable.reset();
  m_discState = DiscState::Untouched;
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

  const fs::path staged = StagedCopyPath(GetStagingFolder(), imagePath.filename());
  guard.Arm(staged, PartialCopyPath(staged));
  const std::function<bool()> stop = [&progress] {
    return StagedCopyGuard::StopRequested() || (progress.cancelRequested && progress.cancelRequested());
  };
  if (!CopyIntoStaging(imagePath, staged, progress.copyPercent, stop, m_strLastError)) {
    code = BURN_COPY_FAILED;
    return false;
  }

  // Both back ends report 0 % just before the medium is first written to.
  bool started = false;
  const std::function<void(int)> burnPercent = [&progress, &started](int percent) {
    started = true;
    if (progress.burnPercent) progress.burnPercent(percent);
  };
  const bool wrote = drive->WriteImage(staged, burnPercent, stop, m_strLastError);
  std::error_code ignored;
  fs::remove(staged, ignored);  // the copy was ours alone; a failure to delete it changes no result
  if (!wrote && started) {
    m_discState = drive->MediumErasable() ? DiscState::UnknownRewritable : DiscState::UnknownWriteOnce;
    // Kept for EraseDisc, unless a signal ends the process: it must find the drive released.
    if (m_discState == DiscState::UnknownRewritable && !StagedCopyGuard::StopRequested()) m_erasable = std::move(drive);
  }
  drive.reset();
  if (!wrote) {
    code = BURN_FAILED;
    return false;
  }
  return true;
}

bool CCDBurner::EraseDisc(const std::function<void(int)>& percent) {
  const std::lock_guard<std::mutex> lock(g_burnMutex);
  m_strLastError.clear();
  if (!m_erasable) {
    m_strLastError = "No rewritable disc is waiting to be erased";
    return false;
  }
  const bool erased = m_erasable->Erase(percent, m_strLastError);
  m_erasable.reset();
  if (erased) m_discState = DiscState::Untouched;
  return erased;
}
