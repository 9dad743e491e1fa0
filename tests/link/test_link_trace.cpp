// The bus monitor shared by vardel and vardel-cli: one line per exchange.
#include "link/LinkTrace.h"

#include <QFile>
#include <QTimeZone>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

using namespace vardel;

namespace {

class LinkTraceTest : public testing::Test {
protected:
    LinkTrace trace{[this](const QString& line) { lines << line; },
                    [] { return QDateTime(QDate(2026, 12, 10), QTime(10, 0, 0, 123), QTimeZone("Europe/Warsaw")); }};
    QStringList lines;

    void event(LinkEvent e, std::vector<std::uint8_t> bytes = {}) { trace.linkEvent(e, bytes); }
};

TEST_F(LinkTraceTest, OneLinePerExchangeWithItsOutcome)
{
    // A read that is answered, a write that is acknowledged, a store request
    // that expects nothing, a read without reply.
    event(LinkEvent::RequestSent, {0x01, 0x02, 0x49, 0x06});
    event(LinkEvent::ReplyFetched, {0x10, 0, 0, 0, 0, 0x81});
    event(LinkEvent::RequestSent, {0x02, 0x02, 0x97, 0x06, 0x25, 0, 0, 0, 0, 0x82});
    event(LinkEvent::AckReceived);
    event(LinkEvent::RequestSent, {0x03});
    event(LinkEvent::RequestSent, {0x01, 0x02, 0x01, 0x24});
    event(LinkEvent::ReplyTimeout);
    EXPECT_EQ(lines, QStringList({
                         "2026-12-10T10:00:00.123+01:00 TX 01 02 49 06 RX 10 00 00 00 00 81 ok",
                         "2026-12-10T10:00:00.123+01:00 TX 02 02 97 06 25 00 00 00 00 82 RX - ack",
                         "2026-12-10T10:00:00.123+01:00 TX 03 RX - sent",
                         "2026-12-10T10:00:00.123+01:00 TX 01 02 01 24 RX - reply-timeout",
                     }));
}

TEST_F(LinkTraceTest, ARequestWithoutAnswerIsWrittenAtOnce)
{
    // The window program may wait minutes for its next exchange; the reset
    // and the store must be in the log before that.
    event(LinkEvent::RequestSent, {0xAA});
    ASSERT_EQ(lines, QStringList({"2026-12-10T10:00:00.123+01:00 TX AA RX - sent"}));
    event(LinkEvent::RequestSent, {0x03});
    EXPECT_EQ(lines.size(), 2);

    // A read is held until its reply, or until finish().
    event(LinkEvent::RequestSent, {0x01, 0x02, 0x01, 0x24});
    EXPECT_EQ(lines.size(), 2);
    trace.finish();
    trace.finish(); // nothing twice
    EXPECT_EQ(lines.last(), QStringLiteral("2026-12-10T10:00:00.123+01:00 TX 01 02 01 24 RX - sent"));
    EXPECT_EQ(lines.size(), 3);
}

TEST_F(LinkTraceTest, ASendTimeoutIsNotHiddenByTheWaitThatFollows)
{
    event(LinkEvent::SendTimeout, {0x02, 0x02, 0x49, 0x06, 0, 0, 0, 0, 0, 0});
    event(LinkEvent::AckTimeout);
    event(LinkEvent::SendTimeout, {0xAA});
    EXPECT_EQ(lines, QStringList({
                         "2026-12-10T10:00:00.123+01:00 TX 02 02 49 06 00 00 00 00 00 00 RX - send-timeout",
                         "2026-12-10T10:00:00.123+01:00 TX AA RX - send-timeout",
                     }));
}

TEST_F(LinkTraceTest, AWaitEndedByAStopSaysSoWhateverTheCardDid)
{
    // Ctrl+C during the send wait of a store the card did send, during a
    // reply wait, and during an acknowledgement wait after a send that was
    // never reported.
    event(LinkEvent::SendStopped, {0x03});
    event(LinkEvent::RequestSent, {0x01, 0x02, 0x49, 0x06});
    event(LinkEvent::AnswerStopped);
    event(LinkEvent::SendStopped, {0x02, 0x02, 0x49, 0x06, 0, 0, 0, 0, 0, 0});
    event(LinkEvent::AckTimeout);
    EXPECT_EQ(lines, QStringList({
                         "2026-12-10T10:00:00.123+01:00 TX 03 RX - stopped",
                         "2026-12-10T10:00:00.123+01:00 TX 01 02 49 06 RX - stopped",
                         "2026-12-10T10:00:00.123+01:00 TX 02 02 49 06 00 00 00 00 00 00 RX - stopped",
                     }));
}

// The window program and the command line share this writer: a log of
// either is read with the same tools, one LF-ended line per exchange.
// On a card that keeps its own time, the stamps follow that time from the
// moment the clock was set, whatever the PC's clock does meanwhile: the
// stamps of a run and its durations tell the same story.
TEST_F(LinkTraceTest, StampsFollowTheCardClockAnchoredAtItsStart)
{
    struct ManualClock final : CardClock {
        std::chrono::nanoseconds now{std::chrono::seconds(500)};
        std::chrono::nanoseconds cardTime() const override { return now; }
    } card;
    trace.setCardClock(&card);
    using std::chrono::milliseconds;
    for (int i = 0; i < 2; ++i) {
        trace.exchangeStarted();
        card.now += milliseconds(40); // the request on the wire
        event(LinkEvent::RequestSent, {0x01, 0x02, 0x01, 0x24});
        card.now += milliseconds(1500);
        event(LinkEvent::ReplyFetched, {0x10});
        card.now += std::chrono::minutes(1); // the card waits; the PC's clock stands still here
    }
    EXPECT_EQ(lines, QStringList({
                         "2026-12-10T10:00:00.163+01:00 TX 01 02 01 24 RX 10 ok 1540.0 ms",
                         "2026-12-10T10:01:01.703+01:00 TX 01 02 01 24 RX 10 ok 1540.0 ms",
                     }));
}

TEST(LinkTraceFile, AppendsLfLinesAndNamesAFileItCannotOpen)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("bus.log"));
    for (int run = 0; run < 2; ++run) {
        QString error;
        std::unique_ptr<LinkTrace> trace = openLinkTrace(path, error);
        ASSERT_TRUE(trace) << error.toStdString();
        const std::uint8_t reset[] = {0xAA};
        trace->linkEvent(LinkEvent::RequestSent, reset);
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_EQ(bytes.count("TX AA RX - sent\n"), 2) << bytes.toStdString();
    EXPECT_FALSE(bytes.contains('\r')) << bytes.toStdString();

    QString error;
    EXPECT_FALSE(openLinkTrace(dir.filePath(QStringLiteral("no/such/bus.log")), error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Nie można zapisać pliku "))) << error.toStdString();
}

} // namespace
