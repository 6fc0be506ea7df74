#include "LibburnSession.h"

#include <libburn/libburn.h>

#include <mutex>
#include <system_error>

namespace umbra {

using namespace burn;

namespace {

// Everything is queued, debug notes included: the end of a write thread is announced only there.
char kQueueSeverity[] = "ALL";
char kPrintSeverity[] = "NEVER";
char kPrintPrefix[] = "umbradisc : ";
char kProblemSeverity[] = "SORRY";
constexpr int kWriteThreadEndedCode = 0x00020178;

std::mutex g_mutex;
int g_nHolders = 0;
bool g_bInitialised = false;

int severityRank(char* name) {
  int rank = 0;
  return burn_text_to_sev(name, &rank, 0) > 0 ? rank : 0;
}

}  // namespace

LibburnSession::LibburnSession() {
  const std::lock_guard<std::mutex> lock(g_mutex);
  if (g_nHolders == 0) {
    g_bInitialised = burn_initialize() != 0;
    if (g_bInitialised) burn_msgs_set_severities(kQueueSeverity, kPrintSeverity, kPrintPrefix);
  }
  ++g_nHolders;
  m_ready = g_bInitialised;
}

LibburnSession::~LibburnSession() {
  const std::lock_guard<std::mutex> lock(g_mutex);
  if (--g_nHolders == 0 && g_bInitialised) {
    burn_finish();
    g_bInitialised = false;
  }
}

void LibburnSession::collect(LibburnMessages& into) {
  const int problemRank = severityRank(kProblemSeverity);
  int errorCode = 0;
  int osErrno = 0;
  char text[BURN_MSGS_MESSAGE_LEN] = {};
  char severity[80] = {};
  char all[] = "ALL";
  while (burn_msgs_obtain(all, &errorCode, text, &osErrno, severity) > 0) {
    if (errorCode == kWriteThreadEndedCode) into.writeThreadEnded = true;
    if (!into.firstProblem.empty() || severityRank(severity) < problemRank) continue;
    into.firstProblem = text;
    if (osErrno != 0) into.firstProblem += " (" + std::generic_category().message(osErrno) + ")";
  }
}

std::string LibburnSession::takeProblem() {
  LibburnMessages messages;
  collect(messages);
  return messages.firstProblem;
}

}  // namespace umbra
