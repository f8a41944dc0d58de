// What every kelvora command shares: its CLI11 subcommand, once registered, and the console it
// reports on.
#pragma once

#include <CLI/CLI.hpp>

namespace KelvoraCli
{

class Console;

class Command
{
public:
    explicit Command(Console& out) : console(out) {}
    virtual ~Command() = default;
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

    // Adds the command and its options to the app.
    virtual void Register(CLI::App& app) = 0;
    // True once the command line named this command.
    bool Chosen() const { return command && command->parsed(); }
    // Does the work; returns the exit status. Throws on errors main() reports.
    virtual int Run() = 0;

protected:
    Console& console;
    CLI::App* command = nullptr;
};

} // namespace KelvoraCli
