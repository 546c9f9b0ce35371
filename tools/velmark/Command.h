// A subcommand as main() sees it: where CLI11 parsed it, and what runs it.
#pragma once

#include <functional>

namespace CLI {
class App;
}

namespace velmark::cli {

struct Command {
    CLI::App* parser = nullptr;
    // Runs the parsed command; returns the exit status or throws CommandError.
    std::function<int()> run;
};

Command addInspectCommand(CLI::App& app);
Command addRetargetCommand(CLI::App& app);
Command addMuiNameCommand(CLI::App& app);
Command addBannerPreviewCommand(CLI::App& app);
Command addMuiCommand(CLI::App& app);

}  // namespace velmark::cli
