#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/Commands.h"

int main(int argc, char** argv) {
  using namespace quorvel::cli;
  CLI::App app{"Quorvel Draxmoor v22.0: finds volumes and recovers files from disk and volume images.",
               "quorvel-cli"};
  app.require_subcommand(1);
  CommandRunner runner;
  addVolumesCommand(app, runner);
  addProbeCommand(app, runner);
  addScanCommands(app, runner);
  addCarveCommands(app, runner);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    reportError(e.what());
    std::cerr << "Run quorvel-cli --help for the commands and their options.\n";
    return kBadArguments;
  }
  return runner ? runner() : kBadArguments;
}
