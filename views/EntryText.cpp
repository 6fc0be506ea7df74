#include "views/EntryText.h"

#include <algorithm>
#include <cstdio>

namespace umbra {

namespace {
// Writes n (below 1000) without leading zeros; returns the position after it.
char* putSmallNumber(char* out, unsigned n) {
  if (n >= 100) *out++ = static_cast<char>('0' + n / 100);
  if (n >= 10) *out++ = static_cast<char>('0' + n / 10 % 10);
  *out++ = static_cast<char>('0' + n % 10);
  return out;
}
}  // namespace

const char* stateText(FolderState state) {
  switch (state) {
    case FolderState::Hidden: return "Hidden";
    case FolderState::Mixed: return "Partly hidden";
    default: return "Normal";
  }
}

const char* stateName(FolderState state) {
  switch (state) {
    case FolderState::Hidden: return "hidden";
    case FolderState::Mixed: return "mixed";
    default: return "normal";
  }
}

// Written by hand because a listing of a large image formats hundreds of thousands of these.
std::string modifiedText(const EntryDate& date) {
  char text[32];
  const unsigned year = std::min<unsigned>(date.year, 9999);
  char* out = text;
  *out++ = static_cast<char>('0' + year / 1000);
  *out++ = static_cast<char>('0' + year / 100 % 10);
  *out++ = static_cast<char>('0' + year / 10 % 10);
  *out++ = static_cast<char>('0' + year % 10);
  *out++ = '-';
  out = putSmallNumber(out, date.month);
  *out++ = '-';
  out = putSmallNumber(out, date.day);
  *out++ = ' ';
  out = putSmallNumber(out, date.hour);
  *out++ = ':';
  out = putSmallNumber(out, date.minute);
  return std::string(text, out);
}

std::string isoDateText(const EntryDate& date) {
  char text[40];
  const unsigned year = std::min<unsigned>(date.year, 9999);
  int n = std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", year, unsigned{date.month},
                        unsigned{date.day}, unsigned{date.hour}, unsigned{date.minute}, unsigned{date.second});
  if (date.hasOffset) {
    const int minutes = date.offsetMinutes < 0 ? -date.offsetMinutes : date.offsetMinutes;
    n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "%c%02d:%02d",
                       date.offsetMinutes < 0 ? '-' : '+', minutes / 60, minutes % 60);
  }
  return std::string(text, static_cast<size_t>(n));
}

}  // namespace umbra
