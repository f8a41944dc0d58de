// Built as C++11 with -pedantic -Werror: hosts on old toolchains include this header.
#include "engine/KelvoraEngine.h"

unsigned HostSideRecordsSize()
{
    return sizeof(VoKelvora::SliceInfo) + sizeof(VoKelvora::EnvelopeSettings) +
           sizeof(VoKelvora::MeterLayout) + sizeof(VoKelvora::KelvoraEngine*);
}
