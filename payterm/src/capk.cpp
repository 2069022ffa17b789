// CA public-key table: the built-in UnionPay keys and "emv/CAPK.txt".
#include "capk.h"

#include <openssl/evp.h>
#include <stdio.h>
#include <string.h>

#include "hexconv.h"
#include "payterm.h"

namespace payterm {

namespace {

// RID A000000333, indexes 03, 08, 09 and 0A (hash SHA-1, RSA). The lists
// that publish them disagree on expiry dates; these are the latest seen.
const CapkText kBuiltin[] = {
    {"A000000333", "03", "01", "01",
     "B0627DEE87864F9C18C13B9A1F025448BF13C58380C91F4CEBA9F9BCB214FF84"
     "14E9B59D6ABA10F941C7331768F47B2127907D857FA39AAF8CE02045DD01619D"
     "689EE731C551159BE7EB2D51A372FF56B556E5CB2FDE36E23073A44CA215D6C2"
     "6CA68847B388E39520E0026E62294B557D6470440CA0AEFC9438C923AEC9B209"
     "8D6D3A1AF5E8B1DE36F4B53040109D89B77CAFAF70C26C601ABDF59EEC0FDC8A"
     "99089140CD2E817E335175B03B7AA33D",
     "03", "20241231", "87F0CD7C0E86F38F89A66F8C47071A8B88586F26"},
    {"A000000333", "08", "01", "01",
     "B61645EDFD5498FB246444037A0FA18C0F101EBD8EFA54573CE6E6A7FBF63ED2"
     "1D66340852B0211CF5EEF6A1CD989F66AF21A8EB19DBD8DBC3706D135363A0D6"
     "83D046304F5A836BC1BC632821AFE7A2F75DA3C50AC74C545A75456220413716"
     "9663CFCC0B06E67E2109EBA41BC67FF20CC8AC80D7B6EE1A95465B3B2657533E"
     "A56D92D539E5064360EA4850FED2D1BF",
     "03", "20301231", "EE23B616C95C02652AD18860E48787C079E8E85A"},
    {"A000000333", "09", "01", "01",
     "EB374DFC5A96B71D2863875EDA2EAFB96B1B439D3ECE0B1826A2672EEEFA7990"
     "286776F8BD989A15141A75C384DFC14FEF9243AAB32707659BE9E4797A247C2F"
     "0B6D99372F384AF62FE23BC54BCDC57A9ACD1D5585C303F201EF4E8B806AFB80"
     "9DB1A3DB1CD112AC884F164A67B99C7D6E5A8A6DF1D3CAE6D7ED3D5BE725B2DE"
     "4ADE23FA679BF4EB15A93D8A6E29C7FFA1A70DE2E54F593D908A3BF9EBBD760B"
     "BFDC8DB8B54497E6C5BE0E4A4DAC29E5",
     "03", "20301231", "A075306EAB0045BAF72CDD33B3B678779DE1F527"},
    {"A000000333", "0A", "01", "01",
     "B2AB1B6E9AC55A75ADFD5BBC34490E53C4C3381F34E60E7FAC21CC2B26DD3446"
     "2B64A6FAE2495ED1DD383B8138BEA100FF9B7A111817E7B9869A9742B19E5C9D"
     "AC56F8B8827F11B05A08ECCF9E8D5E85B0F7CFA644EFF3E9B796688F38E006DE"
     "B21E101C01028903A06023AC5AAB8635F8E307A53AC742BDCE6A283F585F48EF",
     "03", "20301231", "C88BE6B2417C4F941C9371EA35A377158767E4E3"},
};

bool hex_field(const char* text, uint8_t* out, size_t min, size_t max, size_t* n) {
  size_t len = strlen(text);
  if (len % 2 != 0 || len / 2 < min || len / 2 > max) return false;
  if (!from_hex(text, len / 2, out)) return false;
  if (n != nullptr) *n = len / 2;
  return true;
}

}  // namespace

bool capk_check_value_ok(const Capk& k) {
  uint8_t digest[20];
  unsigned int n = 0;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  bool ok = ctx != nullptr && EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr) == 1 &&
            EVP_DigestUpdate(ctx, k.rid, 5) == 1 && EVP_DigestUpdate(ctx, &k.index, 1) == 1 &&
            EVP_DigestUpdate(ctx, k.modulus, k.modLen) == 1 &&
            EVP_DigestUpdate(ctx, k.exponent, k.expLen) == 1 &&
            EVP_DigestFinal_ex(ctx, digest, &n) == 1 && n == 20;
  EVP_MD_CTX_free(ctx);
  return ok && memcmp(digest, k.checksum, 20) == 0;
}

