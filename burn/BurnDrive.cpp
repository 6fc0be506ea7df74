#include "BurnDrive.h"

#include "BlockReader.h"

#include <libburn/libburn.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

namespace umbra {

using namespace burn;

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);
// A drive may need a while to spin up and identify a freshly inserted medium.
constexpr auto kMediumWait = std::chrono::seconds(30);
constexpr char kPseudoDrivePrefix[] = "stdio:";
constexpr int kDataBlockSize = 2048;
// A 4 MiB buffer in front of the drive keeps the data flowing while the staged copy is read.
constexpr int kFifoChunks = 2048;
constexpr int kPercentDone = 100;
// The notice follows the idle state within milliseconds, but much later on a loaded machine; freeing
// the job before it would let the thread touch freed memory.
constexpr auto kThreadEndWait = std::chrono::seconds(10);
constexpr auto kThreadEndPoll = std::chrono::milliseconds(2);
// Its last two steps (leaving the worker list, the idle state) follow the notice; on a loaded machine
// they may wait for the scheduler.
constexpr auto kThreadEndGrace = std::chrono::milliseconds(200);

// Passes on the percent of the sectors done, held below 100 (what follows the last sector, lead-out
// and closing, takes its time) and only when it grew.
void reportProgress(const burn_progress& progress, const std::function<void(int)>& percent, int& shown) {
  if (progress.sectors <= 0 || !percent) return;
  const auto done = static_cast<long long>(progress.sector) * kPercentDone / progress.sectors;
  const int now = static_cast<int>(std::min<long long>(kPercentDone - 1, done));
  if (now > shown) {
    shown = now;
    percent(now);
  }
}

enum burn_disc_status waitForMedium(burn_drive* drive) {
  const auto deadline = std::chrono::steady_clock::now() + kMediumWait;
  enum burn_disc_status status = burn_disc_get_status(drive);
  while (status == BURN_DISC_UNREADY && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kPollInterval);
    status = burn_disc_get_status(drive);
  }
  return status;
}

// The drive reads idle a moment before libburn's write thread has let go of the drive and the job;
// releasing either earlier makes the next write be refused, or the thread touch freed memory. A job
// that was refused has no thread and sends no notice; it costs the whole wait, but only a busy or
// unsuitable drive meets that, and a job that ended early cannot be told from it safely.
void waitForWriteThread(LibburnMessages& messages) {
  const auto deadline = std::chrono::steady_clock::now() + kThreadEndWait;
  LibburnSession::collect(messages);
  while (!messages.writeThreadEnded && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kThreadEndPoll);
    LibburnSession::collect(messages);
  }
  if (messages.writeThreadEnded) std::this_thread::sleep_for(kThreadEndGrace);  // its last two steps follow the notice
}

std::string withLibraryProblem(const std::string& what) {
  const std::string detail = LibburnSession::takeProblem();
  return detail.empty() ? what : what + ": " + detail;
}

long long fileSize(const std::filesystem::path& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  return error ? 0 : static_cast<long long>(size);
}

// Frees everything a write job owns, on every path out of writeImage.
struct WriteJob {
  burn_source* file = nullptr;
  burn_source* fifo = nullptr;
  burn_disc* disc = nullptr;
  burn_track* track = nullptr;
  burn_write_opts* opts = nullptr;

  ~WriteJob() {
    if (track) burn_track_free(track);
    if (opts) burn_write_opts_free(opts);
    if (disc) burn_disc_free(disc);
    if (fifo) burn_source_free(fifo);
    if (file) burn_source_free(file);
  }
};

// Whether a medium in this state can be read back: a written one, or a "blank" one, since libburn
// reports overwritable media (DVD+RW, DVD-RAM, BD-RE) blank with or without data on them.
bool readableMedium(enum burn_disc_status status) {
  return status == BURN_DISC_BLANK || status == BURN_DISC_APPENDABLE || status == BURN_DISC_FULL;
}

// The medium of a grabbed drive, read through libburn (on the stdio: pseudo-drive, from its file).
class MediumReader : public BlockReader {
 public:
  MediumReader(burn_drive* drive, std::string address, std::uint64_t size)
      : m_drive(drive), m_address(std::move(address)), m_size(size) {}

  std::uint64_t size() const override { return m_size; }

  bool read(std::uint64_t offset, std::span<std::uint8_t> into, std::string& reason) override {
    off_t count = 0;
    if (burn_read_data(m_drive, static_cast<off_t>(offset), reinterpret_cast<char*>(into.data()),
                       static_cast<off_t>(into.size()), &count, 0) == 1 &&
        count == static_cast<off_t>(into.size()))
      return true;
    const std::uint64_t failedBlock = (offset + static_cast<std::uint64_t>(std::max<off_t>(count, 0))) / kDataBlockSize;
    reason = withLibraryProblem("Reading block " + std::to_string(failedBlock) + " of the medium in " + m_address +
                                " failed");
    return false;
  }

 private:
  burn_drive* m_drive;
  std::string m_address;
  std::uint64_t m_size;
};

}  // namespace

