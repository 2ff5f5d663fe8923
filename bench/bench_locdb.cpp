// The location database on a synthetic qqwry.dat of 550,000 ranges and
// about 11 MB, built in a temporary directory:
//   Lookup      PrepareLocationDb + LookupLocation of random address texts,
//               as the check engine calls them;
//   BareSearch  the reference: a plain binary search of the same addresses,
//               as numbers, over the start addresses of the same index.
//               Both loops write each address's text just before use, as
//               the engine's caller does (so the text is in the cache, not
//               one of 65,536 texts fetched from memory), and so both carry
//               the same cost besides the search;
//   Load        LoadLocationDb of the file (from the page cache);
//   Fread       the reference: fopen, size, malloc, one fread, fclose.
// At the end it prints Lookup/BareSearch and Load/Fread from the medians
// (or the single runs without --benchmark_repetitions).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "locdb/location_db.h"
#include "qqwry_builder.h"

namespace {

constexpr size_t kRanges = 550000;
constexpr size_t kAddresses = 1 << 16;

std::vector<uint32_t> g_numbers;       // random addresses
std::vector<uint8_t> g_file;           // the database file's bytes

std::string Dotted(uint32_t a) {
    char s[16];
    snprintf(s, sizeof s, "%u.%u.%u.%u", a >> 24, (a >> 16) & 255, (a >> 8) & 255, a & 255);
    return s;
}

// A GBK text of n two-byte characters drawn from the common hanzi rows.
std::string Hanzi(std::mt19937 &rng, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        s += static_cast<char>(0xB0 + rng() % 0x28);
        s += static_cast<char>(0xA1 + rng() % 0x5E);
    }
    return s;
}

// Ranges that cover the whole address space, as real files do, with
// countries and areas of realistic lengths and the mix of forms real files
// use: mostly redirects to shared texts, some texts in place.
void BuildDatabase() {
    std::mt19937 rng(20240611);
    std::vector<std::string> countries, areas;
    for (int i = 0; i < 400; ++i) countries.push_back(Hanzi(rng, 2 + rng() % 6));
    for (int i = 0; i < 6000; ++i) {
        std::string a = Hanzi(rng, 2 + rng() % 6);
        if (rng() % 3 == 0) a += " " + Hanzi(rng, 2 + rng() % 6);
        areas.push_back(a);
    }
    // Shared (country, area) pairs, as the 0x01 targets of real files are.
    std::vector<std::pair<int, int>> pairs;
    for (int i = 0; i < 15000; ++i) pairs.push_back({int(rng() % countries.size()), int(rng() % areas.size())});

    std::vector<uint32_t> starts;
    starts.push_back(0);
    std::map<uint32_t, bool> taken{{0, true}};
    while (starts.size() < kRanges) {
        uint32_t s = rng();
        if (taken.emplace(s, true).second) starts.push_back(s);
    }
    std::sort(starts.begin(), starts.end());

    QqwryBuilder db;
    for (size_t k = 0; k < starts.size(); ++k) {
        uint32_t end = k + 1 < starts.size() ? starts[k + 1] - 1 : 0xFFFFFFFF;
        unsigned kind = rng() % 100;
        const std::pair<int, int> &p = pairs[rng() % pairs.size()];
        const std::string &country = countries[p.first];
        const std::string &area = areas[p.second];
        if (kind < 42)
            db.Add(starts[k], end, country, area, CountryForm::Mode1);
        else if (kind < 47)
            db.Add(starts[k], end, country, area, CountryForm::Mode1Then2, AreaForm::Redirect2);
        else if (kind < 75)
            db.Add(starts[k], end, country, area, CountryForm::Mode2, AreaForm::Redirect2);
        else if (kind < 88)
            db.Add(starts[k], end, country, Hanzi(rng, 3 + rng() % 8), CountryForm::Mode2);
        else if (kind < 95)
            db.Add(starts[k], end, country, area, CountryForm::InPlace, AreaForm::Redirect1);
        else
            db.Add(starts[k], end, country, "", CountryForm::Mode2, AreaForm::Unknown);
    }
    g_file = db.Bytes();
    WriteFile("qqwry.dat", g_file);

    for (size_t i = 0; i < kAddresses; ++i) g_numbers.push_back(rng());
}

// Writes the address as dotted decimal text, cheaply.
void WriteDotted(uint32_t a, char *out) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        unsigned part = (a >> shift) & 255;
        if (part >= 100) *out++ = static_cast<char>('0' + part / 100);
        if (part >= 10) *out++ = static_cast<char>('0' + part / 10 % 10);
        *out++ = static_cast<char>('0' + part % 10);
        *out++ = '.';
    }
    out[-1] = '\0';
}

