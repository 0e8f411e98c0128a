// Build step: prints, as a C++ string literal, FFTW's wisdom for the estimated plans of the
// engine's block sizes, made exactly as the program makes them (audio/FFTPlans.h), so that the
// program's planner can skip its search (see there). Usage: FFTWisdom OUTPUT-FILE

#include "audio/FFTPlans.h"

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FILE\n", argv[0]);
        return 2;
    }
    for (const int N : WisdomSizes) {
        fftw_plan Plan = EstimatedPlan(N);
        if (Plan == nullptr) {
            std::fprintf(stderr, "%s: no plan of %d points\n", argv[0], N);
            return 1;
        }
        fftw_destroy_plan(Plan);
    }
    char* Wisdom = fftw_export_wisdom_to_string();
    std::FILE* Out = std::fopen(argv[1], "w");
    const bool Written = Wisdom != nullptr && Out != nullptr
                         && std::fprintf(Out, "R\"wisdom(%s)wisdom\"\n", Wisdom) > 0;
    const bool Closed = Out != nullptr && std::fclose(Out) == 0;
    fftw_free(Wisdom);
    if (!Written || !Closed) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
