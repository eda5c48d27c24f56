// Shared fixtures of the FTP control tests: a recorder of the control's
// signals, and a scripted in-process server on 127.0.0.1 that answers
// exactly as each test tells it.
#pragma once

#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

#include "ftpcontrol/ftp_control.h"
#include "tests/server_support.h"

namespace ftptest {

using namespace servertest;

// Records the control's signals as readable lines, in order; messages for a
// message box are recorded as "Message <text>".
struct Recorder {
  QStringList events;
  QStringList traces;
  QByteArray got;  // GetData concatenated
  QStringList dirLines;
  std::function<QByteArray()> putData;
  int done = 0;
  int lastCode = 0;
  QString lastMsg;

  void attach(quill::FtpControl& c) {
    using quill::FtpControl;
    QObject::connect(&c, &FtpControl::Trace, [this](const QString& m) { traces << m; });
    QObject::connect(&c, &FtpControl::Connected, [this] { events << "Connected"; });
    QObject::connect(&c, &FtpControl::DisConnected, [this](int code, const QString& m) {
      events << QStringLiteral("DisConnected %1 %2").arg(code).arg(m);
    });
    QObject::connect(&c, &FtpControl::CommandDone, [this](int code, const QString& s, const QString& m) {
      events << QStringLiteral("CommandDone %1 %2 %3").arg(code).arg(s, m);
      ++done;
      lastCode = code;
      lastMsg = m;
    });
    QObject::connect(&c, &FtpControl::GetOpen, [this](const QString& f) { events << "GetOpen " + f; });
    QObject::connect(&c, &FtpControl::GetData, [this](const QByteArray& d) { got += d; });
    QObject::connect(&c, &FtpControl::GetClose, [this] { events << "GetClose"; });
    QObject::connect(&c, &FtpControl::PutClose, [this] { events << "PutClose"; });
    QObject::connect(&c, &FtpControl::DirOpen, [this] { events << "DirOpen"; });
    QObject::connect(&c, &FtpControl::DirData, [this](const QString& l) {
      dirLines << l;
      events << "DirData " + l;
    });
    QObject::connect(&c, &FtpControl::DirClose, [this] { events << "DirClose"; });
    QObject::connect(&c, &FtpControl::TransError, [this](int n, const QString& d, const QString& w) {
      events << QStringLiteral("TransError %1 %2 %3").arg(n).arg(d, w);
    });
    c.setMessageHandler([this](const QString& m) { events << "Message " + m; });
  }

