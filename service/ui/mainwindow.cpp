#include "mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QProcess>
#include <QStringList>
#include <cstdio>

#include "ui_mainwindow.h"

QString TestPagePath(const QString &appDir) {
  return appDir + QStringLiteral("/测试网页及脚本/GPY/index.html");
}

bool LaunchBrowser(const QString &page) {
  // The page path goes to the browser as one argument: blanks or shell
  // characters in the program's directory are just part of the path.
  return QProcess::startDetached(QStringLiteral("firefox"), QStringList{page});
}

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindow) {
  ui->setupUi(this);
  const QIcon icon(QStringLiteral(":/icon/icon.ico"));
  setWindowIcon(icon);
  QApplication::setQuitOnLastWindowClosed(false);

  m_tray = new QSystemTrayIcon(icon, this);
  m_menu = std::make_unique<QMenu>();
  m_openWeb = new QAction(tr("打开测试网页"), this);
  m_about = new QAction(tr("关于"), this);
  m_quit = new QAction(tr("退出"), this);
  m_menu->addAction(m_openWeb);
  m_menu->addAction(m_about);
  m_menu->addSeparator();
  m_menu->addAction(m_quit);
  m_tray->setContextMenu(m_menu.get());

  connect(m_openWeb, &QAction::triggered, this, &MainWindow::Open_TestWeb);
  connect(m_about, &QAction::triggered, this, &QWidget::showNormal);
  // Quitting ends the event loop; main then stops the server thread, which
  // closes port 7776, and removes the running flag.
  connect(m_quit, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  connect(m_tray, &QSystemTrayIcon::activated, this, &MainWindow::OnTrayActivated);

  m_tray->setVisible(true);
  m_tray->setToolTip(tr("Qmx硬件服务程序"));
}

MainWindow::~MainWindow() {
  m_tray->setContextMenu(nullptr);
  delete ui;
}

void MainWindow::Open_TestWeb() {
  const QString page = TestPagePath(QCoreApplication::applicationDirPath());
  if (!LaunchBrowser(page)) {
    printf("\r\ncannot start firefox for %s\r\n", page.toUtf8().constData());
    fflush(stdout);
  }
}

void MainWindow::OnTrayActivated(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::Trigger) showNormal();
}
