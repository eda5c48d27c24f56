// Event-driven TCP socket for the FTP control: one object plays one role
// (control connection, listening socket or data connection) and may carry
// several connections one after the other. Events are Qt signals raised on
// the owning thread in the order the network produced them.
//
// TLS: every connection is a QSslSocket, plain until told otherwise. With
// setTls, the next connection (made or accepted) runs the client side of a
// TLS handshake first and raises `connected` only once it is encrypted, so
// that the owner sees a TLS connection exactly like a plain one. startTls
// turns the connection under way into TLS (after AUTH TLS) and raises
// `encrypted`. Certificate problems come as `tlsErrors`, raised while the
// handshake waits: the handler accepts them with ignoreTlsErrors or leaves
// them, and then the handshake fails (`error`, then `closed`).
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>
#include <cstdint>
#include <optional>

class QTcpServer;
class QTcpSocket;
class QSslSocket;

namespace quill {

// Error numbers of this layer: Qt's socket error plus kSocketErrorBase, so
// that they never collide with 0 (no error) or with reply codes.
constexpr int kSocketErrorBase = 10000;
constexpr int kInvalidSocketRequest = 10022;  // connectTo refused the request itself

// What a TLS connection is made with: the configuration (trust store,
// protocols, a session to resume) and the name the certificate must carry.
struct TlsSetup {
  QSslConfiguration configuration;
  QString peerName;
};

class TcpSocket : public QObject {
  Q_OBJECT
 public:
  explicit TcpSocket(QObject* parent = nullptr);
  ~TcpSocket() override;

  // TLS for the connections made or accepted from now on (nullopt: plain).
  void setTls(std::optional<TlsSetup> setup) { tls_ = std::move(setup); }
  // Starts the client side of a TLS handshake on the connection under way;
  // `encrypted` follows, or `error` and `closed`.
  void startTls(const TlsSetup& setup);
  // Only from a `tlsErrors` handler: the handshake goes on despite them.
  void ignoreTlsErrors();
  bool isEncrypted() const;
  // The connection's TLS configuration, with the session to resume (empty
  // without a connection).
  QSslConfiguration sslConfiguration() const;
  QSslCertificate peerCertificate() const;
  // "TLSv1.3 TLS_AES_256_GCM_SHA384", for traces.
  QString tlsDescription() const;

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
  void encrypted();
  void tlsErrors(const QList<QSslError>& errors);

 private:
  void attach(QSslSocket* socket);
  void detach();
  void onConnected();
  void onEncrypted();
  void beginHandshake(const TlsSetup& setup);
  qint64 unsent() const;
  void onReadyRead();
  void onBytesWritten();
  void onDisconnected();
  void onError();
  void onNewConnection();
  void finishClose();
  void postSent();

  QSslSocket* socket_ = nullptr;
  QTcpServer* server_ = nullptr;
  std::optional<TlsSetup> tls_;
  // The handshake under way raises `connected` (setTls) rather than
  // `encrypted` (startTls) when it ends.
  bool connectedAfterHandshake_ = false;
  bool closedRaised_ = false;
  bool sentPosted_ = false;
  bool waitingSent_ = false;
  quint64 generation_ = 0;
};

}  // namespace quill
