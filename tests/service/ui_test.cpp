// The tray window under Qt's offscreen platform: form, icon, tray menu,
// show/hide behaviour, the test-page launcher and the start-up helpers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDesktopWidget>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSharedMemory>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QTranslator>
#include <chrono>
#include <set>
#include <thread>

#include "app_setup.h"
#include "hw_harness.h"
#include "mainwindow.h"

namespace {

QApplication &App() {
  static int argc = 1;
  static char name[] = "service_ui_test";
  static char *argv[] = {name, nullptr};
  static QApplication *app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
  }();
  return *app;
}

class UiTest : public testing::Test {
 protected:
  void SetUp() override { App(); }
};

TEST_F(UiTest, FormHasItsObjectsGeometryAndTexts) {
  MainWindow w;
  EXPECT_EQ(w.objectName(), "MainWindow");
  EXPECT_EQ(w.size(), QSize(499, 260));
  EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Qmx硬件服务程序"));
  ASSERT_NE(w.centralWidget(), nullptr);
  EXPECT_EQ(w.centralWidget()->objectName(), "centralWidget");
  struct {
    const char *name;
    QRect geometry;
    const char *text;
  } labels[] = {
      {"label", QRect(70, 20, 261, 23), "软件版本:                 1.0.0.1"},
      {"label_2", QRect(70, 70, 371, 23), "Http请求地址:       http://127.0.0.1:7776/http/hardware"},
      {"label_3", QRect(70, 110, 371, 23), "Websocket请求地址:      ws://127.0.0.1:7776"},
  };
  for (const auto &l : labels) {
    SCOPED_TRACE(l.name);
    auto *label = w.findChild<QLabel *>(l.name);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->parentWidget(), w.centralWidget());
    EXPECT_EQ(label->geometry(), l.geometry);
    EXPECT_EQ(label->text(), QString::fromUtf8(l.text));
  }
  EXPECT_EQ(w.findChildren<QLabel *>().size(), 3);
  ASSERT_NE(w.menuBar(), nullptr);
  EXPECT_EQ(w.menuBar()->objectName(), "menuBar");
  EXPECT_EQ(w.menuBar()->geometry(), QRect(0, 0, 499, 29));
  EXPECT_TRUE(w.menuBar()->actions().isEmpty());
  auto *toolBar = w.findChild<QToolBar *>("mainToolBar");
  ASSERT_NE(toolBar, nullptr);
  EXPECT_EQ(w.toolBarArea(toolBar), Qt::TopToolBarArea);
  EXPECT_TRUE(toolBar->actions().isEmpty());
  ASSERT_NE(w.statusBar(), nullptr);
  EXPECT_EQ(w.statusBar()->objectName(), "statusBar");
}

// Records the texts looked up for translation, by context.
class RecordingTranslator : public QTranslator {
 public:
  std::set<std::pair<QString, QString>> seen;
  QString translate(const char *context, const char *source, const char *, int) const override {
    const_cast<RecordingTranslator *>(this)->seen.insert({QString::fromUtf8(context), QString::fromUtf8(source)});
    return QString();
  }
  bool isEmpty() const override { return false; }
};

TEST_F(UiTest, TextsGoThroughTranslationInTheMainWindowContext) {
  RecordingTranslator tr;
  QCoreApplication::installTranslator(&tr);
  { MainWindow w; }
  QCoreApplication::removeTranslator(&tr);
  for (const char *text : {"Qmx硬件服务程序", "软件版本:                 1.0.0.1",
                           "Http请求地址:       http://127.0.0.1:7776/http/hardware",
                           "Websocket请求地址:      ws://127.0.0.1:7776", "打开测试网页", "关于", "退出"})
    EXPECT_EQ(tr.seen.count({"MainWindow", QString::fromUtf8(text)}), 1u) << text;
}

TEST_F(UiTest, IconComesFromTheResourceInSeveralSizes) {
  QIcon icon(":/icon/icon.ico");
  EXPECT_FALSE(icon.isNull());
  const auto sizes = icon.availableSizes();
  EXPECT_TRUE(sizes.contains(QSize(16, 16)));
  EXPECT_TRUE(sizes.contains(QSize(32, 32)));
  EXPECT_TRUE(sizes.contains(QSize(48, 48)));
  MainWindow w;
  EXPECT_FALSE(w.windowIcon().isNull());
  auto *tray = w.findChild<QSystemTrayIcon *>();
  ASSERT_NE(tray, nullptr);
  EXPECT_FALSE(tray->icon().isNull());
  EXPECT_EQ(tray->icon().availableSizes(), sizes);
}

