// Benchmarks that are compared with each other registered shape by shape: a family per function
// would run every shape of one before the first of the other, on other hosts and in another heap
// state. Here each shape's runs follow one another, on the host the first of them builds.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace bench_replay {

using BenchmarkFunction = void (*)(benchmark::State&);

// Every combination of the given argument values, the last varying fastest.
inline std::vector<std::vector<int64_t>> Product(const std::vector<std::vector<int64_t>>& values) {
    std::vector<std::vector<int64_t>> shapes{{}};
    for (const std::vector<int64_t>& axis : values) {
        std::vector<std::vector<int64_t>> next;
        for (const std::vector<int64_t>& shape : shapes) {
            for (int64_t v : axis) {
                next.push_back(shape);
                next.back().push_back(v);
            }
        }
        shapes = std::move(next);
    }
    return shapes;
}

inline void RegisterSideBySide(std::initializer_list<std::pair<const char*, BenchmarkFunction>> runs,
                               const std::vector<std::vector<int64_t>>& shapes,
                               const std::vector<std::string>& arg_names, benchmark::TimeUnit unit) {
    for (const std::vector<int64_t>& shape : shapes) {
        for (const auto& [name, function] : runs) {
            benchmark::RegisterBenchmark(name, function)->Args(shape)->ArgNames(arg_names)->Unit(unit);
        }
    }
}

} // namespace bench_replay
