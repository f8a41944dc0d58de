// kelvora: slice loops at their transients and play them at other tempos, from the shell.
#include "engine/KelvoraEngine.h"
#include "tools/kelvora/AnalyseCommand.h"
#include "tools/kelvora/Console.h"
#include "tools/kelvora/DemoCommand.h"
#include "tools/kelvora/ExportCommand.h"
#include "tools/kelvora/Interruption.h"
#include "tools/kelvora/RenderCommand.h"
#include "tools/kelvora/ViewCommand.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <exception>
#include <new>
#include <regex>
#include <string>

namespace
{

// The names a user can type as the first word, "analyse, render, export, demo".
std::string SubcommandNames(CLI::App& app)
{
    std::string names;
    for (const CLI::App* command : app.get_subcommands({}))
        names += (names.empty() ? "" : ", ") + command->get_name();
    return names;
}

// CLI11's wording where it says little to a user of this tool.
std::string Explain(const CLI::ParseError& error)
{
    static const std::regex repeated("(\\S+): At Most 1 required but received (\\d+)");
    std::smatch match;
    const std::string message = error.what();
    if (std::regex_search(message, match, repeated))
        return match[1].str() + " was given " + match[2].str() + " times; give it once";
    return message;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace KelvoraCli;

    Console console;
    CLI::App app("kelvora: cut loops into slices at their transients and play them at another "
                 "tempo by moving the slices, not stretching the audio.",
                 "kelvora");
    const unsigned library = VoKelvora::GetKelvoraVersion();
    app.set_version_flag("--version",
                         std::string("kelvora " KELVORA_TOOL_VERSION " (engine library version ") +
                             std::to_string(library) + ")");
    app.require_subcommand(1);
    app.fallthrough(false);

    AnalyseCommand analyse(console);
    RenderCommand render(console);
    ExportCommand exporter(console);
    DemoCommand demo(console);
    ViewCommand view(console);
    Command* const commands[] = {&analyse, &render, &exporter, &demo, &view};
    for (Command* command : commands)
        command->Register(app);

    app.footer("Example: kelvora render loop.wav -o slower.wav --tempo 90\n"
               "Run kelvora COMMAND --help for each command's options.");

    // Anything but an option in the first place must be a command; CLI11 would only say that
    // one is required.
    const auto names = app.get_subcommands({});
    if (argc > 1 && argv[1][0] != '-' &&
        std::none_of(names.begin(), names.end(),
                     [&](const CLI::App* command) { return command->check_name(argv[1]); }))
    {
        console.Error(std::string("'") + argv[1] + "' is not a kelvora command; use one of " +
                      SubcommandNames(app) + " (see kelvora --help)");
        return 2;
    }
    try
    {
        app.parse(argc, argv);
    }
    catch (const CLI::Success& success)
    {
        return app.exit(success);
    }
    catch (const CLI::ParseError& error)
    {
        // One line, like every other error, instead of CLI11's two.
        console.Error(Explain(error) + " (see kelvora --help)");
        return 2;
    }

    Interruption::Install();
    try
    {
        for (Command* command : commands)
            if (command->Chosen())
                return command->Run();
    }
    catch (const std::bad_alloc&)
    {
        console.Error("not enough memory");
    }
    catch (const std::exception& error)
    {
        console.Error(error.what());
    }
    return 1;
}
