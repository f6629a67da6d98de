#pragma once
#include <functional>
#include <string>

namespace CLI {
class App;
}

namespace quorvel::cli {

// Exit statuses of every command.
enum ExitStatus { kSuccess = 0, kInputFailed = 1, kBadArguments = 2 };

// A subcommand's work, chosen while parsing and run once parsing succeeded.
using CommandRunner = std::function<int()>;

void addVolumesCommand(CLI::App& app, CommandRunner& runner);
void addProbeCommand(CLI::App& app, CommandRunner& runner);
void addScanCommands(CLI::App& app, CommandRunner& runner);
void addCarveCommands(CLI::App& app, CommandRunner& runner);

// Prints one plain sentence on stderr.
void reportError(const std::string& sentence);

}  // namespace quorvel::cli
