#include "StagedCopyGuard.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <wchar.h>
// The wide form: the narrow _unlink reads the ANSI code page, which lacks most letters of a user's name.
#define UMBRA_UNLINK _wunlink
#else
#include <unistd.h>
#define UMBRA_UNLINK unlink
#endif

namespace umbra {

namespace {

using Handler = void (*)(int);

constexpr int kSignals[] = {
    SIGINT,
    SIGTERM,
#ifdef SIGHUP
    SIGHUP,
#endif
};
constexpr size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];
constexpr size_t kPathLength = 4096;
using PathChar = std::filesystem::path::value_type;

// The paths in the system's own form (UTF-16 on Windows), so the handler converts nothing.
// Written before the handlers go in, only read by them.
PathChar g_stagedPath[kPathLength];
PathChar g_partialPath[kPathLength];
Handler g_previous[kSignalCount];
volatile std::sig_atomic_t g_signal = 0;

extern "C" void OnStopSignal(int signal) {
  if (g_signal != 0) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  g_signal = signal;
  const int savedErrno = errno;
  // unlink is safe in a handler; libburn reads the copy through a descriptor it already holds.
  UMBRA_UNLINK(g_partialPath);
  UMBRA_UNLINK(g_stagedPath);
  errno = savedErrno;
}

void copyPath(PathChar (&into)[kPathLength], const std::filesystem::path& path) {
  const std::filesystem::path::string_type& text = path.native();
  // A path too long to hold is left out rather than cut into another file's name.
  into[0] = 0;
  if (text.size() < kPathLength) std::memcpy(into, text.c_str(), (text.size() + 1) * sizeof(PathChar));
}

}  // namespace

void StagedCopyGuard::arm(const std::filesystem::path& stagedCopy, const std::filesystem::path& partialCopy) {
  if (m_armed) return;
  copyPath(g_stagedPath, stagedCopy);
  copyPath(g_partialPath, partialCopy);
  g_signal = 0;
  for (size_t i = 0; i < kSignalCount; ++i) {
    g_previous[i] = std::signal(kSignals[i], OnStopSignal);
    // A signal the program was told to ignore (nohup) stays ignored.
    if (g_previous[i] == SIG_IGN) std::signal(kSignals[i], SIG_IGN);
  }
  m_armed = true;
}

StagedCopyGuard::~StagedCopyGuard() {
  if (!m_armed) return;
  for (size_t i = 0; i < kSignalCount; ++i) {
    if (g_previous[i] != SIG_ERR) std::signal(kSignals[i], g_previous[i]);
  }
  const int pending = g_signal;
  g_signal = 0;
  if (pending != 0) std::raise(pending);
}

bool StagedCopyGuard::stopRequested() { return g_signal != 0; }

}  // namespace umbra
