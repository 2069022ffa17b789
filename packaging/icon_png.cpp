// Writes each image of an icon file as <out>/<N>x<N>/apps/<name>.png, the
// layout of the freedesktop icon theme "hicolor", so desktop entries can name
// the tray icon that is compiled into the program.
//   hwservice_icon_png ICON.ico OUTDIR NAME
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <cstdio>

int main(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s ICON.ico OUTDIR NAME\n", argv[0]);
    return 2;
  }
  QImageReader reader(QString::fromLocal8Bit(argv[1]));
  const QString out = QString::fromLocal8Bit(argv[2]);
  const QString name = QString::fromLocal8Bit(argv[3]);
  int written = 0;
  do {
    const QImage image = reader.read();
    if (image.isNull()) {
      std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(reader.errorString()));
      return 1;
    }
    const QString dir = QStringLiteral("%1/%2x%3/apps").arg(out).arg(image.width()).arg(image.height());
    if (!QDir().mkpath(dir) || !image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"))) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(dir));
      return 1;
    }
    ++written;
  } while (reader.jumpToNextImage());
  std::printf("%d images\n", written);
  return written > 0 ? 0 : 1;
}
