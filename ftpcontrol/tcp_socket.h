// Event-driven TCP socket for the FTP control: one object plays one role
// (control connection, listening socket or data connection) and may carry
// several connections one after the other. Events are Qt signals raised on
// the owning thread in the order the network produced them.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>

class QTcpServer;
class QTcpSocket;

namespace quill {

// Error numbers of this layer: Qt's socket error plus kSocketErrorBase, so
// that they never collide with 0 (no error) or with reply codes.
constexpr int kSocketErrorBase = 10000;
constexpr int kInvalidSocketRequest = 10022;  // connectTo refused the request itself

class TcpSocket : public QObject {
  Q_OBJECT
 public:
  explicit TcpSocket(QObject* parent = nullptr);
  ~TcpSocket() override;

  // Starts connecting. Throws AutomationError (kInvalidSocketRequest) when
  // the request itself is refused (empty host, port not a number in
  // 1..65535); a connection that fails later raises `error`, then `closed`.
  void connectTo(const QString& host, const QString& port);
  // Closes at once; `closed` is raised (synchronously) when a connection
  // existed or was being made.
  void close();
  // Listens on a free port of the given local address (port 0). False after
  // raising `error` when the system refuses.
  [[nodiscard]] bool listen(const QHostAddress& address);
  // Adopts an incoming connection taken from an `accepting` event;
  // `connected` follows from the event loop.
  void accept(QTcpSocket* socket);
  // Queues bytes; `sent` is raised once everything queued is out. Without a
  // connection the bytes are dropped (`closed` has come or is coming).
  void send(const QByteArray& data);
  // Hands bytes to the system now. True when it took them all: no `sent`
  // follows and the caller may go on. False when some wait in the queue
  // (`sent` follows once they are out) or there is no connection.
  [[nodiscard]] bool sendAtOnce(const QByteArray& data);
  // Raises `sent` from the event loop (after a run of sendAtOnce calls).
  void notifySent();
  // Sends bytes as urgent (out-of-band) data, bypassing the queue; `sent`
  // follows as for send. False when the system did not take them all.
  [[nodiscard]] bool sendUrgent(const QByteArray& data);
  // Ends the outgoing stream (the peer reads end of file).
  void shutdownSend();
  // Drops the connection at once (same as close).
  void abort() { close(); }

  bool isConnected() const;
  bool isListening() const;
  // True when connected and nothing is waiting to go out.
  bool readyToSend() const;
  // Local IPv4 address as a 32-bit number, first octet most significant.
  uint32_t localIp() const;
  QHostAddress localAddress() const;
  quint16 localPort() const;
  // Native descriptor, -1 without a connection.
  qintptr handle() const;

 signals:
  void connected();
  void received(const QByteArray& data);
  void sent();
  void closed();
  void accepting(QTcpSocket* newSocket, const QString& remoteIp, quint16 remotePort);
  void error(int number, const QString& text, const QString& where);
  void trace(const QString& text);

 private:
  void attach(QTcpSocket* socket);
  void detach();
  void onConnected();
  void onReadyRead();
  void onBytesWritten();
  void onDisconnected();
  void onError();
  void onNewConnection();
  void finishClose();
  void postSent();

  QTcpSocket* socket_ = nullptr;
  QTcpServer* server_ = nullptr;
  bool closedRaised_ = false;
  bool sentPosted_ = false;
  bool waitingSent_ = false;
  quint64 generation_ = 0;
};

}  // namespace quill
