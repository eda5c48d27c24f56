// How the control works. Each operation is a row of kOperations: its state
// name and the command lines it queues. The control connection is a small
// state machine (ControlState): when an operation starts, the first queued
// line goes out; every final positive reply (2xx, 3xx) sends the next one,
// and when the queue is empty the operation ends with CommandDone; a failure
// reply (4xx, 5xx) ends it at once. Abort replaces the queue with the Telnet
// interrupt and ABOR and waits for the server's two replies. Replies are read
// from a buffer consumed by offset, one CR LF line at a time; a line whose
// fourth character is '-' belongs to a multi-line reply and is skipped.
//
// A transfer (RETR, STOR, APPE, LIST, NLST) also has a data connection with
// states of its own (DataPhase): PASV, or the PORT marker, prepares it; the
// transfer command moves it to CommandSent; the connection moves it to Open.
// The operation ends only once both the final reply and the close of the data
// connection are in, so CommandDone always follows the close event (GetClose,
// PutClose, DirClose). An upload starts when both its 1xx reply and its data
// connection are there, and pulls blocks from the caller's source, gathered
// into socket writes of up to kSendChunk bytes.
//
// Everything about one transfer lives in transfer_ and is reset in one place
// (resetTransfer). Every state change goes through setControlState or
// setDataPhase, which log it under the category "quill.ftpcontrol.state"
// (QT_LOGGING_RULES="quill.ftpcontrol.state.debug=true"). Handlers of the
// signals may run nested event loops, end the connection, abort, or (from
// CommandDone) start the next operation; so after every emit the code reads
// the state again instead of trusting what it held before.
//
// TLS. Explicit: Connect queues AUTH TLS before everything else; its 2xx
// reply starts the handshake, and the next line (USER, or the firewall's
// lines) goes out only once the connection is encrypted, so nothing of the
// log-in ever crosses the network in clear. PBSZ 0 and PROT P follow the
// log-in; once PROT P is accepted every data connection is TLS too, made
// with the control connection's configuration, which carries its TLS session:
// the data connection resumes it, as servers that insist on session reuse
// (vsftpd's require_ssl_reuse) demand. Implicit: the control socket runs the
// handshake before it reports the connection, then everything is as in
// explicit mode after the handshake. A refusal of AUTH, PBSZ or PROT, a
// failed handshake and a refused certificate close the connection
// (DisConnected with a TLS code): there is no falling back to plain text.
#include "ftpcontrol/ftp_control.h"

#include <QCryptographicHash>
#include <QLoggingCategory>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "common/automation_error.h"
#include "ftpcontrol/tcp_socket.h"

