#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BurnVerifier.h"

namespace umbra {

// The service's own check of a write: the level is asked for before it, the verdict comes with it.
struct WriteCheck {
  VerifyLevel level = VerifyLevel::None;
  bool failed = false;  // the medium was written but did not pass the check
};

// A system service that writes an image file as the data track of a blank medium. Windows offers
// one (IMAPI2, ImapiRecorderService); tests put a double in its place. Texts are UTF-8.
class DiscRecorderService {
 public:
  virtual ~DiscRecorderService() = default;

  // False when the system has no such service at all (wine, or Windows without IMAPI2).
  virtual bool isInstalled() = 0;
  // The recorders' unique ids; false with a reason when the service itself is missing.
  virtual bool listRecorders(std::vector<std::string>& ids, std::string& reason) = 0;
  // The drive letters ("E:\\") and the device's name, for matching an address the user gave.
  virtual std::vector<std::string> recorderNames(const std::string& id) = 0;
  // True when the recorder holds a blank medium the service can write.
  virtual bool hasWritableMedium(const std::string& id, std::string& reason) = 0;
  // Writes the file as the medium's only data track and closes the medium, then checks it at
  // check.level; blocks until the end. A write that fails only its check returns true with check.failed.
  virtual bool writeImage(const std::string& id, const std::filesystem::path& imagePath, WriteCheck& check,
                          const std::function<void(int)>& percent, const std::function<bool()>& cancelRequested,
                          std::string& reason) = 0;
  // True when the recorder holds a rewritable medium (CD-RW, DVD±RW, DVD-RAM, BD-RE...) the service
  // can erase now; false with a reason otherwise.
  virtual bool canEraseMedium(const std::string& id, std::string& reason) = 0;
  // Erases the medium quickly (not every sector); blocks until the end.
  virtual bool eraseMedium(const std::string& id, const std::function<void(int)>& percent, std::string& reason) = 0;
};

// The system's service; tests replace it with setRecorderServiceFactory.
std::unique_ptr<DiscRecorderService> createRecorderService();
void setRecorderServiceFactory(std::function<std::unique_ptr<DiscRecorderService>()> factory);

}  // namespace umbra
