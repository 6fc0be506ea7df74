// cdimage: makes an ISO 9660 + Joliet image from a folder, laid out by libisofs. See
// MakerOptions.cpp for the options.
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "CommandStart.h"
#include "FolderImageMaker.h"
#include "ImageHiding.h"
#include "LibisofsFileSystemImage.h"
#include "Platform.h"

int main(int argc, char** argv) {
  using namespace cdimage;
  int status = 0;
  const std::optional<MakerOptions> options = startCommand(argc, argv, status);
  if (!options) return status;

  installStopHandler();
  std::string error;
  const std::unique_ptr<LibisofsFileSystemImage> image =
      LibisofsFileSystemImage::open(options->keepCase, options->time, &error);
  if (!image) return fail(error);
  FolderImageMaker maker(*options, *image, std::cout);
  if (!maker.make(&error)) return fail(error);
  if (maker.hidFiles()) note(hiddenFileNotice());
  return 0;
}
