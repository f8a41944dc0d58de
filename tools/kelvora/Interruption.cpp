#include "tools/kelvora/Interruption.h"

#include "tools/kelvora/ToolError.h"

#include <csignal>

namespace KelvoraCli
{

namespace
{

volatile std::sig_atomic_t caughtSignal = 0;

// Every signal whose default action ends the program without a core dump: a closed terminal
// (HUP), a reader that went away (PIPE), timers and user signals, resource limits.
constexpr int TerminatingSignals[] = {SIGHUP,  SIGINT,  SIGPIPE, SIGALRM,   SIGTERM, SIGUSR1,
                                      SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF};

extern "C" void OnSignal(int signalNumber)
{
    caughtSignal = signalNumber;
    // Every later write to a closed pipe raises the signal again; those writes should fail, not
    // end the program before the staged files are cleaned up.
    if (signalNumber != SIGPIPE)
        std::signal(signalNumber, SIG_DFL);
}

} // namespace

void Interruption::Install()
{
    for (const int signalNumber : TerminatingSignals)
    {
        // A signal the caller chose to ignore (nohup, a shell's trap '') stays ignored: a write
        // past a file size limit then fails as an error instead of interrupting.
        if (std::signal(signalNumber, OnSignal) == SIG_IGN)
            std::signal(signalNumber, SIG_IGN);
    }
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

bool Interruption::OutputClosed()
{
    return caughtSignal == SIGPIPE;
}

int Interruption::ExitStatus()
{
    return 128 + (caughtSignal ? caughtSignal : SIGINT);
}

} // namespace KelvoraCli
