// cdimage: makes an ISO 9660 + Joliet image from a folder. See MakerOptions.cpp for the options.
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "ImageWriter.h"
#include "IsoLibrary.h"
#include "MakerOptions.h"
#include "Platform.h"
#include "SourceTree.h"

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "cdimage: %s\n", message.c_str());
  return 1;
}

// Keeps libisofs initialised and the image referenced for the length of a run.
class IsoSession {
 public:
  IsoSession() = default;
  ~IsoSession() {
    if (m_image) iso_image_unref(m_image);
    if (m_initialised) iso_finish();
  }
  IsoSession(const IsoSession&) = delete;
  IsoSession& operator=(const IsoSession&) = delete;

  bool start(const std::string& label, std::string* error) {
    const int result = iso_init();
    if (result < 0) {
      *error = std::string("cannot start libisofs: ") + iso_error_to_msg(result);
      return false;
    }
    m_initialised = true;
    // Names on disk are UTF-8 whatever the locale says; Joliet needs them converted right.
    iso_set_local_charset(const_cast<char*>("UTF-8"), 0);
    // Messages are collected for the one-line report instead of being printed.
    iso_set_msgs_severities(const_cast<char*>("SORRY"), const_cast<char*>("NEVER"),
                            const_cast<char*>("cdimage"));
    iso_set_abort_severity(const_cast<char*>("SORRY"));
    const int created = iso_image_new(label.c_str(), &m_image);
    if (created < 0) {
      *error = iso_error_to_msg(created);
      return false;
    }
    return true;
  }
  IsoImage* image() const { return m_image; }

 private:
  bool m_initialised = false;
  IsoImage* m_image = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace cdimage;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const ParsedCommandLine parsed = parseCommandLine(args, std::time(nullptr));
  if (parsed.showHelp) {
    std::fputs(helpText(), stdout);
    return 0;
  }
  if (parsed.showVersion) {
    std::puts("cdimage " UMBRA_VERSION);
    return 0;
  }
  if (!parsed.error.empty()) return fail(parsed.error);
  const MakerOptions& options = parsed.options;

  installStopHandler();

  std::string error;
  IsoSession session;
  if (!session.start(options.label, &error)) return fail(error);
  SourceTree tree(session.image(), options.time);
  tree.keepClearOf(options.target);
  if (!tree.addFolderContent(options.source, &error)) return fail(error);
  if (options.bootFile && !tree.addBootImage(*options.bootFile, &error)) return fail(error);
  ImageWriter writer(options);
  if (!writer.write(session.image(), &error)) return fail(error);
  return 0;
}
