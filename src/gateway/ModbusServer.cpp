#include "gateway/ModbusServer.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <array>

namespace vardel {

namespace {
// Enough for a frame and a half; a client that sends more waits in the
// kernel's buffers, not in ours.
constexpr qint64 kSocketReadBuffer = 512;
// Replies a client has not taken yet: past what the kernel may hold for it
// and this much in ours, its next request is not read until it takes them.
constexpr int kKernelSendBuffer = 64 * 1024;
constexpr qint64 kUnsentReplies = 2048;
} // namespace

struct ModbusServer::Connection {
    QTcpSocket* socket = nullptr;
    QString peer;
    ModbusFrameReader reader;
    // Not restarted for every frame: when it fires it looks at lastHeard.
    QTimer idle;
    QElapsedTimer lastHeard;
    // Runs only for a request not answered inside the handler's call.
    QTimer timeout;
    ModbusRequest pending;
    quint64 pendingId = 0; // 0: no request under way
    bool handling = false; // inside the handler's call for `pending`
    bool backedUp = false; // not read until the unsent replies have gone
};

bool parseAllowedNetwork(const QString& text, AllowedNetwork& network)
{
    const QPair<QHostAddress, int> subnet = QHostAddress::parseSubnet(text);
    if (subnet.first.isNull() || subnet.second < 0)
        return false;
    network = {subnet.first, subnet.second};
    return true;
}

bool parseListenAddress(const QString& text, QHostAddress& address, quint16& port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return false; // IPv6 goes in brackets, so that the port is not taken for part of it
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    const QString portText = text.mid(colon + 1);
    if (!digits.match(portText).hasMatch())
        return false;
    const int number = portText.toInt();
    if (number < 1 || number > 65535 || !address.setAddress(host))
        return false;
    port = static_cast<quint16>(number);
    return true;
}

QString peerText(const QTcpSocket& socket)
{
    QHostAddress address = socket.peerAddress();
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        address = QHostAddress(v4);
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("[%1]").arg(address.toString())
        : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(socket.peerPort());
}

ModbusServer::ModbusServer(ModbusHandler& handler, ModbusServerLimits limits, Log log, QObject* parent)
    : QObject(parent)
    , m_handler(handler)
    , m_limits(std::move(limits))
    , m_log(std::move(log))
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &ModbusServer::acceptPending);
    // A connection the system would not give us (no descriptor left, say):
    // said once, then retried every second; clients already connected go on.
    m_acceptRetry.setSingleShot(true);
    m_acceptRetry.setInterval(1000);
    connect(&m_acceptRetry, &QTimer::timeout, this, [this] {
        m_server->resumeAccepting();
        acceptPending();
    });
    connect(m_server, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError error) {
        if (!m_acceptFailing)
            m_log(QStringLiteral("Nie można przyjąć połączenia: %1; kolejne próby co sekundę.")
                      .arg(error == QAbstractSocket::SocketResourceError
                               ? QStringLiteral("za dużo otwartych plików (ulimit -n) albo brak pamięci")
                               : m_server->errorString()));
        m_acceptFailing = true;
        m_server->pauseAccepting();
        m_acceptRetry.start();
    });
}

ModbusServer::~ModbusServer()
{
    // Quietly: the owner said its goodbyes through close() if it wanted them.
    for (Connection* c : m_connections) {
        c->socket->disconnect(this);
        delete c->socket;
        delete c;
    }
}

bool ModbusServer::listen(const QHostAddress& address, quint16 port, QString& error)
{
    if (m_server->listen(address, port))
        return true;
    error = m_server->errorString();
    return false;
}

quint16 ModbusServer::port() const
{
    return m_server->serverPort();
}

bool ModbusServer::allowed(const QHostAddress& peer) const
{
    if (peer.isLoopback())
        return true;
    return std::any_of(m_limits.allow.begin(), m_limits.allow.end(),
                       [&peer](const AllowedNetwork& n) { return peer.isInSubnet(n.address, n.prefix); });
}

void ModbusServer::close()
{
    m_server->close();
    while (!m_connections.empty())
        drop(m_connections.front());
}

