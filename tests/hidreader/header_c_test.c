/* The public header compiles as C and its constants hold their values. */
#include "hidlink.h"

int hidlink_header_c_check(void);

int hidlink_header_c_check(void)
{
    __HVRD_DEVICE slot = {0};
    __ICCARD_CMD cmd = {0x00, 0xA4, 0x04, 0x00, 0x02};
    debug_level_e lvl = HV_DEBUG_LVL_VERBOSE;
    __DEVICE_NAD nad = NAD_BARCODE;
    ElogFileCfg cfg = {0};
    (void)cfg;
    return (int)sizeof(slot.path) + (int)sizeof(cmd) + (int)lvl + (int)nad + (int)NAD_MAX +
           (int)sizeof(g_hid_devices) / (int)sizeof(g_hid_devices[0]);
}
