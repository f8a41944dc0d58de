// Ctrl-C, a closed terminal, a closed pipe or a polite kill during a long render should not leave
// a half-written file behind. The first terminating signal only raises a flag that the long
// loops check; they then throw, the staged outputs clean up on the way out, and the program
// exits with 128 + the signal number. A second signal ends the program at once.
#pragma once

namespace KelvoraCli
{

class Interruption
{
public:
    static void Install();
    static bool Requested();
    // Throws ToolError("interrupted") when a signal has arrived.
    static void Check();
    // True when the reader of the output went away (a closed pipe, as under `| head`): the
    // program then stops without complaint, as there is nobody left to tell.
    static bool OutputClosed();
    // The conventional exit status after an interrupt: 128 + the signal number.
    static int ExitStatus();
};

} // namespace KelvoraCli
