// The self-update's hand-over played through the interpreter model: whatever the paths and the
// forwarded arguments hold, the interpreter runs exactly the wait, the copy of the download over
// the launcher, the deletion of the download and the start of the launcher, and the restarted
// launcher forwards exactly the arguments the first one was given (an argument that comes back
// changed, split or lost fails the check).
//
// Input: the temporary folder's name, a zero byte, the launcher folder's name, a zero byte, then
// the arguments separated by zero bytes (see argument_list.h). Characters a Windows file name
// cannot hold become '_' in the folder names.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "argument_list.h"
#include "fuzz_check.h"
#include "hand_over_model.h"
#include "common/command_line.h"
#include "update/replacement_command.h"

namespace {

std::wstring FolderName(std::wstring name) {
    for (auto& c : name) {
        if (c < 0x20 || std::wstring_view(L"<>:\"/|?*").find(c) != std::wstring_view::npos) {
            c = L'_';
        }
    }
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::wstring> arguments = zv::fuzz::DecodeArguments(data, size);
    arguments.resize(arguments.size() < 2 ? 2 : arguments.size());
    const std::wstring temp = L"C:\\" + FolderName(arguments[0]) + L"\\ZVL1A2.tmp";
    const std::wstring self = L"D:\\" + FolderName(arguments[1]) + L"\\Foo_ZV.exe";
    arguments.erase(arguments.begin(), arguments.begin() + 2);

    // Values that show any expansion: another command, a stray quote, or text that differs.
    const zv::test::Environment launcherEnvironment = {
        {L"PATH", L"C:\\Windows"}, {L"a", L"& calc &"}, {L"b", L"\"|x"}, {L"x", L"%a%"}, {L"y", L"!a!"},
        {L"OS", L"Windows_NT"},
    };
    const std::wstring system = L"C:\\Windows\\system32";
    const zv::ReplacementCommand command =
        zv::BuildReplacementCommand(system, temp, self, zv::JoinQuotedArguments(arguments));
    const zv::test::HandOverOutcome outcome = zv::test::PlayHandOver(command, system, temp, self, launcherEnvironment);
    zv::fuzz::Check(outcome.fault.empty(), "the interpreter runs exactly the four commands on the paths");
    zv::fuzz::Check(outcome.restartedArguments == zv::fuzz::WithoutEmpty(arguments),
                    "the restarted launcher forwards the arguments it was given");
    return 0;
}
