// umbradisc-cli: list, hide and show folders of ISO 9660 images from scripts.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Commands.h"
#include "Platform.h"
#include "base/HeapPages.h"
#include "engine/io/ImageFile.h"
#ifdef UMBRA_WITH_BURN
#include "burn/BurnCommand.h"
#endif

namespace {

const char* const kUsage =
    "Usage: umbradisc-cli COMMAND [OPTIONS] IMAGE [PATH...]\n"
    "       umbradisc-cli --help | --version\n"
    "\n"
    "Hides folders of an ISO 9660 image, in every tree the image has (ISO 9660, Joliet, UDF), before it is\n"
    "burned.\n"
    "\n"
    "Commands:\n"
    "  info [--json] IMAGE           volume identifier, volume descriptors, trees, counts\n"
    "  ls [-R] [--json] IMAGE [PATH] entries of a folder (the root by default); -R: every folder below\n"
    "  extract [--force] IMAGE PATH DEST\n"
    "                                copy a folder (hidden or not) with everything in it into DEST\n"
    "  cat IMAGE FILE                write one file of the image to standard output\n"
    "  hide IMAGE PATH...            hide folders (all paths are checked before anything is written)\n"
    "  show IMAGE PATH...            show folders again (hide and show also repair partly hidden ones)\n"
#ifdef UMBRA_WITH_BURN
    "  burn IMAGE [--drive ADDRESS]  burn the image to a disc (ADDRESS such as /dev/sr0 or stdio:/path)\n"
#ifdef _WIN32
    "       [--verify[=quick|full]]  then have Windows verify the disc against the image (quick unless\n"
    "                                full is asked for)\n"
#else
    "       [--verify]               then read the disc back and compare it with the image (SHA-256)\n"
#endif
#endif
    "\n"
    "A PATH such as /Beta/inner names folders by their name in any tree: the ISO 9660 identifier\n"
    "(\";1\" optional), the Joliet or the UDF name. An exact name wins; a name differing only in case is used\n"
    "when just one entry has it. info, ls, extract and cat open the image read-only and never write to\n"
    "it; they also read a disc or another block device (such as /dev/sr0). hide and show need a writable\n"
    "image file and stamp it as the window does.\n"
    "\n"
    "extract and cat take names from the tree that keeps them best (UDF, Rock Ridge, Joliet, then ISO\n"
    "9660 without \";1\"), and keep sizes beyond 4 GiB and modification dates. extract writes only inside\n"
    "DEST: a name that cannot be a file name there (\"..\", \"/\", NUL, control characters, over 255\n"
    "bytes) is refused or written with \"_\" in place of the bad characters, one line each; an existing\n"
    "entry is never replaced without --force, and a symbolic link already in DEST is never followed.\n"
    "Rock Ridge links are made as links when their target stays inside DEST, else left out with a line.\n"
    "\n"
    "Exit status (when several apply, the lowest):\n"
    "  0  done\n"
    "  1  usage\n"
    "  2  the image cannot be opened or read\n"
    "  3  a PATH is missing, could mean two entries, or is not a folder\n"
    "  4  the burn failed, or the disc read back after --verify does not match the image (or cannot be\n"
    "     read)\n"
    "  5  refused: a folder's twin in a tree of the image may exist but cannot be proven (nothing was\n"
    "     written); a folder that a tree provably lacks is hidden in the trees that hold it\n"
    "  6  a write failed part-way (the message lists what was changed or written)\n"
    "  7  extract left entries out (each named on its own line); the rest was written\n";

#ifndef UMBRA_WITH_BURN
// The status of a failed burn: scripts written for a build with a burner see the burn fail.
constexpr int kBurnUnavailable = 4;
#endif
// What a listing of a DVD-sized image holds at most, besides the read-ahead windows.
constexpr size_t kHeapReserve = 64u << 20;

int usage(const std::string& problem) {
  using umbra::cli::writeText;
  if (!problem.empty()) writeText(stderr, "umbradisc-cli: " + problem + "\n\n");
  writeText(problem.empty() ? stdout : stderr, kUsage);
  return problem.empty() ? umbra::cli::kOk : umbra::cli::kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace umbra::cli;
  umbra::reserveLargeHeapPages(kHeapReserve);
  useBinaryOutput();
  // UMBRA_IO_STATS=1: what the command read from the image, for the benchmarks.
  if (const char* stats = std::getenv("UMBRA_IO_STATS"); stats && std::strcmp(stats, "1") == 0)
    std::atexit([] {
      std::fprintf(stderr, "umbradisc-cli: read %llu bytes in %llu calls; waited %.1f ms for sync\n",
                   static_cast<unsigned long long>(umbra::ImageFile::bytesRead()),
                   static_cast<unsigned long long>(umbra::ImageFile::readCalls()),
                   static_cast<double>(umbra::ImageFile::syncMicroseconds()) / 1000.0);
    });
  const std::vector<std::string> args = utf8Arguments(argc, argv);
  if (args.empty()) return usage("no command given");
  const std::string command = args[0];
  if (command == "--help" || command == "-h" || command == "help") return usage({});
  if (command == "--version") {
    writeText(stdout, "umbradisc-cli " UMBRA_VERSION "\n");
    return kOk;
  }

  bool json = false, recursive = false, force = false;
  [[maybe_unused]] bool verify = false;      // read only where a burner is built in
  [[maybe_unused]] bool verifyFull = false;  // Windows: --verify=full, else its quick verification
  std::string drive;
  std::vector<std::string> operands;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--json" && (command == "info" || command == "ls"))
      json = true;
    else if (a == "--force" && command == "extract")
      force = true;
    else if (a == "-R" && command == "ls")
      recursive = true;
    else if (a == "--drive" && command == "burn" && i + 1 < args.size())
      drive = args[++i];
    else if (a == "--verify" && command == "burn")
      verify = true;
#ifdef _WIN32
    else if ((a == "--verify=quick" || a == "--verify=full") && command == "burn") {
      verify = true;
      verifyFull = a == "--verify=full";
    }
#endif
    else if (a == "--help" || a == "-h")
      return usage({});
    else if (a == "--")
      operands.insert(operands.end(), args.begin() + static_cast<long>(i) + 1, args.end()), i = args.size();
    else if (a.size() > 1 && a[0] == '-')
      return usage("unknown option " + a);
    else
      operands.push_back(a);
  }

