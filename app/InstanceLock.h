#pragma once

#include <QString>
#include <memory>

class QLockFile;

namespace umbra {

// Held by the running copy of the window, so a second start can tell that one runs: a named mutex
// on Windows, a lock file in the user's runtime folder elsewhere. The system lets go of either when
// the holder dies, so a crashed copy never blocks the next start.
class InstanceLock {
 public:
  explicit InstanceLock(const char* name);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // True when this process now holds the lock; false when another copy holds it.
  bool tryAcquire();
  // The user's runtime folder, where the lock file lives (not used on Windows).
  static QString folder();

 private:
  const char* m_name;
#ifdef _WIN32
  void* m_mutex = nullptr;
#else
  std::unique_ptr<QLockFile> m_file;
#endif
};

}  // namespace umbra
