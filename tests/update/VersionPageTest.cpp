// The version page on its own: the atol-style number and the capped read of the first line.
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "tests/update/LocalHttpServer.h"
#include "update/VersionPage.h"

using namespace umbra;

namespace umbra::test {
namespace {

TEST(PublishedVersion, ReadsTheNumberTheWayAtolDoes) {
  struct Case {
    QByteArray line;
    uint32_t expected;
  };
  const Case cases[] = {
      {"50411", 50411},
      {"  \t\v\f\r50411", 50411},
      {"+50411", 50411},
      {"50411abc", 50411},
      {"50411 50412", 50411},
      {"0050411", 50411},
      {"", 0},
      {"<html>", 0},
      {"v50411", 0},
      {"+ 5", 0},
      {"--5", 0},
      {QByteArray("5\0" "9", 3), 5},
      {"-1", 4294967295u},
      {"-50411", 4294916885u},
      {"2147483647", 2147483647u},
      {"2147483648", 2147483647u},  // a 32-bit long saturates
      {"99999999999999999999999999", 2147483647u},
      {"-2147483648", 2147483648u},
      {"-99999999999999999999999999", 2147483648u},
  };
  for (const Case& c : cases)
    EXPECT_EQ(parsePublishedVersion(c.line), c.expected) << c.line.toStdString();
}

class VersionPageFetch : public ::testing::Test {
 protected:
  PageResult fetch(const QString& url, const PageLimits& limits = {}) {
    return fetchFirstLine(QUrl(url), "update_tests", limits);
  }
  CLocalHttpServer m_server;
};

TEST_F(VersionPageFetch, ReadsOnlyTheFirstLine) {
  m_server.servePage("50411 released\r\nsecond line\n");
  const PageResult result = fetch(m_server.pageUrl());
  EXPECT_EQ(result.outcome, PageOutcome::Read);
  EXPECT_EQ(result.firstLine, "50411 released\r");
}

TEST_F(VersionPageFetch, EndlessPagesStopAtTheCap) {
  const PageLimits limits{512, kPageDeadlineMs};
  m_server.serveEndless("", '1');
  PageResult result = fetch(m_server.pageUrl(), limits);
  EXPECT_EQ(result.outcome, PageOutcome::Read);
  EXPECT_EQ(result.firstLine, QByteArray(512, '1'));

  m_server.serveEndless("50411\n", 'z');
  result = fetch(m_server.pageUrl());
  EXPECT_EQ(result.outcome, PageOutcome::Read);
  EXPECT_EQ(result.firstLine, "50411");
  EXPECT_EQ(m_server.requests(), 2);
}

TEST_F(VersionPageFetch, ADrippingServerIsGivenUpAtTheDeadline) {
  // One byte every 50 ms never leaves the connection silent, yet the 4 KiB line would take minutes.
  m_server.serveDrip("5", '0', 50);
  const PageResult result = fetch(m_server.pageUrl(), PageLimits{kMaxFirstLineBytes, 600});
  EXPECT_EQ(result.outcome, PageOutcome::RequestFailed);
  EXPECT_TRUE(result.firstLine.isEmpty());
  EXPECT_EQ(m_server.requests(), 1);
  EXPECT_LT(m_server.bytesSent(), 1000);  // head and a few drops, far from the line's cap
}

TEST_F(VersionPageFetch, FailuresAreToldApart) {
  EXPECT_EQ(fetch(CLocalHttpServer::refusingUrl()).outcome, PageOutcome::RequestFailed);

  m_server.neverAnswer();
  EXPECT_EQ(fetch(m_server.pageUrl(), PageLimits{kMaxFirstLineBytes, 300}).outcome,
            PageOutcome::RequestFailed);

  m_server.serveBrokenPage("504");
  EXPECT_EQ(fetch(m_server.pageUrl()).outcome, PageOutcome::ReadFailed);

  // An error status still carries a page.
  m_server.servePage("Not here\n", 404);
  const PageResult notFound = fetch(m_server.pageUrl());
  EXPECT_EQ(notFound.outcome, PageOutcome::Read);
  EXPECT_EQ(notFound.firstLine, "Not here");
  EXPECT_EQ(notFound.status, 404);
  EXPECT_EQ(m_server.requests(), 3);

  for (const char* bad : {"", "ftp://127.0.0.1/v.htm", "file:///etc/hostname", "http:///v.htm"})
    EXPECT_EQ(fetch(bad).outcome, PageOutcome::BadAddress) << bad;
  EXPECT_EQ(m_server.requests(), 3);
}

}  // namespace
}  // namespace umbra::test
