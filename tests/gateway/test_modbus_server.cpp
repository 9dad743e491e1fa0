#include "gateway/ModbusServer.h"

#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace vardel;
using namespace std::chrono_literals;

namespace {

// Answers FC 04 at once with as many registers as asked, the unit in the
// last; keeps every other request unanswered until the test says so.
class FakeHandler : public ModbusHandler {
public:
    void handle(const ModbusRequest& request, const QString&, Reply reply) override
    {
        seen.push_back(request);
        if (request.function() == 0x04) {
            const int bytes = 2 * pduWord(request.pdu, 3);
            reply(QByteArray(1, '\x04') + QByteArray(1, static_cast<char>(bytes)) + QByteArray(bytes - 1, '\0')
                  + QByteArray(1, static_cast<char>(request.unit)));
            return;
        }
        held.push_back(std::move(reply));
    }
    std::vector<ModbusRequest> seen;
    std::vector<Reply> held;
};

QByteArray request(std::uint16_t transaction, std::uint8_t unit, const QByteArray& pdu)
{
    return modbusFrame(ModbusRequest{transaction, unit, {}}, pdu);
}

struct Fixture {
    explicit Fixture(ModbusServerLimits limits = {})
        : server(handler, std::move(limits), [this](const QString& line) { log << line; })
    {
    }
    bool listen(const QHostAddress& address = QHostAddress::LocalHost)
    {
        QString error;
        return server.listen(address, 0, error);
    }
    std::unique_ptr<QTcpSocket> client(const QHostAddress& to = QHostAddress::LocalHost)
    {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(to, server.port());
        EXPECT_TRUE(socket->waitForConnected(2000));
        return socket;
    }
    FakeHandler handler;
    QStringList log;
    ModbusServer server;
};

QByteArray reply(QTcpSocket& socket, int size)
{
    QByteArray got;
    (void)QTest::qWaitFor([&] {
        got += socket.readAll();
        return got.size() >= size;
    }, 2000);
    return got;
}

bool closedByServer(QTcpSocket& socket)
{
    return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 2000);
}

} // namespace

TEST(ModbusServer, AnswersEachRequestWithItsTransactionAndSaysWhoCameAndWent)
{
    Fixture f;
    ASSERT_TRUE(f.listen());
    auto a = f.client();
    a->write(request(7, 3, QByteArray::fromHex("0400000001")));
    EXPECT_EQ(reply(*a, 11), QByteArray::fromHex("00070000000503040200") + QByteArray(1, '\x03'));
    a->disconnectFromHost();
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.server.clientCount() == 0; }, 2000));
    ASSERT_EQ(f.log.size(), 2);
    EXPECT_TRUE(f.log[0].startsWith(QStringLiteral("Połączenie z 127.0.0.1:")));
    EXPECT_TRUE(f.log[0].endsWith(QStringLiteral(": przyjęte.")));
    EXPECT_TRUE(f.log[1].endsWith(QStringLiteral(": zamknięte.")));
}

TEST(ModbusServer, AMalformedOrOversizedFrameClosesThatConnectionOnly)
{
    for (const QByteArray& bad : {QByteArray::fromHex("000100010006010400000001"), // protocol 1
                                  QByteArray::fromHex("00010000ffff01") + QByteArray(4000, '\x04'),
                                  QByteArray::fromHex("0001000000010104")}) {       // length 1
        Fixture f;
        ASSERT_TRUE(f.listen());
        auto good = f.client();
        auto evil = f.client();
        evil->write(bad);
        EXPECT_TRUE(closedByServer(*evil));
        EXPECT_TRUE(f.log.last().endsWith(QStringLiteral("zamknięte (błędna ramka).")));
        good->write(request(1, 9, QByteArray::fromHex("0400000001")));
        EXPECT_EQ(reply(*good, 11).size(), 11);
        EXPECT_TRUE(f.handler.seen.size() == 1 && f.handler.seen[0].unit == 9);
    }
}

