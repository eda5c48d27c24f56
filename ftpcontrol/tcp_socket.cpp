// One TcpSocket owns at most one QTcpSocket at a time (attach/detach) and,
// for listening, one QTcpServer. Each attached connection gets a generation
// number; events posted to the event loop (a deferred `sent`, the `connected`
// of an accepted socket) check it, so that nothing of an old connection
// reaches the owner after close() or a new connection. `sent` is raised only
// from the event loop, never from inside send(), so that the owner never
// re-enters itself. Urgent data and the half close go through the native
// descriptor, which Qt does not offer.
//
// Every connection is a QSslSocket (plain until a handshake starts), so the
// listening server makes its accepted connections QSslSockets too. What
// waits to go out of a TLS connection sits in two places: text not yet
// encrypted, and encrypted bytes the system has not taken yet; `sent` waits
// for both, so that an upload never runs ahead of the network. A TLS upload
// ends with close_notify and the close of the connection (a bare half close
// could not be told from a cut connection).
#include "ftpcontrol/tcp_socket.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>
#include <QSslCipher>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <sys/socket.h>

#include <cerrno>
#include <unistd.h>

#include "common/automation_error.h"

namespace quill {

namespace {

// Hands out its connections as QSslSockets.
class SslReadyServer : public QTcpServer {
 public:
  using QTcpServer::QTcpServer;

 protected:
  void incomingConnection(qintptr descriptor) override {
    auto* s = new QSslSocket(this);
    if (!s->setSocketDescriptor(descriptor)) {
      delete s;
      return;
    }
    addPendingConnection(s);
  }
};

// Ends a TLS upload's connection without a reset. QSslSocket sends
// close_notify and then closes its descriptor; a close with unread bytes in
// the system's buffer (the TLS 1.3 session tickets a server sends after the
// handshake) resets the connection, and the server loses whatever of the
// upload it had not read yet. A second descriptor of the same connection
// keeps it open past that close; once the last bytes are out it half-closes,
// reads until the server closes its side, and only then closes.
class Drain : public QObject {
 public:
  static constexpr int kLingerMs = 30000;

  Drain(int fd, QObject* parent) : QObject(parent), fd_(::dup(fd)) {
    if (fd_ < 0) {
      deleteLater();
      return;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &Drain::read);
    QTimer::singleShot(kLingerMs, this, &Drain::finish);
  }
  ~Drain() override {
    delete notifier_;  // before its descriptor goes
    if (fd_ >= 0) ::close(fd_);
  }
  // Qt has closed its descriptor: everything it wrote is in the system's hands.
  void halfClose() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
  }

 private:
  void read() {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
      return finish();  // the server's end, or an error
    }
  }
  void finish() {
    if (notifier_) notifier_->setEnabled(false);
    deleteLater();
  }

