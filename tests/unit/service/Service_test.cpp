// The lab service's parts, each where its faults would hide: token files,
// the command line, typed body fields, the event hub's streams, and an
// instrument's queue (order, the wait limit, an unreachable driver).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/Socket.h"
#include "service/EventHub.h"
#include "service/HttpSupport.h"
#include "service/Instrument.h"
#include "service/LabOptions.h"
#include "service/Tokens.h"

namespace vantorel::lab {
namespace {

const std::string kToken = "0123456789abcdef";

TEST(Tokens, FilesAreReadStrictlyAndTokensGiveTheirRoles) {
  struct Case {
    std::string text;
    std::string error;  // empty: accepted
  };
  const Case cases[] = {
      {"# lab\n\n" + kToken + " operator Zoë Brandt\r\n", ""},
      {kToken + " chief Zoë\n", "line 1: unknown role 'chief'"},
      {kToken + " admin\n", "line 1: a token needs the name of its user"},
      {"short admin Zoë\n", "line 1: the token is too short"},
      {kToken + " admin A\n" + kToken + " viewer B\n", "line 2: the same token is given twice"},
      {"# nothing\n", "the token file holds no token"},
  };
  for (const Case& c : cases) {
    TokenTable table;
    std::string error;
    EXPECT_EQ(TokenTable::Parse(c.text, table, error), c.error.empty()) << c.text;
    EXPECT_EQ(error.substr(0, c.error.size()), c.error) << error;
  }
  TokenTable table;
  std::string error;
  ASSERT_TRUE(TokenTable::Parse(kToken + " operator Zoë Brandt\n", table, error));
  EXPECT_TRUE(table.Required());
  ASSERT_TRUE(table.Find(kToken));
  EXPECT_EQ(table.Find(kToken)->user, "Zoë Brandt");
  EXPECT_EQ(table.Find(kToken)->role, Role::kOperator);
  EXPECT_FALSE(table.Find(kToken + "x"));
  EXPECT_FALSE(table.Find(kToken.substr(1)));
  EXPECT_EQ(TokenTable::Open("lab").Find("")->role, Role::kAdmin);
}

TEST(LabOptions, CommandLinesAreParsedOrRefusedWithTheReason) {
  struct Case {
    std::vector<std::string> args;
    std::string error;  // empty: accepted
  };
  const Case cases[] = {
      {{}, ""},
      {{"--listen", "0.0.0.0:9000", "--instrument", "a=10.0.0.2", "--instrument=b=[::1]:7"}, ""},
      {{"--listen", "8080"}, "--listen 8080: give ADDR:PORT"},
      {{"--listen", "h:70000"}, "--listen h:70000"},
      {{"--instrument", "nohost"}, "--instrument nohost: give NAME=HOST[:PORT]"},
      {{"--instrument", "a b=h"}, "--instrument a b=h: a name cannot hold"},
      {{"--instrument", "a=h", "--instrument", "a=g"}, "--instrument a is given twice"},
      {{"--tls-cert", "c.pem"}, "--tls-cert and --tls-key go together"},
      {{"--poll-ms", "5"}, "--poll-ms 5: give milliseconds from 10"},
      {{"--db"}, "--db needs a value"},
      {{"--frobnicate", "1"}, "unknown option --frobnicate"},
  };
  for (const Case& c : cases) {
    std::string error;
    const std::optional<LabOptions> options = ParseLabOptions(c.args, error);
    EXPECT_EQ(options.has_value(), c.error.empty()) << error;
    EXPECT_EQ(error.substr(0, c.error.size()), c.error) << error;
  }
  std::string error;
  const std::optional<LabOptions> defaults = ParseLabOptions({}, error);
  ASSERT_TRUE(defaults);
  EXPECT_EQ(defaults->listenHost + ":" + std::to_string(defaults->listenPort), "127.0.0.1:8080");
  ASSERT_EQ(defaults->instruments.size(), 1u);
  EXPECT_EQ(defaults->instruments[0].name, "local");
  EXPECT_EQ(defaults->instruments[0].port, 8889);
  const std::optional<LabOptions> two =
      ParseLabOptions({"--instrument", "a=10.0.0.2", "--instrument=b=[::1]:7"}, error);
  ASSERT_TRUE(two);
  EXPECT_EQ(two->instruments[1].host, "::1");
  EXPECT_EQ(two->instruments[1].port, 7);
  for (const char* host : {"127.0.0.1", "127.1.2.3", "::1", "localhost"}) {
    EXPECT_TRUE(IsLoopback(host)) << host;
  }
  for (const char* host : {"0.0.0.0", "10.0.0.2", "::", "128.0.0.1", "localhost.example"}) {
    EXPECT_FALSE(IsLoopback(host)) << host;
  }
}

TEST(HttpSupport, BodyFieldsAreCheckedForTypeAndRange) {
  const nlohmann::json body = nlohmann::json::parse(
      R"({"n": 7, "big": 18446744073709551615, "neg": -1, "s": "x", "f": 1.5, "b": true})");
  std::int64_t n = 0;
  EXPECT_FALSE(Integer(body, "n", n, 1, 1000, true));
  EXPECT_EQ(n, 7);
  for (const char* bad : {"big", "neg", "s", "f", "b", "missing"}) {
    EXPECT_TRUE(Integer(body, bad, n, 1, 1000, true)) << bad;
  }
  std::string s;
  EXPECT_TRUE(Text(body, "n", s, true));
  EXPECT_FALSE(Text(body, "missing", s, false));
  std::optional<double> f;
  EXPECT_FALSE(Number(body, "f", f, 0, 10));
  EXPECT_TRUE(Number(body, "f", f, 0, 1));
  bool b = false;
  EXPECT_TRUE(Flag(body, "n", b));
  const std::optional<ApiError> unknown = OnlyFields(body, {"n"});
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 400);

