#pragma once

#include "link/CardClock.h"
#include "link/LinkInterfaces.h"

#include <QDateTime>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

namespace vardel {

// The bus monitor of --trace (vardel and vardel-cli): one line per exchange,
//   2026-12-10T10:00:00.123+01:00 TX 01 02 49 06 RX 10 00 00 00 00 81 ok 27.4 ms
// The time is when the request went out, with its offset from UTC; with a
// card clock, on that clock from the PC's time when it was set (so that on the
// simulated card stamps and durations agree). Outcomes:
// ok (reply read), ack (write acknowledged), sent (no reply expected),
// send-timeout, reply-timeout, ack-timeout, reply-refused, stopped (Ctrl+C
// ended the wait, whatever the card was doing). With a card clock each line
// ends with how long the exchange took on the card: on the simulated card its
// virtual time, which is what a real card would take. A request that expects no reply
// (the EEPROM store, the meter reset) is written at once; a read or a write
// waits for its reply or acknowledgement, or for finish().
class LinkTrace final : public LinkListener {
public:
    using Sink = std::function<void(const QString& line)>;
    using Clock = std::function<QDateTime()>;

    explicit LinkTrace(Sink sink, Clock clock = &QDateTime::currentDateTime);
    ~LinkTrace() override;

    void linkEvent(LinkEvent event, std::span<const std::uint8_t> bytes) override;
    void exchangeStarted() override;
    // Writes a line still waiting for its outcome.
    void finish();
    // From now on the lines are stamped on this clock, anchored to the PC's
    // clock at this call.
    void setCardClock(const CardClock* clock);

private:
    void begin(std::span<const std::uint8_t> request, const char* outcome);
    void end(const QString& reply, const char* outcome);
    void write(const QString& line);

    Sink m_sink;
    Clock m_clock;
    const CardClock* m_cardClock = nullptr;
    std::chrono::nanoseconds m_started{0};
    QDateTime m_anchorWall;
    std::chrono::nanoseconds m_anchorCard{0};
    bool m_pending = false;
    QString m_line;        // time and request
    QString m_outcome;     // set by the first event that decided it
};

// "01 02 49 06": uppercase hexadecimal pairs, single blanks.
QString hexBytes(std::span<const std::uint8_t> bytes);

// A monitor that appends to the file at `path` ("-": stderr), one line with
// LF each (a log for grep and tail, as on stderr), written at once so that a
// crash loses nothing already seen.
// nullptr and a Polish message when the file cannot be opened. Every line is
// checked: the first that cannot be written whole is told to `lost` with
// the system's error code, and nothing more is written. A write or an open
// blocked on a FIFO ends once `stop` is set (see OutputStream).
std::unique_ptr<LinkTrace> openLinkTrace(const QString& path, QString& error,
                                         std::function<void(int error)> lost = {},
                                         const std::atomic<int>* stop = nullptr);

} // namespace vardel
