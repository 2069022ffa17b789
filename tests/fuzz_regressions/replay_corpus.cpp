// Replays every committed input of one fuzz target (its seeds and every
// input that once broke it) through the target's own entry point, so the
// target's checks run in every build of the suite, the sanitizer build
// included. The corpus folder comes from FUZZ_CORPUS_DIR.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

namespace {

std::vector<std::string> CorpusFiles(const std::string &dir) {
  std::vector<std::string> files;
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return files;
  while (struct dirent *e = readdir(d)) {
    if (e->d_name[0] != '.') files.push_back(dir + "/" + e->d_name);
  }
  closedir(d);
  std::sort(files.begin(), files.end());
  return files;
}

bool ReadFile(const std::string &path, std::vector<uint8_t> *out) {
  FILE *f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  uint8_t buf[4096];
  size_t n;
  out->clear();
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
  fclose(f);
  return true;
}

}  // namespace

TEST(FuzzCorpus, EveryCommittedInputPassesTheTargetChecks) {
  const std::vector<std::string> files = CorpusFiles(FUZZ_CORPUS_DIR);
  ASSERT_GE(files.size(), 5u) << "corpus missing: " << FUZZ_CORPUS_DIR;
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(nullptr, nullptr);
  for (const std::string &f : files) {
    SCOPED_TRACE(f);
    std::vector<uint8_t> data;
    ASSERT_TRUE(ReadFile(f, &data));
    // A failed check inside the target aborts the program with its text.
    static const uint8_t kNone = 0;  // like libFuzzer: never a null pointer
    EXPECT_EQ(LLVMFuzzerTestOneInput(data.empty() ? &kNone : data.data(), data.size()), 0);
  }
}