  httplib::Request req;
  req.headers.emplace("Cookie", "a=1; vantorel_session=" + kToken + "; z=2");
  EXPECT_EQ(PresentedToken(req).value_or(""), kToken);
  req.headers.emplace("Authorization", "Bearer other");
  EXPECT_EQ(PresentedToken(req).value_or(""), "other");
}

TEST(EventHub, EveryStreamGetsEveryEventInOrderUntilTheHubCloses) {
  EventHub hub;
  auto a = hub.Subscribe();
  auto b = hub.Subscribe();
  hub.Publish("job", {{"state", "measuring"}});
  hub.Publish("record", {{"text", "line\nbreak"}});
  const std::string expected =
      "event: job\ndata: {\"state\":\"measuring\"}\n\nevent: record\ndata: "
      "{\"text\":\"line\\nbreak\"}\n\n";
  EXPECT_EQ(a->Next(0), expected);
  EXPECT_EQ(b->Next(0), expected);
  hub.Unsubscribe(b);
  for (std::size_t i = 0; i < EventHub::kMaxQueued + 5; ++i) hub.Publish("n", i);
  const std::string backlog = a->Next(0);
  EXPECT_EQ(backlog.find("data: 4\n"), std::string::npos);  // the oldest gave way
  EXPECT_NE(backlog.find("data: 5\n"), std::string::npos);
  EXPECT_EQ(b->Next(0), "");
  std::thread closer([&] { hub.Close(); });
  EXPECT_EQ(a->Next(60000), "");
  closer.join();
  EXPECT_TRUE(a->Closed());
  EXPECT_TRUE(hub.Subscribe()->Closed());
}

// A port nothing listens on: every request is refused at once.
std::uint16_t ClosedPort() {
  const Platform::ListenResult listening = Platform::OpenListeningSocket(0);
  const std::uint16_t port = Platform::LocalPort(listening.socket);
  Platform::CloseSocket(listening.socket);
  return port;
}

TEST(Instrument, RequestsRunInTheirOrderAndOneBeyondTheWaitLimitIsRefused) {
  EventHub hub;
  auto events = hub.Subscribe();
  StorePool stores({records::StoreLocation::Kind::kSqlite, ":memory:", ":memory:"});
  InstrumentSettings settings;
  settings.waitMs = 300;
  settings.connectTimeoutMs = 50;
  settings.idlePollMs = 60000;
  Instrument instrument({"bench", "127.0.0.1", ClosedPort()}, settings, hub, stores);

  std::atomic<bool> release{false};
  std::atomic<bool> running{false};
  std::vector<int> order;  // written by the worker only, read after it served
  std::thread first([&] {
    instrument.Serve([&](Instrument&) {
      order.push_back(1);
      running = true;
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
  });
  while (!running) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // Waits past the limit behind the first: refused, never run.
  EXPECT_FALSE(instrument.Serve([&](Instrument&) { order.push_back(99); }));
  std::thread second([&] { instrument.Serve([&](Instrument&) { order.push_back(2); }); });
  release = true;
  first.join();
  second.join();
  JobsAnswer answer;
  EXPECT_TRUE(instrument.Serve([&](Instrument& on) { answer = on.Jobs(); }));
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(answer.status.failure, Failure::CannotConnect);
  EXPECT_FALSE(instrument.View().reachable);
}

}  // namespace
}  // namespace vantorel::lab
