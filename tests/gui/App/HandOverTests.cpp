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
    std::vector<std::string> delivered;
    URLDeliveryQueue queue(
        loop,
        [&](std::vector<std::string> urls) {
            ASSERT_LE(urls.size(), 1u) << "one URL at a time";
            delivered.push_back(urls.empty() ? "(reopen)" : urls[0]);
        },
        4);

    std::vector<std::string> first;
    for (int i = 0; i < 10; ++i) {
        first.push_back("tesvano://a" + std::to_string(i));
    }
    for (const auto& message : {first, std::vector<std::string>{}, {"tesvano://b"}}) {
        ASSERT_TRUE(queue.reserve(URLDeliveryQueue::cost(message)));
        queue.push(message);
    }
    EXPECT_TRUE(delivered.empty()) << "nothing runs inside the read";

    // Work that came in meanwhile runs between the slices, not after all of them.
    loop.post(platform::Seconds(0), [&] { delivered.push_back("other work"); });
    loop.runUntilIdle();
    EXPECT_TRUE(queue.idle());
    EXPECT_EQ(queue.pendingBytes(), 0u);
    std::vector<std::string> expected(first.begin(), first.begin() + 4);
    expected.push_back("other work");
    expected.insert(expected.end(), first.begin() + 4, first.end());
    expected.push_back("(reopen)");
    expected.push_back("tesvano://b");
    EXPECT_EQ(delivered, expected);
}

// The manual loop's time, plus what the commands spent.
class BusyClock final : public platform::Runtime {
public:
    explicit BusyClock(platform::ManualRunLoop& loop) : loop_(loop) {}
    platform::Seconds uptime() const override { return loop_.uptime() + spent; }
    platform::WallTime now() const override { return loop_.now() + spent; }
    platform::Registration after(platform::Seconds delay, std::function<void()> action) override {
        return loop_.after(delay, std::move(action));
    }
    platform::Registration watchReadable(int fd, std::function<void()> onReadable) override {
        return loop_.watchReadable(fd, std::move(onReadable));
    }
    platform::Seconds spent{0};

private:
    platform::ManualRunLoop& loop_;
};

TEST(URLDeliveryQueue, WhatWaitsIsBoundedAndASlowSliceEndsEarly) {
    platform::ManualRunLoop loop;
    BusyClock clock(loop);
    std::vector<std::size_t> perTurn;
    URLDeliveryQueue queue(clock, [&](std::vector<std::string>) {
        ++perTurn.back();
        clock.spent += platform::Seconds(0.03);  // a command against thousands of rules
    });
    // Messages of nearly a mebibyte each: two may wait, a third is refused.
    const std::vector<std::string> large(16, "tesvano://ping?" + std::string(60'000, 'p'));
    const std::size_t cost = URLDeliveryQueue::cost(large);
    ASSERT_TRUE(queue.reserve(cost));
    queue.push(large);
    ASSERT_TRUE(queue.reserve(cost));
    EXPECT_FALSE(queue.reserve(cost)) << "too much waits already";
    EXPECT_LE(queue.pendingBytes(), URLDeliveryQueue::maximumPendingBytes);
    queue.release(cost);  // its sender gave up
    ASSERT_TRUE(queue.reserve(cost));
    queue.push(large);
    EXPECT_FALSE(queue.reserve(cost));

    // Other work of the loop marks where one turn ends and the next begins.
    perTurn.push_back(0);
    std::function<void()> tick = [&] {
        if (!queue.idle()) {
            perTurn.push_back(0);
            loop.post(platform::Seconds(0), tick);
        }
    };
    loop.post(platform::Seconds(0), tick);
    loop.runUntilIdle();
    // Each turn ends once its commands took the slice's time, long before 32 URLs.
    EXPECT_EQ(perTurn, std::vector<std::size_t>(16, 2));
    EXPECT_EQ(queue.pendingBytes(), 0u);
}

}  // namespace
}  // namespace tesvano
