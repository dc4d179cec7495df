#include "zvpublish/commands/cli.h"

#include <chrono>
#include <optional>
#include <string>

#include "common/text.h"
#include "zvpublish/commands/command_table.h"
#include "zvpublish/commands/help.h"
#include "zvpublish/commands/options.h"

namespace zv::publish {

int RunPublishTool(const std::vector<std::wstring>& arguments, std::ostream& out, std::ostream& err) {
    return RunPublishTool(arguments, out, err, std::chrono::system_clock::now());
}

int RunPublishTool(const std::vector<std::wstring>& arguments, std::ostream& out, std::ostream& err, FileTime now) {
    Output output(out, err);
    if (arguments.empty()) {
        return output.Usage("no command given");
    }
    const std::string name = ToUtf8(arguments.front());
    if (name == "--version" || name == "version") {
        if (arguments.size() > 1) {
            return output.Usage("'" + name + "' takes no argument");
        }
        PrintVersion(out);
        return kExitSuccess;
    }
    if (name == "--help" || name == "-h" || name == "help") {
        if (arguments.size() == 1) {
            PrintOverview(out, Commands());
            return kExitSuccess;
        }
        const Command* command = arguments.size() == 2 ? FindCommand(ToUtf8(arguments[1])) : nullptr;
        if (command == nullptr) {
            return output.Usage(arguments.size() == 2 ? "no command '" + ToUtf8(arguments[1]) + "' to help with"
                                                      : "'" + name + "' takes one command at most");
        }
        PrintCommandHelp(out, *command);
        return kExitSuccess;
    }
    const Command* command = FindCommand(name);
    if (command == nullptr) {
        return output.Usage("unknown command '" + name + "'");
    }

    Parsed parsed;
    if (const auto problem = Parse(command->name, command->syntax, arguments, parsed)) {
        return output.Usage(*problem, command->name);
    }
    if (parsed.help) {
        PrintCommandHelp(out, *command);
        return kExitSuccess;
    }
    if (const auto problem = CheckOptionValues(parsed)) {
        return output.Usage(*problem, command->name);
    }
    if (command->check != nullptr) {
        if (const auto problem = command->check(*command, parsed)) {
            return output.Usage(*problem, command->name);
        }
    }
    return command->run(Invocation{output, parsed, now});
}

}  // namespace zv::publish
