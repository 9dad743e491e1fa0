#include "link/Module1.h"

#include <algorithm>
#include <cstdio>

namespace vardel {

namespace {
std::uint16_t portOf(std::int16_t p) { return static_cast<std::uint16_t>(p); }
std::uint8_t lowByte(int v) { return static_cast<std::uint8_t>(v & 0xFF); }
} // namespace

Module1::Module1(PortBackend& port) : m_port(port) {}

bool Module1::setCardAddress(std::int16_t address)
{
    if (isSystemPortPair(address))
        return false;
    CardAddress = address;
    CardCommandPort = static_cast<std::int16_t>(address + 1);
    return true;
}

// Nothing answers below 100h as far as the link is concerned: a read there
// gives what an empty bus gives, a write goes nowhere.
std::uint8_t Module1::inp(std::int16_t port)
{
    return portOf(port) < kFirstCardPort ? std::uint8_t{0xFF} : m_port.vbInp(portOf(port));
}

void Module1::out(std::int16_t port, int value)
{
    if (portOf(port) >= kFirstCardPort)
        m_port.vbOut(portOf(port), lowByte(value));
}

std::int16_t Module1::CardWaitReady()
{
    for (int i = 0; i < kReadyTries && !stopRequested(); ++i) {
        if (cardStatusReady(inp(CardCommandPort)))
            return 0;
    }
    return 1;
}

void Module1::CardWriteReg(std::int16_t reg, std::int16_t value)
{
    if (CardWaitReady() != 0)
        return;
    out(CardCommandPort, reg + 64);
    if (CardWaitReady() != 0)
        return;
    out(CardAddress, value);
    CardWaitReady();
}

std::int16_t Module1::readRegister(std::int16_t reg, bool& ready)
{
    ready = false;
    if (CardWaitReady() != 0)
        return 0;
    out(CardCommandPort, reg);
    if (CardWaitReady() != 0)
        return 0;
    ready = true;
    return inp(CardAddress);
}

std::int16_t Module1::CardReadReg(std::int16_t reg)
{
    bool ready = false;
    return readRegister(reg, ready);
}

std::uint8_t Module1::ReadCardStatus()
{
    return inp(CardCommandPort);
}

void Module1::CardSetLink()
{
    CardWriteReg(10, 1);
    CardWriteReg(12, MasterAddress);
    CardWriteReg(13, MeterAddress);
    int check = TransmitCheck;
    int baud = (BaudCode >= 0 && BaudCode <= 5) ? BaudCode : -1;
    if (m_controls) {
        check = m_controls->transmitCheckValue();
        baud = m_controls->selectedBaudButton();
    }
    int mode = check == 1 ? 128 : 0;
    if (baud >= 0 && baud <= 5)
        mode += baud;
    CardWriteReg(11, static_cast<std::int16_t>(mode));
}

void Module1::WaitRegister128(std::int16_t reg, std::int16_t& flag, std::chrono::nanoseconds deadline,
                              std::chrono::nanoseconds atLeast)
{
    // The clock is looked at every few reads: a read is a few microseconds of
    // the card's time, and a look may cost the PC more than the read.
    constexpr long kClockEvery = 16;
    const bool byClock = deadline > std::chrono::nanoseconds::zero();
    const bool extended = atLeast > std::chrono::nanoseconds::zero();
    flag = 0;
    int notReadyInARow = 0;
    for (long i = 0; !stopRequested(); ++i) {
        if (!byClock && i >= kCompletionTries) {
            // The count is over; a response time given keeps the wait going
            // on the card's clock until that meter's reply is due.
            if (!extended || (i % kClockEvery == 0 && cardClock().cardTime() >= atLeast))
                break;
        }
        bool ready = false;
        if (readRegister(reg, ready) == 128)
            return;
        notReadyInARow = ready ? 0 : notReadyInARow + 1;
        if (notReadyInARow == kNotReadyReadsInWait)
            break; // the card is dead: the rest of the count would change nothing
        if (byClock && i % kClockEvery == kClockEvery - 1 && cardClock().cardTime() >= deadline)
            break;
    }
    flag = 1;
}

std::chrono::nanoseconds Module1::replyWaitInForce(int replyBytes, std::int16_t baudCode) const
{
    const auto full = fullReplyWait();
    if (!m_response)
        return full;
    return std::max(full, replyWaitNeeded(baudCode, *m_response, replyBytes));
}

std::chrono::nanoseconds Module1::replyExtension(int replyBytes) const
{
    if (!m_response)
        return std::chrono::nanoseconds::zero();
    return cardClock().cardTime() + replyWaitNeeded(BaudCode, *m_response, replyBytes);
}

std::chrono::nanoseconds fullReplyWait()
{
    constexpr std::int64_t kReadsPerPoll = 4; // status, command, status, data
    return std::chrono::microseconds(kCompletionTries * kReadsPerPoll);
}

std::chrono::nanoseconds replyWaitNeeded(std::int16_t baudCode, std::chrono::milliseconds response, int replyBytes)
{
    const std::chrono::nanoseconds r = response;
    return wireTime(replyBytes, baudCode) + r + r / 5 + kCardTurnaround;
}

std::chrono::nanoseconds measureExchangeTime(std::int16_t model, std::int16_t baudCode,
                                             std::chrono::milliseconds response)
{
    return wireTime(kMeasureRequestBytes, baudCode)
        + replyWaitNeeded(baudCode, response, Module1::MeasureBlockLength(model));
}

int longestResponseMs(std::int16_t baudCode, std::chrono::nanoseconds wait, int replyBytes)
{
    const auto left = wait - kCardTurnaround - wireTime(replyBytes, baudCode);
    if (left < std::chrono::nanoseconds::zero())
        return -1;
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left * 5 / 6).count());
}

