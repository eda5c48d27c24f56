// The event-driven FTP client control. A caller starts one operation at a
// time (Connect, Cd, PutFile, ...); the control turns it into a short queue
// of command lines, sends them one per final reply, and ends every operation
// with exactly one CommandDone signal. Uploads pull their bytes from a data
// source the caller hands to PutFile/AppendFile; downloads and listings push
// theirs through GetData and DirData. Nothing blocks: all work runs on the
// owning thread's event loop.
//
// Errors: operations and setters throw AutomationError — kFtpNotIdling (the
// operation's state name as source, "Not Idling"), kFtpAlreadyConnected
// ("Connect", "AlreadyConnected") and kFtpInvalidSetting (a refused property
// value, or an argument holding CR or LF, which would smuggle in a second
// command). Everything the server or the network does is reported by signal.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "common/ordered_map.h"
#include "common/variant.h"
#include "ftpcontrol/code_converter.h"
#include "ftpcontrol/tcp_socket.h"

class QTcpSocket;
class QTimer;

namespace quill {

// Error numbers raised by the control.
enum FtpError : int32_t {
  kFtpNotIdling = 17,
  kFtpInvalidSetting = 54,
  kFtpAlreadyConnected = 59,
};

// Codes the control reports itself where a server's reply code or a socket
// error number would stand.
constexpr int kFtpUnparsablePasv = -1;  // CommandDone: the PASV reply held no address
constexpr int kFtpNotATransfer = -1;    // TransError: a data connection came up for no transfer
constexpr int kFtpReplyTooLong = -2;    // DisConnected: a reply line grew past kMaxReplyLine
constexpr int kFtpNoGreeting = -3;      // DisConnected: no greeting within the connect timeout
// DisConnected, TLS: none of them passes by trying again.
constexpr int kFtpTlsCertificate = -4;  // the server's certificate was not accepted
constexpr int kFtpTlsRefused = -5;      // the server refused AUTH TLS, PBSZ or PROT
constexpr int kFtpTlsFailed = -6;       // the TLS handshake failed (no TLS server, no common protocol)

// True for the DisConnected codes above that trying again cannot mend.
inline bool isTlsFailure(int code) { return code <= kFtpTlsCertificate && code >= kFtpTlsFailed; }

// How the control connection is secured.
enum class FtpSecurity : uint8_t {
  None,      // plain FTP
  Explicit,  // AUTH TLS after the greeting; PBSZ 0 and PROT P after the log-in
  Implicit,  // TLS from the first byte (by convention on port 990)
};

// A certificate's SHA-256 fingerprint as `openssl x509 -fingerprint -sha256`
// prints it: upper-case hex pairs separated by colons.
QString sha256Fingerprint(const QSslCertificate& certificate);
// Whether two fingerprints name the same certificate: letter case, colons
// and blanks are not significant. An empty pin matches nothing.
bool fingerprintMatches(const QString& pin, const QString& fingerprint);

// Longest reply line (in bytes, without CR LF) the control accepts; a longer
// one, or a server that never ends its line, closes the control connection.
// Listing lines longer than this are handed out in pieces of this size.
constexpr qsizetype kMaxReplyLine = 64 * 1024;

// Rest's value when no restart offset is set.
constexpr int32_t kNoRest = -1;

class FtpControl : public QObject {
  Q_OBJECT
 public:
  // Persisted properties, keyed as the hosting form stores them.
  using PropertyBag = OrderedMap<std::string, Variant>;
  // Shows a message with an exclamation icon (data-connection errors when
  // TransErrorEvent is false). The default writes to the Qt warning log.
  using MessageHandler = std::function<void(const QString&)>;
  // Where an upload's bytes come from. The control calls it each time it can
  // take more; it returns the next block (any size; the upload queue reads
  // its file in blocks of at most 8192 bytes) or an empty array at the end of
  // the data. Nothing is read before the server is ready for the file. The
  // control keeps the source until the upload's data connection has closed
  // (PutClose) or the operation has ended, then destroys it, so a source may
  // own the file it reads. It may call Abort() or Abend().
  using DataSource = std::function<QByteArray()>;

  // Host and port of a passive data connection.
  struct DataAddress {
    QString host;
    QString port;
  };

