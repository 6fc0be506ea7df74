#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

class BurnDrive;

// The burn back end: plain C++ and libburn, no Qt, so the command line tool links neither.

enum BurnResultCode { BURN_SUCCESS = 0, BURN_NO_RECORDER = 1, BURN_COPY_FAILED = 2, BURN_FAILED = 3 };

// The text the user sees for a result code.
std::string BurnResultMessage(int code);

// True when the burning library can be initialised on this system.
bool IsBurnAvailable();

// Progress of one burn. The callbacks run on the thread that called BurnFile; any may be empty.
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
std::string DiscStateMessage(DiscState state);

// Burns one image file as the data track of a blank medium: finds the recorder, copies the image
// into the staging folder, burns the copy and deletes it again, also when SIGINT or SIGTERM ends the
// burn (the process then ends by that signal once the drive is released). The image file itself
// is only read.
class CCDBurner {
 public:
  CCDBurner();
  ~CCDBurner();  // releases a drive kept for EraseDisc
  CCDBurner(const CCDBurner&) = delete;
  CCDBurner& operator=(const CCDBurner&) = delete;

  // Names the drive explicitly (a device or libburn's stdio:/path pseudo-drive); empty restores the
  // default: $UMBRADISC_BURN_DRIVE, then the setting "BurnDrive", then the first drive with a writable medium.
  void SetDriveAddress(const std::string& address) { m_strDriveAddress = address; }

  // Blocks until the burn has ended. code receives a BurnResultCode; true only with BURN_SUCCESS.
  // Burns run one at a time in a process; a second caller waits.
  bool BurnFile(const std::filesystem::path& imagePath, int& code, const BurnProgress& progress = {});

  // What the last BurnFile that failed left on the medium. After UnknownRewritable the drive stays
  // held (no other program can use it) until EraseDisc or until this object ends.
  DiscState DiscStateAfterBurn() const { return m_discState; }

  // Quickly erases the rewritable medium the last BurnFile left in an unknown state, then releases
  // its drive. False with LastError when there is none or the erase fails.
  bool EraseDisc(const std::function<void(int)>& percent = {});

  // Why the last BurnFile or EraseDisc failed, naming the file or drive; empty after a success.
  const std::string& LastError() const { return m_strLastError; }

  // $UMBRADISC_STAGING_DIR, else the folder "umbradisc/burn" in the user's cache.
  static std::filesystem::path GetStagingFolder();

  // Removes the staged copies that burns ended by a crash left in the staging folder (older than a
  // day, of our naming); called at start-up. Other files there are never touched.
  static void RemoveLeftoverCopies();

 private:
  std::string DriveAddress() const;

  std::string m_strDriveAddress;
  std::unique_ptr<BurnDrive> m_erasable;
  DiscState m_discState = DiscState::Untouched;
  std::string m_strLastError;
};
