// cdimage on Windows: the same command line as the libisofs build, with the system's image maker
// (IMAPI2FS) doing the layout. See MakerOptions.cpp for the options.
#include <string>

#include "CommandStart.h"
#include "FolderImageMaker.h"
#include "ImageHiding.h"
#include "ImapiFileSystemImage.h"
#include "Platform.h"
#include "VolumeLabel.h"
#include "cli/Platform.h"

int main(int argc, char** argv) {
  using namespace cdimage;
  int status = 0;
  const std::optional<MakerOptions> options = startCommand(argc, argv, status);
  if (!options) return status;
  // Refused before the service is asked, so the answer is the same on every machine.
  if (const std::string refusal = FolderImageMaker::unsupportedOption(*options, ImapiFileSystemImage::serviceLimits());
      !refusal.empty())
    return fail(refusal);

  if (const std::string text = imapiVolumeNameNote(options->label); !text.empty()) note(text);
  installStopHandler();
  const com::Apartment apartment;
  if (FAILED(apartment.result())) return fail("COM cannot start: " + com::describeResult(apartment.result()));
  std::string error;
  const std::unique_ptr<ImapiFileSystemImage> service = ImapiFileSystemImage::open(&error);
  if (!service) return fail(error);
  FolderImageMaker maker(*options, *service, umbra::cli::textStream(stdout));
  if (!maker.make(&error)) return fail(error);
  if (maker.hidFiles()) note(hiddenFileNotice());
  return 0;
}