  explicit FtpControl(QObject* parent = nullptr);
  ~FtpControl() override;

  // --- properties ---
  QString port() const { return port_; }
  void setPort(const QString& v) { port_ = v; }
  bool passive() const { return passive_; }
  void setPassive(bool v) { passive_ = v; }
  QString account() const { return account_; }
  void setAccount(const QString& v);  // kFtpInvalidSetting for CR or LF
  int32_t rest() const { return rest_; }
  void setRest(int32_t v) { rest_ = v; }
  QString preCommand() const { return preCommand_; }
  void setPreCommand(const QString& v) { preCommand_ = v; }
  QString filetype() const { return filetype_; }
  void setFiletype(const QString& v);  // "A", "I" or ""; kFtpInvalidSetting "FileType"
  QString fileCode() const { return fileCode_; }
  void setFileCode(const QString& v);  // "BIN", "JIS", "SJIS", "EUC"; kFtpInvalidSetting "FileCode"
  QString sysCode() const { return sysCode_; }
  // "SJIS", "EUC" or "UTF8" (names and replies as UTF-8, unconverted: what
  // most servers of today expect); kFtpInvalidSetting "SysCode".
  void setSysCode(const QString& v);
  // The operation under way ("Connect", "PutFile", ...), "DONE" between
  // operations, "" without a control connection.
  QString state() const;
  bool noPwdAfterCd() const { return noPwdAfterCd_; }
  void setNoPwdAfterCd(bool v) { noPwdAfterCd_ = v; }
  bool transErrorEvent() const { return transErrorEvent_; }
  void setTransErrorEvent(bool v) { transErrorEvent_ = v; }
  // Milliseconds from Connect to the server's first reply (the greeting);
  // past them the connection is closed and DisConnected carries
  // kFtpNoGreeting. 0 (the default) waits as long as the system does, which
  // for a host that never answers can be minutes. Not persisted.
  int connectTimeout() const { return connectTimeout_; }
  void setConnectTimeout(int ms) { connectTimeout_ = ms; }

  // "" (plain), "explicit" or "implicit"; any letter case. Others throw
  // kFtpInvalidSetting "Security". Takes effect at the next Connect.
  QString security() const;
  void setSecurity(const QString& v);
  FtpSecurity securityMode() const { return security_; }
  // The SHA-256 fingerprint of the one certificate the server may show (any
  // letter case, colons optional); empty: the system's trust store decides.
  // A certificate that matches is accepted even when the trust store would
  // not (self-signed, another name); one that does not is refused.
  QString tlsFingerprint() const { return tlsFingerprint_; }
  void setTlsFingerprint(const QString& v);  // kFtpInvalidSetting for CR or LF
  // Certificates trusted besides the system's (not persisted; tests and
  // private authorities).
  void addCaCertificates(const QList<QSslCertificate>& certificates);

  // The text of the visible label: the last connection event.
  QString labelText() const { return labelText_; }
  void setMessageHandler(MessageHandler h) { messageHandler_ = std::move(h); }

  void writeProperties(PropertyBag& bag) const;
  // Missing keys take their saved-form defaults (TransErrorEvent false). A
  // value a setter refuses throws as the setter does; a value of the wrong
  // kind throws its conversion error with the key as source. Either way no
  // property changes.
  void readProperties(const PropertyBag& bag);

  // --- operations ---
  void Connect(const QString& remoteHost, const QString& username, const QString& password);
  void Login(const QString& username, const QString& password);
  void DisConnect();
  void Cd(const QString& directory);
  void Cwd(const QString& directory);
  void Pwd();
  void Size(const QString& file);
  void Dir(const QString& file = {});
  void Ls(const QString& file = {});
  void GetFile(const QString& file, const QString& localFile);
  // A null source throws std::invalid_argument.
  void PutFile(const QString& file, DataSource source);
  void AppendFile(const QString& file, DataSource source);
  void Noop();
  void Delete(const QString& file);
  void MkDir(const QString& directory);
  void RmDir(const QString& directory);
  void Rename(const QString& fileFrom, const QString& fileTo);
  void Site(const QString& localCommand);
  void Quote(const QString& extraCommand);
  // Interrupts the operation under way (ignored when idle or already
  // aborting); it ends with the second of the server's two replies to ABOR.
  void Abort();
  // Drops the control connection at once.
  void Abend();
  bool IsIdle() const { return control_ == ControlState::Idle; }

