// The HTTP layer's transfers, driven by the engine's pool, against the project's server on
// loopback.
#include "sync/http_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <sstream>
#include <vector>

#include "sync/range_receiver.h"
#include "sync/transfer_pool.h"
#include "sync_fixture.h"
#include "tests/support/served_repository.h"

namespace veldmoor {
namespace {

// A whole document into a string, as the engine's file list and chunk indexes arrive.
class StringSink : public DocumentSink {
public:
    void restart() override { body.clear(); }
    bool append(const char* data, std::size_t size) override {
        body.append(data, size);
        return true;
    }
    std::string body;
};

class HttpTest : public ::testing::Test {
protected:
    HttpTest() : server_(RepoServerOptions{.root = root_.path()}) {
        session_.settings.connections = 1;
    }

    void SetUp() override {
        test::writeFile(root_ / "a b/file.txt", "0123456789");
        test::StartServing(server_);
        // One answered request shows the server is accepting before any test stops it.
        StringSink ignored;
        ASSERT_TRUE(fetch(server_.baseUrl() + "/a b/file.txt", ignored).ok);
        server_.clearRequests();
    }

    // How the transfers ended: `cause` is the first failure's reason in English, as a document
    // whose failure is its reason alone tells it.
    struct Outcome {
        bool ok = true;
        std::string cause;
    };

    // Runs the transfers one after another on one connection, as the engine's pool does when
    // it has one.
    Outcome run(std::initializer_list<HttpTransfer*> transfers) {
        TransferPool pool(session_);
        for (HttpTransfer* transfer : transfers) {
            pool.start(*transfer);
        }
        pool.run([&] {
            return std::all_of(transfers.begin(), transfers.end(),
                               [](const HttpTransfer* t) { return t->ended(); });
        });
        for (HttpTransfer* transfer : transfers) {
            if (transfer->state() == HttpTransfer::State::Failed) {
                return {false, transfer->failure().what()};
            }
        }
        return {};
    }
    static PatchException reasonAlone(const std::string& reason) {
        return {Failure::FileListNotFetched, "", reason};
    }
    Outcome fetch(const std::string& url, StringSink& sink) {
        DocumentTransfer transfer(url, sink, session_, reasonAlone);
        return run({&transfer});
    }

    test::TempFolder root_;
    RepoServer server_;
    HttpSession session_;
};

TEST_F(HttpTest, MakesNoRequestForNoRanges) {
    std::stringstream target;
    RangeReceiver receiver(target, {}, nullptr, "a b/file.txt");
    RangeTransfer transfer(server_.baseUrl() + "/a b/file.txt", receiver, session_);
    EXPECT_TRUE(run({&transfer}).ok);
    EXPECT_EQ(transfer.state(), HttpTransfer::State::Done);
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(HttpTest, AWholeFileRequestAfterRangesOnTheSameConnectionAsksForNoRange) {
    std::stringstream target;
    Piece piece;
    piece.targetOffset = 2;
    piece.length = 3;
    piece.kind = kPieceDownload;
    RangeReceiver receiver(target, {piece}, nullptr, "a b/file.txt");
    RangeTransfer ranges(server_.baseUrl() + "/a b/file.txt", receiver, session_);
    StringSink whole;
    DocumentTransfer document(server_.baseUrl() + "//a b\\file.txt", whole, session_, reasonAlone);
    ASSERT_TRUE(run({&ranges, &document}).ok);

    EXPECT_EQ(whole.body, "0123456789");
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].range, "bytes=2-4");
    EXPECT_EQ(requests[1].range, "");
    EXPECT_EQ(requests[1].target, "//a%20b/file.txt");
}

TEST_F(HttpTest, ADocumentCountsOnlyAsAWholeAnswerWithStatus200) {
    StringSink sink;
    const Outcome found = fetch(server_.baseUrl() + "/a b/file.txt", sink);
    EXPECT_TRUE(found.ok) << found.cause;
    EXPECT_EQ(sink.body, "0123456789");

    const Outcome missing = fetch(server_.baseUrl() + "/missing.txt", sink);
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.cause, "the server answered status 404");
    EXPECT_EQ(sink.body, "");  // the error page is not handed on
}

