#pragma once
// The few calls that differ between systems: calendar conversions, the process id, stop signals.
#include <ctime>

#include "base/ProcessId.h"

namespace cdimage {

bool toLocalCalendar(std::time_t time, std::tm* out);
bool toUtcCalendar(std::time_t time, std::tm* out);
using umbra::currentProcessId;

// After this, a termination request (SIGTERM, SIGINT) only sets a flag that stopRequested() reads,
// so the maker can remove its temporary file before it ends.
void installStopHandler();
bool stopRequested();

}  // namespace cdimage
