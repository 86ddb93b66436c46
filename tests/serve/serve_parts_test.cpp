// The server's parts on their own: which Host names it answers, the listen address it takes, a
// page's stream that falls behind, the line's rows turned into events, and the metrics' labels.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "serve/EventClient.h"
#include "serve/HostCheck.h"
#include "serve/ListenAddress.h"
#include "serve/LiveLine.h"
#include "serve/Metrics.h"

using ::testing::HasSubstr;

namespace {

TEST(ListenAddressTest, TakesAddressesAndNamesWithAPortAndRefusesTheRest) {
    const auto v4 = ParseListenAddress("127.0.0.1:8350");
    ASSERT_TRUE(v4);
    EXPECT_TRUE(v4->loopback());
    EXPECT_EQ(v4->text(), "127.0.0.1:8350");
    const auto v6 = ParseListenAddress("[::1]:9000");
    ASSERT_TRUE(v6);
    EXPECT_TRUE(v6->loopback());
    EXPECT_EQ(v6->text(), "[::1]:9000");
    EXPECT_TRUE(ParseListenAddress("0.0.0.0:80")->wildcard());
    EXPECT_TRUE(ParseListenAddress("localhost:8350"));
    for (const char* wrong : {"127.0.0.1", "127.0.0.1:", ":8350", "127.0.0.1:65536", "127.0.0.1:-1",
                              "::1:8350", "[::1]8350", "no.such.host.invalid:1"}) {
        EXPECT_FALSE(ParseListenAddress(wrong)) << wrong;
    }
}

TEST(HostCheckTest, AnswersItsOwnNamesWithAnyPortAndNoOther) {
    const HostCheck check(*ParseListenAddress("127.0.0.1:8350"), {"Line2.example", "10.0.0.5"});
    for (const char* ours :
         {"127.0.0.1:8350", "127.0.0.1", "localhost:8350", "LOCALHOST", "[::1]:8350",
          "line2.example", "line2.example.:443", "10.0.0.5:8350"}) {
        EXPECT_TRUE(check.allows(ours)) << ours;
    }
    for (const char* other : {"", "attacker.example", "line2.example.attacker.example",
                              "127.0.0.2:8350", "[::1", "10.0.0.50", "line2.example:8350:1"}) {
        EXPECT_FALSE(check.allows(other)) << other;
    }
}

TEST(HostCheckTest, AnAddressOfItsOwnIsNotLocalhost) {
    const HostCheck check(*ParseListenAddress("192.0.2.7:8350"), {});
    EXPECT_TRUE(check.allows("192.0.2.7:8350"));
    EXPECT_FALSE(check.allows("localhost:8350"));
}

TEST(EventClientTest, APageBehindByMoreThanTheLimitIsDroppedAndEndsItsStream) {
    EventClient client(100);
    int woken = 0, cut = 0, idled = 0;
    client.attach([&] { ++woken; }, [&] { ++cut; });
    char buffer[64];
    EXPECT_EQ(client.take(buffer, sizeof buffer, [&] { ++idled; }), 0);
    EXPECT_EQ(idled, 1);
    EXPECT_TRUE(client.send(std::string(60, 'a')));
    EXPECT_EQ(woken, 1);  // it was idle
    EXPECT_EQ(client.take(buffer, 50, [&] { ++idled; }), 50);
    EXPECT_TRUE(client.send(std::string(80, 'b')));  // 10 + 80 wait
    EXPECT_EQ(woken, 1);                             // it was not idle
    EXPECT_FALSE(client.send(std::string(20, 'c')));
    EXPECT_TRUE(client.dropped());
    EXPECT_EQ(cut, 1);
    EXPECT_EQ(client.take(buffer, sizeof buffer, [&] { ++idled; }), EventClient::kDropped);
}

TEST(EventClientTest, AFinishedStreamEndsAfterWhatWaitsIsSent) {
    EventClient client(100);
    int woken = 0;
    client.attach([&] { ++woken; }, [] {});
    char buffer[8];
    EXPECT_EQ(client.take(buffer, sizeof buffer, [] {}), 0);
    client.send("abcdefghij");
    client.finish();
    EXPECT_EQ(client.take(buffer, sizeof buffer, [] {}), 8);
    EXPECT_EQ(client.take(buffer, sizeof buffer, [] {}), 2);
    EXPECT_EQ(client.take(buffer, sizeof buffer, [] {}), EventClient::kEnded);
    EXPECT_EQ(woken, 1);
}

TEST(EventClientTest, AClosedStreamTakesNothingMoreAndCallsNothing) {
    EventClient client(100);
    int calls = 0;
    client.attach([&] { ++calls; }, [&] { ++calls; });
    client.close();
    client.drop();
    client.send("x");
    char buffer[8];
    EXPECT_EQ(client.take(buffer, sizeof buffer, [] {}), EventClient::kDropped);
    EXPECT_EQ(calls, 0);
}

PortLive Port(const std::string& port, std::int64_t change, const std::string& step) {
    PortLive row;
    row.bench = "bench-1";
    row.port = port;
    row.step = step;
    row.change = change;
    return row;
}

TEST(LiveLineTest, RowsBecomeEventsInChangeOrderOnceEach) {
    LiveLine line;
    BenchLive bench;
    bench.name = "bench-1";
    bench.change = 3;
    const auto first =
        line.take({{bench}, {Port("1-1.2", 2, "flash"), Port("1-1.1", 4, "verify")}, 4});
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first[0].id, 2);
    EXPECT_EQ(first[1].name, "bench");
    EXPECT_EQ(first[2].id, 4);
    // Read again (a reader's overlap): nothing new.
    EXPECT_TRUE(line.take({{bench}, {Port("1-1.1", 4, "verify")}, 4}).empty());
    EXPECT_EQ(line.eventsAfter(2).size(), 2u);
    EXPECT_EQ(line.eventsAfter(4).size(), 0u);
    EXPECT_THAT(EventText(first[2]), HasSubstr("id: 4\nevent: port\ndata: {"));
}

// A store put back from a backup numbers a row lower than the server saw: it is the truth now.
TEST(LiveLineTest, ARowNumberedLowerAfterARestoreIsNewsAllTheSame) {
    LiveLine line;
    line.take({{}, {Port("1-1.1", 40, "soak")}, 40});
    const auto restored = line.take({{}, {Port("1-1.1", 7, "flash")}, 7});
    ASSERT_EQ(restored.size(), 1u);
    EXPECT_EQ(line.ports().begin()->second.step, "flash");
}

TEST(LiveLineTest, TheBannerSaysSinceWhenTheStoreIsUnreachableAndIsClearedAfter) {
    LiveLine line;
    EXPECT_EQ(line.setUnreachable("2026-12-09T10:00:00Z").data["text"],
              "store unreachable since 2026-12-09T10:00:00Z");
    EXPECT_EQ(line.json("x")["store"]["reachable"], false);
    EXPECT_EQ(line.setUnreachable(std::nullopt).data["text"], "");
}

TEST(MetricsTest, ALabelValueKeepsItsQuotesBackslashesAndLineBreaksEscaped) {
    EXPECT_EQ(MetricLabel("bench \"2\"\\a\nb"), "bench \\\"2\\\"\\\\a\\nb");
}

}  // namespace
