#pragma once
// The version page as the check reads it: the first line of the response body, fetched with a
// hard cap on what is read, and the number at its start.
#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstdint>

namespace umbra {

// More than any version line needs; a huge or endless page is cut here.
inline constexpr qsizetype kMaxFirstLineBytes = 4096;
// The whole request, name look-up to last byte, is given up after this long, so a server that
// drips its answer cannot keep a check alive.
inline constexpr int kPageDeadlineMs = 60000;

struct PageLimits {
  qsizetype maxBytes = kMaxFirstLineBytes;
  int deadlineMs = kPageDeadlineMs;
};

enum class PageOutcome {
  Read,           // firstLine holds the line (possibly cut at maxBytes); status says what the server answered
  RequestFailed,  // no answer in time: refused, unknown host, past the deadline
  ReadFailed,     // the server answered but the body broke off before the first line was complete
  BadAddress,     // the page's address is no web address; nothing was asked
};

struct PageResult {
  PageOutcome outcome = PageOutcome::RequestFailed;
  QByteArray firstLine;
  int status = 0;  // the HTTP status of the answer; 0 without one
  QString reason;  // the status's reason phrase, or why the request or the read failed
};

// Fetches the page on the calling thread with its own event loop and network manager, so nothing
// of the fetch belongs to another thread. An HTTP error page counts as a page: its body is read.
PageResult fetchFirstLine(const QUrl& page, const QString& agent, const PageLimits& limits = {});

// The number at the start of the line read the way atol does on a 32-bit long: leading white
// space, an optional sign, decimal digits up to the first other character, saturating at the
// long's range; 0 when the line does not start that way. The result is that long seen as an
// unsigned 32-bit number, so "-1" reads as 4294967295.
uint32_t parsePublishedVersion(const QByteArray& line);
// Whether the line is a version line: a number at its start, after white space and a sign.
bool isVersionLine(const QByteArray& line);

}  // namespace umbra
