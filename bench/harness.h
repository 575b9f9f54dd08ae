// A small benchmark harness: contenders run interleaved, round after round,
// so that machine noise hits them alike; each round times a batch long enough
// to dwarf the clock, and the report gives medians, throughput and the ratio
// of every contender's speed to the first one's.
//
//   kwbench::Suite s("memxlt 16 MiB", bytes_per_call);
//   s.add("KW_memxlt", [&] { KW_memxlt(buf, KW_xlate_ASC_EBC, n); });
//   s.add("byte loop", [&] { ... });
//   s.run();  // prints the table
//
// Ratio = (first contender's median time) / (this contender's median time):
// above 1.0 the contender is faster than the first.
#ifndef KW_BENCH_HARNESS_H
#define KW_BENCH_HARNESS_H

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kwbench {

// Keep the compiler from discarding a result.
template <class T>
inline void keep(T const &value) {
    asm volatile("" : : "r,m"(value) : "memory");
}
inline void clobber() { asm volatile("" : : : "memory"); }

class Suite {
public:
    // bytes: the work of one call, for the MB/s column (0 for none).
    Suite(std::string title, double bytes) : title_(std::move(title)), bytes_(bytes) {}

    void add(std::string name, std::function<void()> fn) { items_.push_back({std::move(name), std::move(fn), {}}); }

    // rounds: interleaved rounds; min_ms: the least time a batch runs.
    void run(int rounds = 15, double min_ms = 20.0) {
        if (const char *r = std::getenv("KW_BENCH_ROUNDS")) {
            rounds = std::max(1, std::atoi(r));
        }
        for (auto &it : items_) {
            it.fn();  // warm caches and lazy dispatch
            it.batch = calibrate(it.fn, min_ms);
        }
        for (int r = 0; r < rounds; ++r) {
            for (auto &it : items_) {
                it.samples.push_back(time_batch(it.fn, it.batch) / static_cast<double>(it.batch));
            }
        }
        report();
    }

    // Median seconds per call of contender i, after run().
    double median(std::size_t i) const { return median_of(items_[i].samples); }

private:
    struct Item {
        std::string name;
        std::function<void()> fn;
        std::vector<double> samples;
        long batch = 1;
    };

    static double time_batch(const std::function<void()> &fn, long n) {
        auto t0 = std::chrono::steady_clock::now();
        for (long i = 0; i < n; ++i) {
            fn();
        }
        auto t1 = std::chrono::steady_clock::now();
        return std::chrono::duration<double>(t1 - t0).count();
    }

    static long calibrate(const std::function<void()> &fn, double min_ms) {
        long n = 1;
        for (;;) {
            double s = time_batch(fn, n);
            if (s * 1000.0 >= min_ms || n > (1L << 30)) {
                return n;
            }
            n *= 2;
        }
    }

    static double median_of(std::vector<double> v) {
        std::sort(v.begin(), v.end());
        std::size_t m = v.size() / 2;
        return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2.0;
    }

    void report() const {
        std::printf("\n== %s\n", title_.c_str());
        std::printf("  %-40s %14s %12s %8s\n", "contender", "median", "MB/s", "ratio");
        const double base = median_of(items_.front().samples);
        for (const auto &it : items_) {
            const double m = median_of(it.samples);
            const double mbs = bytes_ > 0 ? bytes_ / m / 1e6 : 0.0;
            std::printf("  %-40s %11.3f us %12.1f %8.2f\n", it.name.c_str(), m * 1e6, mbs, base / m);
        }
        std::fflush(stdout);
    }

    std::string title_;
    double bytes_;
    std::vector<Item> items_;
};

}  // namespace kwbench

#endif
