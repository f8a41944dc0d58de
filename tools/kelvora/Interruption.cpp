#include "tools/kelvora/Interruption.h"

#include "tools/kelvora/ToolError.h"

#include <csignal>

namespace KelvoraCli
{

namespace
{

volatile std::sig_atomic_t caughtSignal = 0;

extern "C" void OnSignal(int signalNumber)
{
    caughtSignal = signalNumber;
    std::signal(signalNumber, SIG_DFL);
}

} // namespace

void Interruption::Install()
{
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
}

bool Interruption::Requested()
{
    return caughtSignal != 0;
}

void Interruption::Check()
{
    if (Requested())
        throw ToolError("interrupted");
}

int Interruption::ExitStatus()
{
    return 128 + (caughtSignal ? caughtSignal : SIGINT);
}

} // namespace KelvoraCli
