// The quoting rule over arbitrary argument lists: the joined text, split again by the platform's
// documented rules behind a quoted program name, gives back the same arguments (empty ones
// excepted: they add nothing to the text).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "argument_list.h"
#include "argv_split.h"
#include "fuzz_check.h"
#include "common/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::wstring> arguments = zv::fuzz::DecodeArguments(data, size);
    const std::wstring line = L"\"" + zv::fuzz::kProgram + L"\" " + zv::JoinQuotedArguments(arguments);
    std::vector<std::wstring> split = zv::test::SplitCommandLine(line);
    zv::fuzz::Check(!split.empty() && split.front() == zv::fuzz::kProgram, "the program name comes back first");
    split.erase(split.begin());
    zv::fuzz::Check(split == zv::fuzz::WithoutEmpty(arguments), "the arguments come back unchanged");
    return 0;
}
