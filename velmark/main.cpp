// velmark: the command-line companion of VELMARK.dll for people preparing a
// device: inspect an image, retarget an application, name its language
// module, preview its banner.
#include "velmark/commands/Command.h"
#include "velmark/commands/CommandError.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <new>
#include <vector>

int main(int argc, char** argv) {
    using namespace velmark::cli;
    CLI::App app{"velmark: prepare a Windows CE application and its files for VELMARK.dll"};
    app.name("velmark");
    app.set_version_flag("--version", "velmark " VELMARK_VERSION
                                      " (VELMARK.dll for Windows CE 4.10 and later, ARM and ARMV4I applications)");
    app.require_subcommand(1);
    app.footer("Exit status of every subcommand: 0 yes or done, 1 the answer is no (a check fails), 2 bad usage\n"
               "or a file that cannot be used.");
    std::vector<Command> commands = {addCheckCommand(app),         addInspectCommand(app),
                                    addRetargetCommand(app),      addMuiNameCommand(app),
                                    addMuiCommand(app),           addBannerPreviewCommand(app),
                                    addBannerCheckCommand(app),   addPackageCommand(app)};
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help is reported as a "parse error" with exit code 0.
        int printed = app.exit(e);
        return printed == 0 ? kExitOk : kExitBadUsage;
    }
    for (const Command& command : commands) {
        if (!command.parser->parsed()) continue;
        const std::string prefix = "velmark " + command.parser->get_name() + ": ";
        auto report = [&](const auto& e, int exitCode) {
            std::cerr << prefix << e.what() << "\n";
            for (const std::string& detail : e.details()) std::cerr << "  " << detail << "\n";
            return exitCode;
        };
        try {
            return command.run();
        } catch (const CommandError& e) {
            return report(e, e.exitCode());
        } catch (const Failure& e) {
            return report(e, exitCodeOf(e.kind()));
        } catch (const std::bad_alloc&) {
            std::cerr << prefix << (command.subject && !command.subject->empty() ? *command.subject + ": " : "")
                      << "not enough memory to finish\n";
            return kExitUnusable;
        } catch (const std::exception& e) {
            std::cerr << prefix << e.what() << "\n";
            return kExitUnusable;
        }
    }
    return kExitBadUsage;
}
