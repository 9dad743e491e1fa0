#include "gateway/ModbusFrame.h"

#include <gtest/gtest.h>

#include <string>

using namespace vardel;

namespace {

QByteArray header(std::uint16_t transaction, std::uint16_t protocol, std::uint16_t length, std::uint8_t unit)
{
    QByteArray h;
    appendWord(h, transaction);
    appendWord(h, protocol);
    appendWord(h, length);
    h.append(static_cast<char>(unit));
    return h;
}

// Feeds the reader as a server does: never more than it wants.
ModbusFrameReader::State feedAll(ModbusFrameReader& reader, const QByteArray& bytes, std::size_t* taken = nullptr)
{
    std::size_t at = 0;
    const auto size = static_cast<std::size_t>(bytes.size());
    while (at < size && reader.wanted() > 0) {
        EXPECT_LE(reader.wanted(), ModbusFrameReader::kMaxFrame);
        at += reader.feed(bytes.constData() + at, std::min<std::size_t>(1, size - at));
    }
    if (taken)
        *taken = at;
    return reader.state();
}

} // namespace

TEST(ModbusFrameReader, AFrameFedByteByByteComesOutWhole)
{
    ModbusFrameReader reader;
    const QByteArray pdu = QByteArray::fromHex("0400000004");
    ASSERT_EQ(feedAll(reader, header(0x1234, 0, 6, 17) + pdu), ModbusFrameReader::State::Frame);
    EXPECT_EQ(reader.wanted(), 0u); // nothing more is read until it is taken
    const ModbusRequest request = reader.take();
    EXPECT_EQ(request.transaction, 0x1234);
    EXPECT_EQ(request.unit, 17);
    EXPECT_EQ(request.pdu, pdu);
    EXPECT_EQ(request.function(), 0x04);
    EXPECT_EQ(reader.state(), ModbusFrameReader::State::NeedMore);
    EXPECT_EQ(reader.wanted(), ModbusFrameReader::kHeaderSize);
}

TEST(ModbusFrameReader, HeaderChecksDecideBeforeTheBodyIsRead)
{
    struct Case {
        std::uint16_t protocol;
        std::uint16_t length;
        bool ok;
    };
    for (const Case& c : {Case{0, 2, true}, Case{0, 254, true}, Case{1, 6, false}, Case{0xFFFF, 6, false},
                          Case{0, 0, false}, Case{0, 1, false}, Case{0, 255, false}, Case{0, 0xFFFF, false}}) {
        SCOPED_TRACE(std::to_string(c.protocol) + " " + std::to_string(c.length));
        ModbusFrameReader reader;
        // The body is a whole 254 bytes' worth whatever the header says.
        std::size_t taken = 0;
        const auto state = feedAll(reader, header(1, c.protocol, c.length, 1) + QByteArray(300, '\x03'), &taken);
        if (c.ok) {
            EXPECT_EQ(state, ModbusFrameReader::State::Frame);
            EXPECT_EQ(taken, 6u + c.length);
            EXPECT_EQ(reader.take().pdu.size(), c.length - 1);
        } else {
            EXPECT_EQ(state, ModbusFrameReader::State::Malformed);
            EXPECT_EQ(taken, ModbusFrameReader::kHeaderSize);
            EXPECT_EQ(reader.wanted(), 0u);
            EXPECT_TRUE(reader.take().pdu.isEmpty());
        }
    }
}

TEST(ModbusFrameReader, FramesBackToBackAreReadOneAtATime)
{
    ModbusFrameReader reader;
    const QByteArray stream = header(1, 0, 2, 5) + QByteArray("\x2b", 1) + header(2, 0, 3, 6) + QByteArray("\x03\x07", 2);
    std::size_t at = 0;
    for (const int transaction : {1, 2}) {
        const std::size_t n = reader.feed(stream.constData() + at, static_cast<std::size_t>(stream.size()) - at);
        at += n;
        if (reader.state() == ModbusFrameReader::State::NeedMore)
            at += reader.feed(stream.constData() + at, static_cast<std::size_t>(stream.size()) - at);
        ASSERT_EQ(reader.state(), ModbusFrameReader::State::Frame);
        EXPECT_EQ(reader.take().transaction, transaction);
    }
    EXPECT_EQ(at, static_cast<std::size_t>(stream.size()));
}

TEST(ModbusFrame, RepliesAndExceptionsCarryTheRequestsTransactionAndUnit)
{
    ModbusRequest request{0xBEEF, 247, QByteArray::fromHex("0300000001")};
    EXPECT_EQ(modbusFrame(request, modbusExceptionPdu(request.function(), ModbusException::PathUnavailable)),
              QByteArray::fromHex("beef00000003f7830a"));
    EXPECT_EQ(pduWord(request.pdu, 3), 1);
    EXPECT_EQ(pduWord(request.pdu, 4), 0); // past the end reads nothing
}
