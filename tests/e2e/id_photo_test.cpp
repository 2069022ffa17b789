// DKQ0005 with the holder's photo, on the real stack and the virtual
// reader: "Photo":"1" adds the decoded image as a PNG data URL and the
// record as read; any other value leaves the reply as it always was; a
// record that does not decode still gives the texts.
#include <QByteArray>
#include <QImage>

#include "facet.h"
#include "vreader_service.h"

namespace e2e {
namespace {

enum class Road { Http, WebSocket };

class IdPhoto : public ServiceOnVreader {
 protected:
  std::string Call(Road road, const std::string &request) {
    if (road == Road::WebSocket) return WsCall(request);
    const std::string reply = HttpCall(request);
    const size_t body = reply.find("\n\n");
    if (body == std::string::npos) return "";
    std::string text = reply.substr(body + 2);
    if (reply != HttpOk(text.substr(0, text.size() - 1))) return "<not the service's HTTP reply>";
    return text.substr(0, text.size() - 1);
  }
  Fields Person() {
    const Json::Value &id = Card("id_li");
    return {{"Activity", id["start"].asString()}, {"Address", id["address"].asString()},
            {"Born", id["birth"].asString()},     {"CardNo", id["number"].asString()},
            {"Name", id["name"].asString()},      {"Police", id["authority"].asString()}};
  }
};

QByteArray Record(const std::string &base64) { return QByteArray::fromBase64(QByteArray::fromStdString(base64)); }

// The decoder's image of a record (rows bottom first, R G B), or its result.
int Decode(const QByteArray &record, std::vector<unsigned char> &rgb) {
  rgb.assign(FACET_OUT_SIZE, 0);
  return unpack(record.constData(), reinterpret_cast<unsigned long>(rgb.data()), FACET_MODE_DECODE);
}

TEST_F(IdPhoto, PhotoOneAddsTheImageAndTheRecordOtherValuesChangeNothing) {
  const std::string cardPhoto = Card("id_li")["photo"].asString();
  ASSERT_EQ(Record(cardPhoto).size(), 1024);
  std::vector<unsigned char> rgb;
  ASSERT_EQ(Decode(Record(cardPhoto), rgb), FACET_OK);
  const Fields person = Person();
  for (Road road : {Road::Http, Road::WebSocket}) {
    SCOPED_TRACE(road == Road::Http ? "HTTP" : "WebSocket");
    for (const char *other : {"0", "", "true", "01", " 1"}) {
      const Fields tran = {{"Photo", other}, {"Region", "440100"}};
      EXPECT_EQ(Call(road, Request("DKQ0005", tran)), Reply("DKQ0005", 0, "", &person, tran)) << other;
    }
    const Fields tran = {{"Photo", "1"}, {"Region", "440100"}};
    const std::string reply = Call(road, Request("DKQ0005", tran));
    Json::Value r;
    Json::CharReaderBuilder b;
    std::istringstream in(reply);
    std::string errs;
    ASSERT_TRUE(Json::parseFromStream(b, in, &r, &errs)) << reply;
    const std::string url = r["ResultData"]["Photo"].asString();
    const std::string prefix = "data:image/png;base64,";
    ASSERT_EQ(url.compare(0, prefix.size(), prefix), 0) << url.substr(0, 40);
    // Everything else byte for byte: the texts, the record as the card holds it.
    Fields data = person;
    data["Photo"] = url;
    data["PhotoRaw"] = cardPhoto;
    EXPECT_EQ(reply, Reply("DKQ0005", 0, "", &data, tran));
    // The PNG is the decoder's image, pixel for pixel.
    QImage png;
    ASSERT_TRUE(png.loadFromData(QByteArray::fromBase64(QByteArray::fromStdString(url.substr(prefix.size()))), "PNG"));
    ASSERT_EQ(png.width(), 102);
    ASSERT_EQ(png.height(), 126);
    int differing = 0;
    for (int y = 0; y < 126; ++y)
      for (int x = 0; x < 102; ++x) {
        const unsigned char *px = &rgb[(size_t(125 - y) * 102 + size_t(x)) * 3];
        differing += png.pixel(x, y) != qRgb(px[0], px[1], px[2]);
      }
    EXPECT_EQ(differing, 0);
  }
}

TEST_F(IdPhoto, UndecodableRecordGivesPhotoErrorAndTheTexts) {
  // The demo profile with a card whose record no mask makes sense of.
  Json::Value profile = profile_;
  profile["cards"]["id_li"]["photo"] = std::string(QByteArray(1024, '\0').toBase64().constData());
  std::vector<unsigned char> rgb;
  const int rc = Decode(QByteArray(1024, '\0'), rgb);
  ASSERT_LT(rc, 0);
  const std::string path = tmp_.path() + "/bad-photo.json";
  hwtest::WriteFile(path, Json::writeString(Json::StreamWriterBuilder(), profile));
  ASSERT_EQ(ctl("load " + path), "OK");
  Fields data = Person();
  data["Photo"] = "";
  data["PhotoError"] = std::to_string(rc);
  data["PhotoRaw"] = profile["cards"]["id_li"]["photo"].asString();
  const Fields tran = {{"Photo", "1"}, {"Region", "440100"}};
  EXPECT_EQ(Call(Road::Http, Request("DKQ0005", tran)), Reply("DKQ0005", 0, "", &data, tran));
  EXPECT_EQ(Call(Road::WebSocket, Request("DKQ0005", tran)), Reply("DKQ0005", 0, "", &data, tran));
  // No card: the read's own failure, no photo members.
  ASSERT_EQ(ctl("remove idcard"), "OK");
  EXPECT_EQ(Call(Road::Http, Request("DKQ0005", tran)), Reply("DKQ0005", -2, "读取身份证失败!", nullptr, tran));
}

}  // namespace
}  // namespace e2e