bool capk_from_text(const char* rid, const char* index, const char* hashInd,
                    const char* arithInd, const char* modulus, const char* exponent,
                    const char* expiry, const char* checksum, Capk* out) {
  Capk k;
  memset(&k, 0, sizeof k);
  size_t n = 0;
  if (!hex_field(rid, k.rid, 5, 5, nullptr) || !hex_field(index, &k.index, 1, 1, nullptr) ||
      !hex_field(hashInd, &k.hashInd, 1, 1, nullptr) ||
      !hex_field(arithInd, &k.arithInd, 1, 1, nullptr) ||
      !hex_field(checksum, k.checksum, 20, 20, nullptr))
    return false;
  if (!hex_field(modulus, k.modulus, 1, sizeof k.modulus, &n)) return false;
  k.modLen = static_cast<uint8_t>(n);
  if (!hex_field(exponent, k.exponent, 1, sizeof k.exponent, &n)) return false;
  k.expLen = static_cast<uint8_t>(n);
  if (strlen(expiry) != 8 || strspn(expiry, "0123456789") != 8) return false;
  from_hex(expiry, 4, k.expiry);
  *out = k;
  return true;
}

int CapkTable::load_rows(const CapkText* rows, int n) {
  for (int i = 0; i < n; ++i) {
    const CapkText& r = rows[i];
    Capk k;
    if (!capk_from_text(r.rid, r.index, r.hashInd, r.arithInd, r.modulus, r.exponent, r.expiry,
                        r.checksum, &k) ||
        !add(k)) {
      stopped_ = true;
      break;
    }
  }
  return count_;
}

bool CapkTable::add(const Capk& k) {
  if (!capk_check_value_ok(k)) {
    char name[13];
    to_hex(k.rid, 5, name);
    to_hex(&k.index, 1, name + 10);
    name[12] = '\0';
    d_printf("%s 认证中心公钥非法\n", name);
    return false;
  }
  if (count_ >= kCapkMax) return false;
  keys_[count_++] = k;
  return true;
}

int CapkTable::load(const char* file) {
  count_ = 0;
  stopped_ = false;
  load_rows(kBuiltin, static_cast<int>(sizeof kBuiltin / sizeof kBuiltin[0]));
  if (file == nullptr) return count_;
  for (int i = 1; !stopped_ && count_ < kCapkMax; ++i) {
    char section[16];
    snprintf(section, sizeof section, "CAPK%d", i);
    static const char* const kColumns[8] = {"RID",      "CAPKI",    "HashInd",    "ArithInd",
                                            "Modul",    "Exponent", "ExpireDate", "CheckSum"};
    static char value[8][512];
    for (int c = 0; c < 8; ++c)
      GetPrivateProfileString(section, kColumns[c], "", value[c], sizeof value[c], file);
    if (value[0][0] == '\0') break;
    CapkText row = {value[0], value[1], value[2], value[3],
                    value[4], value[5], value[6], value[7]};
    load_rows(&row, 1);
  }
  return count_;
}

const Capk* CapkTable::find(const uint8_t* rid, uint8_t index) const {
  // Later keys (the file's) take precedence over built-in ones.
  for (int i = count_ - 1; i >= 0; --i)
    if (memcmp(keys_[i].rid, rid, 5) == 0 && keys_[i].index == index) return &keys_[i];
  return nullptr;
}

CapkTable& capk_table() {
  static CapkTable t;
  return t;
}

}  // namespace payterm
