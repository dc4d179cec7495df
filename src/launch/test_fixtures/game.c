/* A game whose only import is the client stub: built without the C runtime, entry point "entry". */
__declspec(dllimport) int ZvClientVersion(void);

int entry(void) { return ZvClientVersion(); }
