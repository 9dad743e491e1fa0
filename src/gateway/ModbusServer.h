#pragma once

#include "gateway/ModbusFrame.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace vardel {

// A network the clients may come from: "192.168.1.0/24", "10.0.0.7".
struct AllowedNetwork {
    QHostAddress address;
    int prefix = 0;
};
// Parses "ADDR/BITS" or "ADDR"; false for anything else.
bool parseAllowedNetwork(const QString& text, AllowedNetwork& network);

// "127.0.0.1:1502", "[::1]:1502", "0.0.0.0:502": an address and a port
// 1..65535; false for anything else.
bool parseListenAddress(const QString& text, QHostAddress& address, quint16& port);

struct ModbusServerLimits {
    int maxClients = 16;
    std::chrono::milliseconds idleTimeout{60000};    // a connection that sends nothing for this long is closed
    std::chrono::milliseconds requestTimeout{5000};  // a request not answered by then gets the handler's timedOut()
    std::vector<AllowedNetwork> allow;               // empty: loopback only
};

// The gateway's side of a request: answer it now or later through `reply`
// (a PDU: the function's response or an exception). A reply after the
// request's time-out, or after its client left, is dropped.
class ModbusHandler {
public:
    using Reply = std::function<void(const QByteArray& pdu)>;
    virtual ~ModbusHandler() = default;
    virtual void handle(const ModbusRequest& request, const QString& client, Reply reply) = 0;
    // The client's request was not answered within the time-out: the
    // exception it gets now (its reply, should one come, is dropped), or
    // nullopt: it is answered when it ends.
    virtual std::optional<ModbusException> timedOut(const QString& /*client*/) { return ModbusException::TargetFailed; }
    // The client left with its request unanswered.
    virtual void abandoned(const QString& /*client*/) {}
};

// A Modbus TCP server on QTcpServer, in the program's one event loop. Each
// connection has one request under way at a time (the next frame is read
// only once it is answered), so nothing a client sends can pile up: Qt's
// read buffer of the socket is bounded too. Nor can the replies a client
// does not read: its next frame waits until they have gone. A malformed
// frame closes that connection only. Every connection opened, closed or
// refused is one line through `log`.
class ModbusServer : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString& line)>;

    ModbusServer(ModbusHandler& handler, ModbusServerLimits limits, Log log, QObject* parent = nullptr);
    ~ModbusServer() override;

    // false with the reason in `error` („Nie można nasłuchiwać na …: …”).
    bool listen(const QHostAddress& address, quint16 port, QString& error);
    quint16 port() const;
    int clientCount() const { return static_cast<int>(m_connections.size()); }
    // Every connection closed (said), the listening socket too.
    void close();

    // A client that may connect at all: loopback always, others only inside --allow.
    bool allowed(const QHostAddress& peer) const;

private:
    struct Connection;
    void acceptPending();
    void readFrames(Connection* connection);
    void answer(Connection* connection, const QByteArray& pdu);
    void drop(Connection* connection, const QString& why = {});
    // Still open: a socket may say it is gone from inside any call on it.
    bool live(const Connection* connection) const;

    ModbusHandler& m_handler;
    ModbusServerLimits m_limits;
    Log m_log;
    QTcpServer* m_server;
    QTimer m_acceptRetry;
    bool m_acceptFailing = false;
    std::vector<Connection*> m_connections;
    quint64 m_nextRequest = 1;
};

// "127.0.0.1:40022", "[::1]:40022".
QString peerText(const QTcpSocket& socket);

} // namespace vardel