namespace quill {

Q_LOGGING_CATEGORY(lcFtpState, "quill.ftpcontrol.state", QtWarningMsg)

// In the order of kOperations.
enum class FtpControl::Operation : uint8_t {
  Connect, Login, DisConnect, Cd, Cwd, Pwd, Size, Dir, Ls, GetFile, PutFile, AppendFile,
  Noop, Delete, MkDir, RmDir, Rename, Site, Quote,
};

namespace {

// Lines an operation queues around its commands, in this order: TYPE, REST,
// the data connection, the commands, PWD.
enum Extra : unsigned {
  kTypeFromFiletype = 1u << 0,     // "TYPE " + Filetype, unless Filetype is empty
  kTypeAscii = 1u << 1,            // "TYPE A"
  kRestart = 1u << 2,              // "REST " + Rest, when Rest is 0 or more
  kDataConnection = 1u << 3,       // "PASV", or the PORT marker
  kPwdAfter = 1u << 4,             // "PWD", unless NoPwdAfterCd
  kBareWithoutArgument = 1u << 5,  // an empty argument sends the verb alone ("LIST")
};

// A command line: fixed text followed by argument `arg` (1 or 2; 0 for none).
struct CommandTemplate {
  const char* text = nullptr;
  int arg = 0;
};

struct OperationRecipe {
  const char* name;  // State while it runs, and the source of its errors
  unsigned extras;
  CommandTemplate commands[2];
};

constexpr OperationRecipe kOperations[] = {
    {"Connect", 0, {}},  // Connect() queues its own lines
    {"User", 0, {{"USER ", 1}}},
    {"DisConnect", 0, {{"QUIT"}}},
    {"Cd", kPwdAfter, {{"CWD ", 1}}},
    {"Cwd", 0, {{"CWD ", 1}}},
    {"Pwd", 0, {{"PWD"}}},
    {"Size", kTypeFromFiletype, {{"SIZE ", 1}}},
    {"Dir", kTypeAscii | kDataConnection | kBareWithoutArgument, {{"LIST ", 1}}},
    {"Ls", kTypeAscii | kDataConnection | kBareWithoutArgument, {{"NLST ", 1}}},
    {"GetFile", kTypeFromFiletype | kRestart | kDataConnection, {{"RETR ", 1}}},
    {"PutFile", kTypeFromFiletype | kDataConnection, {{"STOR ", 1}}},
    {"AppendFile", kTypeFromFiletype | kDataConnection, {{"APPE ", 1}}},
    {"Noop", 0, {{"NOOP"}}},
    {"Delete", 0, {{"DELE ", 1}}},
    {"MkDir", 0, {{"MKD ", 1}}},
    {"RmDir", 0, {{"RMD ", 1}}},
    {"Rename", 0, {{"RNFR ", 1}, {"RNTO ", 2}}},
    {"Site", 0, {{"SITE ", 1}}},
    {"Quote", 0, {{"", 1}}},
};

const OperationRecipe& recipe(size_t index) { return kOperations[index]; }

const QString kDone = QStringLiteral("DONE");

// Replies that make the control send a line of its own.
constexpr int kReplyNeedPassword = 331;
constexpr int kReplyNeedAccount = 332;

// Telnet bytes of an abort: interrupt process (IAC IP IAC, sent urgent), then
// the data mark before ABOR.
const QByteArray kTelnetInterrupt("\xff\xf4\xff", 3);
const QByteArray kAbortLine("\xf2" "ABOR\r\n");

// Uploads: blocks are gathered into socket writes of up to kSendChunk bytes
// (the receiver then wakes once per large segment, not per block); at most
// kSendBurst writes the system takes at once follow each other before the
// event loop gets its turn again.
constexpr qsizetype kSendChunk = 64 * 1024;
constexpr int kSendBurst = 8;

const char* const kLineBreakInArgument = "Invalid character (CR or LF) in argument";

bool hasLineBreak(const QString& s) {
  return s.contains(QLatin1Char('\r')) || s.contains(QLatin1Char('\n'));
}

void requireSingleLines(const char* source, const QStringList& args) {
  for (const QString& a : args)
    if (hasLineBreak(a)) throw AutomationError(kFtpInvalidSetting, source, kLineBreakInArgument);
}

// Trims blanks only (tabs, CR and LF are kept, as the split needs them).
QString trimBlanks(const QString& s) {
  qsizetype a = 0, b = s.size();
  while (a < b && s[a] == QLatin1Char(' ')) ++a;
  while (b > a && s[b - 1] == QLatin1Char(' ')) --b;
  return s.mid(a, b - a);
}

// Text not yet split into lines is too long once it holds more than a line
// of the longest length plus the CR of its CR LF.
bool unfinishedLineTooLong(const QByteArray& buffer, qsizetype start) {
  const qsizetype n = buffer.size() - start;
  return n > kMaxReplyLine && !(n == kMaxReplyLine + 1 && buffer.endsWith('\r'));
}

QChar firstUpper(const QString& v) { return v.isEmpty() ? QChar() : v[0].toUpper(); }

QString filetypeFrom(const QString& v) {
  if (v.isEmpty()) return {};
  const QChar c = firstUpper(v);
  if (c == QLatin1Char('A')) return QStringLiteral("A");
  if (c == QLatin1Char('B') || c == QLatin1Char('I')) return QStringLiteral("I");
  throw AutomationError(kFtpInvalidSetting, "FileType", "Invalid File Type");
}

QString fileCodeFrom(const QString& v) {
  const QChar c = firstUpper(v);
  if (c == QLatin1Char('B') || c == QLatin1Char('N') || c == QLatin1Char('I')) return QStringLiteral("BIN");
  if (c == QLatin1Char('J')) return QStringLiteral("JIS");
  if (c == QLatin1Char('S') || c == QLatin1Char('A')) return QStringLiteral("SJIS");
  if (c == QLatin1Char('E')) return QStringLiteral("EUC");
  throw AutomationError(kFtpInvalidSetting, "FileCode", "Invalid File Kanji Code");
}

QString sysCodeFrom(const QString& v) {
  const QChar c = firstUpper(v);
  if (c == QLatin1Char('S')) return QStringLiteral("SJIS");
  if (c == QLatin1Char('E')) return QStringLiteral("EUC");
  if (c == QLatin1Char('U')) return QStringLiteral("UTF8");
  throw AutomationError(kFtpInvalidSetting, "SysCode", "Invalid System Kanji Code");
}

QString accountFrom(const QString& v) {
  requireSingleLines("Account", {v});
  return v;
}

const QString kExplicit = QStringLiteral("explicit");
const QString kImplicit = QStringLiteral("implicit");

FtpSecurity securityFrom(const QString& v) {
  const QString t = v.trimmed().toLower();
  if (t.isEmpty()) return FtpSecurity::None;
  if (t == kExplicit) return FtpSecurity::Explicit;
  if (t == kImplicit) return FtpSecurity::Implicit;
  throw AutomationError(kFtpInvalidSetting, "Security", "Invalid Security (\"\", \"explicit\" or \"implicit\")");
}

QString fingerprintFrom(const QString& v) {
  requireSingleLines("TlsFingerprint", {v});
  return v.trimmed();
}

QString normalisedFingerprint(const QString& v) {
  QString out;
  for (const QChar c : v)
    if (c != QLatin1Char(':') && !c.isSpace()) out += c.toUpper();
  return out;
}

// Certificate problems in words, each once, in the order they came.
QString describeProblems(const QList<QSslError>& errors, const QString& host) {
  QStringList parts;
  for (const QSslError& e : errors) {
    QString part;
    switch (e.error()) {
      case QSslError::SelfSignedCertificate:
      case QSslError::SelfSignedCertificateInChain:
        part = QStringLiteral("it is self-signed");
        break;
      case QSslError::CertificateExpired:
        part = QStringLiteral("it expired on %1").arg(e.certificate().expiryDate().toString(Qt::ISODate));
        break;
      case QSslError::CertificateNotYetValid:
        part = QStringLiteral("it is not valid before %1").arg(e.certificate().effectiveDate().toString(Qt::ISODate));
        break;
      case QSslError::HostNameMismatch: {
        QStringList names = e.certificate().subjectInfo(QSslCertificate::CommonName);
        for (const QString& n : e.certificate().subjectAlternativeNames().values()) names << n;
        names.removeDuplicates();
        part = QStringLiteral("it was issued for %1, not for %2")
                   .arg(names.isEmpty() ? QStringLiteral("another name") : names.join(QStringLiteral(", ")), host);
        break;
      }
      case QSslError::UnableToGetLocalIssuerCertificate:
      case QSslError::UnableToGetIssuerCertificate:
      case QSslError::UnableToVerifyFirstCertificate:
      case QSslError::CertificateUntrusted:
        part = QStringLiteral("its issuer is not trusted on this system");
        break;
      case QSslError::CertificateRevoked: part = QStringLiteral("it has been revoked"); break;
      default: part = e.errorString(); break;
    }
    if (!parts.contains(part)) parts << part;
  }
  return parts.join(QStringLiteral("; "));
}

}  // namespace

QString sha256Fingerprint(const QSslCertificate& certificate) {
  return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
}

bool fingerprintMatches(const QString& pin, const QString& fingerprint) {
  const QString a = normalisedFingerprint(pin);
  return !a.isEmpty() && a == normalisedFingerprint(fingerprint);
}

// ---------------------------------------------------------------- basics

FtpControl::FtpControl(QObject* parent)
    : QObject(parent),
      tcp1_(new TcpSocket(this)),
      tcp2_(new TcpSocket(this)),
      tcp3_(new TcpSocket(this)),
      greetingTimer_(new QTimer(this)) {
  static_assert(std::size(kOperations) == static_cast<size_t>(Operation::Quote) + 1);
  connect(tcp1_, &TcpSocket::connected, this, &FtpControl::onControlConnected);
  connect(tcp1_, &TcpSocket::received, this, &FtpControl::onControlReceived);
  connect(tcp1_, &TcpSocket::sent, this, &FtpControl::onControlSent);
  connect(tcp1_, &TcpSocket::closed, this, &FtpControl::onControlClosed);
  connect(tcp1_, &TcpSocket::error, this, &FtpControl::onControlError);
  connect(tcp1_, &TcpSocket::encrypted, this, &FtpControl::onControlEncrypted);
  connect(tcp1_, &TcpSocket::tlsErrors, this, [this](const QList<QSslError>& e) { onTlsErrors(*tcp1_, e); });
  connect(tcp3_, &TcpSocket::tlsErrors, this, [this](const QList<QSslError>& e) { onTlsErrors(*tcp3_, e); });
  connect(tcp3_, &TcpSocket::encrypted, this, &FtpControl::takeUpDataConnection);
  greetingTimer_->setSingleShot(true);
  connect(greetingTimer_, &QTimer::timeout, this, &FtpControl::closeForNoGreeting);

  connect(tcp2_, &TcpSocket::accepting, this, &FtpControl::onAccepting);
  connect(tcp2_, &TcpSocket::error, this, &FtpControl::onListenError);

  connect(tcp3_, &TcpSocket::connected, this, &FtpControl::onDataConnected);
  connect(tcp3_, &TcpSocket::received, this, &FtpControl::onDataReceived);
  connect(tcp3_, &TcpSocket::sent, this, [this] {
    if (transfer_.upload != Upload::Off) pumpUpload();
  });
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

QString FtpControl::state() const {
  switch (control_) {
    case ControlState::Closed: return {};
    case ControlState::Idle: return kDone;
    default: return QString::fromLatin1(recipe(static_cast<size_t>(operation_)).name);
  }
}

FtpControl::Verb FtpControl::verbOf(const QString& line) {
  static const std::pair<QLatin1String, Verb> kVerbs[] = {
      {QLatin1String("PASS"), Verb::Pass}, {QLatin1String("PASV"), Verb::Pasv},
      {QLatin1String("PORT"), Verb::Port}, {QLatin1String("RETR"), Verb::Retr},
      {QLatin1String("STOR"), Verb::Stor}, {QLatin1String("APPE"), Verb::Appe},
      {QLatin1String("LIST"), Verb::List}, {QLatin1String("NLST"), Verb::Nlst},
      {QLatin1String("AUTH"), Verb::Auth}, {QLatin1String("PBSZ"), Verb::Pbsz},
      {QLatin1String("PROT"), Verb::Prot},
  };
  const QString word = line.left(4).trimmed().toUpper();
  for (const auto& [text, verb] : kVerbs)
    if (word == text) return verb;
  return Verb::Other;
}

bool FtpControl::isUpload(Verb v) { return v == Verb::Stor || v == Verb::Appe; }
bool FtpControl::isListing(Verb v) { return v == Verb::List || v == Verb::Nlst; }
bool FtpControl::isTransfer(Verb v) { return v == Verb::Retr || isUpload(v) || isListing(v); }

// ---------------------------------------------------------------- properties

void FtpControl::setAccount(const QString& v) { account_ = accountFrom(v); }
void FtpControl::setFiletype(const QString& v) { filetype_ = filetypeFrom(v); }
void FtpControl::setFileCode(const QString& v) { fileCode_ = fileCodeFrom(v); }
void FtpControl::setSecurity(const QString& v) { security_ = securityFrom(v); }
void FtpControl::setTlsFingerprint(const QString& v) { tlsFingerprint_ = fingerprintFrom(v); }
void FtpControl::addCaCertificates(const QList<QSslCertificate>& certificates) { extraCaCertificates_ += certificates; }

QString FtpControl::security() const {
  switch (security_) {
    case FtpSecurity::Explicit: return kExplicit;
    case FtpSecurity::Implicit: return kImplicit;
    case FtpSecurity::None: break;
  }
  return {};
}

void FtpControl::setSysCode(const QString& v) {
  const QString code = sysCodeFrom(v);
  if (code == sysCode_) return;
  sysCode_ = code;
  replyDecoder_ = CodeConverter("UTF-8", iconvCodeName(sysCode_));
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
  // Only when set: a saved form of a plain-FTP control stays as it was.
  if (security_ != FtpSecurity::None) bag.set("Security", Variant(security().toStdString()));
  if (!tlsFingerprint_.isEmpty()) bag.set("TlsFingerprint", Variant(tlsFingerprint_.toStdString()));
}

void FtpControl::readProperties(const PropertyBag& bag) {
  // A conversion error names the key it came from.
  auto read = [&bag](const char* key, auto convert, auto fallback) -> decltype(fallback) {
    const Variant* v = bag.find(key);
    if (!v) return fallback;
    try {
      return convert(*v);
    } catch (const AutomationError& e) {
      throw AutomationError(e.number(), key, e.description());
    }
  };
  auto text = [&read](const char* key, const char* fallback) {
    return read(key, [](const Variant& v) { return QString::fromStdString(v.toText()); },
                QString::fromUtf8(fallback));
  };
  auto flag = [&read](const char* key, bool fallback) {
    return read(key, [](const Variant& v) { return v.toBool(); }, fallback);
  };
  // Everything is read and checked before anything changes.
  const bool noPwdAfterCd = flag("NoPwdAfterCd", false);
  const QString preCommand = text("PreCommand", "");
  const bool passive = flag("Passive", false);
  const QString filetype = filetypeFrom(text("Type", "I"));
  const QString sysCode = sysCodeFrom(text("SysCode", "EUC"));
  const QString fileCode = fileCodeFrom(text("FileCode", "BIN"));
  const QString account = accountFrom(text("Account", ""));
  const QString port = text("Port", "21");
  const bool transErrorEvent = flag("TransErrorEvent", false);
  const FtpSecurity security = securityFrom(text("Security", ""));
  const QString fingerprint = fingerprintFrom(text("TlsFingerprint", ""));

  noPwdAfterCd_ = noPwdAfterCd;
  preCommand_ = preCommand;
  passive_ = passive;
  filetype_ = filetype;
  setSysCode(sysCode);
  fileCode_ = fileCode;
  account_ = account;
  port_ = port;
  transErrorEvent_ = transErrorEvent;
  security_ = security;
  tlsFingerprint_ = fingerprint;
}

// ---------------------------------------------------------------- operations

void FtpControl::begin(Operation op, const QStringList& args) {
  const OperationRecipe& r = recipe(static_cast<size_t>(op));
  if (control_ != ControlState::Idle) throw AutomationError(kFtpNotIdling, r.name, "Not Idling");
  requireSingleLines(r.name, args);
  startOperation(op);
  if ((r.extras & kTypeFromFiletype) && !filetype_.isEmpty()) queueLine(QStringLiteral("TYPE ") + filetype_);
  if (r.extras & kTypeAscii) queueLine(QStringLiteral("TYPE A"));
  if ((r.extras & kRestart) && rest_ >= 0) queueLine(QStringLiteral("REST ") + QString::number(rest_));
  if (r.extras & kDataConnection) {
    if (passive_)
      queueLine(QStringLiteral("PASV"));
    else
      queue_.push_back({QueuedCommand::Kind::ActivePort, {}});
  }
  for (const CommandTemplate& c : r.commands) {
    if (!c.text) continue;
    QString line = QString::fromLatin1(c.text);
    if (c.arg > 0) {
      const QString& arg = args[c.arg - 1];
      if (arg.isEmpty() && (r.extras & kBareWithoutArgument))
        line = line.trimmed();
      else
        line += arg;
    }
    queueLine(line);
  }
  if ((r.extras & kPwdAfter) && !noPwdAfterCd_) queueLine(QStringLiteral("PWD"));
}

void FtpControl::run(Operation op, const QStringList& args) {
  begin(op, args);
  sendNext();
}

void FtpControl::queueLine(const QString& line) { queue_.push_back({QueuedCommand::Kind::Line, line}); }

// PreCommand trimmed of blanks and split at CR LF; an empty last piece is
// dropped. A lone CR or LF left in a piece is refused.
QStringList FtpControl::preCommandLines() const {
  if (preCommand_.isEmpty()) return {};
  QStringList lines = trimBlanks(preCommand_).split(QStringLiteral("\r\n"));
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  requireSingleLines("Connect", lines);
  return lines;
}

void FtpControl::Connect(const QString& remoteHost, const QString& username, const QString& password) {
  if (control_ != ControlState::Closed) throw AutomationError(kFtpAlreadyConnected, "Connect", "AlreadyConnected");
  requireSingleLines("Connect", {username, password});
  const QStringList preCommands = preCommandLines();

  socketErrorCode_ = 0;
  socketErrorMessage_.clear();
  firstAbortReply_.clear();
  outbox_ = {};
  password_ = password;
  host_ = remoteHost.trimmed();
  dataTls_ = false;
  operation_ = Operation::Connect;
  queue_.clear();
  resetTransfer();
  if (security_ == FtpSecurity::Explicit) queueLine(QStringLiteral("AUTH TLS"));
  for (const QString& line : preCommands) queueLine(line);
  preCommandMode_ = !preCommands.isEmpty();
  if (preCommandMode_) queue_.push_back({QueuedCommand::Kind::EndOfPreCommands, {}});
  queueLine(QStringLiteral("USER ") + username);
  if (security_ != FtpSecurity::None) {
    queueLine(QStringLiteral("PBSZ 0"));
    queueLine(QStringLiteral("PROT P"));
  }
  if (security_ == FtpSecurity::Implicit)
    tcp1_->setTls(controlTlsSetup());
  else
    tcp1_->setTls(std::nullopt);
  replyDecoder_ = CodeConverter("UTF-8", iconvCodeName(sysCode_));
  lineBuffer_.clear();
  lineStart_ = 0;
  // Nothing is sent yet: the server's greeting sends the first line.
  setControlState(ControlState::Connecting);
  try {
    tcp1_->connectTo(remoteHost, port_);
  } catch (const AutomationError&) {
    queue_.clear();
    preCommandMode_ = false;
    setControlState(ControlState::Closed);
    throw;
  }
  if (connectTimeout_ > 0) greetingTimer_->start(connectTimeout_);
}

void FtpControl::Login(const QString& username, const QString& password) {
  begin(Operation::Login, {username, password});
  password_ = password;
  sendNext();
}

void FtpControl::DisConnect() {
  // Without a connection there is nothing to do and nothing to complain about.
  if (control_ != ControlState::Idle && !tcp1_->isConnected()) return;
  run(Operation::DisConnect, {});
}

void FtpControl::Cd(const QString& directory) { run(Operation::Cd, {directory}); }
void FtpControl::Cwd(const QString& directory) { run(Operation::Cwd, {directory}); }
void FtpControl::Pwd() { run(Operation::Pwd, {}); }
void FtpControl::Size(const QString& file) { run(Operation::Size, {file}); }
void FtpControl::Dir(const QString& file) { run(Operation::Dir, {file}); }
void FtpControl::Ls(const QString& file) { run(Operation::Ls, {file}); }

void FtpControl::GetFile(const QString& file, const QString& localFile) {
  begin(Operation::GetFile, {file});
  transfer_.localFile = localFile;
  sendNext();
}

void FtpControl::PutFile(const QString& file, DataSource source) {
  if (!source) throw std::invalid_argument("PutFile needs a data source");
  begin(Operation::PutFile, {file});
  transfer_.source = std::move(source);
  sendNext();
}

void FtpControl::AppendFile(const QString& file, DataSource source) {
  if (!source) throw std::invalid_argument("AppendFile needs a data source");
  begin(Operation::AppendFile, {file});
  transfer_.source = std::move(source);
  sendNext();
}

void FtpControl::Noop() { run(Operation::Noop, {}); }
void FtpControl::Delete(const QString& file) { run(Operation::Delete, {file}); }
void FtpControl::MkDir(const QString& directory) { run(Operation::MkDir, {directory}); }
void FtpControl::RmDir(const QString& directory) { run(Operation::RmDir, {directory}); }
void FtpControl::Rename(const QString& fileFrom, const QString& fileTo) { run(Operation::Rename, {fileFrom, fileTo}); }
void FtpControl::Site(const QString& localCommand) { run(Operation::Site, {localCommand}); }
void FtpControl::Quote(const QString& extraCommand) { run(Operation::Quote, {extraCommand}); }

void FtpControl::Abort() {
  if (control_ != ControlState::Busy || !tcp1_->isConnected()) return;
  queue_.clear();
  firstAbortReply_.clear();
  outbox_.urgent = kTelnetInterrupt;
  outbox_.abortLine = kAbortLine;
  setControlState(ControlState::AbortSent);
  tcp3_->abort();  // an open transfer raises its close event now
  if (tcp1_->readyToSend()) onControlSent();
}

void FtpControl::Abend() {
  tcp1_->close();  // raises DisConnected when there was a connection
  setControlState(ControlState::Closed);
}

// ------------------------------------------- control-connection transitions

void FtpControl::setControlState(ControlState next) {
  if (next == control_) return;
  static const char* const kNames[] = {"Closed", "Connecting", "Idle", "Busy", "AbortSent", "AbortReplied"};
  qCDebug(lcFtpState, "control %s -> %s", kNames[static_cast<int>(control_)], kNames[static_cast<int>(next)]);
  control_ = next;
}

void FtpControl::startOperation(Operation op) {
  operation_ = op;
  queue_.clear();
  resetTransfer();
  setControlState(ControlState::Busy);
}

// The operation ends: the control is idle before CommandDone is raised, so
// that its handler may start the next operation.
void FtpControl::finishOperation(int code, const QString& msg) {
  const QString name = state();
  queue_.clear();
  resetTransfer();
  setControlState(ControlState::Idle);
  emit CommandDone(code, name, msg);
}

void FtpControl::keepFirstAbortReply(const QString& line) {
  firstAbortReply_ = line;
  setControlState(ControlState::AbortReplied);
}

// The second reply to ABOR ends the operation with the first one's code and
// text (0 when the first was a positive reply).
void FtpControl::finishAbort() {
  const QString first = std::exchange(firstAbortReply_, QString());
  setDataPhase(DataPhase::None);
  closeDataSockets();
  finishOperation(first.left(3).toInt(), first.mid(4));
}

void FtpControl::onControlClosed() {
  greetingTimer_->stop();
  setControlState(ControlState::Closed);
  queue_.clear();
  preCommandMode_ = false;
  firstAbortReply_.clear();
  outbox_ = {};
  lineBuffer_.clear();
  lineStart_ = 0;
  replyDecoder_.reset();
  abandonTransfer();  // an open transfer still raises its close event
  resetTransfer();
  setLabel(QStringLiteral("Closed"));
  const int code = std::exchange(socketErrorCode_, 0);
  const QString msg = std::exchange(socketErrorMessage_, QString());
  emit DisConnected(code, msg);
}

// ---------------------------------------------------------------- sending

void FtpControl::sendNext() {
  while (!queue_.empty()) {
    const QueuedCommand next = std::move(queue_.front());
    queue_.pop_front();
    if (next.kind == QueuedCommand::Kind::EndOfPreCommands) {
      preCommandMode_ = false;
      continue;
    }
    if (next.kind == QueuedCommand::Kind::ActivePort) {
      sendPort();
      return;
    }
    verb_ = verbOf(next.line);
    if (verb_ == Verb::Pass) {
      sendLine(next.line, state() + QStringLiteral(">>PASS ***"));
      return;
    }
    if (!isTransfer(verb_)) {
      sendLine(next.line, state() + QStringLiteral(">>") + next.line);
      return;
    }
    // A transfer command. An active data connection made before it went out
    // is taken up now.
    const bool held = transfer_.phase == DataPhase::Held;
    transfer_.finalReply.reset();
    setDataPhase(DataPhase::CommandSent);
    sendLine(next.line, state() + QStringLiteral(">>") + next.line);
    if (held && transfer_.phase == DataPhase::CommandSent && tcp3_->isConnected()) takeUpDataConnection();
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
    outbox_.pending = bytes;  // goes out when the socket reports the last text sent
}

// What waits goes out in this order: the interrupt, ABOR, a command line.
void FtpControl::onControlSent() {
  if (!outbox_.urgent.isEmpty()) {
    if (!tcp1_->sendUrgent(std::exchange(outbox_.urgent, QByteArray())))
      qCDebug(lcFtpState) << "the interrupt did not go out as urgent data; ABOR follows all the same";
  } else if (!outbox_.abortLine.isEmpty()) {
    const QByteArray line = std::exchange(outbox_.abortLine, QByteArray());
    emit Trace(state() + QStringLiteral(">>ABOR"));
    tcp1_->send(line);
  } else if (outbox_.pending) {
    const QByteArray line = *std::exchange(outbox_.pending, std::nullopt);
    tcp1_->send(line);
  }
}

// The PORT marker: listen on a free port of the control connection's local
// address and tell the server where.
void FtpControl::sendPort() {
  verb_ = Verb::Other;
  prepareDataConnection();
  if (!tcp2_->listen(tcp1_->localAddress())) return;  // onListenError closed the connection
  const uint32_t ip = tcp1_->localIp();
  const quint16 p = tcp2_->localPort();
  verb_ = Verb::Port;
  const QString line = QStringLiteral("PORT %1,%2,%3,%4,%5,%6")
                           .arg((ip >> 24) & 255)
                           .arg((ip >> 16) & 255)
                           .arg((ip >> 8) & 255)
                           .arg(ip & 255)
                           .arg(p >> 8)
                           .arg(p & 255);
  sendLine(line, state() + QStringLiteral(">>") + line);
}

// ---------------------------------------------------------------- replies

void FtpControl::setLabel(const QString& text) {
  labelText_ = text;
  emit LabelChanged(text);
}

void FtpControl::onControlConnected() {
  if (tcp1_->isEncrypted()) {  // implicit TLS: the handshake is over
    emit Trace(QStringLiteral("TLS ") + tcp1_->tlsDescription());
    if (!acceptCertificate(*tcp1_)) return;
  }
  setControlState(ControlState::Busy);  // the greeting is the first reply
  setLabel(QStringLiteral("Connected"));
  emit Connected();
}

void FtpControl::onControlReceived(const QByteArray& data) {
  greetingTimer_->stop();
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
  if (unfinishedLineTooLong(lineBuffer_, 0) && tcp1_->isConnected()) closeForLongReply();
}

// A server that never ends its line must not fill our memory.
// A host that drops connection requests, or a service that waits for the
// client to speak first (a web server on the port typed), would otherwise
// keep Connect waiting for minutes or for ever.
void FtpControl::closeForNoGreeting() {
  if (control_ == ControlState::Closed) return;
  socketErrorCode_ = kFtpNoGreeting;
  socketErrorMessage_ =
      QStringLiteral("No answer from the server within %1 seconds(connect)").arg(connectTimeout_ / 1000.0);
  tcp1_->close();
}

void FtpControl::closeForLongReply() {
  lineBuffer_.clear();
  lineStart_ = 0;
  socketErrorCode_ = kFtpReplyTooLong;
  socketErrorMessage_ =
      QStringLiteral("Reply line longer than %1 bytes; connection closed").arg(kMaxReplyLine);
  tcp1_->close();
}

void FtpControl::handleReply(const QString& line) {
  emit Trace(line);
  if (line.isEmpty()) return;
  if (line.size() >= 4 && line[3] == QLatin1Char('-')) return;  // within a multi-line reply
  switch (line[0].unicode()) {
    case '1': onPreliminaryReply(); break;
    case '2':
    case '3': onPositiveReply(line); break;
    case '4':
    case '5': onFailureReply(line); break;
    default: break;  // not a reply line
  }
}

void FtpControl::onPreliminaryReply() {
  if (!isUpload(verb_)) return;
  transfer_.preliminaryReply = true;
  tryStartUpload();
}

void FtpControl::onPositiveReply(const QString& line) {
  transfer_.preliminaryReply = transfer_.uploadConnected = false;
  if (control_ == ControlState::AbortSent) {
    keepFirstAbortReply(QStringLiteral("000") + line.mid(3));
    return;
  }
  if (control_ == ControlState::AbortReplied) {
    finishAbort();
    return;
  }
  const int code = line.left(3).toInt();
  const bool logIn = operation_ == Operation::Connect;  // our own AUTH, PBSZ, PROT; not a Quote's
  if (logIn && verb_ == Verb::Auth) {
    if (code >= 300) return closeForTls(kFtpTlsRefused, refusalText(line));
    tcp1_->startTls(controlTlsSetup());  // the next line goes out once the connection is encrypted
    return;
  }
  if (logIn && verb_ == Verb::Prot) dataTls_ = true;
  if (!preCommandMode_) {
    if (code == kReplyNeedPassword)
      queue_.push_front({QueuedCommand::Kind::Line, QStringLiteral("PASS ") + password_});
    else if (code == kReplyNeedAccount)
      queue_.push_front({QueuedCommand::Kind::Line, QStringLiteral("ACCT ") + account_});
  }
  const QString text = line.mid(4);
  if (verb_ == Verb::Pasv && !startPassive(line)) {
    finishOperation(kFtpUnparsablePasv, text);
    return;
  }
  if (!queue_.empty()) {
    sendNext();
    return;
  }
  switch (transfer_.phase) {
    case DataPhase::CommandSent:
    case DataPhase::Open:
      transfer_.finalReply = text;  // the close of the data connection ends the operation
      return;
    case DataPhase::None:
    case DataPhase::Held:
    case DataPhase::Closed:
      setDataPhase(DataPhase::None);
      closeDataSockets();
      finishOperation(0, text);
      return;
  }
}

void FtpControl::onFailureReply(const QString& line) {
  transfer_.preliminaryReply = transfer_.uploadConnected = false;
  // Closing first lets an open transfer raise its close event (the host
  // closes its file there) before the operation ends.
  abandonTransfer();
  if (control_ == ControlState::AbortSent) {
    keepFirstAbortReply(line);
    return;
  }
  if (control_ == ControlState::Busy && operation_ == Operation::Connect &&
      (verb_ == Verb::Auth || verb_ == Verb::Pbsz || verb_ == Verb::Prot)) {
    closeForTls(kFtpTlsRefused, refusalText(line));
    return;
  }
  if (control_ == ControlState::AbortReplied) {
    finishAbort();
    return;
  }
  finishOperation(line.left(3).toInt(), line.mid(4));
}

void FtpControl::onControlError(int number, const QString& text, const QString& where) {
  if (isTlsFailure(socketErrorCode_)) return;  // the TLS reason stands
  if (number == kSocketErrorBase + QAbstractSocket::SslHandshakeFailedError ||
      number == kSocketErrorBase + QAbstractSocket::SslInternalError) {
    socketErrorCode_ = kFtpTlsFailed;
    socketErrorMessage_ = QStringLiteral("TLS with %1 failed: %2").arg(host_, text);
    return;
  }
  socketErrorCode_ = number;
  socketErrorMessage_ = text + QLatin1Char('(') + where + QLatin1Char(')');
}

void FtpControl::onListenError(int number, const QString& text, const QString& where) {
  onControlError(number, text, where);
  tcp1_->close();
}

// ---------------------------------------------- data-connection transitions

void FtpControl::setDataPhase(DataPhase next) {
  if (next == transfer_.phase) return;
  static const char* const kNames[] = {"None", "Held", "CommandSent", "Open", "Closed"};
  qCDebug(lcFtpState, "data %s -> %s", kNames[static_cast<int>(transfer_.phase)], kNames[static_cast<int>(next)]);
  transfer_.phase = next;
}

void FtpControl::resetTransfer() {
  setDataPhase(DataPhase::None);
  transfer_ = {};
}

void FtpControl::closeDataSockets() {
  tcp2_->close();
  tcp3_->close();
}

// PASV or PORT starts afresh: no leftover connection from before.
void FtpControl::prepareDataConnection() {
  setDataPhase(DataPhase::None);
  closeDataSockets();
  // A passive connection runs its handshake as soon as it is made (the
  // transfer command goes out at the same time); an active one only once
  // the transfer command is out (takeUpDataConnection): some servers take
  // anything the client says before that for the end of the connection.
  tcp3_->setTls(dataTls_ && passive_ ? std::optional<TlsSetup>(dataTlsSetup()) : std::nullopt);
}

// The operation ends otherwise (a failure reply, an abort, a lost control
// connection): the data sockets close, and an open transfer still raises its
// close event, but the close ends nothing.
void FtpControl::abandonTransfer() {
  transfer_.upload = Upload::Off;
  transfer_.finalReply.reset();
  closeDataSockets();
  setDataPhase(DataPhase::None);
}

bool FtpControl::startPassive(const QString& line) {
  prepareDataConnection();
  const std::optional<DataAddress> address = parsePasvReply(line);
  if (!address) return false;
  try {
    tcp3_->connectTo(address->host, address->port);
  } catch (const AutomationError&) {
    return false;
  }
  return true;  // the transfer command goes out at once, without waiting for the connection
}

std::optional<FtpControl::DataAddress> FtpControl::parsePasvReply(const QString& line) {
  const qsizetype open = line.indexOf(QLatin1Char('('));
  if (open < 0) return std::nullopt;
  const qsizetype close = line.indexOf(QLatin1Char(')'), open + 1);
  if (close < 0) return std::nullopt;
  const QString s = line.mid(open + 1, close - open - 1) + QLatin1Char(',');
  QStringList f;
  qsizetype pos = 0;
  for (int i = 0; i < 6; ++i) {
    const qsizetype comma = s.indexOf(QLatin1Char(','), pos);
    if (comma < 0) return std::nullopt;
    f << s.mid(pos, comma - pos);
    pos = comma + 1;
  }
  bool ok1 = false, ok2 = false;
  const int p1 = f[4].trimmed().toInt(&ok1);
  const int p2 = f[5].trimmed().toInt(&ok2);
  if (!ok1 || !ok2) return std::nullopt;
  return DataAddress{f[0] + QLatin1Char('.') + f[1] + QLatin1Char('.') + f[2] + QLatin1Char('.') + f[3],
                     QString::number(p1 * 256 + p2)};
}

void FtpControl::onAccepting(QTcpSocket* socket) {
  tcp2_->close();  // one data connection per PORT
  tcp3_->accept(socket);
}

void FtpControl::onDataConnected() {
  emit Trace(QStringLiteral("Tcpip3_Connected"));
  if (verb_ == Verb::Port) {
    // Some servers connect as soon as PORT arrives, before the transfer
    // command: hold the connection until that command has gone out.
    setDataPhase(DataPhase::Held);
    return;
  }
  takeUpDataConnection();
}

// With PROT P in effect the transfer starts once the connection is
// encrypted and shows the certificate the control connection accepted.
void FtpControl::takeUpDataConnection() {
  if (dataTls_ && !tcp3_->isEncrypted()) {
    tcp3_->startTls(dataTlsSetup());  // `encrypted` brings us back here
    return;
  }
  if (tcp3_->isEncrypted() && !acceptCertificate(*tcp3_)) {
    onDataError(kFtpTlsCertificate, QStringLiteral("the data connection showed another certificate than the pinned one"),
                QStringLiteral("Tcpip3_Connected"));
    tcp3_->close();
    return;
  }
  openTransfer();
}

void FtpControl::openTransfer() {
  setDataPhase(DataPhase::Open);
  const char* code = iconvCodeName(fileCode_);
  transfer_.fileDecoder = CodeConverter(code ? "UTF-8" : nullptr, code);
  transfer_.fileEncoder = CodeConverter(code, code ? "UTF-8" : nullptr);
  transfer_.listing.clear();
  transfer_.listingStart = 0;
  switch (verb_) {
    case Verb::Retr: {
      const QString localFile = transfer_.localFile;
      emit GetOpen(localFile);
      return;
    }
    case Verb::Stor:
    case Verb::Appe:
      transfer_.uploadConnected = true;
      tryStartUpload();
      return;
    case Verb::List:
    case Verb::Nlst:
      emit DirOpen();
      return;
    default:
      emit TransError(kFtpNotATransfer,
                      QStringLiteral("A data connection opened while no transfer was under way; "
                                     "it was closed"),
                      QStringLiteral("Tcpip3_Connected"));
      tcp3_->close();
      return;
  }
}

void FtpControl::onDataReceived(const QByteArray& data) {
  if (verb_ == Verb::Retr) {
    if (transfer_.fileDecoder.isIdentity()) {
      emit GetData(data);
    } else {
      const QByteArray out = transfer_.fileDecoder.convert(data);
      if (!out.isEmpty()) emit GetData(out);
    }
    return;
  }
  if (!isListing(verb_)) return;  // nothing is expected on an upload's connection
  transfer_.listing.append(data);
  for (;;) {
    const qsizetype start = transfer_.listingStart;
    const qsizetype end = transfer_.listing.indexOf("\r\n", start);
    if (end < 0) break;
    transfer_.listingStart = end + 2;
    emitListingLine(transfer_.listing.mid(start, end - start));
  }
  // A line that never ends must not fill our memory: it goes out in pieces.
  while (unfinishedLineTooLong(transfer_.listing, transfer_.listingStart)) {
    const qsizetype start = transfer_.listingStart;
    transfer_.listingStart += kMaxReplyLine;
    emitListingLine(transfer_.listing.mid(start, kMaxReplyLine));
  }
  if (transfer_.listingStart > 0) {
    transfer_.listing.remove(0, transfer_.listingStart);
    transfer_.listingStart = 0;
  }
}

void FtpControl::emitListingLine(const QByteArray& raw) {
  emit DirData(QString::fromUtf8(convertAll("UTF-8", iconvCodeName(sysCode_), raw)));
}

void FtpControl::raiseCloseEvent() {
  switch (verb_) {
    case Verb::Retr:
      if (!transfer_.fileDecoder.isIdentity()) {
        const QByteArray tail = transfer_.fileDecoder.finish();
        if (!tail.isEmpty()) emit GetData(tail);
      }
      emit GetClose();
      return;
    case Verb::Stor:
    case Verb::Appe:
      transfer_.source = nullptr;  // the host's file may close with it
      emit PutClose();
      return;
    case Verb::List:
    case Verb::Nlst:
      // A last line without CR LF.
      if (transfer_.listing.size() > transfer_.listingStart) {
        const QByteArray rest = transfer_.listing.mid(transfer_.listingStart);
        transfer_.listing.clear();
        transfer_.listingStart = 0;
        emitListingLine(rest);
      }
      emit DirClose();
      return;
    default:
      return;
  }
}

void FtpControl::onDataClosed() {
  rest_ = kNoRest;
  transfer_.upload = Upload::Off;
  if (transfer_.phase == DataPhase::Open) raiseCloseEvent();
  const bool transferUnderWay = transfer_.phase == DataPhase::CommandSent ||
                                transfer_.phase == DataPhase::Open || transfer_.phase == DataPhase::Closed;
  if (!transferUnderWay || control_ != ControlState::Busy) {
    // Nothing to end here, or the operation ends otherwise (abort, failure
    // reply, lost control connection).
    setDataPhase(DataPhase::None);
    return;
  }
  if (!transfer_.finalReply) {
    setDataPhase(DataPhase::Closed);  // the final reply ends the operation
    return;
  }
  const QString msg = *transfer_.finalReply;
  finishOperation(0, msg);
}

void FtpControl::onDataError(int number, const QString& text, const QString& where) {
  if (transErrorEvent_) {
    emit TransError(number, text, where);
  } else if (messageHandler_) {
    messageHandler_(QStringLiteral("Tcpip3_WsError ") + text + QLatin1Char('(') + where + QLatin1Char(')'));
  } else {
    qWarning("Tcpip3_WsError %s(%s)", qPrintable(text), qPrintable(where));
  }
}

// ---------------------------------------------------------------- uploads

// Sending starts once both the 1xx reply and the data connection are there,
// whichever comes last.
void FtpControl::tryStartUpload() {
  if (!transfer_.preliminaryReply || !transfer_.uploadConnected) return;
  transfer_.preliminaryReply = transfer_.uploadConnected = false;
  emit Trace(QStringLiteral("Tcpip3_start"));
  transfer_.upload = Upload::Sending;
  pumpUpload();
}

// Runs at the start and each time the data socket reports its bytes sent.
void FtpControl::pumpUpload() {
  if (aborting()) return;
  if (transfer_.upload == Upload::Draining) {
    shutDownUpload();
    return;
  }
  if (transfer_.upload != Upload::Sending) return;
  // A copy: the source may end the transfer (and so reset transfer_) while it runs.
  const DataSource source = transfer_.source;
  const bool convert = !transfer_.fileEncoder.isIdentity();
  QByteArray chunk;
  int burst = 0;
  for (;;) {
    const QByteArray block = source();
    if (aborting() || transfer_.upload != Upload::Sending) return;
    if (!tcp3_->isConnected()) {
      transfer_.upload = Upload::Off;
      return;
    }
    if (block.isEmpty()) {
      if (convert) chunk += transfer_.fileEncoder.finish();
      if (chunk.isEmpty() || tcp3_->sendAtOnce(chunk))
        shutDownUpload();
      else
        transfer_.upload = Upload::Draining;  // shut down once the rest is out
      return;
    }
    chunk += convert ? transfer_.fileEncoder.convert(block) : block;
    if (chunk.size() < kSendChunk) continue;
    if (!tcp3_->sendAtOnce(chunk)) return;  // `sent` follows once it is out
    chunk.clear();
    if (++burst == kSendBurst) {
      tcp3_->notifySent();  // go on after the event loop's turn
      return;
    }
  }
}

// End of file for the server, which then closes the data connection.
void FtpControl::shutDownUpload() {
  transfer_.upload = Upload::Off;
  tcp3_->shutdownSend();
}

}  // namespace quill

namespace quill {

// ---------------------------------------------------------------- TLS

// Resumable sessions: the control connection's session is what its data
// connections resume.
TlsSetup FtpControl::controlTlsSetup() const {
  QSslConfiguration c = QSslConfiguration::defaultConfiguration();
  if (!extraCaCertificates_.isEmpty()) c.setCaCertificates(QSslConfiguration::systemCaCertificates() + extraCaCertificates_);
  c.setPeerVerifyMode(QSslSocket::VerifyPeer);
  c.setSslOption(QSsl::SslOptionDisableSessionPersistence, false);
  return {c, host_};
}

TlsSetup FtpControl::dataTlsSetup() const { return {tcp1_->sslConfiguration(), host_}; }

void FtpControl::onControlEncrypted() {
  emit Trace(QStringLiteral("TLS ") + tcp1_->tlsDescription());
  if (!acceptCertificate(*tcp1_)) return;
  sendNext();
}

// A pinned certificate stands in for the trust store's verdict, whatever
// the verdict was; anything else is refused as the trust store says.
void FtpControl::onTlsErrors(TcpSocket& socket, const QList<QSslError>& errors) {
  QSslCertificate peer = socket.peerCertificate();
  if (peer.isNull() && !errors.isEmpty()) peer = errors.first().certificate();
  if (fingerprintMatches(tlsFingerprint_, sha256Fingerprint(peer))) {
    socket.ignoreTlsErrors();
    return;
  }
  if (&socket != tcp1_) return;  // the data connection fails; its error says why
  const QString problem = !tlsFingerprint_.isEmpty()
                              ? QStringLiteral("it is not the certificate pinned for this server")
                              : describeProblems(errors, host_);
  rejectCertificate(peer, problem);
}

// After a handshake the trust store accepted: a pin must still match.
bool FtpControl::acceptCertificate(TcpSocket& socket) {
  if (tlsFingerprint_.isEmpty()) return true;
  const QSslCertificate peer = socket.peerCertificate();
  if (fingerprintMatches(tlsFingerprint_, sha256Fingerprint(peer))) return true;
  if (&socket == tcp1_) {
    rejectCertificate(peer, QStringLiteral("it is not the certificate pinned for this server"));
    tcp1_->close();
  }
  return false;
}

void FtpControl::rejectCertificate(const QSslCertificate& certificate, const QString& problem) {
  const QString fingerprint = sha256Fingerprint(certificate);
  socketErrorCode_ = kFtpTlsCertificate;
  socketErrorMessage_ = QStringLiteral("the certificate of %1 was not accepted: %2 (SHA-256 fingerprint %3)")
                            .arg(host_, problem, fingerprint);
  emit Trace(socketErrorMessage_);
  emit CertificateRejected(host_, problem, fingerprint);
}

// The reply to AUTH TLS, PBSZ or PROT that ends the connection, in words.
QString FtpControl::refusalText(const QString& reply) const {
  if (verb_ == Verb::Auth)
    return QStringLiteral("%1 does not offer FTP over TLS (it answered AUTH TLS with \"%2\"); the connection was "
                          "closed before the log-in")
        .arg(host_, reply);
  return QStringLiteral("%1 refused TLS for data connections (it answered %2 with \"%3\"); the connection was closed")
      .arg(host_, verb_ == Verb::Pbsz ? QStringLiteral("PBSZ 0") : QStringLiteral("PROT P"), reply);
}

void FtpControl::closeForTls(int code, const QString& message) {
  socketErrorCode_ = code;
  socketErrorMessage_ = message;
  emit Trace(message);
  tcp1_->close();
}

}  // namespace quill
