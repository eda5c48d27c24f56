// Each sentence is its template with the placeholders replaced in one pass.
#include "generator/upload/publish_summary.h"

namespace quill {

namespace {

QString fill(const QString& text, int64_t files, int64_t bytes, int64_t unchanged, int64_t deleted) {
  QString out = text;
  out.replace(QLatin1String("{files}"), QString::number(files));
  out.replace(QLatin1String("{bytes}"), QString::number(bytes));
  out.replace(QLatin1String("{unchanged}"), QString::number(unchanged));
  out.replace(QLatin1String("{deleted}"), QString::number(deleted));
  return out;
}

}  // namespace

QString describePlan(const PublishSummary& s, const QString& text) {
  return fill(text, s.toSend, s.bytesToSend, s.unchanged, s.toDelete);
}

QString describeOutcome(const PublishSummary& s, const QString& text) {
  return fill(text, s.sent, s.bytesSent, s.unchanged, s.deleted);
}

QString describeRetries(const PublishSummary& s, const QString& text) {
  if (s.retried.isEmpty()) return {};
  QString out = text;
  return out.replace(QLatin1String("{list}"), s.retried.join(QStringLiteral(", ")));
}

}  // namespace quill
