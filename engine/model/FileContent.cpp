// What the tree readers share when they describe a file's bytes and dates.
#include <algorithm>

#include "engine/model/TreeReader.h"

namespace umbra {

int64_t secondsSinceEpoch(int year, int month, int day, int hour, int minute, int second) {
  // Days from 1970-01-01, counting years from March so that the leap day falls last.
  const int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yearOfEra = y - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const int64_t days = era * 146097 + dayOfEra - 719468;
  return days * 86400 + hour * 3600 + minute * 60 + second;
}

std::string runsProblem(const std::vector<DataRun>& runs, uint64_t imageSize) {
  std::vector<std::pair<uint64_t, uint64_t>> spans;
  for (const DataRun& run : runs) {
    if (run.zeros || run.length == 0) continue;
    if (run.offset > imageSize || run.length > imageSize - run.offset) return "its data lies past the end of the image";
    spans.emplace_back(run.offset, run.offset + run.length);
  }
  std::sort(spans.begin(), spans.end());
  for (size_t i = 1; i < spans.size(); ++i)
    if (spans[i].first < spans[i - 1].second) return "its extents overlap";
  return {};
}

}  // namespace umbra
