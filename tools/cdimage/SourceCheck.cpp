#include "SourceCheck.h"

#include "base/PathText.h"

namespace cdimage {

namespace {
const char* momentText(Moment moment) {
  return moment == Moment::BeforeRead ? "before it was read" : "while it was read";
}
}  // namespace

std::string countText(uint64_t n) {
  std::string digits = std::to_string(n);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

std::string describeChange(const FileState& before, const FileState& after, Moment moment) {
  const std::string when = momentText(moment);
  if (after.volume != before.volume || after.index != before.index) return "was replaced by another file " + when;
  if (after.size > before.size)
    return "grew from " + countText(before.size) + " to " + countText(after.size) + " bytes " + when;
  if (after.size < before.size)
    return "shrank from " + countText(before.size) + " to " + countText(after.size) + " bytes " + when;
  // The same size: a rewrite shows in the times (one put back by hand still moves the change time).
  if (after.modified != before.modified || after.changed != before.changed) return "was changed " + when;
  return {};
}

std::string describeRemoval(Moment moment) { return std::string("was removed ") + momentText(moment); }

std::string describeShortRead(uint64_t got, uint64_t size) {
  return "read " + countText(got) + " of " + countText(size) + " bytes";
}

void SourceProblems::add(const std::filesystem::path& file, const std::string& what) {
  const std::lock_guard<std::mutex> lock(m_mutex);
  if (++m_count <= kNamedFiles) m_named.push_back(umbra::utf8FromPath(file) + ": " + what);
}

bool SourceProblems::empty() const {
  const std::lock_guard<std::mutex> lock(m_mutex);
  return m_count == 0;
}

std::string SourceProblems::message() const {
  const std::lock_guard<std::mutex> lock(m_mutex);
  std::string text;
  for (const std::string& line : m_named) text += line + "; ";
  if (m_count > m_named.size()) {
    const size_t more = m_count - m_named.size();
    text += "and " + countText(more) + (more == 1 ? " more file" : " more files") + " like these; ";
  }
  return text + "the image was not written, since it would not hold " +
         (m_count == 1 ? "this file as it is" : "these files as they are");
}

}  // namespace cdimage
