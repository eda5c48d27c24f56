// What the designer's windows reach outside themselves: message boxes, the
// desktop's opener, program starts and the file dialogs. The program hands
// in the Qt ones; tests hand in recorders and answer the dialogs.
#pragma once

#include <QString>
#include <functional>
#include <string>

class QWidget;

namespace quill {

class Desktop;
class Launcher;
class Prompter;

struct DesignerServices {
  Prompter* prompter = nullptr;
  Desktop* desktop = nullptr;
  Launcher* launcher = nullptr;
  std::string projectsFolder;  // parent of new projects, ends with the separator
  // A file to open (title, initial folder, filter); "" when cancelled.
  std::function<QString(QWidget*, const QString&, const QString&, const QString&)> pickOpenFile;
  // A path to save to, preset to a path; "" when cancelled.
  std::function<QString(QWidget*, const QString&, const QString&)> pickSavePath;
};

// The Qt file dialogs, for the services a program hands in.
QString openFileDialog(QWidget* parent, const QString& title, const QString& folder, const QString& filter);
QString savePathDialog(QWidget* parent, const QString& title, const QString& preset);

}  // namespace quill
