#pragma once

#include "link/BasNumber.h"
#include "link/CardClock.h"
#include "link/CardPorts.h"
#include "link/LinkInterfaces.h"
#include "link/MeterModels.h"
#include "link/PortBackend.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vardel {

// Try counts of the busy waits. They are counts of port reads, not times.
inline constexpr int kReadyTries = 19999;      // status reads per card access wait
inline constexpr long kCompletionTries = 149999; // register reads per send/reply wait
inline constexpr int kResetPulseReads = 1001;
inline constexpr int kResetSettleReads = 501;
// A send or reply wait ends as a time-out once this many register reads in a
// row found the card not ready. Each of them is a whole ready wait given up
// (kReadyTries status reads), so 32 in a row is at least 640 000 status reads,
// over half a second on the ISA bus, with the card answering nothing at all.
// A working card is ready within a few status reads of every access, or it
// would lose the PC's register writes; however slow the meter, the card shows
// that in the register's value while ready, and such a wait keeps its full
// kCompletionTries. One failed exchange on a dead card thus costs under 10^6
// status reads instead of 3 * 10^9.
inline constexpr int kNotReadyReadsInWait = 32;

// Part of every reply wait that is no meter's doing: the card's own turn-around.
inline constexpr std::chrono::milliseconds kCardTurnaround{20};
// What a meter answers in when nobody has set it otherwise.
inline constexpr std::chrono::milliseconds kFactoryResponseTime{20};
// The reply wait of kCompletionTries reads in card time: each read is four
// port operations of one ISA bus cycle (about 0.60 s).
std::chrono::nanoseconds fullReplyWait();
// How long after the request went out a reply of `replyBytes` bytes needs at
// a baud code from a meter that answers in `response`: its wire time, the
// response time and a fifth more of it (a meter a little slower than it
// says), and the card's turn-around.
std::chrono::nanoseconds replyWaitNeeded(std::int16_t baudCode, std::chrono::milliseconds response, int replyBytes);
// The inverse: the longest response time, in whole milliseconds, that a
// wait of `wait` still catches; -1 when not even an instant answer fits.
int longestResponseMs(std::int16_t baudCode, std::chrono::nanoseconds wait, int replyBytes);
// A measured-values request is four bytes on the wire, its reply the
// model's block of values.
inline constexpr int kMeasureRequestBytes = 4;
// How long one measured-values exchange with a meter of a model lasts at a
// baud code when it answers in `response`: the request's wire time and the
// reply wait it needs (so the same margin for a slow meter).
std::chrono::nanoseconds measureExchangeTime(std::int16_t model, std::int16_t baudCode,
                                             std::chrono::milliseconds response);
// The longest reply the program awaits from a model: its measured values,
// or one number, whichever is longer.
int longestReplyBytes(std::int16_t model);

// 340h: the card's address when the settings give none (or one below 100h).
inline constexpr std::int16_t kDefaultCardAddress = 832;

// Link state and the card and meter routines. One instance lives for the whole
// run and is handed by reference to every window that talks to the meter.
class Module1 {
public:
    explicit Module1(PortBackend& port);

    // --- link state (defaults are those of a missing settings file) ---
    std::int16_t CardAddress = kDefaultCardAddress;
    std::int16_t CardCommandPort = kDefaultCardAddress + 1;
    std::int16_t MasterAddress = 0;
    std::int16_t MeterAddress = 2;
    std::int16_t MeterModel = kModelKX3;
    std::int16_t BaudCode = 4;
    std::int16_t TransmitCheck = 1;
    std::array<std::int16_t, 3> RegBase{585, 633, 3801};
    RxBuffer RxBuf{};

    // Also sets CardCommandPort. An address whose ports fall below 100h is
    // refused (returns false) and the one in force stays.
    bool setCardAddress(std::int16_t address);

    // Exchanges never overlap. Every exchange, and every loop of exchanges,
    // holds a Busy for its whole run; an error or progress window put on
    // screen meanwhile lets timer events through, and a timer-driven exchange
    // that finds the link busy skips its turn.
    class Busy {
    public:
        explicit Busy(Module1& link) : m_link(link) { ++m_link.m_busy; }
        ~Busy() { --m_link.m_busy; }
        Busy(const Busy&) = delete;
        Busy& operator=(const Busy&) = delete;

    private:
        Module1& m_link;
    };
    bool busy() const { return m_busy > 0; }

    // The meter's response time as the user gave it (--response-time, the
    // main window's field). With one, every reply wait lasts at least what a
    // meter of that response time needs at the baud rate in use, measured on
    // the card's clock; without, the waits keep their try counts exactly.
    void setResponseTime(std::optional<std::chrono::milliseconds> response) { m_response = response; }
    std::optional<std::chrono::milliseconds> responseTime() const { return m_response; }
    // How long a reply of `replyBytes` at a baud code is waited for after
    // its request went out, in card time: the full wait, or longer for a
    // response time given.
    std::chrono::nanoseconds replyWaitInForce(int replyBytes, std::int16_t baudCode) const;

