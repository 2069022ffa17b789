// hwservice-admin: the administrator's command for the service's policy file
// and the browsers' managed policies. Every system path is taken under a
// root folder (--root or $HWSERVICE_ADMIN_ROOT, default "/"), so tests run on
// a scratch tree.
#ifndef HWSERVICE_ADMIN_H
#define HWSERVICE_ADMIN_H

#include <json/json.h>

#include <string>
#include <vector>

namespace admin {

// Whole file into *text; false with errno kept when it cannot be read.
bool ReadText(const std::string &path, std::string *text);
// Replaces path atomically: a temporary file beside it, written, synced and
// renamed over it, keeping the old file's mode (new files: 0644). Creates
// missing parent folders (0755). false with *err set; path is then untouched.
bool WriteAtomically(const std::string &path, const std::string &text, std::string *err);

// A browser's managed-policy folder on Linux.
struct Browser {
  const char *name;
  const char *policyDir;  // under the root
  const char *program;    // under the root; its presence means "installed"
};
extern const Browser kBrowsers[3];

// The URL pattern the browsers' allow lists take for one of our origins:
// "https://*.example.org" becomes "https://[*.]example.org".
std::string BrowserPattern(const std::string &origin);
// Adds (or, with remove, takes out) patterns in both Local Network Access
// allow lists of one policy document, keeping every other member and entry.
// Empty lists are dropped. true when the document changed.
bool EditBrowserPolicy(Json::Value *doc, const std::vector<std::string> &patterns, bool remove);

// Names of the two allow lists, newest first.
extern const char *const kAllowLists[2];

}  // namespace admin

#endif
