// cdimage: makes an ISO 9660 + Joliet image from a folder, laid out by libisofs. See
// MakerOptions.cpp for the options.
#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "FolderImageMaker.h"
#include "ImageHiding.h"
#include "LibisofsFileSystemImage.h"
#include "MakerOptions.h"
#include "Platform.h"

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "cdimage: %s\n", message.c_str());
  return 1;
}

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
  const std::unique_ptr<LibisofsFileSystemImage> image =
      LibisofsFileSystemImage::open(options.keepCase, options.time, &error);
  if (!image) return fail(error);
  FolderImageMaker maker(options, *image, std::cout);
  if (!maker.make(&error)) return fail(error);
  if (maker.hidFiles()) std::fprintf(stderr, "cdimage: note: %s\n", hiddenFileNotice());
  return 0;
}
