// `kelvora demo`: needs no input. Synthesises a short drum loop, analyses it, prints its slice
// table and writes the loop, two renders at other tempos and a picture into a folder.
#pragma once

#include "tools/kelvora/Command.h"
#include <string>

namespace KelvoraCli
{

class DemoCommand : public Command
{
public:
    static constexpr double LoopTempo = 120.0;
    static constexpr float SlowTempo = 90.0f;
    static constexpr float FastTempo = 150.0f;

    using Command::Command;

    void Register(CLI::App& app) override;
    int Run() override;

private:
    std::string folder = "kelvora-demo";
};

} // namespace KelvoraCli
