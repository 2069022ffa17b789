// The read that Dc_GetICCardInfo, the host-mode readers and Dc_AuthDDA
// share.
#pragma once

#include "kernel.h"

namespace payterm {

struct ReadOptions {
  bool panOnly = false;     // host: PAN from a failed GPO's track 2
  bool tracksOnly = false;  // host: track 2 from a failed GPO
  bool keepOpen = false;    // leave the card powered on success
};

int read_card(const char* tagList, char* cardInfo, char* icType, char* cardRecord,
              const ReadOptions& o);

}  // namespace payterm
