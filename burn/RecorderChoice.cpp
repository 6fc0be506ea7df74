#include "RecorderChoice.h"

#include <algorithm>

namespace umbra {

namespace {

// Drive letters, device paths and product names are ASCII; other letters must match exactly.
bool sameIgnoringCase(const std::string& a, const std::string& b) {
  const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
           return lower(static_cast<unsigned char>(x)) == lower(static_cast<unsigned char>(y));
         });
}

bool names(DiscRecorderService& service, const std::string& id, const std::string& address) {
  if (sameIgnoringCase(id, address)) return true;
  std::string wanted = address;
  if (wanted.size() == 2 && wanted[1] == ':') wanted += '\\';  // "E:" means the volume "E:\"
  for (const std::string& name : service.recorderNames(id))
    if (sameIgnoringCase(name, wanted)) return true;
  return false;
}

}  // namespace

std::string chooseRecorder(DiscRecorderService& service, const std::string& address, std::string& reason) {
  std::vector<std::string> ids;
  if (!service.listRecorders(ids, reason)) return {};
  if (!address.empty()) {
    for (const std::string& id : ids) {
      if (!names(service, id, address)) continue;
      std::string why;
      if (service.hasWritableMedium(id, why)) return id;
      reason = address + ": " + why;
      return {};
    }
    reason = address + ": no such recorder";
    return {};
  }
  if (ids.empty()) {
    reason = "no recorder found";
    return {};
  }
  std::string problems;
  for (const std::string& id : ids) {
    std::string why;
    if (service.hasWritableMedium(id, why)) return id;
    problems += (problems.empty() ? "" : "; ") + why;
  }
  reason = "no recorder holds a writable medium (" + problems + ")";
  return {};
}

}  // namespace umbra
