#include "bench_table.h"

#include <string>

void QvBenchRow(const char *row, const char *goal, void (*ours)(benchmark::State &),
                void (*peer)(benchmark::State &)) {
    std::string g = goal;
    benchmark::RegisterBenchmark((std::string(row) + "|ours").c_str(),
                                 [ours, g](benchmark::State &s) {
                                     ours(s);
                                     s.SetLabel(g);
                                 });
    if (peer) {
        benchmark::RegisterBenchmark((std::string(row) + "|peer").c_str(),
                                     [peer, g](benchmark::State &s) {
                                         peer(s);
                                         s.SetLabel(g);
                                     });
    }
}
