#include "ftpcontrol/ftp_control.h"

#include <QTcpSocket>
#include <QtGlobal>

#include "common/automation_error.h"
#include "ftpcontrol/tcp_socket.h"

namespace quill {

namespace {

const QString kDone = QStringLiteral("DONE");
constexpr int kSendBurst = 8;
constexpr qsizetype kSendChunk = 64 * 1024;

bool hasLineBreak(const QString& s) {
  return s.contains(QLatin1Char('\r')) || s.contains(QLatin1Char('\n'));
}

// Trims blanks only (tabs, CR and LF are kept, as the split needs them).
QString trimBlanks(const QString& s) {
  qsizetype a = 0, b = s.size();
  while (a < b && s[a] == QLatin1Char(' ')) ++a;
  while (b > a && s[b - 1] == QLatin1Char(' ')) --b;
  return s.mid(a, b - a);
}

bool isTransferVerb(const QString& v) {
  return v == QLatin1String("RETR") || v == QLatin1String("STOR") || v == QLatin1String("APPE") ||
         v == QLatin1String("LIST") || v == QLatin1String("NLST");
}

bool isUploadVerb(const QString& v) {
  return v == QLatin1String("STOR") || v == QLatin1String("APPE");
}

bool isListVerb(const QString& v) {
  return v == QLatin1String("LIST") || v == QLatin1String("NLST");
}

}  // namespace

bool FtpControl::parsePasvReply(const QString& line, QString& host, QString& port) {
  const qsizetype open = line.indexOf(QLatin1Char('('));
  if (open < 0) return false;
  const qsizetype close = line.indexOf(QLatin1Char(')'), open + 1);
  if (close < 0) return false;
  const QString s = line.mid(open + 1, close - open - 1) + QLatin1Char(',');
  QStringList f;
  qsizetype pos = 0;
  for (int i = 0; i < 6; ++i) {
    const qsizetype comma = s.indexOf(QLatin1Char(','), pos);
    if (comma < 0) return false;
    f << s.mid(pos, comma - pos);
    pos = comma + 1;
  }
  bool ok1 = false, ok2 = false;
  const int p1 = f[4].trimmed().toInt(&ok1);
  const int p2 = f[5].trimmed().toInt(&ok2);
  if (!ok1 || !ok2) return false;
  host = f[0] + QLatin1Char('.') + f[1] + QLatin1Char('.') + f[2] + QLatin1Char('.') + f[3];
  port = QString::number(p1 * 256 + p2);
  return true;
}

FtpControl::FtpControl(QObject* parent)
    : QObject(parent),
      tcp1_(new TcpSocket(this)),
      tcp2_(new TcpSocket(this)),
      tcp3_(new TcpSocket(this)) {
  connect(tcp1_, &TcpSocket::connected, this, &FtpControl::onControlConnected);
  connect(tcp1_, &TcpSocket::received, this, &FtpControl::onControlReceived);
  connect(tcp1_, &TcpSocket::sent, this, &FtpControl::onControlSent);
  connect(tcp1_, &TcpSocket::closed, this, &FtpControl::onControlClosed);
  connect(tcp1_, &TcpSocket::error, this, &FtpControl::onControlError);

  connect(tcp2_, &TcpSocket::accepting, this, &FtpControl::onAccepting);
  connect(tcp2_, &TcpSocket::error, this, &FtpControl::onListenError);

  connect(tcp3_, &TcpSocket::connected, this, &FtpControl::onDataConnected);
  connect(tcp3_, &TcpSocket::received, this, &FtpControl::onDataReceived);
  connect(tcp3_, &TcpSocket::sent, this, &FtpControl::onDataSent);
  connect(tcp3_, &TcpSocket::closed, this, &FtpControl::onDataClosed);
  connect(tcp3_, &TcpSocket::error, this, &FtpControl::onDataError);
  connect(tcp3_, &TcpSocket::trace, this,
          [this](const QString& t) { emit Trace(QStringLiteral("Tcpip3:") + t); });
}

FtpControl::~FtpControl() {
  // No events while the sockets go away with us.
  tcp1_->disconnect(this);
  tcp2_->disconnect(this);
  tcp3_->disconnect(this);
}

// ---------------------------------------------------------------- properties

void FtpControl::setAccount(const QString& v) {
  if (hasLineBreak(v))
    throw AutomationError(kFtpInvalidSetting, "Account", "Invalid character (CR or LF) in argument");
  account_ = v;
}

void FtpControl::setFiletype(const QString& v) {
  if (v.isEmpty()) {
    filetype_.clear();
    return;
  }
  const QChar c = v[0].toUpper();
  if (c == QLatin1Char('A'))
    filetype_ = QStringLiteral("A");
  else if (c == QLatin1Char('B') || c == QLatin1Char('I'))
    filetype_ = QStringLiteral("I");
  else
    throw AutomationError(kFtpInvalidSetting, "FileType", "Invalid File Type");
}

void FtpControl::setFileCode(const QString& v) {
  const QChar c = v.isEmpty() ? QChar() : v[0].toUpper();
  if (c == QLatin1Char('B') || c == QLatin1Char('N') || c == QLatin1Char('I'))
    fileCode_ = QStringLiteral("BIN");
  else if (c == QLatin1Char('J'))
    fileCode_ = QStringLiteral("JIS");
  else if (c == QLatin1Char('S') || c == QLatin1Char('A'))
    fileCode_ = QStringLiteral("SJIS");
  else if (c == QLatin1Char('E'))
    fileCode_ = QStringLiteral("EUC");
  else
    throw AutomationError(kFtpInvalidSetting, "FileCode", "Invalid File Kanji Code");
}

void FtpControl::setSysCode(const QString& v) {
  const QChar c = v.isEmpty() ? QChar() : v[0].toUpper();
  QString code;
  if (c == QLatin1Char('S'))
    code = QStringLiteral("SJIS");
  else if (c == QLatin1Char('E'))
    code = QStringLiteral("EUC");
  else
    throw AutomationError(kFtpInvalidSetting, "SysCode", "Invalid System Kanji Code");
  if (code != sysCode_) {
    sysCode_ = code;
    replyDecoder_ = CodeConverter("UTF-8", iconvCodeName(sysCode_));
  }
}

void FtpControl::writeProperties(PropertyBag& bag) const {
  bag.set("NoPwdAfterCd", Variant(noPwdAfterCd_));
  bag.set("PreCommand", Variant(preCommand_.toStdString()));
  bag.set("Passive", Variant(passive_));
  bag.set("Type", Variant(filetype_.toStdString()));
  bag.set("SysCode", Variant(sysCode_.toStdString()));
  bag.set("FileCode", Variant(fileCode_.toStdString()));
  bag.set("Account", Variant(account_.toStdString()));
  bag.set("Port", Variant(port_.toStdString()));
  bag.set("TransErrorEvent", Variant(transErrorEvent_));
}

void FtpControl::readProperties(const PropertyBag& bag) {
  auto text = [&](const char* key, const char* def) {
    const Variant* v = bag.find(key);
    if (!v) return QString::fromUtf8(def);
    try {
      return QString::fromStdString(v->toText());
    } catch (const AutomationError&) {
      return QString::fromUtf8(def);
    }
  };
  auto flag = [&](const char* key, bool def) {
    const Variant* v = bag.find(key);
    if (!v) return def;
    try {
      return v->toBool();
    } catch (const AutomationError&) {
      return def;
    }
  };
  noPwdAfterCd_ = flag("NoPwdAfterCd", false);
  preCommand_ = text("PreCommand", "");
  passive_ = flag("Passive", false);
  try {
    setFiletype(text("Type", "I"));
  } catch (const AutomationError&) {
    filetype_ = QStringLiteral("I");
  }
  try {
    setSysCode(text("SysCode", "EUC"));
  } catch (const AutomationError&) {
    setSysCode(QStringLiteral("EUC"));
  }
  try {
    setFileCode(text("FileCode", "BIN"));
  } catch (const AutomationError&) {
    fileCode_ = QStringLiteral("BIN");
  }
  try {
    setAccount(text("Account", ""));
  } catch (const AutomationError&) {
    account_.clear();
  }
  port_ = text("Port", "21");
  transErrorEvent_ = flag("TransErrorEvent", false);
}

// ---------------------------------------------------------------- operations

void FtpControl::setState(const QString& s) {
  state_ = s;
  queue_.clear();
  idle_ = false;
}

void FtpControl::finish(int code, const QString& msg) {
  const QString name = state_;
  state_ = kDone;
  queue_.clear();
  idle_ = true;
  emit CommandDone(code, name, msg);
}

void FtpControl::begin(const QString& stateName, const QStringList& args) {
  if (!idle_) throw AutomationError(kFtpNotIdling, stateName.toStdString(), "Not Idling");
  for (const QString& a : args)
    if (hasLineBreak(a))
      throw AutomationError(kFtpInvalidSetting, stateName.toStdString(),
                            "Invalid character (CR or LF) in argument");
  setState(stateName);
}

void FtpControl::enqueueTransferLine() {
  queue_.push_back(passive_ ? QStringLiteral("PASV") : QStringLiteral("XPRT"));
}

void FtpControl::Connect(const QString& remoteHost, const QString& username,
                         const QString& password) {
  if (!state_.isEmpty()) throw AutomationError(kFtpAlreadyConnected, "Connect", "AlreadyConnected");
  for (const QString& a : {username, password})
    if (hasLineBreak(a))
      throw AutomationError(kFtpInvalidSetting, "Connect", "Invalid character (CR or LF) in argument");
  QStringList pre;
  if (!preCommand_.isEmpty()) {
    pre = trimBlanks(preCommand_).split(QStringLiteral("\r\n"));
    if (!pre.isEmpty() && pre.last().isEmpty()) pre.removeLast();
    for (const QString& p : pre)
      if (hasLineBreak(p))
        throw AutomationError(kFtpInvalidSetting, "Connect", "Invalid character (CR or LF) in argument");
  }

  disconnectCode_ = 0;
  disconnectMessage_.clear();
  abortPending_ = false;
  firstAbortReply_.reset();
  urgentSend_.clear();
  abortLine_.clear();
  pendingSend_.reset();
  dataPhase_ = 0;
  transferFlags_ = 0;
  finalMessage_.reset();
  uploading_ = false;
  password_ = password;
  setState(QStringLiteral("Connect"));
  preCommandMode_ = false;
  if (!preCommand_.isEmpty()) {
    for (const QString& p : pre) queue_.push_back(p);
    queue_.push_back(QStringLiteral("EXPC"));
    preCommandMode_ = true;
  }
  queue_.push_back(QStringLiteral("USER ") + username);
  replyDecoder_ = CodeConverter("UTF-8", iconvCodeName(sysCode_));
  lineBuffer_.clear();
  lineStart_ = 0;
  try {
    tcp1_->connectTo(remoteHost, port_);
  } catch (const AutomationError&) {
    state_.clear();
    queue_.clear();
    preCommandMode_ = false;
    throw;
  }
}

void FtpControl::Login(const QString& username, const QString& password) {
  begin(QStringLiteral("User"), {username, password});
  password_ = password;
  queue_.push_back(QStringLiteral("USER ") + username);
  sendNext();
}

void FtpControl::DisConnect() {
  if (!idle_) {
    if (tcp1_->isConnected())
      throw AutomationError(kFtpNotIdling, "DisConnect", "Not Idling");
    return;
  }
  begin(QStringLiteral("DisConnect"), {});
  queue_.push_back(QStringLiteral("QUIT"));
  sendNext();
}

void FtpControl::Cd(const QString& directory) {
  begin(QStringLiteral("Cd"), {directory});
  queue_.push_back(QStringLiteral("CWD ") + directory);
  if (!noPwdAfterCd_) queue_.push_back(QStringLiteral("PWD"));
  sendNext();
}

void FtpControl::Cwd(const QString& directory) {
  begin(QStringLiteral("Cwd"), {directory});
  queue_.push_back(QStringLiteral("CWD ") + directory);
  sendNext();
}

void FtpControl::Pwd() {
  begin(QStringLiteral("Pwd"), {});
  queue_.push_back(QStringLiteral("PWD"));
  sendNext();
}

void FtpControl::Size(const QString& file) {
  begin(QStringLiteral("Size"), {file});
  if (!filetype_.isEmpty()) queue_.push_back(QStringLiteral("TYPE ") + filetype_);
  queue_.push_back(QStringLiteral("SIZE ") + file);
  sendNext();
}

void FtpControl::Dir(const QString& file) {
  begin(QStringLiteral("Dir"), {file});
  queue_.push_back(QStringLiteral("TYPE A"));
  enqueueTransferLine();
  queue_.push_back(file.isEmpty() ? QStringLiteral("LIST") : QStringLiteral("LIST ") + file);
  sendNext();
}

void FtpControl::Ls(const QString& file) {
  begin(QStringLiteral("Ls"), {file});
  queue_.push_back(QStringLiteral("TYPE A"));
  enqueueTransferLine();
  queue_.push_back(file.isEmpty() ? QStringLiteral("NLST") : QStringLiteral("NLST ") + file);
  sendNext();
}

void FtpControl::GetFile(const QString& file, const QString& localFile) {
  begin(QStringLiteral("GetFile"), {file});
  localFile_ = localFile;
  if (!filetype_.isEmpty()) queue_.push_back(QStringLiteral("TYPE ") + filetype_);
  if (rest_ >= 0) queue_.push_back(QStringLiteral("REST ") + QString::number(rest_));
  enqueueTransferLine();
  queue_.push_back(QStringLiteral("RETR ") + file);
  sendNext();
}

void FtpControl::PutFile(const QString& file) {
  begin(QStringLiteral("PutFile"), {file});
  if (!filetype_.isEmpty()) queue_.push_back(QStringLiteral("TYPE ") + filetype_);
  enqueueTransferLine();
  queue_.push_back(QStringLiteral("STOR ") + file);
  sendNext();
}

void FtpControl::AppendFile(const QString& file) {
  begin(QStringLiteral("AppendFile"), {file});
  if (!filetype_.isEmpty()) queue_.push_back(QStringLiteral("TYPE ") + filetype_);
  enqueueTransferLine();
  queue_.push_back(QStringLiteral("APPE ") + file);
  sendNext();
}

void FtpControl::Noop() {
  begin(QStringLiteral("Noop"), {});
  queue_.push_back(QStringLiteral("NOOP"));
  sendNext();
}

void FtpControl::Delete(const QString& file) {
  begin(QStringLiteral("Delete"), {file});
  queue_.push_back(QStringLiteral("DELE ") + file);
  sendNext();
}

void FtpControl::MkDir(const QString& directory) {
  begin(QStringLiteral("MkDir"), {directory});
  queue_.push_back(QStringLiteral("MKD ") + directory);
  sendNext();
}

void FtpControl::RmDir(const QString& directory) {
  begin(QStringLiteral("RmDir"), {directory});
  queue_.push_back(QStringLiteral("RMD ") + directory);
  sendNext();
}

void FtpControl::Rename(const QString& fileFrom, const QString& fileTo) {
  begin(QStringLiteral("Rename"), {fileFrom, fileTo});
  queue_.push_back(QStringLiteral("RNFR ") + fileFrom);
  queue_.push_back(QStringLiteral("RNTO ") + fileTo);
  sendNext();
}

void FtpControl::Site(const QString& localCommand) {
  begin(QStringLiteral("Site"), {localCommand});
  queue_.push_back(QStringLiteral("SITE ") + localCommand);
  sendNext();
}

void FtpControl::Quote(const QString& extraCommand) {
  begin(QStringLiteral("Quote"), {extraCommand});
  queue_.push_back(extraCommand);
  sendNext();
}

void FtpControl::Abort() {
  if (idle_ || abortPending_ || !tcp1_->isConnected()) return;
  queue_.clear();
  abortPending_ = true;
  firstAbortReply_.reset();
  urgentSend_ = QByteArray("\xff\xf4\xff", 3);
  abortLine_ = QByteArray("\xf2" "ABOR\r\n");
  tcp3_->abort();
  if (tcp1_->readyToSend()) onControlSent();
}

void FtpControl::Abend() {
  tcp1_->close();
  state_.clear();
}

// ---------------------------------------------------------------- sending

void FtpControl::sendNext() {
  while (!queue_.empty()) {
    const QString line = queue_.front();
    queue_.pop_front();
    verb_ = line.left(4).trimmed().toUpper();
    if (verb_ == QLatin1String("EXPC")) {
      preCommandMode_ = false;
      continue;
    }
    if (verb_ == QLatin1String("PASS")) {
      sendLine(line, state_ + QStringLiteral(">>PASS ***"));
      return;
    }
    if (verb_ == QLatin1String("XPRT")) {
      sendPort();
      return;
    }
    if (isTransferVerb(verb_)) {
      dataPhase_ = 1;
      finalMessage_.reset();
    }
    sendLine(line, state_ + QStringLiteral(">>") + line);
    if (dataUpEarly_ && isTransferVerb(verb_)) {
      dataUpEarly_ = false;
      if (tcp3_->isConnected()) dataConnectionUp();
    }
    return;
  }
}

void FtpControl::sendLine(const QString& line, const QString& traceLine) {
  emit Trace(traceLine);
  const QByteArray bytes =
      convertAll(iconvCodeName(sysCode_), "UTF-8", (line + QStringLiteral("\r\n")).toUtf8());
  if (tcp1_->readyToSend())
    tcp1_->send(bytes);
  else
    pendingSend_ = bytes;
}

void FtpControl::onControlSent() {
  if (!urgentSend_.isEmpty()) {
    const QByteArray u = urgentSend_;
    urgentSend_.clear();
    tcp1_->sendUrgent(u);
  } else if (!abortLine_.isEmpty()) {
    const QByteArray a = abortLine_;
    abortLine_.clear();
    emit Trace(state_ + QStringLiteral(">>ABOR"));
    tcp1_->send(a);
  } else if (pendingSend_) {
    const QByteArray p = *pendingSend_;
    pendingSend_.reset();
    tcp1_->send(p);
  }
}

void FtpControl::sendPort() {
  dataPhase_ = 0;
  closeData();
  if (!tcp2_->listen(tcp1_->localAddress())) return;  // reported by onListenError
  const uint32_t ip = tcp1_->localIp();
  const quint16 p = tcp2_->localPort();
  verb_ = QStringLiteral("PORT");
  const QString line = QStringLiteral("PORT %1,%2,%3,%4,%5,%6")
                           .arg((ip >> 24) & 255)
                           .arg((ip >> 16) & 255)
                           .arg((ip >> 8) & 255)
                           .arg(ip & 255)
                           .arg(p >> 8)
                           .arg(p & 255);
  sendLine(line, state_ + QStringLiteral(">>") + line);
}

// ---------------------------------------------------------------- replies

void FtpControl::setLabel(const QString& text) {
  labelText_ = text;
  emit LabelChanged(text);
}

void FtpControl::onControlConnected() {
  setLabel(QStringLiteral("Connected"));
  emit Connected();
}

void FtpControl::onControlReceived(const QByteArray& data) {
  const QByteArray text = replyDecoder_.convert(data);
  setLabel(QStringLiteral("Received ") + QString::fromUtf8(text));
  lineBuffer_.append(text);
  // Lines are consumed by moving lineStart_ (a handler may re-enter this
  // function from a nested event loop; it then goes on from the same place).
  for (;;) {
    const qsizetype end = lineBuffer_.indexOf("\r\n", lineStart_);
    if (end < 0 || end - lineStart_ > kMaxReplyLine) break;
    const QString line = QString::fromUtf8(lineBuffer_.constData() + lineStart_, end - lineStart_);
    lineStart_ = end + 2;
    handleReply(line);
  }
  if (lineStart_ > 0) {
    lineBuffer_.remove(0, lineStart_);
    lineStart_ = 0;
  }
  if (lineBuffer_.size() > kMaxReplyLine && tcp1_->isConnected()) {
    // A server that never ends its line must not fill our memory.
    lineBuffer_.clear();
    lineStart_ = 0;
    disconnectCode_ = kFtpReplyTooLong;
    disconnectMessage_ = QStringLiteral("Reply line longer than %1 bytes; connection closed")
                             .arg(kMaxReplyLine);
    tcp1_->close();
  }
}

void FtpControl::handleReply(const QString& line) {
  emit Trace(line);
  if (line.size() >= 4 && line[3] == QLatin1Char('-')) return;
  if (line.isEmpty()) return;
  const QChar kind = line[0];
  const int code = line.left(3).toInt();
  const QString text = line.mid(4);

  auto endAbort = [this] {
    const QString stored = *firstAbortReply_;
    firstAbortReply_.reset();
    abortPending_ = false;
    dataPhase_ = 0;
    finalMessage_.reset();
    closeData();
    finish(stored.left(3).toInt(), stored.mid(4));
  };

  if (kind == QLatin1Char('1')) {
    if (isUploadVerb(verb_)) {
      transferFlags_ |= 1;
      tryStartSending();
    }
    return;
  }
  if (kind == QLatin1Char('2') || kind == QLatin1Char('3')) {
    transferFlags_ = 0;
    if (abortPending_) {
      if (!firstAbortReply_)
        firstAbortReply_ = QStringLiteral("000") + line.mid(3);
      else
        endAbort();
      return;
    }
    if (!preCommandMode_) {
      if (code == 331)
        queue_.push_front(QStringLiteral("PASS ") + password_);
      else if (code == 332)
        queue_.push_front(QStringLiteral("ACCT ") + account_);
    }
    if (verb_ == QLatin1String("PASV") && !startPassive(line)) {
      queue_.clear();
      finish(-1, text);
      return;
    }
    if (!queue_.empty()) {
      sendNext();
      return;
    }
    if (dataPhase_ == 0 || dataPhase_ == 3) {
      dataPhase_ = 0;
      closeData();
      finish(0, text);
    } else {
      finalMessage_ = text;
    }
    return;
  }
  if (kind == QLatin1Char('4') || kind == QLatin1Char('5')) {
    // Closing first lets an open transfer raise its close event (the host
    // closes its file there) before the operation ends.
    transferFlags_ = 0;
    uploading_ = false;
    finalMessage_.reset();
    endingData_ = true;
    closeData();
    endingData_ = false;
    dataPhase_ = 0;
    if (abortPending_) {
      if (!firstAbortReply_)
        firstAbortReply_ = line;
      else
        endAbort();
      return;
    }
    finish(code, text);
  }
}

bool FtpControl::startPassive(const QString& line) {
  dataPhase_ = 0;
  closeData();
  QString host, port;
  if (!parsePasvReply(line, host, port)) return false;
  pasvHost_ = host;
  pasvPort_ = port;
  try {
    tcp3_->connectTo(host, port);
  } catch (const AutomationError&) {
    return false;
  }
  return true;
}

void FtpControl::onControlError(int number, const QString& text, const QString& where) {
  disconnectCode_ = number;
  disconnectMessage_ = text + QLatin1Char('(') + where + QLatin1Char(')');
}

void FtpControl::onListenError(int number, const QString& text, const QString& where) {
  disconnectCode_ = number;
  disconnectMessage_ = text + QLatin1Char('(') + where + QLatin1Char(')');
  tcp1_->close();
}

void FtpControl::onControlClosed() {
  state_.clear();
  queue_.clear();
  idle_ = false;
  preCommandMode_ = false;
  abortPending_ = false;
  firstAbortReply_.reset();
  pendingSend_.reset();
  urgentSend_.clear();
  abortLine_.clear();
  lineBuffer_.clear();
  lineStart_ = 0;
  replyDecoder_.reset();
  transferFlags_ = 0;
  finalMessage_.reset();
  uploading_ = false;
  endingData_ = true;
  closeData();  // an open transfer still raises its close event
  endingData_ = false;
  dataPhase_ = 0;
  setLabel(QStringLiteral("Closed"));
  const int code = disconnectCode_;
  const QString msg = disconnectMessage_;
  disconnectCode_ = 0;
  disconnectMessage_.clear();
  emit DisConnected(code, msg);
}

// ---------------------------------------------------------------- data

void FtpControl::closeData() {
  dataUpEarly_ = false;
  tcp2_->close();
  tcp3_->close();
}

void FtpControl::resetDataCoding() {
  const char* code = iconvCodeName(fileCode_);
  fileDecoder_ = CodeConverter(code ? "UTF-8" : nullptr, code);
  fileEncoder_ = CodeConverter(code, code ? "UTF-8" : nullptr);
  listingBuffer_.clear();
  listingStart_ = 0;
}

void FtpControl::onAccepting(QTcpSocket* socket) {
  tcp2_->close();  // one data connection per PORT
  tcp3_->accept(socket);
}

void FtpControl::onDataConnected() {
  emit Trace(QStringLiteral("Tcpip3_Connected"));
  if (verb_ == QLatin1String("PORT")) {
    // Some servers connect as soon as PORT arrives, before the transfer
    // command: hold the connection until that command has gone out.
    dataUpEarly_ = true;
    return;
  }
  dataConnectionUp();
}

void FtpControl::dataConnectionUp() {
  dataPhase_ = 2;
  resetDataCoding();
  if (verb_ == QLatin1String("RETR")) {
    emit GetOpen(localFile_);
  } else if (isUploadVerb(verb_)) {
    transferFlags_ |= 2;
    tryStartSending();
  } else if (isListVerb(verb_)) {
    emit DirOpen();
  } else {
    emit TransError(-1, QStringLiteral("Invalid m_Cmd=") + verb_, QStringLiteral("Tcpip3_Connected"));
    tcp3_->close();
  }
}

void FtpControl::tryStartSending() {
  if (transferFlags_ != 3) return;
  transferFlags_ = 0;
  emit Trace(QStringLiteral("Tcpip3_start"));
  uploading_ = true;
  uploadFinishing_ = false;
  sendStep();
}

void FtpControl::sendStep() {
  if (abortPending_ || !uploading_) return;
  if (uploadFinishing_) {
    uploading_ = false;
    tcp3_->shutdownSend();
    return;
  }
  const bool convert = !fileEncoder_.isIdentity();
  // The host's blocks are gathered into writes of up to kSendChunk bytes (the
  // receiver then wakes once per large segment, not once per block); writes
  // the system takes at once are followed by the next right away, a few at a
  // time, so that other events still get their turn.
  QByteArray chunk;
  int burst = 0;
  for (;;) {
    QByteArray data;
    emit PutData(data);
    if (abortPending_ || !uploading_) return;
    if (!tcp3_->isConnected()) {
      uploading_ = false;
      return;
    }
    if (data.isEmpty()) {
      if (convert) chunk += fileEncoder_.finish();
      if (chunk.isEmpty() || tcp3_->sendDirect(chunk)) {
        uploading_ = false;
        tcp3_->shutdownSend();
      } else {
        uploadFinishing_ = true;  // shut down once the rest is out
      }
      return;
    }
    chunk += convert ? fileEncoder_.convert(data) : data;
    if (chunk.size() < kSendChunk) continue;
    if (!tcp3_->sendDirect(chunk)) return;  // `sent` follows once it is out
    chunk.clear();
    if (++burst == kSendBurst) {
      tcp3_->notifySent();
      return;
    }
  }
}

void FtpControl::onDataSent() {
  if (uploading_) sendStep();
}

void FtpControl::onDataReceived(const QByteArray& data) {
  if (verb_ == QLatin1String("RETR")) {
    if (fileDecoder_.isIdentity()) {
      emit GetData(data);
    } else {
      const QByteArray out = fileDecoder_.convert(data);
      if (!out.isEmpty()) emit GetData(out);
    }
  } else if (isListVerb(verb_)) {
    listingBuffer_.append(data);
    const char* code = iconvCodeName(sysCode_);
    for (;;) {
      const qsizetype end = listingBuffer_.indexOf("\r\n", listingStart_);
      if (end < 0) break;
      const QByteArray raw = listingBuffer_.mid(listingStart_, end - listingStart_);
      listingStart_ = end + 2;
      emit DirData(QString::fromUtf8(convertAll("UTF-8", code, raw)));
    }
    if (listingStart_ > 0) {
      listingBuffer_.remove(0, listingStart_);
      listingStart_ = 0;
    }
  }
}

void FtpControl::onDataClosed() {
  rest_ = -1;
  uploading_ = false;
  if (dataPhase_ == 2) {
    if (verb_ == QLatin1String("RETR")) {
      if (!fileDecoder_.isIdentity()) {
        const QByteArray tail = fileDecoder_.finish();
        if (!tail.isEmpty()) emit GetData(tail);
      }
      emit GetClose();
    } else if (isUploadVerb(verb_)) {
      emit PutClose();
    } else if (isListVerb(verb_)) {
      if (listingBuffer_.size() > listingStart_) {
        const QByteArray raw = listingBuffer_.mid(listingStart_);
        listingBuffer_.clear();
        listingStart_ = 0;
        emit DirData(QString::fromUtf8(convertAll("UTF-8", iconvCodeName(sysCode_), raw)));
      }
      emit DirClose();
    }
  }
  if (abortPending_ || endingData_) {
    // The operation ends elsewhere: an abort with its two replies, a failure
    // reply or a lost control connection by itself.
    dataPhase_ = 0;
    return;
  }
  if (dataPhase_ != 0) {
    if (finalMessage_) {
      const QString msg = *finalMessage_;
      finalMessage_.reset();
      dataPhase_ = 0;
      finish(0, msg);
    } else {
      dataPhase_ = 3;
    }
  }
}

void FtpControl::onDataError(int number, const QString& text, const QString& where) {
  if (transErrorEvent_) {
    emit TransError(number, text, where);
  } else if (messageHandler_) {
    messageHandler_(QStringLiteral("Tcpip3_WsError ") + text + QLatin1Char('(') + where +
                    QLatin1Char(')'));
  } else {
    qWarning("Tcpip3_WsError %s(%s)", qPrintable(text), qPrintable(where));
  }
}

}  // namespace quill
