/* The client stub of the launch benchmark: records the moment its game started, as the
 * GetSystemTimePreciseAsFileTime value in decimal, in "game-started.txt" beside the game. */
#include <windows.h>

#include "record_beside_game.h"

__declspec(dllexport) int ZvClientStart(void) {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    unsigned long long value = ((unsigned long long)now.dwHighDateTime << 32) | now.dwLowDateTime;
    char text[32];
    int n = 31;
    text[n--] = '\n';
    do {
        text[n--] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);

    HANDLE file;
    const int failure = CreateRecordBesideGame(L"game-started.txt", &file);
    if (failure != 0) {
        return failure;
    }
    AppendBytes(file, text + n + 1, (DWORD)(31 - n));
    CloseHandle(file);
    return 0;
}
