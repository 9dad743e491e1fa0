// The meter exchanges: request bytes, register order, reply fetching and what a
// time-out or an oversized reply leaves behind.
#include "link/Module1.h"
#include "support/FakePort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace vardel {
namespace {

using test::FakePort;
using Writes = std::vector<std::pair<int, int>>;

class RecordingWindows : public ErrorWindows {
public:
    int transmit = 0;
    int receive = 0;
    void showTransmitError() override { ++transmit; }
    void showReceiveError() override { ++receive; }
};

class RecordingListener : public LinkListener {
public:
    std::vector<std::pair<LinkEvent, std::vector<std::uint8_t>>> events;
    void linkEvent(LinkEvent event, std::span<const std::uint8_t> bytes) override
    {
        events.emplace_back(event, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    }
};

// A card that reports every request sent and every reply complete, with a
// reply of the given bytes (length = payload + 2).
struct Bench {
    FakePort port;
    Module1 link{port};
    RecordingWindows windows;

    Bench()
    {
        port.recordStatusReads = false;
        port.regDefault[7] = 128;
        port.regDefault[6] = 128;
        link.setErrorWindows(&windows);
        link.RxBuf.fill(0xEE);
    }
    void reply(const std::vector<std::uint8_t>& payload)
    {
        const int length = static_cast<int>(payload.size()) + 2;
        port.regDefault[15] = static_cast<std::uint8_t>(length / 256);
        port.regDefault[16] = static_cast<std::uint8_t>(length % 256);
        port.regReads[4].assign(payload.begin(), payload.end());
    }
    int readsOf(int reg) const
    {
        int n = 0;
        for (int r : port.regReadsSeen)
            n += r == reg;
        return n;
    }
};

const Writes kClear{{2, 0}, {3, 0}, {1, 0}, {0, 0}};

Writes requestWrites(const std::vector<int>& body)
{
    Writes w = kClear;
    w.emplace_back(6, 0);
    for (int b : body)
        w.emplace_back(5, b);
    w.insert(w.end(), {{9, 0}, {17, 0}, {18, static_cast<int>(body.size())}, {7, 64}});
    return w;
}

TEST(ReadConfigReg, RequestBytesFollowModelBaseAndRegister)
{
    struct Case {
        std::int16_t model;
        std::int16_t r;
        std::vector<int> body;
    };
    const Case cases[] = {
        {kModelKX2, 0, {1, 2, 73, 6}},    // 585
        {kModelKX3, 5, {1, 2, 151, 6}},   // 663
        {kModelKX4, 254, {1, 20, 205, 6}}, // 5325
    };
    for (const Case& c : cases) {
        Bench b;
        b.link.MeterModel = c.model;
        b.reply({0x25, 0, 0, 0, 0, 0x82});
        float value = 0;
        std::int16_t flag = 1;
        b.link.ReadConfigReg(c.r, value, flag);
        EXPECT_EQ(flag, 0);
        EXPECT_EQ(value, 25.0f);
        Writes expected = requestWrites(c.body);
        expected.insert(expected.end(), kClear.begin(), kClear.end());
        EXPECT_EQ(b.port.regWrites, expected) << "model " << c.model << " r " << c.r;
    }
}

TEST(ReadConfigReg, FetchesExactlyThePayloadAfterTheCompletions)
{
    Bench b;
    b.reply({0x12, 0x34, 0x56, 0x70, 0x01, 0x84});
    b.port.regReads[4].push_back(0x99); // a seventh byte the card has but did not report
    float value = 0;
    std::int16_t flag = 1;
    b.link.ReadConfigReg(3, value, flag);

    EXPECT_EQ(flag, 0);
    EXPECT_EQ(value, -1234.567f);
    EXPECT_EQ(b.port.regReadsSeen, (std::vector<int>{7, 6, 15, 16, 4, 4, 4, 4, 4, 4}));
    const std::vector<std::uint8_t> head(b.link.RxBuf.begin() + 1, b.link.RxBuf.begin() + 7);
    EXPECT_EQ(head, (std::vector<std::uint8_t>{0x12, 0x34, 0x56, 0x70, 0x01, 0x84}));
    EXPECT_EQ(b.link.RxBuf[7], 0xEE) << "bytes past the reply keep older content";
    EXPECT_EQ(b.link.RxBuf[250], 0xEE);
}

// A reply without the six bytes of one number is a failed read: decoding it
// would hand out what the buffer held from the previous reply.
TEST(ReadConfigReg, ReplyShorterThanOneNumberIsAFailedRead)
{
    for (int length : {0, 1, 2, 3, 7}) {
        Bench b;
        RecordingListener listener;
        b.link.setListener(&listener);
        b.port.regDefault[15] = 0;
        b.port.regDefault[16] = static_cast<std::uint8_t>(length);
        b.port.regDefault[4] = 0x11;
        const RxBuffer before = b.link.RxBuf;
        float value = 42.0f;
        std::int16_t flag = 0;
        b.link.ReadConfigReg(0, value, flag);
        EXPECT_EQ(flag, 1) << length;
        EXPECT_EQ(value, 42.0f) << length;
        EXPECT_EQ(b.windows.receive, 1) << length;
        EXPECT_EQ(b.windows.transmit, 0) << length;
        EXPECT_EQ(b.readsOf(4), 0) << length;
        EXPECT_EQ(b.link.RxBuf, before) << length;
        ASSERT_FALSE(listener.events.empty());
        EXPECT_EQ(listener.events.back().first, LinkEvent::ReplyRefused) << length;
    }
}

TEST(ReadConfigReg, ReplyThatDoesNotFitRxBufIsRefused)
{
    struct Case {
        std::uint8_t high, low;
        bool refused;
    };
    const Case cases[] = {
        {0, 252, false},  // payload 250: fills RxBuf exactly
        {0, 253, true},   // payload 251
        {1, 0, true},
        {128, 0, true},   // 32768: negative in the card's 16 bits
        {255, 255, true},
    };
    for (const Case& c : cases) {
        Bench b;
        b.port.regDefault[15] = c.high;
        b.port.regDefault[16] = c.low;
        b.port.regDefault[4] = 0x10;
        float value = -7.0f;
        std::int16_t flag = 0;
        b.link.ReadConfigReg(0, value, flag);
        const int length = c.high * 256 + c.low;
        if (c.refused) {
            EXPECT_EQ(flag, 1) << length;
            EXPECT_EQ(value, -7.0f) << length;
            EXPECT_EQ(b.windows.receive, 1) << length;
            EXPECT_EQ(b.readsOf(4), 0) << length;
            EXPECT_EQ(b.link.RxBuf[1], 0xEE) << length;
        } else {
            EXPECT_EQ(flag, 0) << length;
            EXPECT_EQ(b.readsOf(4), 250);
            EXPECT_EQ(b.link.RxBuf[250], 0x10);
            EXPECT_EQ(b.windows.receive, 0);
        }
        EXPECT_EQ(b.windows.transmit, 0);
    }
}

// Every exchange against a card that never reports the request sent or the
// reply complete: which window, which flag, and nothing read or kept.
TEST(Exchange, TimeOutsShowTheirWindowAndReadNothingFurther)
{
    enum class Hang { Send, Reply };
    struct Case {
        const char* name;
        Hang hang;
        std::function<std::int16_t(Module1&)> run; // returns the flag (-1: none)
        int transmit, receive;
        std::int16_t flag;
        bool buildsNumber = false; // a write fills RxBuf(1..6) before it sends
    };
    const auto readReg = [](Module1& m) {
        float value = 42.0f;
        std::int16_t flag = 0;
        m.ReadConfigReg(1, value, flag);
        EXPECT_EQ(value, 42.0f) << "value untouched";
        return flag;
    };
    const auto measure = [](Module1& m) {
        std::int16_t flag = 0;
        m.RequestMeasureBlock(flag);
        return flag;
    };
    const auto write = [](Module1& m) {
        m.Kx_Reg_Write(1, 0.0f);
        return std::int16_t{-1};
    };
    const auto store = [](Module1& m) {
        m.SendEepromStore();
        return std::int16_t{-1};
    };
    const auto reset = [](Module1& m) {
        m.SendMeterReset();
        return std::int16_t{-1};
    };
    const Case cases[] = {
        {"read/send", Hang::Send, readReg, 1, 0, 1},
        {"read/reply", Hang::Reply, readReg, 0, 1, 1},
        {"measure/send", Hang::Send, measure, 1, 0, 1},
        {"measure/reply", Hang::Reply, measure, 0, 1, 1},
        {"write/send", Hang::Send, write, 1, 0, -1, true},
        {"store/send", Hang::Send, store, 1, 0, -1},
        {"reset/send", Hang::Send, reset, 1, 0, -1},
    };
    for (const Case& c : cases) {
        Bench b;
        b.port.regDefault[c.hang == Hang::Send ? 7 : 6] = 0;
        b.port.regDefault[15] = 0;
        b.port.regDefault[16] = 8;
        b.port.regDefault[4] = 0x33;
        const RxBuffer before = b.link.RxBuf;

        EXPECT_EQ(c.run(b.link), c.flag) << c.name;
        EXPECT_EQ(b.windows.transmit, c.transmit) << c.name;
        EXPECT_EQ(b.windows.receive, c.receive) << c.name;
        EXPECT_EQ(b.readsOf(15) + b.readsOf(16) + b.readsOf(4), 0) << c.name;
        const std::ptrdiff_t from = c.buildsNumber ? 7 : 1;
        EXPECT_TRUE(std::equal(before.begin() + from, before.end(), b.link.RxBuf.begin() + from)) << c.name;
        if (c.hang == Hang::Send) {
            EXPECT_EQ(b.readsOf(7), kCompletionTries) << c.name;
            EXPECT_EQ(b.readsOf(6), 0) << c.name << ": no reply wait after a failed send";
        } else {
            EXPECT_EQ(b.readsOf(6), kCompletionTries) << c.name;
        }
        EXPECT_EQ(b.port.regWrites.back(), (std::pair<int, int>{7, 64}))
            << c.name << ": no second clearing of the buffer positions";
    }
}

TEST(RequestMeasureBlock, AsksForTheModelsBlockAndLeavesTheReplyInTheCard)
{
    const std::pair<std::int16_t, int> cases[] = {{kModelKX2, 24}, {kModelKX3, 36}, {kModelKX4, 60}, {7, 1}, {-1, 1}};
    for (const auto& [model, n] : cases) {
        Bench b;
        b.link.MeterModel = model;
        std::int16_t flag = 1;
        b.link.RequestMeasureBlock(flag);
        EXPECT_EQ(flag, 0);
        Writes expected = requestWrites({1, 2, 1, n});
        expected.insert(expected.end(), kClear.begin(), kClear.end());
        EXPECT_EQ(b.port.regWrites, expected) << "model " << model;
        EXPECT_EQ(b.port.regReadsSeen, (std::vector<int>{7, 6}));
    }
}

TEST(FetchReply, CopiesTheMeasuredBlockAfterRequestMeasureBlock)
{
    Bench b;
    b.link.MeterModel = kModelKX2;
    std::vector<std::uint8_t> payload(24);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i + 1);
    b.reply(payload);
    std::int16_t flag = 1;
    b.link.RequestMeasureBlock(flag);
    int count = 0;
    EXPECT_EQ(b.link.FetchReply(&count), 0);
    EXPECT_EQ(count, 24);
    EXPECT_EQ(b.link.RxBuf[1], 1);
    EXPECT_EQ(b.link.RxBuf[24], 24);
    EXPECT_EQ(b.link.RxBuf[25], 0xEE);
}

TEST(KxRegWrite, SendsAddressAndNumberWithoutWaitingForTheReply)
{
    Bench b;
    b.link.MeterModel = kModelKX3;
    b.link.Kx_Reg_Write(5, 25.0f);
    // 02 02 97 06 25 00 00 00 00 82
    EXPECT_EQ(b.port.regWrites, requestWrites({2, 2, 151, 6, 0x25, 0, 0, 0, 0, 0x82}));
    EXPECT_EQ(b.port.regReadsSeen, std::vector<int>{7});
    const std::vector<std::uint8_t> head(b.link.RxBuf.begin() + 1, b.link.RxBuf.begin() + 7);
    EXPECT_EQ(head, (std::vector<std::uint8_t>{0x25, 0, 0, 0, 0, 0x82})) << "the number stays in RxBuf";
}

TEST(WaitWriteReply, ClearsTheReplyFlagAroundTheWaitAndShowsNoWindow)
{
    for (std::uint8_t ack : {std::uint8_t{128}, std::uint8_t{0}}) {
        Bench b;
        b.port.regDefault[6] = ack;
        std::int16_t flag = -1;
        b.link.WaitWriteReply(flag);
        EXPECT_EQ(flag, ack == 128 ? 0 : 1);
        EXPECT_EQ(b.port.regWrites, (Writes{{6, 0}, {6, 0}}));
        EXPECT_EQ(b.readsOf(6), ack == 128 ? 1 : kCompletionTries);
        EXPECT_EQ(b.windows.transmit + b.windows.receive, 0) << "the write procedure reports it";
    }
}

TEST(SendRequests, StoreAndResetAreOneByteRequests)
{
    Bench b;
    b.link.SendMeterReset();
    EXPECT_EQ(b.port.regWrites, (Writes{{2, 0}, {3, 0}, {1, 0}, {0, 0}, {6, 0}, {5, 170},
                                        {9, 0}, {17, 0}, {18, 1}, {7, 64}}));
    EXPECT_EQ(b.port.regReadsSeen, std::vector<int>{7});

    Bench s;
    s.link.SendEepromStore();
    EXPECT_EQ(s.port.regWrites, requestWrites({3}));
    EXPECT_EQ(s.port.regReadsSeen, std::vector<int>{7});
}

// Ctrl+C in the command line ends the wait under way. The bus monitor must
// hear a stop, not a time-out of the card or the meter; a reply fetched whole
// before it stays a reply.
TEST(Exchange, AStopRequestIsHeardAsAStopNotAsATimeout)
{
    using E = LinkEvent;
    struct Case {
        const char* where;
        int reg;    // the register whose reads raise the stop
        int atRead; // on this read of it
        bool write;
        std::int16_t flag;
        std::vector<LinkEvent> events;
    };
    const Case cases[] = {
        {"send wait", 7, 3, false, 1, {E::SendStopped}},
        {"reply wait", 6, 3, false, 1, {E::RequestSent, E::AnswerStopped}},
        {"fetch", 4, 3, false, 1, {E::RequestSent, E::AnswerStopped}},
        {"after the last byte", 4, 6, false, 0, {E::RequestSent, E::ReplyFetched}},
        {"acknowledgement wait", 6, 3, true, 1, {E::RequestSent, E::AnswerStopped}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        Bench b;
        RecordingListener listener;
        b.link.setListener(&listener);
        std::atomic<int> stop{0};
        b.link.setStopFlag(&stop);
        int reads = 0;
        b.port.onRead = [&](int reg) -> std::uint8_t {
            const bool stopping = reg == c.reg && ++reads == c.atRead;
            if (stopping)
                stop = 2;
            if (reg == 6 || reg == 7)
                return reg == c.reg ? 0 : 128;
            if (reg == 15)
                return 0;
            return reg == 16 ? 8 : 0x10;
        };
        std::int16_t flag = 0;
        float value = 0;
        if (c.write) {
            b.link.Kx_Reg_Write(0, 1.0f);
            b.link.WaitWriteReply(flag);
        } else {
            b.link.ReadConfigReg(0, value, flag);
        }
        EXPECT_EQ(flag, c.flag);
        std::vector<LinkEvent> heard;
        for (const auto& e : listener.events)
            heard.push_back(e.first);
        EXPECT_EQ(heard, c.events);
        ASSERT_FALSE(listener.events.empty());
        // The request's bytes (KX-3 register 0 at 633), whether it was reported sent or not.
        const std::vector<std::uint8_t>& request = listener.events.front().second;
        ASSERT_GE(request.size(), 4u);
        EXPECT_EQ(std::vector<std::uint8_t>(request.begin(), request.begin() + 4),
                  (std::vector<std::uint8_t>{static_cast<std::uint8_t>(c.write ? 2 : 1), 2, 121, 6}));
    }
}

TEST(LinkListener, HearsRequestAndReplyBytes)
{
    Bench b;
    RecordingListener listener;
    b.link.setListener(&listener);
    b.link.MeterModel = kModelKX2;
    b.reply({0x10, 0, 0, 0, 0, 0x81});
    float value = 0;
    std::int16_t flag = 1;
    b.link.ReadConfigReg(0, value, flag);
    ASSERT_EQ(listener.events.size(), 2u);
    EXPECT_EQ(listener.events[0].first, LinkEvent::RequestSent);
    EXPECT_EQ(listener.events[0].second, (std::vector<std::uint8_t>{1, 2, 73, 6}));
    EXPECT_EQ(listener.events[1].first, LinkEvent::ReplyFetched);
    EXPECT_EQ(listener.events[1].second, (std::vector<std::uint8_t>{0x10, 0, 0, 0, 0, 0x81}));
}

} // namespace
} // namespace vardel
