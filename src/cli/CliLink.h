#pragma once

#include "link/LinkInterfaces.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>

namespace vardel {

// The command line's stand-in for Form6 and Form7: instead of a window it
// remembers which error the link raised first, so the message can name it
// together with the register.
class CliErrors final : public ErrorWindows {
public:
    enum class Kind { None, Transmit, Receive };

    void showTransmitError() override { raise(Kind::Transmit); }
    void showReceiveError() override { raise(Kind::Receive); }

    Kind first() const { return m_first; }
    int count() const { return m_count; }
    void clear()
    {
        m_first = Kind::None;
        m_count = 0;
    }

    // "Błąd nadawania danych" or "Błąd odbioru danych" (the windows' texts),
    // followed by " (what)" when `what` is given.
    QString message(const QString& what = QString()) const;

private:
    void raise(Kind kind)
    {
        if (m_first == Kind::None)
            m_first = kind;
        ++m_count;
    }

    Kind m_first = Kind::None;
    int m_count = 0;
};

// The bus monitor of --trace: one line per exchange,
//   2026-12-10T10:00:00.123 TX 01 02 49 06 RX 10 00 00 00 00 81 ok
// The time is when the request went out. Outcomes: ok (reply read), ack
// (write acknowledged), sent (no reply expected), send-timeout,
// reply-timeout, ack-timeout, reply-refused. A request that expects no reply
// is written when the next one starts or at finish().
class LinkTrace final : public LinkListener {
public:
    using Sink = std::function<void(const QString& line)>;
    using Clock = std::function<QDateTime()>;

    explicit LinkTrace(Sink sink, Clock clock = &QDateTime::currentDateTime);
    ~LinkTrace() override;

    void linkEvent(LinkEvent event, std::span<const std::uint8_t> bytes) override;
    // Writes a line still waiting for its outcome.
    void finish();

private:
    void begin(std::span<const std::uint8_t> request, const char* outcome);
    void end(const QString& reply, const char* outcome);

    Sink m_sink;
    Clock m_clock;
    bool m_pending = false;
    QString m_line;        // time and request
    QString m_outcome;     // set by the first event that decided it
};

// "01 02 49 06": uppercase hexadecimal pairs, single blanks.
QString hexBytes(std::span<const std::uint8_t> bytes);

// The progress of read and write on stderr: a bar with "Odczyt rejestrów:
// 12 z 100", redrawn in place. Only on a terminal; anywhere else it writes
// nothing, so that logs and pipes get only what matters.
class ProgressDisplay {
public:
    using Writer = std::function<void(const QByteArray& bytes)>;

    // label: "Odczyt rejestrów" or "Zapis rejestrów".
    ProgressDisplay(QString label, bool terminal, Writer writer);
    ~ProgressDisplay();

    void update(int done, int total);
    // Ends the line the bar stands on (nothing when no bar was drawn).
    void finish();

private:
    QString m_label;
    bool m_terminal;
    Writer m_writer;
    bool m_drawn = false;
};

} // namespace vardel
