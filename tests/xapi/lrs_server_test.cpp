#include "lrs/lrs_server.h"

#include <gtest/gtest.h>

namespace zept::testing {
namespace {

std::string Statement(const std::string& id, const std::string& verb) {
  return R"({"id":")" + id +
         R"(","actor":{"mbox":"mailto:learner@example.org"},"verb":{"id":"http://adlnet.gov/expapi/verbs/)" +
         verb + R"("},"object":{"id":"http://example.org/course"}})";
}

const std::string kFirst = "6f1c1d6e-5b1a-4f0e-9c55-000000000001";
const std::string kSecond = "6f1c1d6e-5b1a-4f0e-9c55-000000000002";

TEST(LrsServer, KeepsPostedStatementsInOrderUntilRestarted) {
  if (auto why = LrsServer::missing(); !why.empty()) GTEST_SKIP() << why;
  LrsServer lrs;
  lrs.start();
  LrsServer::Reply posted =
      lrs.request("POST", "/xAPI/statements",
                  "[" + Statement(kFirst, "attempted") + "," +
                      Statement(kSecond, "completed") + "]");
  ASSERT_EQ(posted.status, 200) << posted.body;
  std::vector<std::string> held = lrs.statements();
  ASSERT_EQ(held.size(), 2u);
  EXPECT_NE(held[0].find(kFirst), std::string::npos) << held[0];
  EXPECT_NE(held[1].find("verbs/completed"), std::string::npos) << held[1];

  const int port = lrs.port();
  lrs.stop();
  EXPECT_EQ(lrs.request("GET", "/xAPI/statements").status, 0);
  lrs.start();
  EXPECT_EQ(lrs.port(), port);
  EXPECT_TRUE(lrs.statements().empty());
}

TEST(LrsServer, BreaksRequestsOnPurpose) {
  if (auto why = LrsServer::missing(); !why.empty()) GTEST_SKIP() << why;
  LrsServer lrs;
  lrs.start();
  const std::string body = Statement(kFirst, "attempted");
  LrsServer wrong("zept-key", "not-the-secret");

  lrs.failNext(1, 503);
  EXPECT_EQ(lrs.request("POST", "/xAPI/statements", body).status, 503);
  EXPECT_TRUE(lrs.statements().empty());

  EXPECT_EQ(wrong.request("POST", lrs.endpoint() + "statements", body).status,
            401);
  lrs.refuseCredentials(true);
  EXPECT_EQ(lrs.request("POST", "/xAPI/statements", body).status, 401);
  lrs.refuseCredentials(false);

  // A lost answer: stored, yet the sender hears nothing.
  lrs.dropNext(1);
  EXPECT_EQ(lrs.request("POST", "/xAPI/statements", body).status, 0);
  EXPECT_EQ(lrs.statements().size(), 1u);
  EXPECT_EQ(lrs.request("POST", "/xAPI/statements", body).status, 200);
  EXPECT_EQ(lrs.statements().size(), 1u);
}

}  // namespace
}  // namespace zept::testing
