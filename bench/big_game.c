/* A game whose import table names ZVClient.dll and nothing else, with ZV_CODE_PAD bytes of
 * filler in its code section, so that the launcher has a large code section to hash. It is built
 * as a Windows (not console) program, as games are. */
__declspec(dllimport) int ZvClientStart(void);

#define ZV_TEXT(x) #x
#define ZV_FILL(n) ".text\n.fill " ZV_TEXT(n) ",1,0xcc\n"
__asm__(ZV_FILL(ZV_CODE_PAD));

int entry(void) { return ZvClientStart(); }
