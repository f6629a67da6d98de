#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/Commands.h"
#include "io/UnverifiedSectors.h"
#include "session/OpenImage.h"

int main(int argc, char** argv) {
  using namespace quorvel::cli;
  CLI::App app{"Quorvel Draxmoor v22.0: finds volumes and recovers files from disk and volume images.",
               "quorvel-cli"};
  app.set_version_flag("--version", "quorvel-cli " QUORVEL_VERSION);
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
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    reportError(e.what());
    std::cerr << "Run quorvel-cli --help for the commands and their options.\n";
    return kBadArguments;
  }
  if (!runner) return kBadArguments;
  quorvel::OpenImage image;
  const int status = runner(image);
  // An E01 chunk that failed its checksum was still read: say which sectors.
  if (const quorvel::FileReadSeek* source = image.source()) {
    const std::string unverified = quorvel::unverifiedSectorsText(source->unverifiedSectors());
    if (!unverified.empty()) std::cerr << "quorvel-cli: warning: " << unverified << '\n';
  }
  return status;
}