void ModbusServer::acceptPending()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        if (m_acceptFailing) {
            m_acceptFailing = false;
            m_log(QStringLiteral("Połączenia znów są przyjmowane."));
        }
        const QString peer = peerText(*socket);
        // Refused before a byte of it is read.
        if (!allowed(socket->peerAddress())) {
            m_log(QStringLiteral("Połączenie z %1: odrzucone (adres spoza --allow).").arg(peer));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        if (clientCount() >= m_limits.maxClients) {
            m_log(QStringLiteral("Połączenie z %1: odrzucone (najwyżej %2 klientów naraz, --max-clients).")
                      .arg(peer)
                      .arg(m_limits.maxClients));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto* c = new Connection;
        c->socket = socket;
        c->peer = peer;
        socket->setParent(nullptr);
        socket->setReadBufferSize(kSocketReadBuffer);
        // A reply is one small segment: it goes out now, not when the
        // client's acknowledgement of the last one has come.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kKernelSendBuffer);
        c->idle.setSingleShot(true);
        c->idle.setInterval(m_limits.idleTimeout);
        c->timeout.setSingleShot(true);
        c->timeout.setInterval(m_limits.requestTimeout);
        m_connections.push_back(c);
        m_log(QStringLiteral("Połączenie z %1: przyjęte.").arg(peer));
        connect(socket, &QTcpSocket::readyRead, this, [this, c] { readFrames(c); });
        connect(socket, &QTcpSocket::disconnected, this, [this, c] { drop(c); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, c] {
            if (c->backedUp && c->socket->bytesToWrite() <= kUnsentReplies) {
                c->backedUp = false;
                readFrames(c);
            }
        });
        connect(&c->idle, &QTimer::timeout, this, [this, c] {
            const qint64 quiet = c->lastHeard.elapsed();
            const qint64 limit = static_cast<qint64>(m_limits.idleTimeout.count());
            if (quiet >= limit)
                drop(c, QStringLiteral("bezczynne"));
            else
                c->idle.start(static_cast<int>(limit - quiet));
        });
        connect(&c->timeout, &QTimer::timeout, this, [this, c] {
            // The meter's exchange may still end; its answer is dropped then,
            // unless the handler keeps the request open (a write under way).
            if (const std::optional<ModbusException> code = m_handler.timedOut(c->peer))
                answer(c, modbusExceptionPdu(c->pending.function(), *code));
        });
        c->lastHeard.start();
        c->idle.start();
        readFrames(c);
    }
}

void ModbusServer::readFrames(Connection* c)
{
    // One request at a time per connection: the rest waits in the socket.
    while (c->pendingId == 0) {
        // A client that sends without reading would grow our write buffer.
        c->backedUp = c->socket->bytesToWrite() > kUnsentReplies;
        if (c->backedUp)
            return;
        std::array<char, ModbusFrameReader::kMaxFrame> chunk{};
        const std::size_t want = c->reader.wanted();
        const qint64 got = want == 0 ? 0 : c->socket->read(chunk.data(), static_cast<qint64>(want));
        if (got < 0) {
            drop(c);
            return;
        }
        if (got > 0) {
            c->lastHeard.start();
            c->reader.feed(chunk.data(), static_cast<std::size_t>(got));
        }
        if (c->reader.state() == ModbusFrameReader::State::Malformed) {
            drop(c, QStringLiteral("błędna ramka"));
            return;
        }
        if (c->reader.state() != ModbusFrameReader::State::Frame) {
            if (got == 0)
                return; // more bytes to come
            continue;
        }
        c->pending = c->reader.take();
        const quint64 id = m_nextRequest++;
        c->pendingId = id;
        c->handling = true;
        m_handler.handle(c->pending, c->peer, [this, c, id](const QByteArray& pdu) {
            // Only while the connection and that very request are still there.
            if (!live(c) || c->pendingId != id)
                return;
            answer(c, pdu);
        });
        // The handler may have dropped the connection meanwhile.
        if (!live(c))
            return;
        c->handling = false;
        // Most requests (the cache's) are answered inside the call, and this
        // loop reads the next one; only the others wait under the time-out.
        if (c->pendingId == id)
            c->timeout.start();
    }
}

void ModbusServer::answer(Connection* c, const QByteArray& pdu)
{
    c->timeout.stop();
    c->pendingId = 0;
    c->socket->write(modbusFrame(c->pending, pdu));
    // Sent now rather than on the loop's next turn.
    c->socket->flush();
    if (!live(c))
        return; // the write failed and the socket said it was gone
    if (c->handling)
        return; // readFrames, which called the handler, reads the next frame
    // The next frame may already wait; read it from the loop, not from
    // inside the handler's call.
    QTimer::singleShot(0, this, [this, c] {
        if (live(c))
            readFrames(c);
    });
}

bool ModbusServer::live(const Connection* c) const
{
    return std::find(m_connections.begin(), m_connections.end(), c) != m_connections.end();
}

void ModbusServer::drop(Connection* c, const QString& why)
{
    const auto it = std::find(m_connections.begin(), m_connections.end(), c);
    if (it == m_connections.end())
        return;
    m_connections.erase(it);
    if (c->pendingId != 0)
        m_handler.abandoned(c->peer);
    c->idle.stop();
    c->timeout.stop();
    c->socket->disconnect(this);
    c->socket->disconnectFromHost();
    c->socket->deleteLater();
    m_log(why.isEmpty() ? QStringLiteral("Połączenie z %1: zamknięte.").arg(c->peer)
                        : QStringLiteral("Połączenie z %1: zamknięte (%2).").arg(c->peer, why));
    delete c;
}

} // namespace vardel
