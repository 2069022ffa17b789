// The tray window: version and request addresses, the tray icon and its menu.
#ifndef HWSERVICE_MAINWINDOW_H
#define HWSERVICE_MAINWINDOW_H

#include <QMainWindow>
#include <QString>
#include <QSystemTrayIcon>
#include <memory>

class QAction;
class QMenu;

namespace Ui {
class MainWindow;
}

// Where the test page ships: below the program's directory appDir.
QString TestPagePath(const QString &appDir);
// Opens page in Firefox, started directly (no shell) and not waited for.
// false when the browser could not be started.
bool LaunchBrowser(const QString &page);

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget *parent = nullptr);
  ~MainWindow() override;

 public slots:
  void Open_TestWeb();

 private slots:
  void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);

 private:
  Ui::MainWindow *ui;
  QSystemTrayIcon *m_tray;
  std::unique_ptr<QMenu> m_menu;  // a menu has no parent; the window owns it
  QAction *m_openWeb;
  QAction *m_about;
  QAction *m_quit;
};

#endif
