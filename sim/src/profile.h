// Profiles: the reader's identity and the catalogue of cards, stripes and
// QR codes, loaded from JSON with fictional holders.
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "card.h"
#include "idcard.h"

namespace vr {

struct CardSpec {
  std::string kind;                          // social_security, psam, pboc, memory, mifare, idcard
  std::function<std::unique_ptr<Card>()> make;  // a fresh card (not for idcard)
  std::shared_ptr<IdCardData> id;            // idcard only
};

struct Stripe {
  std::string track1, track2, track3;
};

struct Profile {
  std::string version = "VREADER-FW 1.4.0";
  std::string serial = "VR0000000001";
  std::map<std::string, CardSpec> cards;
  std::map<std::string, Stripe> stripes;
  std::map<std::string, std::string> qrcodes;
  std::map<std::string, std::string> slots;  // slot name -> card name
};

// Parses a profile; on failure `err` names the member at fault.
bool parseProfile(const std::string& json, Profile& out, std::string& err);
// Reads a file; a bare name (no '/', no ".json") is looked up as
// <dir>/<name>.json in $VREADER_PROFILE_DIR and the built-in profile folder.
bool loadProfile(const std::string& nameOrPath, Profile& out, std::string& err);
std::string resolveProfilePath(const std::string& nameOrPath);

}  // namespace vr
