/* portico.h compiles as C and declares every export. */
#include "portico.h"

int portico_exports_seen_from_c(void) {
  const void *const exports[] = {(const void *)OpenDev,     (const void *)CloseDev,    (const void *)Set_Nad,
                                 (const void *)Cpu_Reset,   (const void *)CPU_Protocol, (const void *)IDCard_Read,
                                 (const void *)stringtohex, (const void *)hextostring, (const void *)&DevType,
                                 (const void *)&IsDcFeiJie};
  int n = 0;
  for (unsigned i = 0; i < sizeof exports / sizeof exports[0]; ++i) n += exports[i] != 0;
  return n;
}
