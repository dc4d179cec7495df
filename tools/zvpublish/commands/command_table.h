#pragma once

// zvpublish's commands, one row each (command.h): adding a command is adding a row, and a name
// that is no row's is no command.

#include <span>
#include <string_view>

#include "zvpublish/commands/command.h"

namespace zv::publish {

// Every command, in the order the overview lists them.
std::span<const Command> Commands();

// The command of that name; null when there is none.
const Command* FindCommand(std::string_view name);

}  // namespace zv::publish
