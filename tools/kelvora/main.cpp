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
#include <exception>
#include <new>
#include <string>

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
    analyse.Register(app);
    render.Register(app);
    exporter.Register(app);
    demo.Register(app);
    view.Register(app);

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
        console.Error(std::string(error.what()) + " (see kelvora --help)");
        return 2;
    }

    Interruption::Install();
    try
    {
        if (analyse.Chosen())
            return analyse.Run();
        if (render.Chosen())
            return render.Run();
        if (exporter.Chosen())
            return exporter.Run();
        if (demo.Chosen())
            return demo.Run();
        if (view.Chosen())
            return view.Run();
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
