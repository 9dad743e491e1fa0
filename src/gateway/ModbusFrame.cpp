#include "gateway/ModbusFrame.h"

#include <algorithm>
#include <cstring>

namespace vardel {

std::size_t ModbusFrameReader::wanted() const
{
    return m_state == State::NeedMore ? m_frameSize - m_filled : 0;
}

std::size_t ModbusFrameReader::feed(const char* data, std::size_t size)
{
    const std::size_t n = std::min(size, wanted());
    if (n == 0)
        return 0;
    std::memcpy(m_buffer.data() + m_filled, data, n);
    m_filled += n;
    if (m_filled < m_frameSize)
        return n;
    if (m_frameSize == kHeaderSize) {
        const auto byte = [this](std::size_t i) { return static_cast<unsigned>(static_cast<std::uint8_t>(m_buffer[i])); };
        const unsigned protocol = (byte(2) << 8) | byte(3);
        const unsigned length = (byte(4) << 8) | byte(5);
        // The length counts the unit and the PDU: a function code at least.
        if (protocol != 0 || length < 2 || length > kMaxLength) {
            m_state = State::Malformed;
            return n;
        }
        m_frameSize = 6 + length;
        return n;
    }
    m_state = State::Frame;
    return n;
}

ModbusRequest ModbusFrameReader::take()
{
    ModbusRequest request;
    if (m_state != State::Frame)
        return request;
    const auto byte = [this](std::size_t i) { return static_cast<unsigned>(static_cast<std::uint8_t>(m_buffer[i])); };
    request.transaction = static_cast<std::uint16_t>((byte(0) << 8) | byte(1));
    request.unit = static_cast<std::uint8_t>(byte(6));
    request.pdu = QByteArray(m_buffer.data() + kHeaderSize, static_cast<qsizetype>(m_frameSize - kHeaderSize));
    m_filled = 0;
    m_frameSize = kHeaderSize;
    m_state = State::NeedMore;
    return request;
}

std::uint16_t pduWord(const QByteArray& pdu, int offset)
{
    if (offset < 0 || offset + 2 > pdu.size())
        return 0;
    return static_cast<std::uint16_t>((static_cast<std::uint8_t>(pdu.at(offset)) << 8) |
                                      static_cast<std::uint8_t>(pdu.at(offset + 1)));
}

void appendWord(QByteArray& pdu, std::uint16_t value)
{
    pdu.append(static_cast<char>(value >> 8));
    pdu.append(static_cast<char>(value & 0xFF));
}

QByteArray modbusFrame(const ModbusRequest& request, const QByteArray& pdu)
{
    QByteArray frame;
    frame.reserve(static_cast<qsizetype>(ModbusFrameReader::kHeaderSize) + pdu.size());
    appendWord(frame, request.transaction);
    appendWord(frame, 0);
    appendWord(frame, static_cast<std::uint16_t>(pdu.size() + 1));
    frame.append(static_cast<char>(request.unit));
    frame.append(pdu);
    return frame;
}

QByteArray modbusExceptionPdu(std::uint8_t function, ModbusException code)
{
    QByteArray pdu;
    pdu.append(static_cast<char>(function | 0x80));
    pdu.append(static_cast<char>(code));
    return pdu;
}

} // namespace vardel
