// Parsing of the ID-card text block and translation of its codes.
#include <cstring>
#include <string>

#include "dcrf32.h"
#include "idcard.h"
#include "textconv.h"

namespace {

using vr::IdField;

// One field, converted and cut at trailing blanks.
bool field(const unsigned char* info, IdField f, int charset, unsigned char* out) {
  if (!out) return true;
  size_t n = f.size;
  // trailing UCS-2 blanks and zeros go first, so they never reach the output
  while (n >= 2 && (info[f.off + n - 2] == 0x20 || info[f.off + n - 2] == 0x00) && info[f.off + n - 1] == 0x00) n -= 2;
  std::string s;
  bool ok = charset == 2 ? vr::text::ucs2leToUtf8(info + f.off, n, s) : vr::text::ucs2leToGbk(info + f.off, n, s);
  if (!ok) return false;
  std::memcpy(out, s.c_str(), s.size() + 1);
  return true;
}

bool validBlock(unsigned int len, const unsigned char* info) { return info && len >= vr::idtext::kTextSize; }

const char* const kNations[] = {
    "汉族", "蒙古族", "回族", "藏族", "维吾尔族", "苗族", "彝族", "壮族", "布依族", "朝鲜族",
    "满族", "侗族", "瑶族", "白族", "土家族", "哈尼族", "哈萨克族", "傣族", "黎族", "傈僳族",
    "佤族", "畲族", "高山族", "拉祜族", "水族", "东乡族", "纳西族", "景颇族", "柯尔克孜族", "土族",
    "达斡尔族", "仫佬族", "羌族", "布朗族", "撒拉族", "毛南族", "仡佬族", "锡伯族", "阿昌族", "普米族",
    "塔吉克族", "怒族", "乌孜别克族", "俄罗斯族", "鄂温克族", "德昂族", "保安族", "裕固族", "京族", "塔塔尔族",
    "独龙族", "鄂伦春族", "赫哲族", "门巴族", "珞巴族", "基诺族"};

const struct {
  const char* code;
  const char* name;
} kCountries[] = {{"CHN", "中国"},   {"USA", "美国"},     {"GBR", "英国"},   {"JPN", "日本"},
                  {"KOR", "韩国"},   {"DEU", "德国"},     {"FRA", "法国"},   {"CAN", "加拿大"},
                  {"AUS", "澳大利亚"}, {"RUS", "俄罗斯"}, {"SGP", "新加坡"}, {"ITA", "意大利"}};

}  // namespace

extern "C" {

short dc_ParseTextInfo(int, int charset, unsigned int info_len, unsigned char* info, unsigned char* name,
                       unsigned char* sex, unsigned char* nation, unsigned char* birth_day, unsigned char* address,
                       unsigned char* id_number, unsigned char* department, unsigned char* expire_start_day,
                       unsigned char* expire_end_day, unsigned char*) {
  using namespace vr::idtext;
  if (!validBlock(info_len, info)) return DC_ERR_ARG;
  bool ok = field(info, kName, charset, name) && field(info, kSex, charset, sex) &&
            field(info, kNation, charset, nation) && field(info, kBirth, charset, birth_day) &&
            field(info, kAddress, charset, address) && field(info, kNumber, charset, id_number) &&
            field(info, kAuthority, charset, department) && field(info, kStart, charset, expire_start_day) &&
            field(info, kEnd, charset, expire_end_day);
  return ok ? 0 : DC_ERR_ARG;
}

short dc_ParseTextInfoForForeigner(int, int charset, unsigned int info_len, unsigned char* info,
                                   unsigned char* english_name, unsigned char* sex, unsigned char* id_number,
                                   unsigned char* citizenship, unsigned char* chinese_name,
                                   unsigned char* expire_start_day, unsigned char* expire_end_day,
                                   unsigned char* birth_day, unsigned char* version_number,
                                   unsigned char* department_code, unsigned char* type_sign, unsigned char*) {
  using namespace vr::idtext;
  if (!validBlock(info_len, info)) return DC_ERR_ARG;
  bool ok = field(info, kFEnName, charset, english_name) && field(info, kFSex, charset, sex) &&
            field(info, kFNumber, charset, id_number) && field(info, kFCountry, charset, citizenship) &&
            field(info, kFCnName, charset, chinese_name) && field(info, kFStart, charset, expire_start_day) &&
            field(info, kFEnd, charset, expire_end_day) && field(info, kFBirth, charset, birth_day) &&
            field(info, kFVersion, charset, version_number) &&
            field(info, kFAuthority, charset, department_code) &&
            field(info, IdField{kTypeOffset, 2}, charset, type_sign);
  return ok ? 0 : DC_ERR_ARG;
}

short dc_ParseTextInfoForHkMoTw(int, int charset, unsigned int info_len, unsigned char* info, unsigned char* name,
                                unsigned char* sex, unsigned char* birth_day, unsigned char* address,
                                unsigned char* id_number, unsigned char* department, unsigned char* expire_start_day,
                                unsigned char* expire_end_day, unsigned char* pass_number, unsigned char* sign_count,
                                unsigned char* type_sign, unsigned char*) {
  using namespace vr::idtext;
  if (!validBlock(info_len, info)) return DC_ERR_ARG;
  bool ok = field(info, kName, charset, name) && field(info, kSex, charset, sex) &&
            field(info, kBirth, charset, birth_day) && field(info, kAddress, charset, address) &&
            field(info, kNumber, charset, id_number) && field(info, kAuthority, charset, department) &&
            field(info, kStart, charset, expire_start_day) && field(info, kEnd, charset, expire_end_day) &&
            field(info, kHPass, charset, pass_number) && field(info, kHCount, charset, sign_count) &&
            field(info, IdField{kTypeOffset, 2}, charset, type_sign);
  return ok ? 0 : DC_ERR_ARG;
}

short dc_ParseOtherInfo(int, int flag, unsigned char* in_info, unsigned char* out_info) {
  if (!in_info || !out_info) return DC_ERR_ARG;
  std::string in(reinterpret_cast<const char*>(in_info), strnlen(reinterpret_cast<const char*>(in_info), 16));
  const char* name = nullptr;
  if (flag == 32) {
    if (in == "0") name = "未知";
    else if (in == "1") name = "男";
    else if (in == "2") name = "女";
    else if (in == "9") name = "未说明";
  } else if (flag == 33) {
    if (in.size() == 2 && isdigit(static_cast<unsigned char>(in[0])) && isdigit(static_cast<unsigned char>(in[1]))) {
      int code = std::stoi(in);
      if (code >= 1 && code <= 56) name = kNations[code - 1];
      else if (code == 97) name = "其他";
      else if (code == 98) name = "外国血统中国人士";
    }
  } else if (flag == 34) {
    if (in.size() != 3) return DC_ERR_ARG;
    name = in.c_str();
    for (auto& c : kCountries)
      if (in == c.code) name = c.name;
  }
  if (!name) return DC_ERR_ARG;
  std::strcpy(reinterpret_cast<char*>(out_info), name);
  return 0;
}

}  // extern "C"