TEST_F(UiTest, TrayIconIsVisibleWithToolTipAndMenuInOrder) {
  QApplication::setQuitOnLastWindowClosed(true);
  MainWindow w;
  EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
  EXPECT_FALSE(w.isVisible());
  auto *tray = w.findChild<QSystemTrayIcon *>();
  ASSERT_NE(tray, nullptr);
  EXPECT_EQ(tray->parent(), &w);
  EXPECT_TRUE(tray->isVisible());
  EXPECT_EQ(tray->toolTip(), QString::fromUtf8("Qmx硬件服务程序"));
  QMenu *menu = tray->contextMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->parent(), nullptr);
  const auto actions = menu->actions();
  ASSERT_EQ(actions.size(), 4);
  EXPECT_EQ(actions[0]->text(), QString::fromUtf8("打开测试网页"));
  EXPECT_EQ(actions[1]->text(), QString::fromUtf8("关于"));
  EXPECT_TRUE(actions[2]->isSeparator());
  EXPECT_EQ(actions[3]->text(), QString::fromUtf8("退出"));
  for (int i : {0, 1, 3}) EXPECT_EQ(actions[i]->parent(), &w);
}

TEST_F(UiTest, AboutAndASingleClickShowTheWindowOtherClicksDoNot) {
  MainWindow w;
  auto *tray = w.findChild<QSystemTrayIcon *>();
  ASSERT_NE(tray, nullptr);
  for (auto reason : {QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick}) {
    emit tray->activated(reason);
    EXPECT_FALSE(w.isVisible()) << reason;
  }
  emit tray->activated(QSystemTrayIcon::Trigger);
  EXPECT_TRUE(w.isVisible());
  w.close();
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(tray->isVisible());  // closing only hides the window
  w.showMinimized();
  tray->contextMenu()->actions()[1]->trigger();
  EXPECT_TRUE(w.isVisible());
  EXPECT_FALSE(w.isMinimized());
}

TEST_F(UiTest, QuitEntryEndsTheEventLoop) {
  MainWindow w;
  auto *tray = w.findChild<QSystemTrayIcon *>();
  ASSERT_NE(tray, nullptr);
  QAction *quit = tray->contextMenu()->actions()[3];
  QTimer::singleShot(0, quit, &QAction::trigger);
  QTimer::singleShot(3000, [] { QCoreApplication::exit(7); });  // only if quitting fails
  EXPECT_EQ(QApplication::exec(), 0);
}

TEST_F(UiTest, CentringUsesTheDesktopAndWindowSize) {
  MainWindow w;
  CentreOnDesktop(w);
  const QWidget *desktop = QApplication::desktop();
  EXPECT_EQ(w.pos(), QPoint((desktop->width() - 499) / 2, (desktop->height() - 260) / 2));
  w.resize(101, 51);
  CentreOnDesktop(w);
  EXPECT_EQ(w.pos(), QPoint((desktop->width() - 101) / 2, (desktop->height() - 51) / 2));
}

TEST(TestPage, PathIsBelowTheProgramDirectory) {
  EXPECT_EQ(TestPagePath("/opt/qmx"), QString::fromUtf8("/opt/qmx/测试网页及脚本/GPY/index.html"));
  EXPECT_EQ(TestPagePath("/a b/$(x)"), QString::fromUtf8("/a b/$(x)/测试网页及脚本/GPY/index.html"));
}

