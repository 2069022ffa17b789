// SDANDC state the device layer reads.
#pragma once

namespace payterm {

// 1 when the last SDANDC contact reset announced T=1.
int sdandc_t1_flag();

}  // namespace payterm