int longestReplyBytes(std::int16_t model)
{
    return std::max<int>(kBasNumberSize, Module1::MeasureBlockLength(model));
}

void Module1::WaitSendDone(std::int16_t& flag) { WaitRegister128(7, flag); }
void Module1::WaitReplyDone(std::int16_t& flag) { WaitRegister128(6, flag, {}, replyExtension(kBasNumberSize)); }

std::uint8_t Module1::CardReset()
{
    std::uint8_t status = inp(CardCommandPort);
    out(CardCommandPort, 128);
    for (int i = 0; i < kResetPulseReads; ++i)
        status = inp(CardCommandPort);
    out(CardCommandPort, 0);
    for (int i = 0; i < kResetSettleReads; ++i)
        status = inp(CardCommandPort);
    return status;
}

void Module1::ClearBufferPositions()
{
    CardWriteReg(2, 0);
    CardWriteReg(3, 0);
    CardWriteReg(1, 0);
    CardWriteReg(0, 0);
}

void Module1::notify(LinkEvent event, const std::uint8_t* bytes, std::size_t n)
{
    if (m_listener)
        m_listener->linkEvent(event, std::span<const std::uint8_t>(bytes, n));
}

std::int16_t Module1::Exchange(const std::uint8_t* body, int length, bool expectReply,
                               std::chrono::nanoseconds replyBound)
{
    const Busy busy(*this);
    if (m_listener)
        m_listener->exchangeStarted();
    ClearBufferPositions();
    CardWriteReg(6, 0);
    for (int i = 0; i < length; ++i)
        CardWriteReg(5, body[i]);
    CardWriteReg(9, 0);
    CardWriteReg(17, 0);
    CardWriteReg(18, static_cast<std::int16_t>(length));
    // A bounded reply wait counts from the start of sending: the bound covers
    // the request's wire time too.
    const auto deadline = replyBound > std::chrono::nanoseconds::zero() ? cardClock().cardTime() + replyBound
                                                                         : std::chrono::nanoseconds::zero();
    CardWriteReg(7, 64);

    std::int16_t flag = 0;
    WaitSendDone(flag);
    const auto n = static_cast<std::size_t>(length);
    if (flag != 0) {
        notify(stopRequested() ? LinkEvent::SendStopped : LinkEvent::SendTimeout, body, n);
        if (m_errors)
            m_errors->showTransmitError();
        return 1;
    }
    notify(LinkEvent::RequestSent, body, n);
    if (!expectReply)
        return 0;

    // The reply's length is the read's last body byte.
    WaitRegister128(6, flag, deadline, deadline > std::chrono::nanoseconds::zero() ? std::chrono::nanoseconds::zero()
                                                                                     : replyExtension(body[length - 1]));
    if (flag != 0) {
        notify(stopRequested() ? LinkEvent::AnswerStopped : LinkEvent::ReplyTimeout);
        if (m_errors)
            m_errors->showReceiveError();
        return 1;
    }
    ClearBufferPositions();
    return 0;
}