  int fd_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace

TcpSocket::TcpSocket(QObject* parent) : QObject(parent) {}

TcpSocket::~TcpSocket() {
  detach();
  if (server_) server_->close();
}

void TcpSocket::attach(QSslSocket* socket) {
  detach();
  socket_ = socket;
  socket_->setParent(this);
  closedRaised_ = false;
  sentPosted_ = false;
  waitingSent_ = false;
  ++generation_;
  connect(socket_, &QTcpSocket::connected, this, &TcpSocket::onConnected);
  connect(socket_, &QTcpSocket::readyRead, this, &TcpSocket::onReadyRead);
  connect(socket_, &QTcpSocket::bytesWritten, this, &TcpSocket::onBytesWritten);
  connect(socket_, &QTcpSocket::disconnected, this, &TcpSocket::onDisconnected);
  connect(socket_, &QTcpSocket::errorOccurred, this, &TcpSocket::onError);
  connect(socket_, &QSslSocket::encryptedBytesWritten, this, &TcpSocket::onBytesWritten);
  connect(socket_, &QSslSocket::encrypted, this, &TcpSocket::onEncrypted);
  connect(socket_, &QSslSocket::sslErrors, this, &TcpSocket::tlsErrors);
}

void TcpSocket::detach() {
  if (!socket_) return;
  QTcpSocket* old = socket_;
  socket_ = nullptr;
  old->disconnect(this);
  old->abort();
  old->deleteLater();
  ++generation_;
}

void TcpSocket::connectTo(const QString& host, const QString& port) {
  bool ok = false;
  const uint p = port.trimmed().toUInt(&ok);
  if (host.trimmed().isEmpty() || !ok || p == 0 || p > 65535)
    throw AutomationError(kInvalidSocketRequest, "connect",
                          "Invalid address or port: " + host.toStdString() + ":" + port.toStdString());
  attach(new QSslSocket);
  socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  emit trace("connect " + host + ":" + QString::number(p));
  socket_->connectToHost(host.trimmed(), static_cast<quint16>(p));
}

void TcpSocket::close() {
  if (server_ && server_->isListening()) server_->close();
  if (!socket_) return;
  const bool existed = socket_->state() != QAbstractSocket::UnconnectedState && !closedRaised_;
  detach();
  if (existed) {
    closedRaised_ = true;
    emit closed();
  }
}

bool TcpSocket::listen(const QHostAddress& address) {
  if (!server_) {
    server_ = new SslReadyServer(this);
    server_->setMaxPendingConnections(1);
    connect(server_, &QTcpServer::newConnection, this, &TcpSocket::onNewConnection);
  }
  server_->close();
  if (!server_->listen(address, 0)) {
    emit error(kSocketErrorBase + static_cast<int>(server_->serverError()), server_->errorString(),
               "listen");
    return false;
  }
  return true;
}

void TcpSocket::onNewConnection() {
  while (server_ && server_->hasPendingConnections()) {
    QTcpSocket* s = server_->nextPendingConnection();
    if (!s) break;
    emit accepting(s, s->peerAddress().toString(), s->peerPort());
    // Not adopted by the handler: refuse it.
    if (s->parent() == server_) {
      s->abort();
      s->deleteLater();
    }
  }
}

void TcpSocket::accept(QTcpSocket* plain) {
  auto* socket = qobject_cast<QSslSocket*>(plain);
  if (!socket) {  // not one of ours: refused
    plain->abort();
    plain->deleteLater();
    return;
  }
  attach(socket);
  emit trace("accept " + socket->peerAddress().toString() + ":" + QString::number(socket->peerPort()));
  const quint64 gen = generation_;
  QMetaObject::invokeMethod(this, [this, gen] {
    if (gen != generation_ || !socket_) return;
    if (socket_->state() == QAbstractSocket::ConnectedState) {
      onConnected();
      if (gen == generation_ && socket_ && socket_->bytesAvailable() > 0) onReadyRead();
    }
    if (gen == generation_ && socket_ && socket_->state() == QAbstractSocket::UnconnectedState)
      finishClose();
  }, Qt::QueuedConnection);
}

void TcpSocket::send(const QByteArray& data) {
  if (!socket_ || socket_->state() != QAbstractSocket::ConnectedState) return;
  socket_->write(data);
  waitingSent_ = true;
  // Hand the bytes to the system now; when they all went out, report it
  // from the event loop (never from inside this call).
  socket_->flush();
  if (socket_ && unsent() == 0) postSent();
}

bool TcpSocket::sendAtOnce(const QByteArray& data) {
  if (!socket_ || socket_->state() != QAbstractSocket::ConnectedState) return false;
  socket_->write(data);
  socket_->flush();
  if (socket_ && unsent() == 0) return true;
  waitingSent_ = true;
  return false;
}

void TcpSocket::notifySent() {
  waitingSent_ = true;
  postSent();
}

void TcpSocket::postSent() {
  if (sentPosted_) return;
  sentPosted_ = true;
  const quint64 gen = generation_;
  QMetaObject::invokeMethod(this, [this, gen] {
    if (gen != generation_) return;
    sentPosted_ = false;
    if (!waitingSent_ || !socket_ || unsent() > 0) return;
    waitingSent_ = false;
    emit sent();
  }, Qt::QueuedConnection);
}

void TcpSocket::onBytesWritten() {
  if (socket_ && waitingSent_ && unsent() == 0) postSent();
}

qint64 TcpSocket::unsent() const {
  return socket_->bytesToWrite() + (socket_->isEncrypted() ? socket_->encryptedBytesToWrite() : 0);
}

bool TcpSocket::sendUrgent(const QByteArray& data) {
  const qintptr fd = handle();
  if (fd < 0) return false;
  if (socket_->bytesToWrite() > 0) socket_->flush();
  const ssize_t n = ::send(static_cast<int>(fd), data.constData(), static_cast<size_t>(data.size()),
                           MSG_OOB | MSG_NOSIGNAL);
  // Reported like any other send, so that what waits behind it follows.
  waitingSent_ = true;
  postSent();
  return n == data.size();
}

void TcpSocket::shutdownSend() {
  const qintptr fd = handle();
  if (fd < 0) return;
  if (socket_->isEncrypted()) {
    emit trace("shutdown");
    new Drain(static_cast<int>(fd), this);
    socket_->disconnectFromHost();  // close_notify, then the close once everything is out
    return;
  }
  if (socket_->bytesToWrite() > 0) socket_->flush();
  emit trace("shutdown");
  ::shutdown(static_cast<int>(fd), SHUT_WR);
}

bool TcpSocket::isConnected() const {
  return socket_ && socket_->state() == QAbstractSocket::ConnectedState;
}

bool TcpSocket::isListening() const { return server_ && server_->isListening(); }

bool TcpSocket::readyToSend() const {
  return isConnected() && !waitingSent_ && unsent() == 0;
}

QHostAddress TcpSocket::localAddress() const {
  if (socket_) return socket_->localAddress();
  if (server_) return server_->serverAddress();
  return {};
}

uint32_t TcpSocket::localIp() const {
  bool ok = false;
  const uint32_t ip = localAddress().toIPv4Address(&ok);
  return ok ? ip : 0;
}

quint16 TcpSocket::localPort() const {
  if (server_ && server_->isListening()) return server_->serverPort();
  return socket_ ? socket_->localPort() : 0;
}

qintptr TcpSocket::handle() const {
  if (!socket_ || socket_->state() != QAbstractSocket::ConnectedState) return -1;
  return socket_->socketDescriptor();
}

// A TLS connection counts as connected once its handshake is over.
void TcpSocket::onConnected() {
  if (!tls_) {
    emit connected();
    return;
  }
  connectedAfterHandshake_ = true;
  beginHandshake(*tls_);
}

void TcpSocket::startTls(const TlsSetup& setup) {
  if (!isConnected()) return;
  connectedAfterHandshake_ = false;
  beginHandshake(setup);
}

void TcpSocket::beginHandshake(const TlsSetup& setup) {
  socket_->setSslConfiguration(setup.configuration);
  socket_->setPeerVerifyName(setup.peerName);
  emit trace("TLS handshake with " + setup.peerName);
  socket_->startClientEncryption();
}

void TcpSocket::onEncrypted() {
  emit trace("TLS " + tlsDescription());
  if (connectedAfterHandshake_)
    emit connected();
  else
    emit encrypted();
}

void TcpSocket::ignoreTlsErrors() {
  if (socket_) socket_->ignoreSslErrors();
}

bool TcpSocket::isEncrypted() const { return socket_ && socket_->isEncrypted(); }

QSslConfiguration TcpSocket::sslConfiguration() const { return socket_ ? socket_->sslConfiguration() : QSslConfiguration(); }

QSslCertificate TcpSocket::peerCertificate() const { return socket_ ? socket_->peerCertificate() : QSslCertificate(); }

QString TcpSocket::tlsDescription() const {
  if (!socket_ || !socket_->isEncrypted()) return {};
  const QSslCipher c = socket_->sessionCipher();
  return c.protocolString() + QLatin1Char(' ') + c.name();
}

void TcpSocket::onReadyRead() {
  const quint64 gen = generation_;
  while (gen == generation_ && socket_ && socket_->bytesAvailable() > 0) {
    const QByteArray data = socket_->readAll();
    if (data.isEmpty()) break;
    emit received(data);
  }
}

void TcpSocket::onDisconnected() {
  // Drain has no meta-object of its own, so findChildren<Drain*> would match
  // every child (the socket too): pick the drains out by their real type.
  for (QObject* child : children())
    if (auto* drain = dynamic_cast<Drain*>(child)) drain->halfClose();
  finishClose();
}

void TcpSocket::onError() {
  if (!socket_) return;
  const auto e = socket_->error();
  const quint64 gen = generation_;
  if (e != QAbstractSocket::RemoteHostClosedError) {
    const bool wasConnecting = socket_->state() != QAbstractSocket::ConnectedState;
    emit error(kSocketErrorBase + static_cast<int>(e), socket_->errorString(),
               wasConnecting ? QStringLiteral("connect") : QStringLiteral("transfer"));
  }
  // The peer's TLS close_notify: Qt answers nothing and keeps the
  // connection, while a server such as vsftpd waits for our side to end
  // before it sends its final reply. What came before it is delivered, then
  // the connection closes.
  if (e == QAbstractSocket::RemoteHostClosedError && socket_->isEncrypted() &&
      socket_->state() == QAbstractSocket::ConnectedState) {
    if (socket_->bytesAvailable() > 0) onReadyRead();
    if (gen == generation_ && socket_) socket_->disconnectFromHost();
    return;
  }
  // The handler may have run a nested event loop (a message box): only the
  // connection that failed is finished here.
  if (gen == generation_ && socket_ && socket_->state() == QAbstractSocket::UnconnectedState) finishClose();
}

void TcpSocket::finishClose() {
  if (!socket_ || closedRaised_) return;
  // Data that arrived just before the close is delivered first.
  const quint64 gen = generation_;
  if (socket_->bytesAvailable() > 0) onReadyRead();
  if (gen != generation_ || !socket_ || closedRaised_) return;
  closedRaised_ = true;
  waitingSent_ = false;
  emit closed();
}

}  // namespace quill
