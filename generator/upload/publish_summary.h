// What a publish will do and what it did, in numbers, and the sentences the
// terminal and the upload window make of them. The sentences are templates
// with {placeholders}, so that a caption document can word them otherwise.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace quill {

struct PublishSummary {
  bool sync = false;
  bool dryRun = false;
  // The plan.
  int64_t toSend = 0;
  int64_t bytesToSend = 0;
  int64_t unchanged = 0;
  int64_t toDelete = 0;
  QString manifestNote;  // sync: why the server's manifest was not used; "" when it was
  // The outcome.
  int64_t sent = 0;
  int64_t bytesSent = 0;
  int64_t deleted = 0;
  QStringList retried;  // what needed more than one try, each with its count
  QStringList notes;    // connections the server refused, and the like
};

// {files} {bytes} {unchanged} {deleted}
constexpr const char* kPlanText = "To send: {files} files, {bytes} bytes; unchanged: {unchanged}; to delete: {deleted}";
constexpr const char* kOutcomeText = "Sent: {files} files, {bytes} bytes; unchanged: {unchanged}; deleted: {deleted}";
// {list}
constexpr const char* kRetriedText = "Sent again after a failure: {list}";

QString describePlan(const PublishSummary& s, const QString& text = QString::fromLatin1(kPlanText));
QString describeOutcome(const PublishSummary& s, const QString& text = QString::fromLatin1(kOutcomeText));
// "" when nothing was retried.
QString describeRetries(const PublishSummary& s, const QString& text = QString::fromLatin1(kRetriedText));

}  // namespace quill
