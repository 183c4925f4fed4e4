// Against a server that speaks only HTTP/1.1 the engine opens more connections than it began
// with, never more than its limit, and fewer again once the server turns requests away.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/integration/repository_harness.h"
#include "tests/support/misbehaving_server.h"
#include "tests/support/process_runner.h"

namespace veldmoor::test {
namespace {

struct ConnectionCase {
    const char* name;
    std::size_t connections;
    std::size_t http1Connections;
    int busyAbove;         // the server turns a request away while this many are answered
    int mostHeld;          // answers the server may see at once
    int fewestHeld;        // ... and must see at some moment
    std::size_t most503s;  // answers turned away at most
};

class Http1Connections : public ::testing::TestWithParam<ConnectionCase> {};

TEST_P(Http1Connections, StayWithinTheLimitAndBackOffWhenTurnedAway) {
    const ConnectionCase c = GetParam();
    TempDir work{"veldmoor-it"};
    TempDir web{"veldmoor-web"};
    // Many small files, so that far more requests are wanted than any limit allows at once.
    for (int i = 0; i < 40; ++i) {
        WriteTestFile(work / ("source/data/f" + std::to_string(i) + ".bin"),
                      RandomBytes(2000 + i * 50, static_cast<std::uint32_t>(i)));
    }
    Publish(work / "source", web / "game", {"--block-size", "1024"});
    MisbehavingServer server(web.path(), Misbehaviour{.holdMs = 20, .busyAbove = c.busyAbove});

    HttpSettings settings;
    settings.firstRetryPauseMs = 5;
    settings.connections = c.connections;
    settings.http1Connections = c.http1Connections;
    SyncFolder(work / "install", server.address("game"), settings);

    EXPECT_TRUE(ReadTree(work / "install") == ReadTree(work / "source"));
    EXPECT_LE(server.peakHeldAnswers(), c.mostHeld);
    EXPECT_GE(server.peakHeldAnswers(), c.fewestHeld);
    const auto requests = server.requests();
    EXPECT_LE(static_cast<std::size_t>(
                  std::count_if(requests.begin(), requests.end(),
                                [](const MisbehavingRequest& r) { return r.status == 503; })),
              c.most503s);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Http1Connections,
    ::testing::Values(
        ConnectionCase{"GrowToTheLimit", 2, 5, 0, 5, 3, 0},
        ConnectionCase{"NeverBelowTheConnectionsAskedFor", 4, 1, 0, 4, 1, 0},
        // Six at once, three answered: each refusal halves the connections, down to two.
        ConnectionCase{"FewerWhenTurnedAway", 2, 6, 3, 3, 2, 6}),
    [](const ::testing::TestParamInfo<ConnectionCase>& info) { return info.param.name; });

}  // namespace
}  // namespace veldmoor::test