TEST_F(HttpTest, RefusesSchemesOtherThanHttpAndHttps) {
    StringSink sink;
    const Outcome local = fetch("file://" + root_ / "a b/file.txt", sink);
    EXPECT_FALSE(local.ok);
    EXPECT_NE(local.cause.find("'file://"), std::string::npos) << local.cause;
    EXPECT_NE(local.cause.find("is not an http or https address"), std::string::npos)
        << local.cause;
    EXPECT_EQ(sink.body, "");
}

TEST(ByteRate, ReadsPlainNumbersAndKAndMSuffixes) {
    std::int64_t rate = 0;
    EXPECT_TRUE(parseByteRate("125000", rate));
    EXPECT_EQ(rate, 125000);
    EXPECT_TRUE(parseByteRate("500k", rate));
    EXPECT_EQ(rate, 500 * 1024);
    EXPECT_TRUE(parseByteRate("2M", rate));
    EXPECT_EQ(rate, 2 * 1024 * 1024);
    for (const char* wrong : {"", "k", "-5", "5 k", "5G", "99999999999999999999"}) {
        EXPECT_FALSE(parseByteRate(wrong, rate)) << wrong;
    }
}

// Requests run side by side, so answers come in any order: a late answer to a request sent
// before the count was lowered never raises it again.
struct AnswerSequence {
    const char* name;
    std::vector<RangeAnswer> answers;
    std::size_t rangesPerRequest;
    bool rangesAnswered;
};

class SessionLearning : public ::testing::TestWithParam<AnswerSequence> {};

TEST_P(SessionLearning, KeepsTheLowestCountAnyAnswerCalledFor) {
    HttpSession session;
    for (const RangeAnswer& answer : GetParam().answers) {
        session.learnFromAnswer(answer);
    }
    EXPECT_EQ(session.rangesPerRequest(), GetParam().rangesPerRequest);
    EXPECT_EQ(session.rangesAnswered(), GetParam().rangesAnswered);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SessionLearning,
    ::testing::Values(
        AnswerSequence{"RefusalQuarters", {{.asked = 35, .refusedSeveral = true}}, 8, false},
        AnswerSequence{"RefusalsGoDownToOne",
                       {{.asked = 35, .refusedSeveral = true},
                        {.asked = 8, .refusedSeveral = true},
                        {.asked = 2, .refusedSeveral = true}},
                       1,
                       false},
        AnswerSequence{
            "LateRefusalOfALargerRequestKeepsTheLower",
            {{.asked = 8, .refusedSeveral = true}, {.asked = 35, .refusedSeveral = true}},
            2,
            false},
        AnswerSequence{"PartsLimitKeptAndNeverRaised",
                       {{.asked = 35, .partsAnswered = 10},
                        {.asked = 35, .partsAnswered = 20},
                        {.asked = 35, .rangesPlaced = true}},
                       10,
                       true},
        AnswerSequence{"LatePartsLimitAboveARefusalKeepsTheRefusal",
                       {{.asked = 35, .refusedSeveral = true}, {.asked = 35, .partsAnswered = 10}},
                       8,
                       false},
        AnswerSequence{"AllPartsAnsweredChangesNothing",
                       {{.asked = 35, .rangesPlaced = true, .partsAnswered = 35}},
                       kMaxRangesPerRequest,
                       true}),
    [](const auto& info) { return info.param.name; });

TEST_F(HttpTest, ReportsAServerThatCannotBeReached) {
    server_.stop();
    StringSink sink;
    const Outcome refused = fetch(server_.baseUrl() + "/a b/file.txt", sink);
    EXPECT_FALSE(refused.ok);
    EXPECT_FALSE(refused.cause.empty());
}

}  // namespace
}  // namespace veldmoor
