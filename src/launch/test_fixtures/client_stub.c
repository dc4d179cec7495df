/* The client stub of the discovery fixtures: one export for the fixture games to import. */
__declspec(dllexport) int ZvClientVersion(void) { return 42; }
