// T10N terminal channel: the descriptor behind the terminal write hook and
// the T10N receiver. -1 (none) at load; the device layer sets it for the
// reader it opens.
#pragma once

namespace payterm {

int& t10n_channel();

}  // namespace payterm
