#pragma once
#include <functional>
#include <string>

namespace CLI {
class App;
}
namespace quorvel {
class OpenImage;
}

namespace quorvel::cli {

// Exit statuses of every command.
enum ExitStatus { kSuccess = 0, kInputFailed = 1, kBadArguments = 2 };

// A subcommand's work, chosen while parsing and run once parsing succeeded,
// on the image the command opens (commands that read no image leave it closed).
using CommandRunner = std::function<int(OpenImage& image)>;

void addVolumesCommand(CLI::App& app, CommandRunner& runner);
void addProbeCommand(CLI::App& app, CommandRunner& runner);
void addScanCommands(CLI::App& app, CommandRunner& runner);
void addCarveCommands(CLI::App& app, CommandRunner& runner);

// Prints one plain sentence on stderr.
void reportError(const std::string& sentence);

// Opens the image a command reads, or says on stderr why it cannot.
bool openImage(OpenImage& image, const std::string& path);

}  // namespace quorvel::cli