TEST(ModbusServer, OneRequestPerConnectionIsUnderWayTheNextWaitsInTheSocket)
{
    Fixture f;
    ASSERT_TRUE(f.listen());
    auto c = f.client();
    c->write(request(1, 2, QByteArray::fromHex("0300000002")) + request(2, 2, QByteArray::fromHex("0400000001")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.handler.seen.size() == 1; }, 2000));
    QTest::qWait(50);
    EXPECT_EQ(f.handler.seen.size(), 1u); // the second is not read before the first is answered
    f.handler.held.front()(QByteArray::fromHex("830b"));
    const QByteArray got = reply(*c, 9 + 11);
    EXPECT_EQ(got.left(9), QByteArray::fromHex("000100000003") + QByteArray(1, '\x02') + QByteArray::fromHex("830b"));
    EXPECT_EQ(got.mid(9, 2), QByteArray::fromHex("0002"));
    EXPECT_EQ(f.handler.seen.size(), 2u);
}

TEST(ModbusServer, RequestsAnsweredAtOnceAreReadBackToBackAndNeverTimedOut)
{
    ModbusServerLimits limits;
    limits.requestTimeout = 100ms;
    Fixture f(limits);
    ASSERT_TRUE(f.listen());
    auto c = f.client();
    // In one segment: nothing more comes from the network to read the rest by.
    c->write(request(1, 5, QByteArray::fromHex("0400000001")) + request(2, 6, QByteArray::fromHex("0400000001"))
             + request(3, 7, QByteArray::fromHex("0400000001")));
    const QByteArray got = reply(*c, 3 * 11);
    ASSERT_EQ(got.size(), 3 * 11);
    EXPECT_EQ(got, QByteArray::fromHex("0001000000050504020005" "0002000000050604020006" "0003000000050704020007"));
    // No stale time-out of an answered request later.
    QTest::qWait(250);
    EXPECT_TRUE(c->readAll().isEmpty());
    EXPECT_EQ(c->state(), QAbstractSocket::ConnectedState);
}

TEST(ModbusServer, AClientThatDoesNotReadItsRepliesIsNotReadEitherUntilItDoes)
{
    Fixture f;
    ASSERT_TRUE(f.listen());
    auto c = f.client();
    c->setReadBufferSize(1); // its replies stay in the kernel's buffers
    // Their replies are far more than the kernel's buffers hold.
    constexpr int kRequests = 5000;
    constexpr int kReply = 9 + 250;
    QByteArray many;
    for (int i = 0; i < kRequests; ++i)
        many += request(static_cast<std::uint16_t>(i), 1, QByteArray::fromHex("040000007d"));
    c->write(many);
    // Until the server stops taking requests (or has taken them all).
    std::size_t seen = 0;
    for (int still = 0; still < 3 && seen < kRequests; QTest::qWait(100)) {
        still = f.handler.seen.size() == seen ? still + 1 : 0;
        seen = f.handler.seen.size();
    }
    EXPECT_LT(seen, std::size_t{kRequests}) << "the replies it does not read pile up in the server";
    // Once it reads, the rest is answered (read as it comes: megabytes in turns of 10 ms would be slow).
    c->setReadBufferSize(0);
    qint64 got = 0;
    QElapsedTimer waited;
    waited.start();
    while (got < kReply * kRequests && waited.elapsed() < 5000) {
        QCoreApplication::processEvents();
        got += c->readAll().size();
    }
    EXPECT_EQ(got, kReply * kRequests);
}

TEST(ModbusServer, ARequestNotAnsweredInTimeGets0x0BAndTheLateAnswerIsDropped)
{
    ModbusServerLimits limits;
    limits.requestTimeout = 100ms;
    Fixture f(limits);
    ASSERT_TRUE(f.listen());
    auto c = f.client();
    c->write(request(5, 4, QByteArray::fromHex("0300000002")));
    EXPECT_EQ(reply(*c, 9), QByteArray::fromHex("000500000003") + QByteArray(1, '\x04') + QByteArray::fromHex("830b"));
    ASSERT_EQ(f.handler.held.size(), 1u);
    f.handler.held.front()(QByteArray::fromHex("03020001"));
    QTest::qWait(50);
    EXPECT_TRUE(c->readAll().isEmpty());
}

