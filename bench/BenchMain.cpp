// The benchmark program's entry. One of the peer libraries linked into it (for the tempo
// comparison) switches the whole process to flushing denormals to zero when it is loaded; a host
// thread starts in the default mode, so the floating-point environment is reset before anything
// is measured, or our figures would be taken in a mode no host runs them in.
#include <benchmark/benchmark.h>

#include <cfenv>

int main(int argc, char** argv)
{
    std::fesetenv(FE_DFL_ENV);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
