// Costs of the operator's configuration files and of program messages: sorting the frequency
// table, loading the sample list and the frequency file, and adding a message with logging on.

#include "helpers/TestFiles.h"
#include "messages/Class_OndrixMessage.h"
#include "samples/Class_Frequency.h"
#include "samples/Class_SampleRec.h"


#include <benchmark/benchmark.h>

#include <random>

namespace {

TFrequencyRecArr RandomTable(int Count)
{
    std::mt19937 Random(5);
    TFrequencyRecArr Table;
    Table.reserve(Count);
    for (int I = 0; I < Count; ++I) {
        TFrequencyRec Rec;
        for (int C = 0; C < 6; ++C)
            Rec.ID += QChar(u"aAbBcC019#*"[Random() % 11]);
        Rec.Freq = {697, 1209};
        Rec.FreqDelta = {35, 35};
        Table.append(Rec);
    }
    return Table;
}

void BM_SortFrequencyTable(benchmark::State& State)
{
    const TFrequencyRecArr Unsorted = RandomTable(int(State.range(0)));
    for (auto _ : State) {
        TFrequencyRecArr Table = Unsorted;
        SortFrequencyTable(Table);
        benchmark::DoNotOptimize(Table.data());
    }
    State.SetItemsProcessed(State.iterations() * State.range(0));
}
BENCHMARK(BM_SortFrequencyTable)->Arg(16)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_LoadFrequencyTable(benchmark::State& State)
{
    testkit::TempDir Dir;
    const QString FileName = QString::fromStdString(Dir.file("Freq.ini"));
    SaveFrequencyTable(RandomTable(int(State.range(0))), FileName);
    for (auto _ : State) {
        TFrequencyRecArr Table;
        LoadFrequencyTable(Table, FileName);
        benchmark::DoNotOptimize(Table.data());
    }
    State.SetItemsProcessed(State.iterations() * State.range(0));
}
BENCHMARK(BM_LoadFrequencyTable)->Arg(16)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_LoadSampleList(benchmark::State& State)
{
    testkit::TempDir Dir;
    const QString FileName = QString::fromStdString(Dir.file("Samples.ini"));
    TSampleList List;
    for (int I = 0; I < State.range(0); ++I) {
        auto Rec = std::make_unique<TSampleRec>();
        Rec->Number = int(State.range(0)) - I;
        Rec->Type = TSampleType(I % 4);
        Rec->Description = QStringLiteral("Образец %1").arg(I);
        Rec->Path = QStringLiteral("/clips/%1.wav").arg(I);
        Rec->Command = QStringLiteral("1,2,3");
        List.Add(std::move(Rec));
    }
    List.SaveToFile(FileName);
    for (auto _ : State) {
        TSampleList Loaded;
        Loaded.LoadFromFile(FileName);
        benchmark::DoNotOptimize(Loaded.Count());
    }
    State.SetItemsProcessed(State.iterations() * State.range(0));
}
BENCHMARK(BM_LoadSampleList)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_AddMessageLogged(benchmark::State& State)
{
    testkit::TempDir Dir;
    TOndrixMessages Messages;
    Messages.LogFolder = QString::fromStdString(Dir.file("Log/"));
    Messages.LogFileCreate = true;
    for (auto _ : State)
        Messages.AddMessage(msgSampleDetect, QStringLiteral("Найден образец № 1 \"Джингл\""));
    State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_AddMessageLogged)->Unit(benchmark::kMicrosecond);

}  // namespace
