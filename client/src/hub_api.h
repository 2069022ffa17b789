// The reader hub's calls as this library uses them.
#ifndef TESSERA_HUB_API_H
#define TESSERA_HUB_API_H

#include <cstdint>

extern "C" {
long long OpenDev(int *port, char *text, char *msg);
int CloseDev(long long handle, char *msg);
void Set_Nad(long long handle, unsigned char nad);
int Cpu_Reset(long long handle, int *rlen, unsigned char *atr);
int CPU_Protocol(long long handle, int slen, unsigned char *sbuf, int *rlen, unsigned char *rbuf);
int IDCard_Read(long long handle, char *name, char *sex, char *nation, char *birth, char *address,
                char *idNumber, char *authority, char *validStart, char *validEnd, char *msg);
}

#endif
