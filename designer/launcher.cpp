// QProcess::startDetached passes the argument list to the program as it is,
// without a shell, so no quoting is needed or wanted.
#include "designer/launcher.h"

#include <QProcess>
#include <QStringList>

namespace quill {

bool ProcessLauncher::start(const std::string& program, const std::vector<std::string>& arguments,
                            const std::string& workingFolder) {
  QStringList list;
  for (const std::string& a : arguments) list << QString::fromStdString(a);
  return QProcess::startDetached(QString::fromStdString(program), list, QString::fromStdString(workingFolder));
}

}  // namespace quill
