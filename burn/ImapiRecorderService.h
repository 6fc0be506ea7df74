#pragma once

#ifdef _WIN32
#include "DiscRecorderService.h"

namespace umbra {

// DiscRecorderService on Windows' own recording service, IMAPI2 (MsftDiscMaster2, MsftDiscRecorder2,
// MsftDiscFormat2Data), reached late-bound by ProgID and IDispatch: MinGW has no IMAPI headers.
// Each call runs in its own COM apartment, so any thread may use it.
class ImapiRecorderService : public DiscRecorderService {
 public:
  bool isInstalled() override;
  bool listRecorders(std::vector<std::string>& ids, std::string& reason) override;
  std::vector<std::string> recorderNames(const std::string& id) override;
  bool hasWritableMedium(const std::string& id, std::string& reason) override;
  bool writeImage(const std::string& id, const std::filesystem::path& imagePath, WriteCheck& check,
                  const std::function<void(int)>& percent, const std::function<bool()>& cancelRequested,
                  std::string& reason) override;
  bool canEraseMedium(const std::string& id, std::string& reason) override;
  bool eraseMedium(const std::string& id, const std::function<void(int)>& percent, std::string& reason) override;
};

}  // namespace umbra
#endif
