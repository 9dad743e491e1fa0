// Card register access, link set-up, the completion waits and the card reset,
// seen as the port operations they produce.
#include "link/Module1.h"
#include "support/FakePort.h"

#include <atomic>
#include <gtest/gtest.h>

#include <vector>

namespace vardel {
namespace {

using test::FakePort;
using Op = FakePort::Op;

constexpr std::uint16_t kData = 832;
constexpr std::uint16_t kCmd = 833;

Op in(std::uint16_t port, std::uint8_t v) { return {false, port, v}; }
Op out(std::uint16_t port, std::uint8_t v) { return {true, port, v}; }

TEST(CardAccess, WriteAndReadAreFixedPortSequences)
{
    FakePort port;
    Module1 link(port);
    port.regDefault[7] = 0x5A;

    link.CardWriteReg(5, 170);
    EXPECT_EQ(port.ops, (std::vector<Op>{in(kCmd, 4), out(kCmd, 69), in(kCmd, 4), out(kData, 170), in(kCmd, 4)}));

    port.clear();
    EXPECT_EQ(link.CardReadReg(7), 0x5A);
    EXPECT_EQ(port.ops, (std::vector<Op>{in(kCmd, 4), out(kCmd, 7), in(kCmd, 4), in(kData, 0x5A)}));
}

TEST(CardAccess, ReadyIsTheLowThreeBitsOnly)
{
    // Upper status bits are not looked at; 0x0C has the low pattern 100.
    FakePort port;
    Module1 link(port);
    port.statusQueue = {0x05, 0x06, 0x07, 0x00, 0xFB};
    port.status = 0x0C;
    EXPECT_EQ(link.CardWaitReady(), 0);
    EXPECT_EQ(port.statusReads, 6);
}

TEST(CardAccess, ReadyWaitCountsExactly19999StatusReads)
{
    FakePort port;
    port.recordStatusReads = false;
    Module1 link(port);

    port.statusQueue.assign(kReadyTries - 1, 0);
    port.status = 4;
    EXPECT_EQ(link.CardWaitReady(), 0) << "ready on the last permitted read";
    EXPECT_EQ(port.statusReads, kReadyTries);

    port.clear();
    port.status = 0;
    EXPECT_EQ(link.CardWaitReady(), 1);
    EXPECT_EQ(port.statusReads, kReadyTries);
}

TEST(CardAccess, DeadCardGivesUpAfterOneWaitAndNeverTouchesTheDataPort)
{
    FakePort port;
    port.recordStatusReads = false;
    port.status = 0;
    port.regDefault[4] = 99;
    Module1 link(port);

    EXPECT_EQ(link.CardReadReg(4), 0);
    EXPECT_EQ(port.statusReads, kReadyTries);
    EXPECT_TRUE(port.ops.empty()) << "no command byte, no data read";

    port.clear();
    link.CardWriteReg(5, 1);
    EXPECT_EQ(port.statusReads, kReadyTries);
    EXPECT_TRUE(port.ops.empty());
}

TEST(CardAccess, CardThatStopsBeingReadyDropsTheRestOfTheWrite)
{
    FakePort port;
    port.recordStatusReads = false;
    port.statusQueue = {4};
    port.status = 0;
    Module1 link(port);
    link.CardWriteReg(12, 7);
    EXPECT_EQ(port.ops, (std::vector<Op>{out(kCmd, 12 + 64)}));
    EXPECT_EQ(port.statusReads, 1 + kReadyTries);
}

TEST(CardAccess, PortsFollowTheCardAddress)
{
    FakePort port;
    Module1 link(port);
    EXPECT_EQ(link.CardAddress, 832);
    EXPECT_EQ(link.CardCommandPort, 833);

    link.setCardAddress(0x300);
    port.setDataPort(768);
    port.regDefault[6] = 128;
    EXPECT_EQ(link.CardReadReg(6), 128);
    EXPECT_EQ(port.ops, (std::vector<Op>{in(769, 4), out(769, 6), in(769, 4), in(768, 128)}));
    EXPECT_EQ(link.ReadCardStatus(), 4);
    EXPECT_EQ(port.ops.back(), in(769, 4));
}

class FakeControls : public LinkControls {
public:
    int baud = -1;
    int check = 0;
    int selectedBaudButton() const override { return baud; }
    int transmitCheckValue() const override { return check; }
};

TEST(CardSetLink, WritesRegistersInOrderAndBuildsTheMode)
{
    struct Case {
        int baud;
        int check;
        int mode;
    };
    const Case cases[] = {
        {5, 0, 5},     // 38400, unticked
        {4, 1, 132},   // 19200, ticked
        {0, 0, 0},     // 1200, unticked
        {-1, 1, 128},  // no baud button: only the transmit check
        {-1, 0, 0},
        {3, 2, 3},     // a greyed box is not ticked
    };
    for (const Case& c : cases) {
        FakePort port;
        Module1 link(port);
        link.MasterAddress = 17;
        link.MeterAddress = 201;
        link.BaudCode = 1;      // the buttons win over the variables
        link.TransmitCheck = 1;
        FakeControls controls;
        controls.baud = c.baud;
        controls.check = c.check;
        link.setControls(&controls);

        link.CardSetLink();
        const std::vector<std::pair<int, int>> expected{{10, 1}, {12, 17}, {13, 201}, {11, c.mode}};
        EXPECT_EQ(port.regWrites, expected) << "baud " << c.baud << " check " << c.check;
    }
}

TEST(CardSetLink, WithoutTheWindowUsesTheLinkVariables)
{
    FakePort port;
    Module1 link(port);
    link.BaudCode = 2;
    link.TransmitCheck = 1;
    link.CardSetLink();
    EXPECT_EQ(port.writtenValues(11), std::vector<int>{130});
}

TEST(CompletionWait, OnlyExactly128EndsTheWait)
{
    FakePort port;
    port.recordStatusReads = false;
    Module1 link(port);
    // 129 and 192 have the 128 bit set but are not "done".
    port.regReads[7] = {0, 129, 192, 255, 128};
    std::int16_t flag = 1;
    link.WaitSendDone(flag);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(port.regReadsSeen, (std::vector<int>{7, 7, 7, 7, 7}));
}

TEST(CompletionWait, Bound149999ReadsOfTheRightRegister)
{
    FakePort port;
    port.recordStatusReads = false;
    Module1 link(port);

    // Done on the very last permitted read.
    long reads = 0;
    port.onRead = [&](int reg) -> std::uint8_t {
        EXPECT_EQ(reg, 6);
        return ++reads == kCompletionTries ? 128 : 192;
    };
    std::int16_t flag = 1;
    link.WaitReplyDone(flag);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(reads, kCompletionTries);

    // Never done: flag 1 after exactly as many reads, none more.
    reads = 0;
    port.onRead = [&](int reg) -> std::uint8_t {
        EXPECT_EQ(reg, 7);
        ++reads;
        return 129;
    };
    flag = 0;
    link.WaitSendDone(flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(reads, kCompletionTries);
}

// Ctrl+C in the command line: the wait under way ends as a time-out at the
// next read, and every later wait fails before touching the card.
TEST(CompletionWait, StopRequestEndsTheWaitAndEveryLaterOne)
{
    FakePort port;
    port.recordStatusReads = false;
    Module1 link(port);
    std::atomic<int> stop{0};
    link.setStopFlag(&stop);

    long reads = 0;
    port.onRead = [&](int) -> std::uint8_t {
        if (++reads == 10)
            stop = 2; // SIGINT
        return 0;
    };
    std::int16_t flag = 0;
    link.WaitReplyDone(flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(reads, 10);

    port.clear();
    port.onRead = [](int) -> std::uint8_t { return 128; }; // a card that would answer at once
    link.WaitSendDone(flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(link.CardWaitReady(), 1);
    EXPECT_TRUE(port.ops.empty());
    EXPECT_EQ(port.statusReads, 0);
}

// A card that stops answering the PC ends a wait long before its count: each
// register read that finds it not ready has cost a whole ready wait already.
TEST(CompletionWait, DeadCardEndsTheWaitAfterItsNotReadyReadsInARow)
{
    FakePort port;
    port.recordStatusReads = false;
    port.status = 0;
    Module1 link(port);
    std::int16_t flag = 0;
    link.WaitReplyDone(flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(port.statusReads, long{kNotReadyReadsInWait} * kReadyTries);
    EXPECT_TRUE(port.ops.empty()) << "no command byte, no data read";
}

// Stretches of not-ready one read short of the bound, each followed by one
// answered read, do not end the wait: only reads in a row count.
TEST(CompletionWait, ReadyReadBetweenNotReadyStretchesKeepsTheWaitGoing)
{
    FakePort port;
    port.recordStatusReads = false;
    Module1 link(port);
    const std::size_t stretch = std::size_t{kNotReadyReadsInWait - 1} * kReadyTries;
    for (int i = 0; i < 3; ++i) {
        port.statusQueue.insert(port.statusQueue.end(), stretch, 0);
        port.statusQueue.insert(port.statusQueue.end(), {4, 4}); // one read: not done yet
    }
    port.statusQueue.insert(port.statusQueue.end(), stretch, 0);
    port.status = 4;
    port.regReads[7] = {0, 0, 0, 128};
    std::int16_t flag = 1;
    link.WaitSendDone(flag);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(port.regReadsSeen, (std::vector<int>{7, 7, 7, 7}));
}

// The mainboard's own ports lie below 100h; a card address whose pair reaches
// there is refused, and even one set directly is never touched.
TEST(CardAccess, PortsBelow100hAreNeverTouched)
{
    struct Case {
        int address;
        bool accepted;
    };
    const Case cases[] = {
        {0x0, false}, {0x20, false}, {0xFE, false}, {0xFF, false}, {0xFFFF, false}, // FFFF's command port is 0
        {0x100, true}, {0x2F8, true}, {0xFFFE, true},
    };
    for (const Case& c : cases) {
        FakePort port;
        Module1 link(port);
        link.setCardAddress(0x300);
        const auto address = static_cast<std::int16_t>(static_cast<std::uint16_t>(c.address));
        EXPECT_EQ(isSystemPortPair(address), !c.accepted) << c.address;
        EXPECT_EQ(link.setCardAddress(address), c.accepted) << c.address;
        EXPECT_EQ(link.CardAddress, c.accepted ? address : 0x300) << c.address;
        EXPECT_EQ(link.CardCommandPort, static_cast<std::int16_t>(link.CardAddress + 1)) << c.address;
    }

    FakePort port(0x20);
    port.status = 4;
    Module1 link(port);
    link.CardAddress = 0x20;
    link.CardCommandPort = 0x21;
    link.CardSetLink();
    EXPECT_EQ(link.CardReadReg(6), 0);
    EXPECT_EQ(link.ReadCardStatus(), 0xFF) << "what an empty bus gives";
    link.CardReset();
    float value = 42.0f;
    std::int16_t flag = 0;
    link.ReadConfigReg(0, value, flag);
    EXPECT_EQ(flag, 1);
    EXPECT_TRUE(port.ops.empty());
    EXPECT_EQ(port.statusReads, 0);
}

TEST(CardReset, PulsesTheResetLineWithoutRegisterAccess)
{
    FakePort port;
    Module1 link(port);
    port.status = 0x84;
    port.statusQueue.assign(1502, 0x80);
    port.statusQueue.push_back(0x0C); // last read is what "Status karty" shows

    EXPECT_EQ(link.CardReset(), 0x0C);
    EXPECT_EQ(port.statusReads, 1503);
    EXPECT_TRUE(port.regWrites.empty());
    EXPECT_TRUE(port.regReadsSeen.empty());

    std::vector<Op> writes;
    std::size_t firstWrite = 0, secondWrite = 0;
    for (std::size_t i = 0; i < port.ops.size(); ++i) {
        if (port.ops[i].out) {
            (writes.empty() ? firstWrite : secondWrite) = i;
            writes.push_back(port.ops[i]);
        }
        EXPECT_EQ(port.ops[i].port, kCmd) << "the data port is not used";
    }
    EXPECT_EQ(writes, (std::vector<Op>{out(kCmd, 128), out(kCmd, 0)}));
    EXPECT_EQ(firstWrite, 1u);                 // one read before the pulse
    EXPECT_EQ(secondWrite - firstWrite, 1002u); // 1001 reads during it
}

TEST(HexText, UppercaseWithoutLeadingZeros)
{
    const std::pair<int, const char*> cases[] = {
        {4, "4h"}, {0, "0h"}, {0xFC, "FCh"}, {832, "340h"}, {0x300, "300h"}, {0x7FFF, "7FFFh"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(hexText(value), text) << value;
}

} // namespace
} // namespace vardel