// A "firefox" on PATH that writes its arguments, one per line, to a file.
class FakeBrowser {
 public:
  FakeBrowser() : oldPath_(qgetenv("PATH")) {
    const std::string script = "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" +
                               dir_.path() + "/args.tmp\"\nmv \"" + dir_.path() + "/args.tmp\" \"" +
                               dir_.path() + "/args\"\n";
    hwtest::WriteFile(dir_.path() + "/firefox", script);
    chmod((dir_.path() + "/firefox").c_str(), 0755);
    qputenv("PATH", QByteArray::fromStdString(dir_.path()) + ":" + oldPath_);
  }
  ~FakeBrowser() { qputenv("PATH", oldPath_); }
  // The arguments, once the browser has run (bounded wait).
  std::string Args() {
    for (int i = 0; i < 250; i++) {
      std::string a = hwtest::ReadFile(dir_.path() + "/args");
      if (!a.empty()) return a;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "";
  }
  const std::string &dir() const { return dir_.path(); }

 private:
  hwtest::TempDir dir_;
  QByteArray oldPath_;
};

TEST(TestPage, BrowserGetsThePathAsOneArgumentWithoutAShell) {
  App();
  FakeBrowser browser;
  const std::string marker = browser.dir() + "/injected";
  const std::string page = "/srv/my dir/$(touch " + marker + ");touch " + marker + "/index.html";
  ASSERT_TRUE(LaunchBrowser(QString::fromStdString(page)));
  EXPECT_EQ(browser.Args(), page + "\n");
  EXPECT_NE(access(marker.c_str(), F_OK), 0);
}

TEST(TestPage, MenuEntryOpensThePageBesideTheProgram) {
  App();
  FakeBrowser browser;
  MainWindow w;
  auto *tray = w.findChild<QSystemTrayIcon *>();
  ASSERT_NE(tray, nullptr);
  tray->contextMenu()->actions()[0]->trigger();
  EXPECT_EQ(browser.Args(), (QCoreApplication::applicationDirPath() +
                             QString::fromUtf8("/测试网页及脚本/GPY/index.html\n")).toStdString());
}

TEST(TestPage, MissingBrowserIsReportedAndHarmless) {
  App();
  const QByteArray oldPath = qgetenv("PATH");
  hwtest::TempDir empty;
  qputenv("PATH", QByteArray::fromStdString(empty.path()));
  EXPECT_FALSE(LaunchBrowser("/nowhere/index.html"));
  MainWindow w;
  testing::internal::CaptureStdout();
  w.Open_TestWeb();
  const std::string out = testing::internal::GetCapturedStdout();
  qputenv("PATH", oldPath);
  EXPECT_NE(out.find("cannot start firefox"), std::string::npos) << out;
}

TEST(StartUp, OffscreenOnlyWithoutDisplayAndChosenPlatform) {
  const QByteArray saved[3] = {qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"), qgetenv("WAYLAND_DISPLAY")};
  auto set = [](const char *platform, const char *display, const char *wayland) {
    platform ? qputenv("QT_QPA_PLATFORM", platform) : qunsetenv("QT_QPA_PLATFORM");
    display ? qputenv("DISPLAY", display) : qunsetenv("DISPLAY");
    wayland ? qputenv("WAYLAND_DISPLAY", wayland) : qunsetenv("WAYLAND_DISPLAY");
    UseOffscreenWithoutDisplay();
    return qgetenv("QT_QPA_PLATFORM");
  };
  EXPECT_EQ(set(nullptr, nullptr, nullptr), "offscreen");
  EXPECT_EQ(set(nullptr, ":0", nullptr), "");
  EXPECT_EQ(set(nullptr, nullptr, "wayland-0"), "");
  EXPECT_EQ(set("minimal", nullptr, nullptr), "minimal");
  qputenv("QT_QPA_PLATFORM", saved[0]);
  qputenv("DISPLAY", saved[1]);
  qputenv("WAYLAND_DISPLAY", saved[2]);
}

TEST_F(UiTest, RunningFlagIsFoundWhileHeldAndFreedAfterwards) {
  const QString key = QString("hwservice_ui_test_%1").arg(getpid());
  auto first = std::make_unique<QSharedMemory>(key);
  EXPECT_FALSE(AnotherInstanceRunning(*first));
  EXPECT_TRUE(first->isAttached());
  EXPECT_EQ(first->size(), 1);
  {
    QSharedMemory second(key);
    EXPECT_TRUE(AnotherInstanceRunning(second));
  }
  first.reset();
  QSharedMemory third(key);
  EXPECT_FALSE(AnotherInstanceRunning(third));
}

TEST_F(UiTest, AlreadyRunningIsPrintedWhenNoBoxCanBeSeen) {
  testing::internal::CaptureStdout();
  ReportAlreadyRunning();  // offscreen: no modal box that nobody could close
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Qmx硬件服务主程序已启动!\n");
}

}  // namespace
