// The platform list goes to Qt as the -platform argument rather than through
// the environment, so that programs started from quillant (the desktop's
// opener) do not inherit it. Qt keeps pointers to argc and argv, which
// therefore live as long as the program.
#include "generator/app/window_system.h"

#include <QByteArray>
#include <QtGlobal>
#include <cstdlib>
#include <cstring>

namespace quill {

namespace {

QtMessageHandler g_previousHandler = nullptr;

void keepBackDisplayMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (context.category && std::strncmp(context.category, "qt.qpa", 6) == 0) return;
  if (g_previousHandler) g_previousHandler(type, context, message);
}

// The platforms to try, or nothing when the user chose one.
QByteArray platformsToTry() {
  if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return {};
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
  if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) return "wayland;xcb;offscreen";
  return "xcb;offscreen";
#else
  return {};
#endif
}

}  // namespace

WindowSystem startWindowSystem(const char* programName) {
  static QByteArray platforms = platformsToTry();
  static char name[256];
  static char platformOption[] = "-platform";
  static char* argv[] = {name, platformOption, platforms.data(), nullptr};
  static int argc = platforms.isEmpty() ? 1 : 3;
  std::strncpy(name, programName, sizeof name - 1);

  WindowSystem ws;
  g_previousHandler = qInstallMessageHandler(keepBackDisplayMessages);
  ws.app = std::make_unique<QApplication>(argc, argv);
  qInstallMessageHandler(g_previousHandler);
  ws.displayReached = platforms.isEmpty() || QGuiApplication::platformName() != "offscreen";
  return ws;
}

}  // namespace quill
