#include "DiscBurner.h"

#include "BlockReader.h"
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
#include "base/PathText.h"

#include <mutex>
#include <system_error>

namespace umbra {

namespace fs = std::filesystem;

namespace {

constexpr char kDriveVariable[] = "UMBRADISC_BURN_DRIVE";
constexpr char kStagingVariable[] = "UMBRADISC_STAGING_DIR";
constexpr char kStagingSubfolder[] = "umbradisc/burn";

// libburn lists drives for one caller at a time.
std::mutex g_burnMutex;

// Where the desktop keeps a user's cache ($XDG_CACHE_HOME, else ~/.cache; on Windows the local
// application data folder's "cache", below a user name that may hold any letter).
fs::path userCacheFolder() {
#ifdef _WIN32
  return pathFromUtf8(environmentUtf8("LOCALAPPDATA")) / "cache";
#else
  const std::string cache = environmentUtf8("XDG_CACHE_HOME");
  if (!cache.empty()) return cache;
  return fs::path(environmentUtf8("HOME")) / ".cache";
#endif
}

}  // namespace

std::string burnResultMessage(BurnResult code) {
  switch (code) {
    case BurnResult::Succeeded:
      return "Burn succeeded!";
    case BurnResult::NoRecorder:
      return "Cannot find a recordable drive in this computer.";
    case BurnResult::CopyFailed:
      return "Failed to copy the file to the CD recorder's buffer.";
    default:
      return "Burn failed.";
  }
}

std::string discStateMessage(DiscState state) {
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

bool burnAvailable() {
#ifdef _WIN32
  // Without the recording service Windows cannot burn at all; a missing drive, as with libburn,
  // shows when a burn is tried.
  return createRecorderService()->isInstalled();
#else
  const LibburnSession session;
  return session.isReady();
#endif
}

fs::path DiscBurner::stagingFolder() {
  const std::string overridden = environmentUtf8(kStagingVariable);
  if (!overridden.empty()) return pathFromUtf8(overridden);
  return userCacheFolder() / kStagingSubfolder;
}

void DiscBurner::removeLeftoverCopies() { removeStaleStagedCopies(stagingFolder()); }

std::string DiscBurner::driveAddress() const {
  if (!m_driveAddress.empty()) return m_driveAddress;
  const std::string fromEnvironment = environmentUtf8(kDriveVariable);
  if (!fromEnvironment.empty()) return fromEnvironment;
  return readBurnDriveSetting().value_or("");
}

DiscBurner::DiscBurner() = default;

DiscBurner::~DiscBurner() = default;

bool DiscBurner::findRecorder() {
  const std::lock_guard<std::mutex> lock(g_burnMutex);
  m_lastError.clear();
  return BurnDrive::acquire(driveAddress(), m_lastError) != nullptr;
}

bool DiscBurner::burnFile(const fs::path& imagePath, BurnResult& code, const BurnProgress& progress) {
  const std::lock_guard<std::mutex> lock(g_burnMutex);
  m_erasable.reset();
  m_discState = DiscState::Untouched;
  m_burnedAddress.clear();
  m_windowsCheck = {};
  // Declared before the drive, so a signal held back by the guard is raised only after the
  // drive has been released.
  StagedCopyGuard guard;
  code = BurnResult::Succeeded;
  m_lastError.clear();

  std::unique_ptr<BurnDrive> drive = BurnDrive::acquire(driveAddress(), m_lastError);
  if (!drive) {
    code = BurnResult::NoRecorder;
    return false;
  }

  const fs::path staged = stagedCopyPath(stagingFolder(), imagePath.filename());
  guard.arm(staged, partialCopyPath(staged));
  const std::function<bool()> stop = [&progress] {
    return StagedCopyGuard::stopRequested() || (progress.cancelRequested && progress.cancelRequested());
  };
  if (!copyIntoStaging(imagePath, staged, progress.copyPercent, stop, m_lastError)) {
    code = BurnResult::CopyFailed;
    return false;
  }

  // Both back ends report 0 % just before the medium is first written to.
  bool started = false;
  const std::function<void(int)> burnPercent = [&progress, &started](int percent) {
    started = true;
    if (progress.burnPercent) progress.burnPercent(percent);
  };
#ifdef _WIN32
  drive->writeCheck().level = m_verifyLevel;
#endif
  const bool wrote = drive->writeImage(staged, burnPercent, stop, m_lastError);
  std::error_code ignored;
  fs::remove(staged, ignored);  // the copy was ours alone; a failure to delete it changes no result
  if (!wrote && started) {
    m_discState = drive->mediumErasable() ? DiscState::UnknownRewritable : DiscState::UnknownWriteOnce;
    // Kept for eraseDisc, unless a signal ends the process: it must find the drive released.
    if (m_discState == DiscState::UnknownRewritable && !StagedCopyGuard::stopRequested()) m_erasable = std::move(drive);
  }
  if (wrote) {
    m_burnedAddress = drive->address();
#ifdef _WIN32
    m_windowsCheck.checkedByWindows = drive->writeCheck().level;
    m_windowsCheck.outcome = drive->writeCheck().failed ? VerifyOutcome::Differs : VerifyOutcome::Matches;
#endif
  }
  drive.reset();
  if (!wrote) {
    code = BurnResult::Failed;
    return false;
  }
  return true;
}

VerifyResult DiscBurner::verifyDisc(const fs::path& imagePath, const std::function<void(int)>& percent,
                                    const std::function<bool()>& cancelRequested) {
  const std::lock_guard<std::mutex> lock(g_burnMutex);
  VerifyResult result;
#ifdef _WIN32
  // The recording service checked the disc as part of the write; its verdict is all there is.
  result.outcome = VerifyOutcome::DiscUnreadable;
  if (m_burnedAddress.empty()) {
    result.reason = "no burn has written a disc to check";
    return result;
  }
  if (m_windowsCheck.checkedByWindows == VerifyLevel::None) {
    result.reason = "the burn was not verified by Windows, and this program cannot read a disc back on Windows";
    return result;
  }
  static_cast<void>(imagePath), static_cast<void>(percent), static_cast<void>(cancelRequested);
  return m_windowsCheck;
#else
  std::unique_ptr<FileBlockReader> image = FileBlockReader::open(imagePath, result.reason);
  if (!image) {
    result.outcome = VerifyOutcome::ImageUnreadable;
    return result;
  }
  result.outcome = VerifyOutcome::DiscUnreadable;
  if (m_burnedAddress.empty()) {
    result.reason = "no burn has written a disc to read back";
    return result;
  }
  // Grabbed afresh: the drive then reports the medium as it is now, closed, not as the write left it.
  const std::unique_ptr<BurnDrive> drive = BurnDrive::acquireForReading(m_burnedAddress, result.reason);
  if (!drive) return result;
  const std::unique_ptr<BlockReader> disc = drive->mediumReader(result.reason);
  if (!disc) return result;
  return compareWithImage(*image, *disc, percent, cancelRequested);
#endif
}

bool DiscBurner::eraseDisc(const std::function<void(int)>& percent) {
  const std::lock_guard<std::mutex> lock(g_burnMutex);
  m_lastError.clear();
  if (!m_erasable) {
    m_lastError = "No rewritable disc is waiting to be erased";
    return false;
  }
  const bool erased = m_erasable->erase(percent, m_lastError);
  m_erasable.reset();
  if (erased) m_discState = DiscState::Untouched;
  return erased;
}

}  // namespace umbra
