#include "Platform.h"

#include <csignal>

namespace cdimage {
namespace {
volatile std::sig_atomic_t g_stop = 0;

extern "C" void onStopSignal(int) { g_stop = 1; }
}  // namespace

bool toLocalCalendar(std::time_t time, std::tm* out) {
#ifdef _WIN32
  return localtime_s(out, &time) == 0;
#else
  return localtime_r(&time, out) != nullptr;
#endif
}

bool toUtcCalendar(std::time_t time, std::tm* out) {
#ifdef _WIN32
  return gmtime_s(out, &time) == 0;
#else
  return gmtime_r(&time, out) != nullptr;
#endif
}

void installStopHandler() {
  std::signal(SIGTERM, onStopSignal);
  std::signal(SIGINT, onStopSignal);
}

bool stopRequested() { return g_stop != 0; }

}  // namespace cdimage