  // The address of a PASV reply ("227 ... (h1,h2,h3,h4,p1,p2)"), if it has one.
  static std::optional<DataAddress> parsePasvReply(const QString& line);

  // The socket objects, for tests and diagnostics.
  TcpSocket& controlSocket() { return *tcp1_; }
  TcpSocket& listenSocket() { return *tcp2_; }
  TcpSocket& dataSocket() { return *tcp3_; }

 signals:
  void Trace(const QString& msg);
  void Connected();
  void DisConnected(int code, const QString& msg);
  void CommandDone(int code, const QString& stat, const QString& msg);
  void GetOpen(const QString& saveFileName);
  void GetData(const QByteArray& data);
  void GetClose();
  void PutClose();
  void DirOpen();
  void DirData(const QString& data);
  void DirClose();
  void TransError(int ecode, const QString& description, const QString& where);
  void LabelChanged(const QString& text);
  // The server's certificate was not accepted (before anything of the
  // log-in was sent): the host, the problems in words and the certificate's
  // SHA-256 fingerprint. DisConnected with kFtpTlsCertificate follows.
  void CertificateRejected(const QString& host, const QString& problem, const QString& fingerprint);

 private:
  // The control connection. Transitions: Closed -Connect-> Connecting
  // -connected-> Busy -last final reply-> Idle -operation-> Busy; Busy -Abort->
  // AbortSent -first reply-> AbortReplied -second reply-> Idle; any -closed->
  // Closed.
  enum class ControlState : uint8_t {
    Closed,        // no connection; State ""
    Connecting,    // Connect asked for the connection; nothing is sent yet
    Idle,          // between operations; State "DONE"
    Busy,          // an operation runs: its lines go out one per final reply
    AbortSent,     // interrupt and ABOR on their way; waiting for the first reply
    AbortReplied,  // the first reply is kept; the second ends the operation
  };
  // The data connection of the operation under way.
  enum class DataPhase : uint8_t {
    None,         // no transfer command under way
    Held,         // the server connected after PORT, before the transfer command
    CommandSent,  // transfer command sent; data connection not up yet
    Open,         // data connection up
    Closed,       // data connection closed before the final reply
  };
  // An upload while its data connection is open.
  enum class Upload : uint8_t {
    Off,       // not sending (not started, or shut down)
    Sending,   // pulling blocks from the source
    Draining,  // source exhausted; the send side shuts down once the rest is out
  };
  // The verb of the last command line sent, as far as the control cares.
  enum class Verb : uint8_t { Other, Pass, Pasv, Port, Retr, Stor, Appe, List, Nlst, Auth, Pbsz, Prot };
  static Verb verbOf(const QString& line);  // first four characters, trimmed, upper-cased
  static bool isUpload(Verb v);
  static bool isListing(Verb v);
  static bool isTransfer(Verb v);
  enum class Operation : uint8_t;  // the table of operations is in the .cpp

  // One entry of the command queue: a line, or a marker acted on when it
  // comes up.
  struct QueuedCommand {
    enum class Kind : uint8_t { Line, ActivePort, EndOfPreCommands };
    Kind kind = Kind::Line;
    QString line;
  };

  // Text waiting for the control socket to take it.
  struct Outbox {
    QByteArray urgent;     // Telnet interrupt, sent as out-of-band data
    QByteArray abortLine;  // DM + "ABOR" CR LF
    std::optional<QByteArray> pending;  // a command line
  };

  // Everything about the transfer of the operation under way; reset as a
  // whole when an operation starts or ends and when the connection closes.
  struct Transfer {
    DataPhase phase = DataPhase::None;
    std::optional<QString> finalReply;  // final reply text that came before the close
    bool preliminaryReply = false;      // the 1xx reply to STOR/APPE has come
    bool uploadConnected = false;       // the data connection for STOR/APPE is up
    Upload upload = Upload::Off;
    DataSource source;
    QString localFile;  // GetFile's LocalFile, for GetOpen
    CodeConverter fileDecoder;
    CodeConverter fileEncoder;
    QByteArray listing;  // listing bytes not yet split into lines
    qsizetype listingStart = 0;
  };