std::unique_ptr<BurnDrive> BurnDrive::acquire(const std::string& address, std::string& reason) {
  std::unique_ptr<BurnDrive> drive(new BurnDrive);
  if (!drive->m_session.isReady()) {
    reason = "libburn cannot be initialised";
    return nullptr;
  }
  const bool grabbed = address.empty() ? drive->grabFirstWritable(reason) : drive->grabAddress(address, true, reason);
  if (!grabbed) return nullptr;
  return drive;
}

std::unique_ptr<BurnDrive> BurnDrive::acquireForReading(const std::string& address, std::string& reason) {
  std::unique_ptr<BurnDrive> drive(new BurnDrive);
  if (!drive->m_session.isReady()) {
    reason = "libburn cannot be initialised";
    return nullptr;
  }
  if (!drive->grabAddress(address, false, reason)) return nullptr;
  return drive;
}

std::string BurnDrive::address() const {
  char adr[BURN_DRIVE_ADR_LEN] = {};
  if (burn_drive_d_get_adr(m_drive, adr) <= 0) return {};
  // libburn gives a pseudo-drive's bare path, which it would take for a device when grabbing again.
  constexpr int kRoleMmcDrive = 1;
  return burn_drive_get_drive_role(m_drive) == kRoleMmcDrive ? std::string(adr) : kPseudoDrivePrefix + std::string(adr);
}

std::unique_ptr<BlockReader> BurnDrive::mediumReader(std::string& reason) {
  LibburnSession::takeProblem();  // only what the reading reports counts below
  int blocks = 0;
  if (burn_get_read_capacity(m_drive, &blocks, 0) != 1 || blocks < 0) {
    reason = withLibraryProblem("Cannot tell how much of the medium in " + address() + " can be read");
    return nullptr;
  }
  return std::make_unique<MediumReader>(m_drive, address(), static_cast<std::uint64_t>(blocks) * kDataBlockSize);
}

BurnDrive::~BurnDrive() {
  if (m_drive) burn_drive_release(m_drive, 0);
  if (m_infos) burn_drive_info_free(m_infos);
}

bool BurnDrive::grabAddress(const std::string& address, bool blankWanted, std::string& reason) {
  std::string adr = address;
  if (address.rfind(kPseudoDrivePrefix, 0) != 0) {
    // Links such as /dev/cdrom name the same drive as the device libburn lists.
    char converted[BURN_DRIVE_ADR_LEN] = {};
    if (burn_drive_convert_fs_adr(adr.data(), converted) > 0) adr = converted;
  }
  if (burn_drive_scan_and_grab(&m_infos, adr.data(), 1) != 1) {
    if (m_infos) {
      burn_drive_info_free(m_infos);
      m_infos = nullptr;
    }
    reason = withLibraryProblem("No drive at " + address);
    return false;
  }
  burn_drive* drive = m_infos[0].drive;
  const enum burn_disc_status status = waitForMedium(drive);
  if (blankWanted ? status != BURN_DISC_BLANK : !readableMedium(status)) {
    burn_drive_release(drive, 0);
    reason = withLibraryProblem("The drive " + address + " holds no " +
                                (blankWanted ? "writable medium" : "medium that can be read back"));
    return false;
  }
  m_drive = drive;
  return true;
}

