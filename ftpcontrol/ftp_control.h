// The event-driven FTP client control. A caller starts one operation at a
// time (Connect, Cd, PutFile, ...); the control turns it into a short queue
// of command lines, sends them one per final reply, and ends every operation
// with exactly one CommandDone signal. Uploads pull their data block by block
// through PutData, downloads and listings push theirs through GetData and
// DirData. Nothing blocks: all work runs on the owning thread's event loop.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "common/ordered_map.h"
#include "common/variant.h"
#include "ftpcontrol/code_converter.h"

class QTcpSocket;

namespace quill {

class TcpSocket;

// Error numbers raised by the control.
enum FtpError : int32_t {
  kFtpNotIdling = 17,
  kFtpInvalidSetting = 54,
  kFtpAlreadyConnected = 59,
};

// Code raised with DisConnected when the control itself dropped the
// connection because a reply line grew past kMaxReplyLine bytes.
constexpr int kFtpReplyTooLong = -2;
constexpr qsizetype kMaxReplyLine = 64 * 1024;

class FtpControl : public QObject {
  Q_OBJECT
 public:
  // Persisted properties, keyed as the hosting form stores them.
  using PropertyBag = OrderedMap<std::string, Variant>;
  // Shows a message with an exclamation icon (data-connection errors when
  // TransErrorEvent is false). The default writes to the Qt warning log.
  using MessageHandler = std::function<void(const QString&)>;

  explicit FtpControl(QObject* parent = nullptr);
  ~FtpControl() override;

  // --- properties ---
  QString port() const { return port_; }
  void setPort(const QString& v) { port_ = v; }
  bool passive() const { return passive_; }
  void setPassive(bool v) { passive_ = v; }
  QString account() const { return account_; }
  void setAccount(const QString& v);  // 54 for CR or LF
  int32_t rest() const { return rest_; }
  void setRest(int32_t v) { rest_ = v; }
  QString preCommand() const { return preCommand_; }
  void setPreCommand(const QString& v) { preCommand_ = v; }
  QString filetype() const { return filetype_; }
  void setFiletype(const QString& v);  // 54 "FileType"
  QString fileCode() const { return fileCode_; }
  void setFileCode(const QString& v);  // 54 "FileCode"
  QString sysCode() const { return sysCode_; }
  void setSysCode(const QString& v);  // 54 "SysCode"
  QString state() const { return state_; }
  bool noPwdAfterCd() const { return noPwdAfterCd_; }
  void setNoPwdAfterCd(bool v) { noPwdAfterCd_ = v; }
  bool transErrorEvent() const { return transErrorEvent_; }
  void setTransErrorEvent(bool v) { transErrorEvent_ = v; }

  // The text of the visible label: the last connection event.
  QString labelText() const { return labelText_; }
  void setMessageHandler(MessageHandler h) { messageHandler_ = std::move(h); }

  void writeProperties(PropertyBag& bag) const;
  // Missing keys take their saved-form defaults (TransErrorEvent false);
  // a stored value the setter refuses keeps the default.
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
  void PutFile(const QString& file);
  void AppendFile(const QString& file);
  void Noop();
  void Delete(const QString& file);
  void MkDir(const QString& directory);
  void RmDir(const QString& directory);
  void Rename(const QString& fileFrom, const QString& fileTo);
  void Site(const QString& localCommand);
  void Quote(const QString& extraCommand);
  void Abort();
  void Abend();
  bool IsIdle() const { return idle_; }

  // Host and port of a PASV reply ("227 ... (h1,h2,h3,h4,p1,p2)"); false
  // when the reply cannot be parsed.
  static bool parsePasvReply(const QString& line, QString& host, QString& port);

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
  void PutData(QByteArray& data);
  void PutClose();
  void DirOpen();
  void DirData(const QString& data);
  void DirClose();
  void TransError(int ecode, const QString& description, const QString& where);
  void LabelChanged(const QString& text);

 private:
  void begin(const QString& stateName, const QStringList& args);
  void setState(const QString& s);
  void finish(int code, const QString& msg);
  void enqueueTransferLine();
  void sendNext();
  void sendLine(const QString& line, const QString& traceLine);
  void flushControl();
  void setLabel(const QString& text);
  void closeData();

  // control connection
  void onControlConnected();
  void onControlReceived(const QByteArray& data);
  void onControlSent();
  void onControlClosed();
  void onControlError(int number, const QString& text, const QString& where);
  void handleReply(const QString& line);
  bool startPassive(const QString& line);
  void sendPort();

  // data connection
  void onDataConnected();
  void dataConnectionUp();
  void onDataReceived(const QByteArray& data);
  void onDataSent();
  void onDataClosed();
  void onDataError(int number, const QString& text, const QString& where);
  void onAccepting(QTcpSocket* socket);
  void onListenError(int number, const QString& text, const QString& where);
  void tryStartSending();
  void sendStep();
  void resetDataCoding();

  TcpSocket* tcp1_;
  TcpSocket* tcp2_;
  TcpSocket* tcp3_;

  // properties
  QString port_ = QStringLiteral("21");
  bool passive_ = false;
  QString account_;
  int32_t rest_ = -1;
  QString preCommand_;
  QString filetype_ = QStringLiteral("I");
  QString fileCode_ = QStringLiteral("BIN");
  QString sysCode_ = QStringLiteral("EUC");
  QString state_;
  bool noPwdAfterCd_ = false;
  bool transErrorEvent_ = true;

  // engine state
  std::deque<QString> queue_;
  QString verb_;
  bool idle_ = false;
  bool preCommandMode_ = false;
  QString password_;
  CodeConverter replyDecoder_;
  QByteArray lineBuffer_;
  qsizetype lineStart_ = 0;  // start of the first unconsumed line in lineBuffer_
  bool abortPending_ = false;
  std::optional<QString> firstAbortReply_;
  int disconnectCode_ = 0;
  QString disconnectMessage_;
  std::optional<QByteArray> pendingSend_;
  QByteArray urgentSend_;
  QByteArray abortLine_;
  QString labelText_;
  MessageHandler messageHandler_;

  // data transfer bookkeeping
  int dataPhase_ = 0;
  int transferFlags_ = 0;
  std::optional<QString> finalMessage_;
  QString localFile_;
  QString pasvHost_;
  QString pasvPort_;
  CodeConverter fileDecoder_;
  CodeConverter fileEncoder_;
  QByteArray listingBuffer_;
  qsizetype listingStart_ = 0;
  bool uploading_ = false;
  bool uploadFinishing_ = false;
  bool dataUpEarly_ = false;
  bool endingData_ = false;  // data sockets closed while the operation ends otherwise  // active connection made before the transfer command
};

}  // namespace quill
