#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "BurnVerifier.h"

namespace umbra {

class BurnDrive;

// The burn back end: plain C++ and libburn, no Qt, so the command line tool links neither.

enum class BurnResult { Succeeded, NoRecorder, CopyFailed, Failed };

// The text the user sees for a result code.
std::string burnResultMessage(BurnResult result);

// True when the burning library can be initialised on this system.
bool burnAvailable();

// Progress of one burn. The callbacks run on the thread that called burnFile; any may be empty.
struct BurnProgress {
  std::function<void(int)> copyPercent;   // 0..100 while the image is copied into the staging folder
  std::function<void(int)> burnPercent;   // 0..100 while the staged copy is written to the medium
  std::function<bool()> cancelRequested;  // polled during the copy and the burn; true stops them
};

// What a burn that did not succeed left on the medium.
enum class DiscState {
  Untouched,          // the write never started: the medium is as it was
  UnknownRewritable,  // the write started and stopped; the medium can be erased and used again
  UnknownWriteOnce    // the write started and stopped on a medium that cannot be erased
};

// The line the user sees for a state; empty for an untouched medium.
std::string discStateMessage(DiscState state);

// Burns one image file as the data track of a blank medium: finds the recorder, copies the image
// into the staging folder, burns the copy and deletes it again, also when SIGINT or SIGTERM ends the
// burn (the process then ends by that signal once the drive is released). The image file itself
// is only read.
class DiscBurner {
 public:
  DiscBurner();
  ~DiscBurner();  // releases a drive kept for eraseDisc
  DiscBurner(const DiscBurner&) = delete;
  DiscBurner& operator=(const DiscBurner&) = delete;

  // Names the drive explicitly (a device or libburn's stdio:/path pseudo-drive); empty restores the
  // default: $UMBRADISC_BURN_DRIVE, then the setting "BurnDrive", then the first drive with a writable medium.
  void setDriveAddress(const std::string& address) { m_driveAddress = address; }

  // Whether a recorder with a writable medium answers where burnFile would look for one; the drive
  // is let go again at once. False, with lastError saying why, when none does.
  bool findRecorder();

  // Blocks until the burn has ended. code receives a BurnResult; true only with BurnResult::Succeeded.
  // Burns run one at a time in a process; a second caller waits.
  bool burnFile(const std::filesystem::path& imagePath, BurnResult& code, const BurnProgress& progress = {});

  // Windows only: how thoroughly the recording service checks the disc as part of the next burnFile
  // (None, the default, asks for no check). libburn's burns are checked by verifyDisc alone.
  void setVerifyLevel(VerifyLevel level) { m_verifyLevel = level; }

  // Reads back the medium the last successful burnFile wrote, in the same drive, and compares it with
  // the image (see compareWithImage). Runs one at a time with burns. On Windows it returns the verdict
  // of the recording service's check during that burn instead (checkedByWindows), or says that none
  // was asked for.
  VerifyResult verifyDisc(const std::filesystem::path& imagePath, const std::function<void(int)>& percent = {},
                          const std::function<bool()>& cancelRequested = {});

  // What the last burnFile that failed left on the medium. After UnknownRewritable the drive stays
  // held (no other program can use it) until eraseDisc or until this object ends.
  DiscState discStateAfterBurn() const { return m_discState; }

  // Quickly erases the rewritable medium the last burnFile left in an unknown state, then releases
  // its drive. False with lastError when there is none or the erase fails.
  bool eraseDisc(const std::function<void(int)>& percent = {});

  // Why the last burnFile or eraseDisc failed, naming the file or drive; empty after a success.
  const std::string& lastError() const { return m_lastError; }

  // $UMBRADISC_STAGING_DIR, else the folder "umbradisc/burn" in the user's cache.
  static std::filesystem::path stagingFolder();

  // Removes the staged copies that burns ended by a crash left in the staging folder (older than a
  // day, of our naming); called at start-up. Other files there are never touched.
  static void removeLeftoverCopies();

 private:
  std::string driveAddress() const;

  std::string m_driveAddress;
  std::string m_burnedAddress;  // the drive the last successful burnFile wrote to
  VerifyLevel m_verifyLevel = VerifyLevel::None;
  VerifyResult m_windowsCheck;  // Windows: the check of the last successful burnFile
  std::unique_ptr<BurnDrive> m_erasable;
  DiscState m_discState = DiscState::Untouched;
  std::string m_lastError;
};

}  // namespace umbra
