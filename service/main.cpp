// hwservice: the card-reader service in the desktop's tray. One instance per
// machine; the server thread answers on TCP port 7776 while the GUI thread
// runs the tray.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QSharedMemory>
#include <chrono>
#include <cstdio>
#include <string>

#include "app_setup.h"
#include "daemon.h"
#include "mainwindow.h"
#include "policy/service_policy.h"
#include "svc_log.h"

namespace {

// Every client holds a descriptor and desktop sessions start programs with a
// soft limit of 1024; the poll loop has no such bound, so take what the hard
// limit allows.
void RaiseDescriptorLimit() {
  rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
    rl.rlim_cur = rl.rlim_max;
    setrlimit(RLIMIT_NOFILE, &rl);
  }
}

}  // namespace

int main(int argc, char *argv[]) {
  // A log reader that has gone (hwservice | head, a restarted collector)
  // must not end the service; writes then just fail.
  signal(SIGPIPE, SIG_IGN);
  RaiseDescriptorLimit();
  // An administrator's policy that cannot be applied must not leave the door open.
  std::string policyError;
  if (!LoadServicePolicy(&policyError)) {
    fprintf(stderr, "hwservice: %s; not started\n", policyError.c_str());
    return 1;
  }
  UseOffscreenWithoutDisplay();
  QApplication app(argc, argv);

  QSharedMemory flag(QString::fromLatin1(kRunningFlagKey));
  if (AnotherInstanceRunning(flag)) {
    ReportAlreadyRunning();
    return 0;
  }

  MainWindow w;
  CentreOnDesktop(w);
  QuitOnTerminationSignals();
  StartDaemonThread();

  const int rc = app.exec();
  // The server thread notices the stop within one poll pass; one still inside
  // a card operation is not waited for: the process ends at once, and the
  // kernel frees port 7776 either way.
  if (!StopDaemon(std::chrono::milliseconds(500))) {
    flag.detach();
    SvcLogFlush(100);
    fflush(stdout);
    _exit(rc);
  }
  SvcLogFlush(500);
  return rc;
}