TEST(ModbusServer, TooManyClientsAndIdleOnesAreClosed)
{
    ModbusServerLimits limits;
    limits.maxClients = 2;
    limits.idleTimeout = 300ms;
    Fixture f(limits);
    ASSERT_TRUE(f.listen());
    auto a = f.client();
    auto b = f.client();
    auto third = f.client();
    EXPECT_TRUE(closedByServer(*third));
    EXPECT_TRUE(f.log.filter(QStringLiteral("odrzucone (najwyżej 2 klientów naraz, --max-clients)")).size() == 1);
    // `a` keeps asking for longer than the idle time-out, `b` says nothing.
    for (std::uint16_t t = 1; t <= 6; ++t) {
        a->write(request(t, 1, QByteArray::fromHex("0400000001")));
        EXPECT_EQ(reply(*a, 11).size(), 11);
        QTest::qWait(100);
    }
    EXPECT_EQ(a->state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(b->state(), QAbstractSocket::UnconnectedState);
    EXPECT_TRUE(closedByServer(*a));
    EXPECT_EQ(f.log.filter(QStringLiteral("zamknięte (bezczynne).")).size(), 2);
}

TEST(ModbusServer, OnlyLoopbackAndTheAllowedNetworksMayConnect)
{
    AllowedNetwork lan;
    ASSERT_TRUE(parseAllowedNetwork(QStringLiteral("192.168.10.0/24"), lan));
    AllowedNetwork bad;
    EXPECT_FALSE(parseAllowedNetwork(QStringLiteral("192.168.10.0/40"), bad));
    EXPECT_FALSE(parseAllowedNetwork(QStringLiteral("nie-adres"), bad));
    ModbusServerLimits limits;
    limits.allow = {lan};
    Fixture f(limits);
    EXPECT_TRUE(f.server.allowed(QHostAddress(QStringLiteral("127.0.0.1"))));
    EXPECT_TRUE(f.server.allowed(QHostAddress(QStringLiteral("::1"))));
    EXPECT_TRUE(f.server.allowed(QHostAddress(QStringLiteral("192.168.10.77"))));
    EXPECT_FALSE(f.server.allowed(QHostAddress(QStringLiteral("192.168.11.77"))));

    // A real client from an address of this machine outside the allowed network.
    QHostAddress own;
    for (const QHostAddress& a : QNetworkInterface::allAddresses())
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback() && !lan.address.isNull() &&
            !a.isInSubnet(lan.address, lan.prefix))
            own = a;
    if (own.isNull())
        GTEST_SKIP() << "no address of this machine outside loopback";
    ASSERT_TRUE(f.listen(QHostAddress::AnyIPv4));
    auto outsider = f.client(own);
    outsider->write(request(1, 1, QByteArray::fromHex("0400000001")));
    EXPECT_TRUE(closedByServer(*outsider));
    EXPECT_TRUE(f.handler.seen.empty());
    EXPECT_TRUE(f.log.last().endsWith(QStringLiteral(": odrzucone (adres spoza --allow).")));
}

TEST(ModbusServer, AConnectionTheSystemWouldNotGiveIsSaidOnceAndAcceptingResumes)
{
    Fixture f;
    ASSERT_TRUE(f.listen());
    auto* listener = f.server.findChild<QTcpServer*>();
    ASSERT_NE(listener, nullptr);
    // As the listening socket reports running out of descriptors (Qt pauses
    // accepting then): said once, however often it comes, and tried again.
    listener->pauseAccepting();
    emit listener->acceptError(QAbstractSocket::SocketResourceError);
    emit listener->acceptError(QAbstractSocket::SocketResourceError);
    EXPECT_EQ(f.log.filter(QStringLiteral("Nie można przyjąć połączenia: za dużo otwartych plików")).size(), 1)
        << f.log.join(QLatin1Char('\n')).toStdString();
    auto late = f.client();
    late->write(request(7, 3, QByteArray::fromHex("0400000001")));
    EXPECT_EQ(reply(*late, 11).size(), 11);
    EXPECT_TRUE(f.log.contains(QStringLiteral("Połączenia znów są przyjmowane.")));
}
