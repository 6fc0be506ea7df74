#pragma once
// The few calls that differ between systems: calendar conversions, the process id, stop signals,
// opening files by a path that may hold any letter, and what a file is at one moment.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "SourceCheck.h"
#include "base/ProcessId.h"

namespace cdimage {

bool toLocalCalendar(std::time_t time, std::tm* out);
bool toUtcCalendar(std::time_t time, std::tm* out);
using umbra::currentProcessId;

// After this, a termination request (SIGTERM, SIGINT) only sets a flag that stopRequested() reads,
// so the maker can remove its temporary file before it ends.
void installStopHandler();
bool stopRequested();

// Binary stdio streams; null with errno set on failure. createNewFile never opens a file that
// exists already, so nothing there is ever truncated.
std::FILE* openToRead(const std::filesystem::path& path);
std::FILE* createNewFile(const std::filesystem::path& path);

// The state of the file at path, symbolic links followed. A file that is not there gives
// std::errc::no_such_file_or_directory on every system.
std::error_code fileStateOf(const std::filesystem::path& path, FileState* state);

}  // namespace cdimage