    void setErrorWindows(ErrorWindows* windows) { m_errors = windows; }
    void setControls(const LinkControls* controls) { m_controls = controls; }
    const LinkControls* controls() const { return m_controls; }
    void setListener(LinkListener* listener) { m_listener = listener; }
    ErrorWindows* errorWindows() const { return m_errors; }
    // A stop request: once `flag` is not 0 every wait fails at once, as a
    // time-out would, so no exchange goes on. The command line's signal
    // handler sets it (Ctrl+C).
    void setStopFlag(const std::atomic<int>* flag) { m_stop = flag; }
    bool stopRequested() const { return m_stop && m_stop->load(std::memory_order_relaxed) != 0; }
    PortBackend& port() { return m_port; }
    // The card's own time (the simulated card's, when it is one); the PC's
    // steady clock until a back end gives its own.
    void setCardClock(const CardClock* clock) { m_clock = clock; }
    const CardClock& cardClock() const { return m_clock ? *m_clock : m_steadyClock; }

    // --- card register access ---
    std::int16_t CardWaitReady();
    void CardWriteReg(std::int16_t reg, std::int16_t value);
    std::int16_t CardReadReg(std::int16_t reg);
    std::uint8_t ReadCardStatus(); // one raw read of the status byte

    // --- card set-up ---
    void CardSetLink();
    void WaitSendDone(std::int16_t& flag);
    void WaitReplyDone(std::int16_t& flag);
    // "Reset karty": the reset pulse on the command port; returns the last
    // status byte read, which is what "Status karty" ends up showing.
    std::uint8_t CardReset();

    // --- meter exchanges ---
    void ReadConfigReg(std::int16_t r, float& value, std::int16_t& flag);
    // The same read with the reply wait bounded on the card's clock: it ends
    // once `replyBound` has passed since the request was started, on the
    // card's clock alone: shorter than the full wait for a probe of an
    // address where nobody may answer, longer for a meter that answers
    // late. Every other exchange keeps the full wait.
    void ReadConfigReg(std::int16_t r, float& value, std::int16_t& flag, std::chrono::nanoseconds replyBound);
    void RequestMeasureBlock(std::int16_t& flag);
    // Copies the reply payload into RxBuf(1..n). Returns the flag: 1 when the
    // card reports a length that does not fit RxBuf, or a payload shorter than
    // minimumPayload (nothing is read and the receive error window is shown),
    // or when a stop request cut the fetch short.
    // count, when given, receives n (which may be 0 or negative: then nothing
    // was read).
    std::int16_t FetchReply(int* count = nullptr, int minimumPayload = 0);
    void Kx_Reg_Write(std::int16_t r, float value);
    void WaitWriteReply(std::int16_t& flag);
    // Both return the flag of the send (the request expects no reply).
    std::int16_t SendEepromStore();
    std::int16_t SendMeterReset();

    // Meter address of configuration register r of the selected model.
    std::uint16_t ConfigRegAddress(std::int16_t r) const;
    // Bytes of live values asked for by RequestMeasureBlock for the model.
    static std::uint8_t MeasureBlockLength(std::int16_t model);

private:
    // The port operations, kept off the PC's system ports whatever the back end.
    std::uint8_t inp(std::int16_t port);
    void out(std::int16_t port, int value);
    // CardReadReg that also says whether the card was ready for it.
    std::int16_t readRegister(std::int16_t reg, bool& ready);
    // deadline: card time at which the wait gives up, whatever the count;
    // atLeast: card time before which the count does not end it. Zero for none.
    void WaitRegister128(std::int16_t reg, std::int16_t& flag,
                         std::chrono::nanoseconds deadline = std::chrono::nanoseconds::zero(),
                         std::chrono::nanoseconds atLeast = std::chrono::nanoseconds::zero());
    // Card time until which a reply wait starting now goes on past its count
    // for the response time given; zero without one.
    std::chrono::nanoseconds replyExtension(int replyBytes) const;
    void ClearBufferPositions();
    // Steps 1-6 of the common exchange (and 7-8 when a reply is expected).
    // replyBound: see the bounded ReadConfigReg; zero for the full wait.
    std::int16_t Exchange(const std::uint8_t* body, int length, bool expectReply,
                          std::chrono::nanoseconds replyBound = std::chrono::nanoseconds::zero());
    void notify(LinkEvent event, const std::uint8_t* bytes = nullptr, std::size_t n = 0);

    PortBackend& m_port;
    ErrorWindows* m_errors = nullptr;
    const LinkControls* m_controls = nullptr;
    LinkListener* m_listener = nullptr;
    const std::atomic<int>* m_stop = nullptr;
    const CardClock* m_clock = nullptr;
    SteadyCardClock m_steadyClock;
    std::optional<std::chrono::milliseconds> m_response;
    int m_busy = 0;
};

// Whether a card status byte shows the card ready for an access: 4 in its
// three low bits (FFh, an empty slot, never does).
inline bool cardStatusReady(std::uint8_t status) { return (status & 7) == 4; }

// Text of a byte or port as the main window shows it: uppercase hexadecimal,
// no leading zeros, then "h" (4 gives "4h", 832 gives "340h").
std::string hexText(int value);

} // namespace vardel
