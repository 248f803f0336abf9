// Rows of the benchmark table: each row pairs our operation with a peer doing the same work.
#pragma once

#include <benchmark/benchmark.h>

// Registers "<row>|ours" and, when peer is given, "<row>|peer"; goal is printed beside the ratio
// (for example "<= 1.5x time" or ">= 50 M/s"). bench/run pairs them by row name.
void QvBenchRow(const char *row, const char *goal, void (*ours)(benchmark::State &),
                void (*peer)(benchmark::State &));

// Registers a row at static-initialisation time.
#define QV_BENCH_ROW(id, row, goal, ours, peer)                                                    \
    static const int qv_bench_row_##id = (QvBenchRow(row, goal, ours, peer), 0)
