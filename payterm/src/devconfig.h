// Labels of the configuration dump.
#pragma once

namespace payterm {

const char* device_label(int type);
const char* terminal_label(int type);
const char* card_label(int flag);

}  // namespace payterm