  // The data source for PutFile/AppendFile: whatever putData hands out.
  quill::FtpControl::DataSource source() {
    return [this] { return putData ? putData() : QByteArray(); };
  }
  // Hands out `data` in blocks of `block` bytes, then an empty block.
  quill::FtpControl::DataSource feed(QByteArray data, int block = 8192) {
    auto pos = std::make_shared<qsizetype>(0);
    putData = [data, block, pos] {
      const QByteArray out = data.mid(*pos, block);
      *pos += out.size();
      return out;
    };
    return source();
  }
  // Whether an event or trace line begins with `what`.
  bool seen(const QString& what) const {
    for (const QStringList* l : {&events, &traces})
      for (const QString& e : *l)
        if (e.startsWith(what)) return true;
    return false;
  }
};

// A server that answers as the test says: onLine is called for every command
// line received; the test replies with send() or play().
class ScriptedServer {
 public:
  ScriptedServer() {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      client = server_.nextPendingConnection();
      QObject::connect(client, &QTcpSocket::readyRead, [this] { onRead(); });
      play(greeting);
    });
    QObject::connect(&dataServer_, &QTcpServer::newConnection, [this] {
      adoptData(dataServer_.nextPendingConnection());
    });
  }
  ~ScriptedServer() {
    if (data) data->abort();
    if (client) client->abort();
  }

  QString port() const { return QString::number(server_.serverPort()); }

  void send(const QByteArray& raw) { write(client, raw); }
  void closeClient() { close(client); }

  // Plays a reply script: steps separated by '|', each a reply line (sent
  // with CR LF) or one of
  //   <raw:TEXT>     TEXT as is          <pasv>    opens the passive listener, announces it
  //   <dead-pasv>    announces a port nobody listens on
  //   <connect>      connects back to the last PORT
  //   <up>           waits for the data connection
  //   <data:BYTES>   sends on it         <close>   closes it
  //   <eof>          waits for the client's end of the upload
  //   <settle>       lets the event loop run a moment
  //   <until:WHAT>   waits until the control raised the event or trace WHAT
  void play(const QByteArray& script) {
    for (const QByteArray& step : script.split('|')) {
      if (!step.startsWith('<')) send(step + "\r\n");
      else if (step.startsWith("<raw:")) send(argument(step));
      else if (step == "<pasv>") send(pasvReply());
      else if (step == "<dead-pasv>") send(announce(freePort()));
      else if (step == "<connect>") connectActive();
      else if (step == "<up>") waitUntil([&] { return data && data->state() == QAbstractSocket::ConnectedState; });
      else if (step.startsWith("<data:")) write(data, argument(step));
      else if (step == "<close>") close(data);
      else if (step == "<eof>") waitUntil([&] { return dataEof; });
      else if (step == "<settle>") settle(50);
      else if (step.startsWith("<until:")) waitUntil([&] { return seen && seen(QString::fromUtf8(argument(step))); });
    }
  }

  QByteArray greeting = "220 ready";
  std::function<void(const QString& line)> onLine;
  std::function<bool(const QString&)> seen;  // for <until:...>
  QStringList lines;           // command lines received (Latin-1), without CR LF
  QTcpSocket* client = nullptr;
  QTcpSocket* data = nullptr;
  QByteArray dataIn;
  bool dataEof = false;

 private:
  static QByteArray argument(const QByteArray& step) {
    const qsizetype colon = step.indexOf(':');
    return step.mid(colon + 1, step.size() - colon - 2);
  }
  QByteArray pasvReply() {
    dataServer_.close();
    dataServer_.listen(QHostAddress::LocalHost, 0);
    return announce(dataServer_.serverPort());
  }
  static QByteArray announce(quint16 p) {
    return QStringLiteral("227 Entering Passive Mode (127,0,0,1,%1,%2)\r\n").arg(p >> 8).arg(p & 255).toLatin1();
  }
  void connectActive() {
    QStringList f;
    for (const QString& l : lines)
      if (l.startsWith("PORT ")) f = l.mid(5).split(',');
    auto* s = new QTcpSocket(&dataServer_);  // freed with the server
    s->connectToHost(QStringLiteral("%1.%2.%3.%4").arg(f[0], f[1], f[2], f[3]),
                     static_cast<quint16>(f[4].toInt() * 256 + f[5].toInt()));
    adoptData(s);
  }
  static void write(QTcpSocket* s, const QByteArray& bytes) {
    if (s) s->write(bytes), s->flush();
  }
  static void close(QTcpSocket* s) {
    if (s) s->disconnectFromHost();
  }
  void onRead() {
    buffer_ += client->readAll();
    for (;;) {
      const qsizetype end = buffer_.indexOf("\r\n");
      if (end < 0) break;
      const QString line = QString::fromLatin1(buffer_.left(end));
      buffer_.remove(0, end + 2);
      lines << line;
      if (onLine) onLine(line);
    }
  }
  void adoptData(QTcpSocket* s) {
    data = s;
    dataIn.clear();
    dataEof = false;
    QObject::connect(s, &QTcpSocket::readyRead, [this, s] { dataIn += s->readAll(); });
    QObject::connect(s, &QTcpSocket::readChannelFinished, [this] { dataEof = true; });
    QObject::connect(s, &QTcpSocket::disconnected, [this] { dataEof = true; });
  }

  QTcpServer server_;
  QTcpServer dataServer_;
  QByteArray buffer_;
};

}  // namespace ftptest
