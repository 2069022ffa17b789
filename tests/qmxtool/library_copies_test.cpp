// The tool unit as the two libraries carry it: loaded from the built .so
// files, called through their exported (decorated) names.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using CodeTranslateFn = int (*)(int, int, char *, char *);
using GbkToUtf8Fn = int (*)(unsigned long, char *, char **, char *);

class Library {
 public:
  explicit Library(const std::string &name) {
    const char *bin = std::getenv("HW_BINARY_DIR");
    std::string path = std::string(bin != nullptr ? bin : ".") + "/lib/" + name;
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  ~Library() {
    if (handle_ != nullptr)
      dlclose(handle_);
  }
  bool loaded() const { return handle_ != nullptr; }
  void *symbol(const char *name) const { return dlsym(handle_, name); }

 private:
  void *handle_ = nullptr;
};

void expectSameToolUnit(const Library &lib) {
  auto translate = reinterpret_cast<CodeTranslateFn>(lib.symbol("_Z13CodeTranslateiiPcS_"));
  auto toUtf8 = reinterpret_cast<GbkToUtf8Fn>(lib.symbol("_Z16tool_gbk_to_utf8mPcPS_S_"));
  ASSERT_NE(nullptr, translate);
  ASSERT_NE(nullptr, toUtf8);
  char out[37] = "";
  char key[] = "CHN";
  EXPECT_EQ(0, translate(2, 56, key, out));
  EXPECT_STREQ("基诺", out);
  EXPECT_EQ(0, translate(3, 0, key, out));
  EXPECT_STREQ("中国", out);
  EXPECT_EQ(-1, translate(4, 0, key, out));

  char gbk[] = "\xD6\xD0";
  char err[64] = "";
  char *utf8 = nullptr;
  EXPECT_EQ(3, toUtf8(2, gbk, &utf8, err));
  EXPECT_STREQ("中", utf8);
  std::free(utf8);

  auto *table = static_cast<const unsigned short *>(lib.symbol("unicodeTables"));
  ASSERT_NE(nullptr, table);
  EXPECT_EQ(0x20AC, table[0xA2E3 - 0x8140]);
}

TEST(LibraryCopies, TesseraCarriesTheWholeUnit) {
  Library tessera("libtessera.so");
  ASSERT_TRUE(tessera.loaded()) << dlerror();
  expectSameToolUnit(tessera);
  EXPECT_NE(nullptr, tessera.symbol("_Z13tool_writelogPKcS0_S0_S0_iS0_z"));
}

TEST(LibraryCopies, PorticoCarriesTheUnitWithoutTheLog) {
  Library portico("libportico.so");
  ASSERT_TRUE(portico.loaded()) << dlerror();
  expectSameToolUnit(portico);
  EXPECT_EQ(nullptr, portico.symbol("_Z13tool_writelogPKcS0_S0_S0_iS0_z"));
}

}  // namespace