bool BurnDrive::grabFirstWritable(std::string& reason) {
  unsigned int count = 0;
  const auto deadline = std::chrono::steady_clock::now() + kMediumWait;
  while (burn_drive_scan(&m_infos, &count) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      reason = withLibraryProblem("The search for drives did not finish");
      return false;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  for (unsigned int i = 0; i < count; ++i) {
    burn_drive* drive = m_infos[i].drive;
    if (m_drive || burn_drive_grab(drive, 1) != 1) {
      // Drives we do not use are let go at once so other programs may open them.
      burn_drive_info_forget(&m_infos[i], 0);
      continue;
    }
    if (waitForMedium(drive) == BURN_DISC_BLANK)
      m_drive = drive;
    else
      burn_drive_release(drive, 0);
  }
  if (!m_drive) {
    reason = withLibraryProblem(count == 0 ? "No drive found" : "No drive holds a writable medium");
    return false;
  }
  return true;
}

namespace {

// The job that writes the image file as the medium's one data track and closes the medium; false
// with the reason when the file, the track or the medium will not do.
bool prepareWriteJob(burn_drive* drive, const std::string& path, WriteJob& job, std::string& reason) {
  job.file = burn_file_source_new(path.c_str(), nullptr);
  if (!job.file) {
    reason = withLibraryProblem("Cannot read " + path);
    return false;
  }
  job.fifo = burn_fifo_source_new(job.file, kDataBlockSize, kFifoChunks, 0);
  job.disc = burn_disc_create();
  burn_session* session = burn_session_create();
  burn_track* track = burn_track_create();
  // Mode 1 data, padded with zeros to whole blocks: the image becomes the medium's file system as it is.
  burn_track_define_data(track, 0, 0, 1, BURN_MODE1);
  const bool sourceSet = job.fifo && burn_track_set_source(track, job.fifo) == BURN_SOURCE_OK;
  burn_session_add_track(session, track, BURN_POS_END);
  burn_disc_add_session(job.disc, session, BURN_POS_END);
  burn_session_free(session);  // the disc holds its own reference now
  job.track = track;           // kept for its byte counters
  if (!sourceSet) {
    reason = withLibraryProblem("Cannot prepare the data track from " + path);
    return false;
  }

  job.opts = burn_write_opts_new(drive);
  burn_write_opts_set_multi(job.opts, 0);  // close the medium: the image is a complete file system
  burn_write_opts_set_underrun_proof(job.opts, 1);
  char reasons[BURN_REASONS_LEN] = {};
  if (burn_write_opts_auto_write_type(job.opts, job.disc, reasons, 0) == BURN_WRITE_NONE) {
    reason = std::string("The medium cannot take this image: ") + reasons;
    return false;
  }
  return true;
}

// How a write job went, as the drive and libburn's messages tell it.
struct WriteRun {
  bool started = false;
  bool cancelled = false;
  LibburnMessages messages;
};

// Runs the job to its end, with progress, passing a cancel on to the drive.
WriteRun runWriteJob(burn_drive* drive, WriteJob& job, const std::function<void(int)>& percent,
                     const std::function<bool()>& cancelRequested) {
  WriteRun run;
  if (percent) percent(0);
  LibburnSession::takeProblem();  // only what the write itself reports counts below
  burn_disc_write(job.opts, job.disc);
  // A job libburn refuses never leaves the idle state (its write flag may still read "well") and
  // says why before burn_disc_write returns. An accepted job reads busy at once, unless a short one
  // has already run (and perhaps failed) while this thread waited for the processor: then its
  // thread may still be ending, and only its end notice tells, so it is waited for in full.
  const bool busy = burn_drive_get_status(drive, nullptr) != BURN_DRIVE_IDLE;
  LibburnSession::collect(run.messages);
  run.started = busy || run.messages.writeThreadEnded || run.messages.firstProblem.empty();
  int shown = 0;
  burn_progress progress{};
  while (burn_drive_get_status(drive, &progress) != BURN_DRIVE_IDLE) {
    LibburnSession::collect(run.messages);
    if (!run.cancelled && cancelRequested && cancelRequested()) {
      burn_drive_cancel(drive);
      run.cancelled = true;
    }
    reportProgress(progress, percent, shown);
    std::this_thread::sleep_for(kPollInterval);
  }
  waitForWriteThread(run.messages);
  return run;
}

}  // namespace

bool BurnDrive::writeImage(const std::filesystem::path& imagePath, const std::function<void(int)>& percent,
                           const std::function<bool()>& cancelRequested, std::string& reason) {
  LibburnSession::takeProblem();  // drop what the drive search left behind
  WriteJob job;
  const std::string path = imagePath.string();
  if (!prepareWriteJob(m_drive, path, job, reason)) return false;
  if (cancelRequested && cancelRequested()) {
    reason = "The burn was cancelled";
    return false;
  }
  const WriteRun run = runWriteJob(m_drive, job, percent, cancelRequested);

  off_t readBytes = 0;
  off_t writtenBytes = 0;
  burn_track_get_counters(job.track, &readBytes, &writtenBytes);
  const long long imageBytes = fileSize(imagePath);
  const bool complete = writtenBytes >= static_cast<off_t>(imageBytes);
  if (!run.started || !burn_drive_wrote_well(m_drive) || !complete) {
    if (run.cancelled)
      reason = "The burn was cancelled";
    else if (!run.messages.firstProblem.empty())
      reason = "Writing " + path + " failed: " + run.messages.firstProblem;
    else
      reason = "Writing " + path + " failed: " + std::to_string(writtenBytes) + " of " + std::to_string(imageBytes) +
               " bytes written";
    return false;
  }
  if (percent) percent(kPercentDone);
  return true;
}

bool BurnDrive::mediumErasable() { return burn_disc_erasable(m_drive) == 1; }

bool BurnDrive::erase(const std::function<void(int)>& percent, std::string& reason) {
  LibburnSession::takeProblem();  // only what the erase itself reports counts below
  if (!mediumErasable()) {
    reason = "The medium in the drive cannot be erased";
    return false;
  }
  if (percent) percent(0);
  burn_disc_erase(m_drive, 1);  // fast: the medium's table of contents only
  int shown = 0;
  burn_progress progress{};
  while (burn_drive_get_status(m_drive, &progress) != BURN_DRIVE_IDLE) {
    reportProgress(progress, percent, shown);
    std::this_thread::sleep_for(kPollInterval);
  }
  if (!burn_drive_wrote_well(m_drive)) {
    reason = withLibraryProblem("Erasing the disc failed");
    return false;
  }
  if (percent) percent(kPercentDone);
  return true;
}

}  // namespace umbra
