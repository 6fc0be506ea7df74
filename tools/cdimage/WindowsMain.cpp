// cdimage on Windows: the same command line as the libisofs build, with the system's image maker
// (IMAPI2FS) doing the layout. See MakerOptions.cpp for the options.
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "FolderImageMaker.h"
#include "ImageHiding.h"
#include "ImapiFileSystemImage.h"
#include "MakerOptions.h"
#include "Platform.h"
#include "VolumeLabel.h"
#include "cli/Platform.h"

namespace {

using umbra::cli::writeText;

int fail(const std::string& message) {
  writeText(stderr, "cdimage: " + message + "\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace cdimage;
  umbra::cli::useBinaryOutput();
  const std::vector<std::string> args = umbra::cli::utf8Arguments(argc, argv);
  const ParsedCommandLine parsed = parseCommandLine(args, std::time(nullptr));
  if (parsed.showHelp) {
    writeText(stdout, helpText());
    return 0;
  }
  if (parsed.showVersion) {
    writeText(stdout, "cdimage " UMBRA_VERSION "\n");
    return 0;
  }
  if (!parsed.error.empty()) return fail(parsed.error);
  const MakerOptions& options = parsed.options;
  // Refused before the service is asked, so the answer is the same on every machine.
  if (const std::string refusal = FolderImageMaker::unsupportedOption(options, ImapiFileSystemImage::serviceLimits()); !refusal.empty())
    return fail(refusal);

  if (const std::string note = imapiVolumeNameNote(options.label); !note.empty())
    writeText(stderr, "cdimage: note: " + note + "\n");
  installStopHandler();
  const com::Apartment apartment;
  if (FAILED(apartment.result())) return fail("COM cannot start: " + com::describeResult(apartment.result()));
  std::string error;
  const std::unique_ptr<ImapiFileSystemImage> service = ImapiFileSystemImage::open(&error);
  if (!service) return fail(error);
  FolderImageMaker maker(options, *service, umbra::cli::textStream(stdout));
  if (!maker.make(&error)) return fail(error);
  if (maker.hidFiles()) writeText(stderr, std::string("cdimage: note: ") + hiddenFileNotice() + "\n");
  return 0;
}
