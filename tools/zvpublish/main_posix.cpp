// zvpublish on Linux and other POSIX systems: arguments arrive as UTF-8 bytes.

#include <iostream>
#include <string>
#include <vector>

#include "zvpublish/commands/cli.h"
#include "zvpublish/tree/tree_files.h"

int main(int argc, char** argv) {
    std::vector<std::wstring> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(zv::publish::FromUtf8(argv[i]));
    }
    return zv::publish::RunPublishTool(arguments, std::cout, std::cerr);
}