uint32_t ReadLe32(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void BM_Lookup(benchmark::State &state) {
    PrepareLocationDb();
    if (!LocationDbLoaded()) {
        state.SkipWithError("qqwry.dat did not load");
        return;
    }
    char text[16];
    for (uint32_t a : {0u, 0x01020304u, 0x0a63640au, 0xffffffffu, g_numbers[0], g_numbers[1]}) {
        WriteDotted(a, text);
        if (Dotted(a) != text) {
            state.SkipWithError("address texts are written wrongly");
            return;
        }
    }
    size_t i = 0;
    for (auto _ : state) {
        WriteDotted(g_numbers[i++ & (kAddresses - 1)], text);
        LocationResult r;
        std::memset(&r, 0, sizeof r);
        PrepareLocationDb();
        LookupLocation(text, &r);
        benchmark::DoNotOptimize(r);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_BareSearch(benchmark::State &state) {
    // The index of the loaded image itself: the same memory the lookups use.
    PrepareLocationDb();
    if (!LocationDbLoaded()) {
        state.SkipWithError("qqwry.dat did not load");
        return;
    }
    const uint8_t *file = LocationDbImage;
    uint32_t first = ReadLe32(file), last = ReadLe32(file + 4);
    int32_t count = static_cast<int32_t>((last - first) / 7 + 1);
    const uint8_t *index = file + first;
    size_t i = 0;
    char text[16];
    for (auto _ : state) {
        uint32_t address = g_numbers[i++ & (kAddresses - 1)];
        WriteDotted(address, text);
        benchmark::DoNotOptimize(text);
        int32_t lo = 0, hi = count - 1;
        while (lo <= hi) {
            int32_t mid = (lo + hi) / 2;
            if (address < ReadLe32(index + 7 * static_cast<size_t>(mid)))
                hi = mid - 1;
            else
                lo = mid + 1;
        }
        benchmark::DoNotOptimize(hi);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Load(benchmark::State &state) {
    for (auto _ : state) {
        ReleaseLocationDb();
        LoadLocationDb();
        if (!LocationDbLoaded()) {
            state.SkipWithError("qqwry.dat did not load");
            return;
        }
        benchmark::DoNotOptimize(LocationDbImage);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(g_file.size()));
}

void BM_Fread(benchmark::State &state) {
    for (auto _ : state) {
        FILE *f = fopen("qqwry.dat", "rb");
        if (f == nullptr) {
            state.SkipWithError("qqwry.dat did not open");
            return;
        }
        fseek(f, 0, SEEK_END);
        long size = ftell(f);
        fseek(f, 0, SEEK_SET);
        void *block = malloc(static_cast<size_t>(size));
        size_t got = fread(block, static_cast<size_t>(size), 1, f);
        fclose(f);
        benchmark::DoNotOptimize(got);
        benchmark::DoNotOptimize(block);
        free(block);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(g_file.size()));
}

BENCHMARK(BM_Lookup);
BENCHMARK(BM_BareSearch);
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fread)->Unit(benchmark::kMillisecond);

// Keeps the real time per iteration of each benchmark: the median when the
// runs are repeated, the run itself otherwise.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            std::string name = run.run_name.function_name;
            double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                median_[name] = seconds;
            else if (run.run_type == Run::RT_Iteration)
                single_[name] = seconds;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    double Time(const std::string &name) const {
        auto m = median_.find(name);
        if (m != median_.end()) return m->second;
        auto s = single_.find(name);
        return s != single_.end() ? s->second : 0;
    }

private:
    std::map<std::string, double> median_, single_;
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    TempWorkDir dir;
    BuildDatabase();
    printf("synthetic qqwry.dat: %zu ranges, %zu bytes\n", kRanges, g_file.size());

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    ReleaseLocationDb();

    double lookup = reporter.Time("BM_Lookup"), bare = reporter.Time("BM_BareSearch");
    double load = reporter.Time("BM_Load"), fread_time = reporter.Time("BM_Fread");
    if (lookup > 0 && bare > 0)
        printf("lookups per second: %.0f; Lookup / BareSearch = %.2f\n", 1 / lookup, lookup / bare);
    if (load > 0 && fread_time > 0)
        printf("Load / Fread = %.2f (%.2f ms / %.2f ms)\n", load / fread_time, load * 1e3,
               fread_time * 1e3);
    benchmark::Shutdown();
    return 0;
}
