/* The client stub of the launch benchmark: records the moment its game started, as the
 * GetSystemTimePreciseAsFileTime value in decimal, in "game-started.txt" beside the game. */
#include <windows.h>

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

    wchar_t path[4096];
    DWORD length = GetModuleFileNameW(NULL, path, 4096);
    if (length == 0 || length >= 4096) {
        return 3;
    }
    while (length > 0 && path[length - 1] != L'\\') {
        --length;
    }
    lstrcpyW(path + length, L"game-started.txt");
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return 4;
    }
    DWORD written = 0;
    WriteFile(file, text + n + 1, (DWORD)(31 - n), &written, NULL);
    CloseHandle(file);
    return 0;
}
