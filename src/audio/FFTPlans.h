#pragma once
// FFTW's real-to-complex plans of the process: one per transform size, made once and shared by
// every analyser (executing a plan is thread-safe, planning is not).
//
// An estimated plan is chosen by searching FFTW's solvers, which for one block size costs about
// as much as analysing a hundred blocks: a large part of a short scan's start. The build runs
// FFTW's planner once for the engine's block sizes (cmake/FFTWisdom.cpp) and the program carries
// what it chose, FFTW's "wisdom"; the planner of a process takes it and skips the search. FFTW
// takes wisdom only from its own version built with the same solvers for the same processor
// features, so a plan made from it is the plan the search would make; anywhere else the wisdom
// is refused and the plans are searched for as without it.

#include <fftw3.h>

#include <cstddef>

// The transform sizes the build plans for: the engine's block sizes.
inline constexpr int WisdomSizes[] = {1024, 2048, 4096, 8192};

// The estimated plan of an N-point real-to-complex transform between arrays fftw_malloc gives
// (the alignment every analyser's arrays have), as the process and the build make it; nullptr
// without memory. Only with the planner's lock held (or in a single-threaded program).
inline fftw_plan EstimatedPlan(int N)
{
    // Estimated, not measured: made at once (a measured one can stall the first block for a
    // tenth of a second and may differ between runs), and as fast here as a measured one.
    auto* In = static_cast<double*>(fftw_malloc(sizeof(double) * size_t(N)));
    auto* Out = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * (size_t(N) / 2 + 1)));
    fftw_plan Plan = In && Out ? fftw_plan_dft_r2c_1d(N, In, Out, FFTW_ESTIMATE) : nullptr;
    fftw_free(In);
    fftw_free(Out);
    return Plan;
}

// The shared plan of N points (made on first use); nullptr when there is no memory for it.
// Any thread.
fftw_plan SharedPlan(int N);
// Whether this process's planner took the wisdom built into the program (made on first use).
bool BuiltInWisdomTaken();
