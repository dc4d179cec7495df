#pragma once

// One zvpublish command as a row of the command table (command_table.h): its name, written here
// once, what the overview and its help say of it, the line it takes, the check of how its options
// go together, and the function that runs it.

#include <optional>
#include <string>
#include <string_view>

#include "zvpublish/commands/options.h"
#include "zvpublish/commands/output.h"
#include "zvpublish/tree/tree_files.h"

namespace zv::publish {

// One run of a command: where it answers, its parsed line (each option's value checked), and the
// moment status, prune and signing count from.
struct Invocation {
    Output& output;
    const Parsed& parsed;
    FileTime now;
};

struct Command {
    std::string_view name;
    std::string_view summary;  // one line, for the overview
    std::string_view usage;    // after "zvpublish NAME "
    std::string_view help;     // what it does, for its own help
    Syntax syntax;
    // How its options go together, once each value has been checked (CheckOptionValues): a usage
    // problem, or nothing. Null for a command with nothing to check.
    std::optional<std::string> (*check)(const Command& command, const Parsed& parsed) = nullptr;
    int (*run)(const Invocation& invocation) = nullptr;
};

}  // namespace zv::publish
