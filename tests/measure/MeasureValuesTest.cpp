#include "measure/MeasureValues.h"

#include "measure/MeasureInterval.h"

#include "link/Module1.h"
#include "support/FakePort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace vardel;
using vardel::test::FakePort;

namespace {

// RxBuf filled with a reply of `count` values: value v (1-based) is v * 1.5,
// negative for even v, so that every start position decodes to its own number.
float replyValue(int v) { return (v % 2 == 0 ? -1.5f : 1.5f) * static_cast<float>(v); }

RxBuffer replyOf(int count)
{
    RxBuffer buf{};
    RxBuffer one{};
    for (int v = 1; v <= count; ++v) {
        FloatToBas(one, replyValue(v));
        for (int b = 0; b < 6; ++b)
            buf[static_cast<std::size_t>(6 * (v - 1) + 1 + b)] = one[static_cast<std::size_t>(1 + b)];
    }
    return buf;
}

} // namespace

TEST(MeasureValues, EachValueGoesToItsModelsBox)
{
    struct Row {
        const char* what;
        std::int16_t model;
        int n;
        std::vector<int> boxes; // box of value 1, 2, ... as far as shown
    };
    const std::vector<Row> rows = {
        {"KX-2 complete", kModelKX2, 24, {1, 2, 5, 7}},
        {"KX-2 with a fifth value", kModelKX2, 30, {1, 2, 5, 7}},
        {"KX-3 complete", kModelKX3, 36, {1, 2, 3, 4, 5, 7}},
        {"KX-4 complete", kModelKX4, 60, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        {"KX-4 with extra bytes", kModelKX4, 250, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        // A value the reply cut short is not taken from older bytes of RxBuf.
        {"KX-3 short reply", kModelKX3, 13, {1, 2}},
        {"KX-3 two bytes short", kModelKX3, 34, {1, 2, 3, 4, 5}},
        {"KX-4 one byte", kModelKX4, 1, {}},
        {"nothing fetched", kModelKX4, 0, {}},
        {"negative count", kModelKX4, -2, {}},
        {"unknown model", 3, 60, {}},
        {"negative model", -1, 60, {}},
    };
    const RxBuffer buf = replyOf(41);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto values = mapMeasuredValues(row.model, buf, row.n);
        ASSERT_EQ(values.size(), row.boxes.size());
        for (std::size_t k = 0; k < values.size(); ++k) {
            EXPECT_EQ(values[k].box, row.boxes[k]) << "value " << k + 1;
            EXPECT_EQ(values[k].start, static_cast<int>(6 * k + 1));
            EXPECT_FLOAT_EQ(values[k].value, replyValue(static_cast<int>(k) + 1));
        }
    }
}

TEST(MeasureValues, LayoutSwitchesOnlyTheOptionalFrames)
{
    struct Row {
        std::int16_t model;
        std::vector<int> shown;
        std::vector<int> hidden;
    };
    const std::vector<Row> rows = {
        {kModelKX2, {}, {3, 4, 6, 8, 9, 10}},
        {kModelKX3, {3, 4}, {6, 8, 9, 10}},
        {kModelKX4, {3, 4, 6, 8, 9, 10}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.model);
        std::vector<int> shown, hidden;
        for (const BoxVisibility& v : measureLayoutOf(row.model))
            (v.visible ? shown : hidden).push_back(v.box);
        EXPECT_EQ(shown, row.shown);
        EXPECT_EQ(hidden, row.hidden);
    }
    EXPECT_TRUE(measureLayoutOf(3).empty());
    EXPECT_TRUE(measureLayoutOf(-1).empty());
}

namespace {

// The card as FakePort scripts it for one measured-values exchange: send and
// reply done at once, then the reported length and the reply bytes.
void scriptReply(FakePort& port, int length, const std::vector<std::uint8_t>& bytes)
{
    port.regDefault[7] = 128;
    port.regDefault[6] = 128;
    port.regReads[15] = {static_cast<std::uint8_t>(length >> 8)};
    port.regReads[16] = {static_cast<std::uint8_t>(length & 0xFF)};
    port.regReads[4].assign(bytes.begin(), bytes.end());
}

struct Errors : ErrorWindows {
    int transmit = 0;
    int receive = 0;
    void showTransmitError() override { ++transmit; }
    void showReceiveError() override { ++receive; }
};

long reads(const FakePort& port, int reg)
{
    return std::count(port.regReadsSeen.begin(), port.regReadsSeen.end(), reg);
}

} // namespace

TEST(MeasureValues, ReadingAsksForTheModelsBlockAndMapsTheReply)
{
    FakePort port;
    Module1 link(port);
    Errors errors;
    link.setErrorWindows(&errors);
    link.MeterModel = kModelKX4;
    const RxBuffer buf = replyOf(10);
    scriptReply(port, 62, std::vector<std::uint8_t>(buf.begin() + 1, buf.begin() + 61));

    const MeasureReading r = readMeasuredValues(link);

    EXPECT_EQ(r.flag, 0);
    EXPECT_EQ(r.count, 60);
    EXPECT_EQ(port.writtenValues(5), (std::vector<int>{1, 2, 1, 60}));
    ASSERT_EQ(r.values.size(), 10u);
    EXPECT_EQ(r.values[9].box, 10);
    EXPECT_EQ(r.values[9].start, 55);
    EXPECT_FLOAT_EQ(r.values[9].value, replyValue(10));
    EXPECT_EQ(errors.transmit + errors.receive, 0);
}

TEST(MeasureValues, CountsOutsideTheBufferReadNothing)
{
    struct Row {
        const char* what;
        int high, low;
        std::int16_t flag;
        int count;
        int receiveErrors;
    };
    const std::vector<Row> rows = {
        {"length 2: empty reply", 0, 2, 0, 0, 0},
        {"length 0", 0, 0, 0, -2, 0},
        {"length 253: one byte too many", 0, 253, 1, 251, 1},
        {"length 32768 and more", 128, 0, 1, 32766, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FakePort port;
        Module1 link(port);
        Errors errors;
        link.setErrorWindows(&errors);
        link.MeterModel = kModelKX4;
        link.RxBuf.fill(0x11);
        port.regReads[15] = {static_cast<std::uint8_t>(row.high)};
        port.regReads[16] = {static_cast<std::uint8_t>(row.low)};
        port.regDefault[4] = 0x99;

        const MeasureReading r = fetchMeasuredValues(link);

        EXPECT_EQ(r.flag, row.flag);
        EXPECT_EQ(r.count, row.count);
        EXPECT_TRUE(r.values.empty());
        EXPECT_EQ(reads(port, 4), 0);
        EXPECT_EQ(link.RxBuf[1], 0x11);
        EXPECT_EQ(errors.receive, row.receiveErrors);
    }
}

// The shortest interval of a refresh, worked out by hand: request (4 bytes)
// and reply (24, 36 or 60 bytes), each with the card's two bytes at ten bits
// a byte, the response time and a fifth more, and 20 ms of the card's own,
// for every meter in turn, rounded up to 10 ms.
TEST(ShortestRefresh, FollowsModelBaudResponseAndMeterCount)
{
    using std::chrono::milliseconds;
    struct Case {
        std::vector<std::int16_t> models;
        std::int16_t baud;
        int responseMs;
        int ms;
    };
    const Case cases[] = {
        {{kModelKX4}, 0, 20, 620},                 // 50 + 516,7 + 24 + 20
        {{kModelKX4, kModelKX4}, 0, 20, 1230},     // twice that, 1221,3
        {{kModelKX2, kModelKX4}, 0, 20, 930},      // 310,7 + 610,7
        {{kModelKX4}, 0, 500, 1190},               // 50 + 516,7 + 600 + 20
        {{kModelKX2}, 4, 20, 70},                  // 3,1 + 13,5 + 24 + 20
        {{kModelKX3, kModelKX3, kModelKX3}, 3, 500, 2000}, // 3 * 665,8
        {{}, 0, 20, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.models.size() << " meters, baud " << c.baud << ", " << c.responseMs);
        EXPECT_EQ(shortestRefreshMs(c.models, c.baud, milliseconds(c.responseMs)), c.ms);
    }
}
