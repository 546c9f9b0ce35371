// A subcommand as main() sees it: where CLI11 parsed it, and what runs it.
#pragma once

#include <functional>
#include <string>

namespace CLI {
class App;
}

namespace velmark::cli {

struct Command {
    CLI::App* parser = nullptr;
    // Runs the parsed command; returns the exit status or throws CommandError.
    std::function<int()> run;
    // The file the command works on, named when it fails for want of memory.
    const std::string* subject = nullptr;
};

Command addInspectCommand(CLI::App& app);
Command addRetargetCommand(CLI::App& app);
Command addMuiNameCommand(CLI::App& app);
Command addBannerPreviewCommand(CLI::App& app);
Command addMuiCommand(CLI::App& app);
Command addCheckCommand(CLI::App& app);
Command addBannerCheckCommand(CLI::App& app);
Command addPackageCommand(CLI::App& app);

}  // namespace velmark::cli
