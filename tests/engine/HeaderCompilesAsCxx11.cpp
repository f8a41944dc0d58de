// Built as C++11 with -pedantic -Werror: hosts on old toolchains include this header.
#include "engine/KelvoraEngine.h"

namespace
{
struct HostSideCheck
{
    VoKelvora::SliceInfo slice;
    VoKelvora::EnvelopeSettings envelope;
    VoKelvora::MeterLayout meter;
    VoKelvora::KelvoraEngine* engine;
};
} // namespace

unsigned HostSideCheckSize()
{
    return static_cast<unsigned>(sizeof(HostSideCheck));
}