std::uint16_t Module1::ConfigRegAddress(std::int16_t r) const
{
    const int index = (MeterModel >= 0 && MeterModel <= 2) ? MeterModel : 0;
    return static_cast<std::uint16_t>(RegBase[static_cast<std::size_t>(index)] + 6 * r);
}

std::uint8_t Module1::MeasureBlockLength(std::int16_t model)
{
    const MeterModelInfo* info = meterModelInfo(model);
    return info ? info->measureBlockLength : std::uint8_t{1};
}

std::int16_t Module1::FetchReply(int* count, int minimumPayload)
{
    const Busy busy(*this);
    // A read that a stop request made give up returns no byte of the reply.
    bool cutShort = false;
    const auto read = [this, &cutShort](std::int16_t reg) {
        bool ready = false;
        const std::int16_t value = readRegister(reg, ready);
        cutShort = cutShort || (!ready && stopRequested());
        return value;
    };
    const auto failed = [this](LinkEvent event) {
        notify(event);
        if (m_errors)
            m_errors->showReceiveError();
        return std::int16_t{1};
    };
    const int high = read(15);
    const int low = read(16);
    // The card counts in 16 bits; a length of 32768 or more, or a payload that
    // does not fit RxBuf or falls short of what the caller needs, is refused
    // before a single byte is read.
    const int length = high * 256 + low;
    const int n = length - 2;
    if (count)
        *count = n;
    if (cutShort)
        return failed(LinkEvent::AnswerStopped);
    if (length >= 32768 || n > kRxBufSize || (minimumPayload > 0 && n < minimumPayload))
        return failed(LinkEvent::ReplyRefused);
    for (int i = 1; i <= n; ++i)
        RxBuf[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(read(4));
    if (cutShort)
        return failed(LinkEvent::AnswerStopped);
    notify(LinkEvent::ReplyFetched, RxBuf.data() + 1, n > 0 ? static_cast<std::size_t>(n) : 0);
    return 0;
}

void Module1::ReadConfigReg(std::int16_t r, float& value, std::int16_t& flag)
{
    ReadConfigReg(r, value, flag, std::chrono::nanoseconds::zero());
}

void Module1::ReadConfigReg(std::int16_t r, float& value, std::int16_t& flag, std::chrono::nanoseconds replyBound)
{
    const std::uint16_t a = ConfigRegAddress(r);
    const std::uint8_t body[] = {1, static_cast<std::uint8_t>(a >> 8), lowByte(a), 6};
    const Busy busy(*this);
    flag = Exchange(body, 4, true, replyBound);
    if (flag != 0)
        return;
    // A reply too short for one number would leave the decoder with the
    // previous reply's bytes: a failed read, not a value.
    flag = FetchReply(nullptr, kBasNumberSize);
    if (flag != 0)
        return;
    value = BasToFloat(RxBuf, 1);
}

void Module1::RequestMeasureBlock(std::int16_t& flag)
{
    const std::uint8_t body[kMeasureRequestBytes] = {1, 2, 1, MeasureBlockLength(MeterModel)};
    flag = Exchange(body, kMeasureRequestBytes, true);
}

void Module1::Kx_Reg_Write(std::int16_t r, float value)
{
    const std::uint16_t a = ConfigRegAddress(r);
    FloatToBas(RxBuf, value);
    const std::uint8_t body[] = {2, static_cast<std::uint8_t>(a >> 8), lowByte(a), 6,
                                 RxBuf[1], RxBuf[2], RxBuf[3], RxBuf[4], RxBuf[5], RxBuf[6]};
    // A send failure shows Form6 but is not reported: the caller's reply wait
    // that follows times out as well.
    Exchange(body, 10, false);
}

void Module1::WaitWriteReply(std::int16_t& flag)
{
    const Busy busy(*this);
    CardWriteReg(6, 0);
    WaitReplyDone(flag);
    CardWriteReg(6, 0);
    notify(flag == 0 ? LinkEvent::AckReceived : stopRequested() ? LinkEvent::AnswerStopped : LinkEvent::AckTimeout);
}

std::int16_t Module1::SendEepromStore()
{
    const std::uint8_t body[] = {3};
    return Exchange(body, 1, false);
}

std::int16_t Module1::SendMeterReset()
{
    const std::uint8_t body[] = {170};
    return Exchange(body, 1, false);
}

std::string hexText(int value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%Xh", static_cast<unsigned>(value) & 0xFFFFu);
    return text;
}

} // namespace vardel
