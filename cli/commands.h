// Registry of the tabulix subcommands; each cmd_*.cpp adds itself.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace tabulix::cli {

// Exit status of a command: 0 success, 1 the work failed, 2 bad arguments or input.
using CommandResult = int;

// A subcommand: `setup` declares its options on the subcommand and returns the
// action to run after parsing.
struct Command {
  std::string name;
  std::string description;
  std::function<std::function<CommandResult()>(CLI::App&)> setup;
};

// All commands registered so far.
std::vector<Command>& commands();

// Registers a command at static-initialisation time.
struct RegisterCommand {
  explicit RegisterCommand(Command c) { commands().push_back(std::move(c)); }
};

// The locale given by --locale or the environment (LANG), en_US by default.
const std::string& deviceLocaleName();

}  // namespace tabulix::cli
