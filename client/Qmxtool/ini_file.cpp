// INI access: GetIniKeyString and PutIniKeyString.
//
// Stored files rely on three habits kept here: a key matches as a prefix
// of the line (PSAM also matches "PSAMX=..."), once the section header has
// been seen every later "k=v" line is a candidate (a later header does not
// end the section), and PutIniKeyString never adds a missing key.
#include "Qmxtool.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Lines are examined in their first 1023 bytes; the rest of a longer line
// is never taken for a line of its own.
constexpr std::size_t kLineCap = 1024;
// "[section]" with the section name up to 61 characters.
constexpr std::size_t kHeaderCap = 64;

// Reads the next piece of a line: up to cap - 1 bytes, stopping after a
// '\n'. *ends is true when the piece completes its line (newline or end of
// file). Returns the piece's length, 0 at end of file.
std::size_t readPiece(FILE *f, char *buf, std::size_t cap, bool *ends) {
  std::size_t n = 0;
  int c = 0;
  while (n + 1 < cap && (c = std::getc(f)) != EOF) {
    buf[n++] = static_cast<char>(c);
    if (c == '\n')
      break;
  }
  buf[n] = '\0';
  if (n + 1 < cap || (n > 0 && buf[n - 1] == '\n')) {
    *ends = true;
  } else {
    // Buffer full: the line goes on (if only with its '\n') unless the
    // file ends right here.
    c = std::getc(f);
    *ends = c == EOF;
    if (c != EOF)
      std::ungetc(c, f);
  }
  return n;
}

bool makeHeader(const char *section, char *header) {
  int n = std::snprintf(header, kHeaderCap, "[%s]", section);
  return n > 0 && static_cast<std::size_t>(n) < kHeaderCap;
}

bool startsWith(const char *line, const char *prefix, std::size_t prefixLen) {
  return std::strncmp(line, prefix, prefixLen) == 0;
}

// Drops one trailing line end: LF, and a CR before it.
void chopLineEnd(char *line) {
  std::size_t n = std::strlen(line);
  if (n > 0 && line[n - 1] == '\n')
    line[--n] = '\0';
  if (n > 0 && line[n - 1] == '\r')
    line[n - 1] = '\0';
}

}  // namespace

int GetIniKeyString(char *section, char *key, char *path, char *value) {
  if (section == nullptr || key == nullptr || path == nullptr || value == nullptr)
    return -1;
  char header[kHeaderCap];
  if (!makeHeader(section, header))
    return -1;
  FILE *f = std::fopen(path, "r");
  if (f == nullptr) {
    std::perror("fopen");
    return -1;
  }
  const std::size_t headerLen = std::strlen(header), keyLen = std::strlen(key);
  char line[kLineCap];
  bool entered = false, atLineStart = true, ends = true;
  while (readPiece(f, line, sizeof line, &ends) > 0) {
    bool fresh = atLineStart;
    atLineStart = ends;
    if (!fresh || startsWith(line, "//", 2) || line[0] == '#')
      continue;
    if (entered && std::strchr(line, '=') != nullptr) {
      if (!startsWith(line, key, keyLen))
        continue;
      chopLineEnd(line);
      std::fclose(f);
      const char *p = std::strchr(line, '=') + 1;
      while (*p == ' ')
        ++p;
      std::strcpy(value, p);
      return 0;
    }
    if (startsWith(line, header, headerLen))
      entered = true;
  }
  std::fclose(f);
  return -1;
}

int PutIniKeyString(char *section, char *key, char *value, char *path) {
  if (section == nullptr || key == nullptr || value == nullptr || path == nullptr)
    return -1;
  char header[kHeaderCap];
  char tmpPath[PATH_MAX];
  if (!makeHeader(section, header))
    return -1;
  int n = std::snprintf(tmpPath, sizeof tmpPath, "%s.tmp", path);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof tmpPath)
    return -1;
  FILE *in = std::fopen(path, "r");
  if (in == nullptr)
    return -1;
  // Not through a symbolic link: the file is about to be truncated and
  // given the original's permissions.
  int fd = open(tmpPath, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  FILE *out = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (out == nullptr) {
    if (fd >= 0)
      close(fd);
    std::fclose(in);
    return -1;
  }
  struct stat inStat, outStat;
  if (fstat(fileno(in), &inStat) == 0 && fstat(fd, &outStat) == 0 && S_ISREG(outStat.st_mode))
    fchmod(fd, inStat.st_mode & 07777);

  const std::size_t headerLen = std::strlen(header), keyLen = std::strlen(key);
  char line[kLineCap];
  bool entered = false, replaced = false, atLineStart = true, ends = true;
  bool dropRest = false;  // skipping the tail of the replaced line
  std::size_t len;
  while ((len = readPiece(in, line, sizeof line, &ends)) > 0) {
    bool fresh = atLineStart;
    atLineStart = ends;
    if (dropRest) {
      dropRest = !ends;
      continue;
    }
    if (!replaced && fresh) {
      const char *eq = std::strchr(line, '=');
      if (entered && eq != nullptr && startsWith(line, key, keyLen)) {
        std::fwrite(line, 1, static_cast<std::size_t>(eq - line) + 1, out);
        std::fprintf(out, " %s\n", value);
        replaced = true;
        dropRest = !ends;
        continue;
      }
      if (startsWith(line, header, headerLen))
        entered = true;
    }
    std::fwrite(line, 1, len, out);
  }
  bool failed = std::ferror(in) != 0 || std::ferror(out) != 0;
  std::fclose(in);
  failed = std::fclose(out) != 0 || failed;
  // A short copy must never replace the original.
  if (failed) {
    std::remove(tmpPath);
    return -1;
  }
  return std::rename(tmpPath, path);
}
