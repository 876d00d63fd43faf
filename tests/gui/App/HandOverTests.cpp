// Long hand-overs from later launches: read as the pieces arrive, handed on in slices.
#include <gtest/gtest.h>

#include "Platform/Runtime/ManualRunLoop.h"
#include "Tesvano/App/SingleInstance.h"
#include "Tesvano/App/URLDeliveryQueue.h"

namespace tesvano {
namespace {

using InstanceMessage::Status;

TEST(InstanceMessageDecoder, ReadsAMessageInAnyPiecesAsDecodeReadsItWhole) {
    std::vector<std::string> urls;
    for (int i = 0; i + 1 < static_cast<int>(InstanceMessage::maximumCount); ++i) {
        urls.push_back("tesvano://ping?n=" + std::to_string(i) + std::string(i % 300, 'x'));
    }
    urls.emplace_back();
    const std::string bytes = InstanceMessage::encode(urls);
    ASSERT_LE(bytes.size(), InstanceMessage::maximumSize);
    for (const std::size_t piece :
         {std::size_t{1}, std::size_t{3}, std::size_t{256}, std::size_t{65536}, bytes.size()}) {
        InstanceMessage::Decoder decoder;
        Status status = Status::incomplete;
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            ASSERT_EQ(status, Status::incomplete) << piece;
            status = decoder.feed(std::string_view(bytes).substr(at, piece));
        }
        ASSERT_EQ(status, Status::complete) << piece;
        EXPECT_EQ(decoder.takeURLs(), urls) << piece;
        EXPECT_EQ(decoder.feed("x"), Status::invalid) << "nothing may follow";
    }

    struct Bad {
        std::string bytes;
        const char* why;
    };
    for (const Bad& bad :
         {Bad{"TSV2", "other magic"}, Bad{std::string("TSV1\0\0\x10\x01", 8), "too many URLs"},
          Bad{std::string("TSV1\0\0\0\1\xFF\xFF\xFF\xFF", 12), "too long"},
          Bad{InstanceMessage::encode({"a"}) + "b", "trailing bytes"}}) {
        InstanceMessage::Decoder decoder;
        Status status = Status::incomplete;
        for (char c : bad.bytes) {
            status = decoder.feed(std::string_view(&c, 1));
        }
        EXPECT_EQ(status, Status::invalid) << bad.why;
    }
}

TEST(URLDeliveryQueue, HandsOnSlicesOnLaterTurnsInTheOrderMessagesCame) {
    platform::ManualRunLoop loop;
    std::vector<std::vector<std::string>> delivered;
    URLDeliveryQueue queue(
        loop, [&](std::vector<std::string> s) { delivered.push_back(s); }, 4);

    std::vector<std::string> first;
    for (int i = 0; i < 10; ++i) {
        first.push_back("tesvano://a" + std::to_string(i));
    }
    queue.push(first);
    queue.push({});  // a reopen
    queue.push({"tesvano://b"});
    EXPECT_TRUE(delivered.empty()) << "nothing runs inside the read";

    // Work that came in meanwhile runs between the slices, not after all of them.
    loop.post(platform::Seconds(0), [&] { delivered.push_back({"other work"}); });
    loop.runUntilIdle();
    EXPECT_TRUE(queue.idle());
    ASSERT_EQ(delivered.size(), 6u);
    EXPECT_EQ(delivered[1], std::vector<std::string>{"other work"});
    delivered.erase(delivered.begin() + 1);
    const std::vector<std::vector<std::string>> expected{
        {first.begin(), first.begin() + 4},
        {first.begin() + 4, first.begin() + 8},
        {first.begin() + 8, first.end()},
        {},
        {"tesvano://b"},
    };
    EXPECT_EQ(delivered, expected);
}

}  // namespace
}  // namespace tesvano
