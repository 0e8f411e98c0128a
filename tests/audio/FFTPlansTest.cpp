// The plans the analysers share, made from the wisdom the build carries: the plans FFTW's own
// search makes, transforming bit for bit alike.

#include "audio/FFTPlans.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

std::string PlanText(fftw_plan Plan)
{
    char* Text = fftw_sprint_plan(Plan);
    std::string Result = Text ? Text : "";
    std::free(Text);
    return Result;
}

// The transform of Input (N points) by Plan.
std::vector<double> TransformWith(fftw_plan Plan, const std::vector<double>& Input)
{
    const size_t N = Input.size();
    auto* In = static_cast<double*>(fftw_malloc(sizeof(double) * N));
    auto* Out = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * (N / 2 + 1)));
    std::memcpy(In, Input.data(), sizeof(double) * N);
    fftw_execute_dft_r2c(Plan, In, Out);
    std::vector<double> Result(reinterpret_cast<double*>(Out), reinterpret_cast<double*>(Out) + 2 * (N / 2 + 1));
    fftw_free(In);
    fftw_free(Out);
    return Result;
}

}  // namespace

TEST(FFTPlans, TheBuiltInWisdomGivesThePlansTheSearchGives)
{
    // This machine built the program: its planner takes what the build's planner chose.
    ASSERT_TRUE(BuiltInWisdomTaken());
    std::vector<std::pair<std::string, std::vector<double>>> FromWisdom;
    std::mt19937 Random(3);
    std::uniform_int_distribution<int> Sample(-65536, 65536);
    std::vector<std::vector<double>> Inputs;
    for (const int N : WisdomSizes) {
        Inputs.emplace_back(size_t(N));
        for (double& Value : Inputs.back())
            Value = Sample(Random);
        const fftw_plan Plan = SharedPlan(N);
        ASSERT_NE(Plan, nullptr);
        FromWisdom.emplace_back(PlanText(Plan), TransformWith(Plan, Inputs.back()));
    }
    // The same plans searched for without any wisdom.
    fftw_forget_wisdom();
    for (size_t I = 0; I < std::size(WisdomSizes); ++I) {
        SCOPED_TRACE(WisdomSizes[I]);
        const std::unique_ptr<fftw_plan_s, decltype(&fftw_destroy_plan)> Searched(EstimatedPlan(WisdomSizes[I]),
                                                                                 &fftw_destroy_plan);
        ASSERT_NE(Searched.get(), nullptr);
        EXPECT_EQ(FromWisdom[I].first, PlanText(Searched.get()));
        EXPECT_EQ(FromWisdom[I].second, TransformWith(Searched.get(), Inputs[I]));
    }
}
