/* Times the shipped core against the plain walk (the core built with
 * HIST2_PLAIN_WALK) on the same inputs in one run, and prints the speed-up
 * of each case at the end. Before timing, both give every case's histogram
 * of the tests' reference walk bit for bit. Times are CPU times of the one
 * thread, so other work on the machine counts less. */
#include <benchmark/benchmark.h>

#include <map>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

#include "hist2.h"
#include "hist2_plain.h"
#include "phantom.h"
#include "reference.h"

typedef void walk_fn(const double *, const unsigned char *, const unsigned char *, const size_t *,
                     const size_t *, double *, const float *);

static const size_t dim[3] = {256, 256, 128};

struct inputs {
    std::vector<unsigned char> vol1, vol2;
    double rotated[16], identity[16];
    inputs() : vol1(phantom(dim, 0)), vol2(phantom(dim, 1))
    {
        const double shift[3] = {2.5, -1.75, 1.25};
        rigid_map(dim, 0.05, 0.08, shift, rotated);
        for (int k = 0; k < 16; ++k)
            identity[k] = k % 5 == 0;
    }
};

static const inputs &data()
{
    static const inputs in;
    return in;
}

/* Whether walk gives the reference's histogram, bit for bit, on a case. */
static bool matches_reference(walk_fn *walk, const double *mat, const float *skips)
{
    const inputs &in = data();
    std::vector<double> got(65536, 0.0), want(65536, 0.0);
    walk(mat, in.vol1.data(), in.vol2.data(), dim, dim, got.data(), skips);
    ref_hist2(mat, in.vol1.data(), in.vol2.data(), dim, dim, want.data(), skips);
    return memcmp(got.data(), want.data(), got.size() * sizeof(double)) == 0;
}

static void run(benchmark::State &state, walk_fn *walk, bool identity, float sx, float sy, float sz)
{
    const inputs &in = data();
    const double *mat = identity ? in.identity : in.rotated;
    const float skips[3] = {sx, sy, sz};
    std::vector<double> hist(65536, 0.0);
    for (auto _ : state) {
        walk(mat, in.vol1.data(), in.vol2.data(), dim, dim, hist.data(), skips);
        benchmark::DoNotOptimize(hist.data());
        benchmark::ClobberMemory();
    }

    /* Every accepted point adds a weight of 1 (up to rounding). */
    std::vector<double> once(65536, 0.0);
    walk(mat, in.vol1.data(), in.vol2.data(), dim, dim, once.data(), skips);
    double accepted = 0;
    for (double h : once)
        accepted += h;
    const double points = (double)grid_points(dim, skips);
    const benchmark::Counter::Flags per = benchmark::Counter::Flags(
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["s/point"] = benchmark::Counter(points, per);
    state.counters["s/accepted"] = benchmark::Counter(accepted + 0.5 - fmod(accepted + 0.5, 1.0), per);
}

/* Whether a run failed or was skipped. Google Benchmark up to 1.7 flags it
 * in error_occurred; 1.8 and later in skipped, whose first value (0) is
 * "not skipped". The overload for int is chosen where error_occurred exists. */
template <class R>
static auto run_failed(const R &r, int) -> decltype(bool(r.error_occurred))
{
    return r.error_occurred;
}
template <class R>
static bool run_failed(const R &r, long)
{
    return static_cast<int>(r.skipped) != 0;
}

/* Keeps the console table and remembers each case's fastest repetition:
 * this machine's speed drifts by 10-20 % from second to second, and the
 * fastest of several interleaved repetitions is the steadiest estimate. */
class ratio_reporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> shipped, plain;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs) {
            if (r.run_type != Run::RT_Iteration || run_failed(r, 0))
                continue;
            const std::string name = r.benchmark_name();
            const size_t slash = name.find('/');
            const std::string which = name.substr(0, slash), rest = name.substr(slash + 1);
            std::map<std::string, double> &best = which == "hist2" ? shipped : plain;
            const double t = r.GetAdjustedCPUTime();
            if (!best.count(rest) || t < best[rest])
                best[rest] = t;
        }
    }
};

int main(int argc, char **argv)
{
    struct bench_case {
        const char *name;
        bool identity;
        float sx, sy, sz;
    };
    static const bench_case cases[] = {
        {"identity/skips:1", true, 1, 1, 1},    {"rigid/skips:1", false, 1, 1, 1},
        {"rigid/skips:2", false, 2, 2, 2},      {"rigid/skips:4", false, 4, 4, 4},
        {"rigid/skips:1.5,1.5,2.5", false, 1.5f, 1.5f, 2.5f},
    };
    for (const bench_case &c : cases) {
        const float skips[3] = {c.sx, c.sy, c.sz};
        const double *mat = c.identity ? data().identity : data().rotated;
        if (!matches_reference(hist2, mat, skips) || !matches_reference(hist2_plain, mat, skips)) {
            fprintf(stderr, "%s: a walk differs from the reference walk\n", c.name);
            return 1;
        }
    }
    for (const bench_case &c : cases) {
        const std::string name = c.name;
        benchmark::RegisterBenchmark(("hist2/" + name).c_str(), run, hist2, c.identity, c.sx, c.sy, c.sz)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("hist2_plain/" + name).c_str(), run, hist2_plain, c.identity, c.sx, c.sy,
                                     c.sz)
            ->Unit(benchmark::kMillisecond);
    }
    data();
    /* Unless told otherwise: five repetitions of every case, the shipped
     * and the reference walks in random order, so both see the same drift. */
    std::vector<char *> args(argv, argv + argc);
    char reps[] = "--benchmark_repetitions=5", mix[] = "--benchmark_enable_random_interleaving=true";
    bool has_reps = false;
    for (char *a : args)
        has_reps = has_reps || strncmp(a, "--benchmark_repetitions", 23) == 0;
    if (!has_reps) {
        args.push_back(reps);
        args.push_back(mix);
    }
    int count = (int)args.size();
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    printf("\nspeed-up of hist2 over hist2_plain (the plain walk), one thread, fastest repetitions of this run:\n");
    for (const auto &s : reporter.shipped)
        if (reporter.plain.count(s.first))
            printf("  %-28s %5.2fx\n", s.first.c_str(), reporter.plain[s.first] / s.second);
    return 0;
}
