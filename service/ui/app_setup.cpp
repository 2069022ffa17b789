#include "app_setup.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSharedMemory>
#include <QSocketNotifier>
#include <QWidget>
#include <cstdio>

const char kRunningFlagKey[] = "_PROGRAM_RUNNING_FLAG";

void UseOffscreenWithoutDisplay() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
}

bool AnotherInstanceRunning(QSharedMemory &flag) {
  if (flag.attach(QSharedMemory::ReadWrite)) {
    flag.detach();
    if (flag.attach(QSharedMemory::ReadWrite)) return true;
  }
  flag.create(1, QSharedMemory::ReadWrite);
  return false;
}

void ReportAlreadyRunning() {
  const QString text = QStringLiteral("Qmx硬件服务主程序已启动!");
  const QString platform = QGuiApplication::platformName();
  // A box on a platform nobody can see would wait forever for its OK.
  if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
    printf("%s\n", text.toUtf8().constData());
    fflush(stdout);
    return;
  }
  QMessageBox::warning(nullptr, QStringLiteral("Warning"), text, QMessageBox::Ok);
}

void CentreOnDesktop(QWidget &w) {
  // The whole desktop: all screens together, as the desktop widget spans them.
  const QScreen *screen = QGuiApplication::primaryScreen();
  const QRect desktop = screen != nullptr ? screen->virtualGeometry() : QRect();
  w.move((desktop.width() - w.width()) / 2, (desktop.height() - w.height()) / 2);
}

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  ssize_t n = write(g_signalPipe[1], &byte, 1);  // async-signal-safe
  (void)n;
}

}  // namespace

void QuitOnTerminationSignals() {
  if (g_signalPipe[0] >= 0 || pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, qApp);
  QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
    char buf[16];
    while (read(g_signalPipe[0], buf, sizeof buf) > 0) {
    }
    QCoreApplication::quit();
  });
  struct sigaction sa = {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
}
