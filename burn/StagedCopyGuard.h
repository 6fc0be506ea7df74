#pragma once

#include <filesystem>

namespace umbra {

// Keeps an interrupted burn from leaving its staged copy behind. While armed, SIGINT, SIGTERM and
// SIGHUP delete the staged copy and its partial file at once and ask the burn to stop
// (stopRequested); a second signal ends the process straight away. When the guard ends, a signal
// that arrived takes its usual course, so the process still ends as it was asked to.
// One guard at a time in a process (burns are serialised).
class StagedCopyGuard {
 public:
  StagedCopyGuard() = default;
  ~StagedCopyGuard();
  StagedCopyGuard(const StagedCopyGuard&) = delete;
  StagedCopyGuard& operator=(const StagedCopyGuard&) = delete;

  void arm(const std::filesystem::path& stagedCopy, const std::filesystem::path& partialCopy);

  // True once a signal arrived while a guard was armed.
  static bool stopRequested();

 private:
  bool m_armed = false;
};

}  // namespace umbra