  // operations
  void run(Operation op, const QStringList& args);
  void begin(Operation op, const QStringList& args);
  void queueLine(const QString& line);
  QStringList preCommandLines() const;

  // control-connection transitions
  void setControlState(ControlState next);
  void startOperation(Operation op);
  void finishOperation(int code, const QString& msg);
  void keepFirstAbortReply(const QString& line);
  void finishAbort();

  // sending
  void sendNext();
  void sendLine(const QString& line, const QString& traceLine);
  void sendPort();
  void onControlSent();

  // replies
  void onControlConnected();
  void onControlReceived(const QByteArray& data);
  void closeForLongReply();
  void closeForNoGreeting();
  void handleReply(const QString& line);
  void onPreliminaryReply();
  void onPositiveReply(const QString& line);
  void onFailureReply(const QString& line);
  [[nodiscard]] bool startPassive(const QString& line);
  void onControlError(int number, const QString& text, const QString& where);
  void onListenError(int number, const QString& text, const QString& where);
  void onControlClosed();
  void setLabel(const QString& text);

  // TLS
  TlsSetup controlTlsSetup() const;
  TlsSetup dataTlsSetup() const;
  void onControlEncrypted();
  void onTlsErrors(TcpSocket& socket, const QList<QSslError>& errors);
  [[nodiscard]] bool acceptCertificate(TcpSocket& socket);
  void rejectCertificate(const QSslCertificate& certificate, const QString& problem);
  void closeForTls(int code, const QString& message);
  QString refusalText(const QString& reply) const;

  // data-connection transitions
  void setDataPhase(DataPhase next);
  void prepareDataConnection();
  void onDataConnected();
  void takeUpDataConnection();
  void openTransfer();
  void abandonTransfer();
  void resetTransfer();
  void closeDataSockets();
  void raiseCloseEvent();
  void onAccepting(QTcpSocket* socket);
  void onDataReceived(const QByteArray& data);
  void emitListingLine(const QByteArray& raw);
  void onDataClosed();
  void onDataError(int number, const QString& text, const QString& where);

  // uploads
  void tryStartUpload();
  void pumpUpload();
  void shutDownUpload();

  [[nodiscard]] bool aborting() const {
    return control_ == ControlState::AbortSent || control_ == ControlState::AbortReplied;
  }

  TcpSocket* tcp1_;  // control connection
  TcpSocket* tcp2_;  // listening socket for active data connections
  TcpSocket* tcp3_;  // data connection

  // properties
  QString port_ = QStringLiteral("21");
  bool passive_ = false;
  QString account_;
  int32_t rest_ = kNoRest;
  QString preCommand_;
  QString filetype_ = QStringLiteral("I");
  QString fileCode_ = QStringLiteral("BIN");
  QString sysCode_ = QStringLiteral("EUC");
  bool noPwdAfterCd_ = false;
  bool transErrorEvent_ = true;
  int connectTimeout_ = 0;
  FtpSecurity security_ = FtpSecurity::None;
  QString tlsFingerprint_;
  QList<QSslCertificate> extraCaCertificates_;
  MessageHandler messageHandler_;
  QString labelText_;

  // control connection
  ControlState control_ = ControlState::Closed;
  Operation operation_{};
  std::deque<QueuedCommand> queue_;
  Verb verb_ = Verb::Other;
  bool preCommandMode_ = false;  // pre-commands get no automatic PASS or ACCT
  QString password_;
  QString host_;            // as given to Connect: the name the certificate must carry
  bool dataTls_ = false;    // PROT P is in effect: data connections are TLS
  QTimer* greetingTimer_;  // runs from Connect to the first bytes received
  CodeConverter replyDecoder_;
  QByteArray lineBuffer_;    // received text not yet split into reply lines
  qsizetype lineStart_ = 0;  // start of the first unconsumed line in lineBuffer_
  QString firstAbortReply_;  // kept in AbortReplied
  Outbox outbox_;
  int socketErrorCode_ = 0;  // last socket error of the control connection
  QString socketErrorMessage_;

  Transfer transfer_;
};

}  // namespace quill
