// zvpublish.exe on Windows: arguments arrive as UTF-16; the console is told that output is UTF-8.

#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

#include "zvpublish/commands/cli.h"

int wmain(int argc, wchar_t** argv) {
    ::SetConsoleOutputCP(CP_UTF8);
    std::vector<std::wstring> arguments(argv + 1, argv + argc);
    return zv::publish::RunPublishTool(arguments, std::cout, std::cerr);
}
