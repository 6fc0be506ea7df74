#include "BurnCommand.h"

#include "DiscBurner.h"
#include "base/PathText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <system_error>

namespace umbra {

namespace {

constexpr int kExitBurned = 0;
constexpr int kExitImageUnreadable = 2;
constexpr int kExitNotBurned = 4;  // also when the disc read back does not match the image
constexpr int kPercentStep = 10;
// This tool does not erase discs; the window offers to after its own burn stops.
#ifdef _WIN32
constexpr char kEraseHint[] =
    "To use it again, erase it: in Explorer, right-click the drive and choose \"Erase this disc\".";
#else
constexpr char kEraseHint[] = "To use it again, erase it: xorriso -outdev DRIVE -blank fast";
#endif

// Prints "<label>: N%" each time the percentage reaches the next step, so a log stays short.
std::function<void(int)> StepPrinter(std::ostream& out, const char* label) {
  return [&out, label, next = 0](int percent) mutable {
    if (percent < next) return;
    out << label << ": " << percent << "%\n" << std::flush;
    next = (percent / kPercentStep + 1) * kPercentStep;
  };
}

// Reads the disc just burned back and prints how it compares with the image.
int verifyBurn(DiscBurner& burner, const std::filesystem::path& image, std::ostream& out, std::ostream& err) {
  const VerifyResult result = burner.verifyDisc(image, StepPrinter(out, "Reading the disc back"));
  // Windows' own check gives a verdict only, no hashes.
  const bool hashed = result.checkedByWindows == VerifyLevel::None;
  if (result.outcome == VerifyOutcome::Matches) {
    out << verifyMessage(result) << '\n';
    if (hashed) out << "SHA-256: " << result.imageSha256 << '\n';
    return kExitBurned;
  }
  err << verifyMessage(result) << '\n';
  if (result.outcome == VerifyOutcome::Differs && hashed)
    err << "SHA-256 of the image: " << result.imageSha256 << "\nSHA-256 of the disc:  " << result.discSha256 << '\n';
  return result.outcome == VerifyOutcome::ImageUnreadable ? kExitImageUnreadable : kExitNotBurned;
}

}  // namespace

int runBurnCommand(const std::string& imagePath, const std::string& driveAddress, std::ostream& out, std::ostream& err,
                   const BurnVerification& verification) {
  const std::filesystem::path image = pathFromUtf8(imagePath);
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(image, error);
  std::FILE* probe = std::filesystem::is_regular_file(status) ? openFile(image, "rb") : nullptr;
  if (!probe) {
    const std::string why = !std::filesystem::exists(status)            ? "no such file"
                            : !std::filesystem::is_regular_file(status) ? "not a file"
                                                                        : std::strerror(errno);
    err << "Cannot open the image " << imagePath << ": " << why << '\n';
    return kExitImageUnreadable;
  }
  std::fclose(probe);

  DiscBurner::removeLeftoverCopies();
  DiscBurner burner;
  burner.setDriveAddress(driveAddress);
  BurnProgress progress;
  progress.copyPercent = StepPrinter(out, "Copying to the staging folder");
  progress.burnPercent = StepPrinter(out, "Writing to the disc");
  // Windows checks the disc as part of the write, so the level is chosen before it.
  burner.setVerifyLevel(verification.enabled ? verification.level : VerifyLevel::None);
  BurnResult code = BurnResult::Succeeded;
  if (burner.burnFile(image, code, progress)) {
    out << burnResultMessage(code) << '\n';
    if (!verification.enabled) return kExitBurned;
    if (verification.beforeReadBack) verification.beforeReadBack();
    return verifyBurn(burner, image, out, err);
  }
  err << burnResultMessage(code) << '\n';
  if (!burner.lastError().empty()) err << burner.lastError() << '\n';
  const DiscState state = burner.discStateAfterBurn();
  if (state != DiscState::Untouched) err << discStateMessage(state) << '\n';
  if (state == DiscState::UnknownRewritable) err << kEraseHint << '\n';
  return kExitNotBurned;
}

}  // namespace umbra
