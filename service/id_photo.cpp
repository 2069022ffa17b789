#include "id_photo.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <cstring>
#include <string>
#include <vector>

#include "facet.h"

namespace {

// Decoded rows come bottom row first, 3 bytes per pixel without padding;
// QImage rows are top first and padded to 4 bytes.
QByteArray EncodePng(const unsigned char *rgb) {
  QImage image(int(FACET_WIDTH), int(FACET_HEIGHT), QImage::Format_RGB888);
  const size_t row = FACET_WIDTH * 3;
  for (int y = 0; y < int(FACET_HEIGHT); ++y)
    std::memcpy(image.scanLine(y), rgb + (FACET_HEIGHT - 1 - unsigned(y)) * row, row);
  QByteArray png;
  QBuffer out(&png);
  out.open(QIODevice::WriteOnly);
  // Quality 80 is zlib level 1: a third of the default level's time for a
  // file 7 % larger (about 9 kB).
  if (!image.save(&out, "PNG", 80)) png.clear();
  return png;
}

std::string Text(const QByteArray &b) { return std::string(b.constData(), size_t(b.size())); }

}  // namespace

void AddIdPhoto(const unsigned char *record, int len, Json::Value &data) {
  const int n = len < 0 ? 0 : len > int(FACET_RECORD_SIZE) ? int(FACET_RECORD_SIZE) : len;
  data["PhotoRaw"] = Text(QByteArray::fromRawData(reinterpret_cast<const char *>(record), n).toBase64());
  // The decoder always reads a whole record: a shorter one is padded with zeros.
  char whole[FACET_RECORD_SIZE] = {0};
  std::memcpy(whole, record, size_t(n));
  std::vector<unsigned char> rgb(FACET_OUT_SIZE);
  const int rc = unpack(whole, reinterpret_cast<unsigned long>(rgb.data()), FACET_MODE_DECODE);
  QByteArray png = rc == FACET_OK ? EncodePng(rgb.data()) : QByteArray();
  if (png.isEmpty()) {
    data["Photo"] = "";
    data["PhotoError"] = std::to_string(rc == FACET_OK ? FACET_E_MEMORY : rc);
    return;
  }
  data["Photo"] = "data:image/png;base64," + Text(png.toBase64());
}
