// The command line a launcher restarts the launcher it has just put in place with, over arbitrary
// folder names and argument lists: split by the platform's documented rules, it gives back the
// launcher's path as the program and the forwarded arguments unchanged (empty ones excepted: they
// add nothing to the text). The first decoded argument is the launcher's folder: a Windows path
// holds no double quote and does not end in a backslash before the quote that closes it, so
// those are taken out of it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "argument_list.h"
#include "argv_split.h"
#include "common/command_line.h"
#include "fuzz_check.h"
#include "update/launcher_update.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::wstring> arguments = zv::fuzz::DecodeArguments(data, size);
    std::wstring folder;
    for (const wchar_t c : arguments.front()) {
        if (c != L'"') {
            folder.push_back(c);
        }
    }
    arguments.erase(arguments.begin());
    const std::wstring path = L"C:\\" + folder + L"\\Foo_ZV.exe";
    const std::wstring line = zv::BuildRestartCommandLine(path, zv::JoinQuotedArguments(arguments));
    std::vector<std::wstring> split = zv::test::SplitCommandLine(line);
    zv::fuzz::Check(!split.empty() && split.front() == path, "the launcher's path comes back as the program");
    split.erase(split.begin());
    zv::fuzz::Check(split == zv::fuzz::WithoutEmpty(arguments), "the arguments come back unchanged");
    return 0;
}
