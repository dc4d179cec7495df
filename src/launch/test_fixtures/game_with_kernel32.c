/* A game that imports the client stub and KERNEL32.dll. */
__declspec(dllimport) int ZvClientVersion(void);
__declspec(dllimport) unsigned long __stdcall GetTickCount(void);

int entry(void) { return ZvClientVersion() + (int)GetTickCount(); }
