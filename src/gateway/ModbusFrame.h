#pragma once

#include <QByteArray>

#include <array>
#include <cstddef>
#include <cstdint>

namespace vardel {

// Modbus exception codes the gateway answers with.
enum class ModbusException : std::uint8_t {
    IllegalFunction = 0x01,
    IllegalAddress = 0x02,
    IllegalValue = 0x03,
    Busy = 0x06,
    PathUnavailable = 0x0A, // no meter served at that unit
    TargetFailed = 0x0B,    // the meter did not answer
};

// One request as it came in: the MBAP header's transaction and unit, and the
// PDU (function code and data, 1 to 253 bytes).
struct ModbusRequest {
    std::uint16_t transaction = 0;
    std::uint8_t unit = 0;
    QByteArray pdu;

    std::uint8_t function() const { return pdu.isEmpty() ? 0 : static_cast<std::uint8_t>(pdu.at(0)); }
};

// Reads MBAP frames from a byte stream without ever holding more than one
// frame: the caller asks `wanted()` and hands over at most that many bytes,
// so whatever a client sends, the reader's buffer stays within 260 bytes.
// The header is checked as soon as it is whole: a protocol identifier other
// than 0 or a length outside 2..254 makes the stream malformed for good (the
// connection is closed; nothing after it can be trusted to be a frame).
class ModbusFrameReader {
public:
    static constexpr std::size_t kHeaderSize = 7;         // transaction, protocol, length, unit
    static constexpr std::size_t kMaxLength = 254;        // unit + PDU of at most 253 bytes
    static constexpr std::size_t kMaxFrame = 6 + kMaxLength;

    enum class State { NeedMore, Frame, Malformed };

    // How many bytes the next step needs (0 once malformed or a frame waits
    // to be taken).
    std::size_t wanted() const;
    // Takes up to wanted() bytes; returns how many it took.
    std::size_t feed(const char* data, std::size_t size);
    State state() const { return m_state; }
    // The frame read; the reader then starts on the next one.
    ModbusRequest take();

private:
    std::array<char, kMaxFrame> m_buffer{};
    std::size_t m_filled = 0;
    std::size_t m_frameSize = kHeaderSize;
    State m_state = State::NeedMore;
};

// A whole ADU for a request's reply PDU.
QByteArray modbusFrame(const ModbusRequest& request, const QByteArray& pdu);
// The exception PDU for the request's function.
QByteArray modbusExceptionPdu(std::uint8_t function, ModbusException code);

// Big-endian 16-bit fields of a PDU.
std::uint16_t pduWord(const QByteArray& pdu, int offset);
void appendWord(QByteArray& pdu, std::uint16_t value);

} // namespace vardel
