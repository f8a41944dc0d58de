// `kelvora demo`: needs no input. Synthesises a short drum loop, analyses it, prints its slice
// table and writes the loop, two renders at other tempos and a picture into a folder.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace KelvoraCli
{

class Console;

class DemoCommand
{
public:
    static constexpr double LoopTempo = 120.0;
    static constexpr float SlowTempo = 90.0f;
    static constexpr float FastTempo = 150.0f;

    explicit DemoCommand(Console& console);

    void Register(CLI::App& app);
    bool Chosen() const { return command && command->parsed(); }
    int Run();

private:
    Console& console;
    CLI::App* command = nullptr;
    std::string folder = "kelvora-demo";
};

} // namespace KelvoraCli
