/* The public header compiles as C: its plain exports are callable from C. */
#include "tessera.h"

int tessera_header_c_check(void);

int tessera_header_c_check(void)
{
    void *exports[] = {
        (void *)QMX_OpenDev, (void *)QMX_CloseDev, (void *)QMX_ReadCarNo, (void *)QMX_ReadCardCertID,
        (void *)QMX_ReadCardCity, (void *)QMX_ReadCardBas, (void *)QMX_IDCard_Read,
        (void *)QMX_ECard_SetAutoRead, (void *)QMX_ECard_AutoReadTime, (void *)QMX_ECard_Read,
        (void *)QMX_ICBankCard_ReadNO, (void *)QMX_MagCardRead, (void *)QMX_MagicBankCard_ReadNo,
        (void *)QMX_KeyBoard_InputKey, (void *)&LIB_INFO,
    };
    int n = 0;
    for (unsigned i = 0; i < sizeof exports / sizeof exports[0]; ++i)
        n += exports[i] != 0;
    return n;
}
