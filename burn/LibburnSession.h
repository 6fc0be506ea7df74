#pragma once

#include <string>

namespace umbra {

// What libburn queued since the last look.
struct LibburnMessages {
  std::string firstProblem;       // the oldest message of severity SORRY or worse, with the system's reason
  bool writeThreadEnded = false;  // the worker of burn_disc_write() has reached its very end
};

// Keeps libburn initialised while at least one holder lives; the last holder shuts it down again.
// libburn never prints: its messages are queued and read back through collect().
class LibburnSession {
 public:
  LibburnSession();
  ~LibburnSession();
  LibburnSession(const LibburnSession&) = delete;
  LibburnSession& operator=(const LibburnSession&) = delete;

  bool isReady() const { return m_ready; }

  // Empties libburn's queue into into; a problem already noted there is kept.
  static void collect(LibburnMessages& into);

  // Empties the queue and returns its oldest problem (empty when there was none).
  static std::string takeProblem();

 private:
  bool m_ready = false;
};

}  // namespace umbra