  if (command == "info") {
    if (operands.size() != 1) return usage("info takes one IMAGE");
    return infoCommand(operands[0], json);
  }
  if (command == "ls") {
    if (operands.empty() || operands.size() > 2) return usage("ls takes IMAGE and at most one PATH");
    return lsCommand(operands[0], operands.size() == 2 ? operands[1] : "/", recursive, json);
  }
  if (command == "extract") {
    if (operands.size() != 3) return usage("extract takes IMAGE, PATH and DEST");
    return extractCommand(operands[0], operands[1], operands[2], force);
  }
  if (command == "cat") {
    if (operands.size() != 2) return usage("cat takes IMAGE and FILE");
    return catCommand(operands[0], operands[1]);
  }
  if (command == "hide" || command == "show") {
    if (operands.size() < 2) return usage(command + " takes IMAGE and at least one PATH");
    return hideOrShowCommand(operands[0], std::vector<std::string>(operands.begin() + 1, operands.end()),
                             command == "hide");
  }
#ifdef UMBRA_WITH_BURN
  if (command == "burn") {
    if (operands.size() != 1) return usage("burn takes one IMAGE");
    return umbra::runBurnCommand(
        operands[0], drive, textStream(stdout), textStream(stderr),
        umbra::BurnVerification{.enabled = verify,
                                .level = verifyFull ? umbra::VerifyLevel::Full : umbra::VerifyLevel::Quick,
                                .beforeReadBack = {}});
  }
#else
  if (command == "burn") {
    writeText(stderr, "umbradisc-cli: burning is not available in this build\n");
    return kBurnUnavailable;
  }
#endif
  return usage("unknown command " + command);
}
