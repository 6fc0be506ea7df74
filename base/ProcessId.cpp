#include "base/ProcessId.h"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace umbra {

long long currentProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<long long>(getpid());
#endif
}

}  // namespace umbra
