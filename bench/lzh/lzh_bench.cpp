// Packs and unpacks each input with our LHA library (the automatic choice of method and
// the thorough -lh5- search every file got before), lha (-lh5-), lhasa (unpack only),
// gzip -1 and gzip -6 (unpacked by gunzip), and prints throughput and sizes side by side.
#include "lzh/LzhArchive.h"
#include "lzh/LzhErrors.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Small inputs are timed several times and the best run counts, for every tool alike, so
// that one disturbed run on a shared machine does not decide the comparison.
int g_runs = 1;

double seconds(const std::function<bool()> &work, bool *ok)
{
    double best = 1e30;
    *ok = true;
    for (int run = 0; run < g_runs; ++run) {
        const auto t0 = std::chrono::steady_clock::now();
        *ok = work() && *ok;
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

bool shell(const std::string &command)
{
    return std::system(command.c_str()) == 0;
}

std::string shellQuote(const fs::path &p)
{
    return "'" + p.string() + "'";
}

bool sameFile(const fs::path &a, const fs::path &b)
{
    return shell("cmp -s " + shellQuote(a) + " " + shellQuote(b));
}

void row(const std::string &tool, double mb, double packSec, uintmax_t size, double unpackSec, bool ok)
{
    char pack[32] = "-", unpack[32] = "-", bytes[32] = "-", ms[32] = "-";
    if (packSec > 0) {
        std::snprintf(pack, sizeof pack, "%8.1f", mb / packSec);
        std::snprintf(ms, sizeof ms, "%8.1f", packSec * 1e3);
    }
    if (size > 0)
        std::snprintf(bytes, sizeof bytes, "%12ju", size);
    if (unpackSec > 0)
        std::snprintf(unpack, sizeof unpack, "%8.1f", mb / unpackSec);
    std::printf("  %-22s %10s %10s %14s %10s  %s\n", tool.c_str(), pack, ms, bytes, unpack,
                ok ? "" : "FAILED");
}

std::string methodOf(const fs::path &archive)
{
    std::vector<lzh::EntryInfo> entries;
    if (lzh::listArchive(archive, entries) != lzh::Ok || entries.empty())
        return "?";
    return entries.front().method;
}

// lhasa unpacks `archive` (of `input`) into a folder of its own: one row, and its seconds.
double lhasaRow(const fs::path &input, const fs::path &archive, const fs::path &work, double mb)
{
    fs::create_directories(work / "lhasa");
    bool ok = false;
    const double sec = seconds(
        [&] {
            return shell("cd " + shellQuote(work / "lhasa") + " && lhasa xqf " + shellQuote(archive) +
                         " >/dev/null 2>&1");
        },
        &ok);
    row("  lhasa unpacks it", mb, 0, 0, sec, ok && sameFile(input, work / "lhasa" / input.filename()));
    fs::remove_all(work / "lhasa");
    return sec;
}

struct Ours
{
    double pack = 0, unpack = 0;
    uintmax_t size = 0;
};

Ours benchOurs(const fs::path &input, const fs::path &work, const char *label, lzh::PackMethod method,
               double mb)
{
    const std::string name = input.filename().string();
    fs::remove_all(work / "ours");
    fs::create_directories(work / "ours" / "out");
    const fs::path archive = work / "ours" / "a.lzh";
    lzh::PackOptions options;
    options.method = method;
    bool ok = false, ok2 = false;
    Ours r;
    r.pack = seconds(
        [&] {
            fs::remove(archive);
            return lzh::packFile(archive, input, name, options) == lzh::Ok;
        },
        &ok);
    r.unpack =
        seconds([&] { return lzh::unpackArchive(archive, work / "ours" / "out", nullptr) == lzh::Ok; }, &ok2);
    r.size = fs::file_size(archive);
    row(std::string(label) + " " + methodOf(archive), mb, r.pack, r.size, r.unpack,
        ok && ok2 && sameFile(input, work / "ours" / "out" / name));
    // lhasa reads what we wrote.
    lhasaRow(input, archive, work, mb);
    return r;
}

struct Gzip
{
    double pack = 0, unpack = 0;
    uintmax_t size = 0;
};

Gzip benchGzip(const fs::path &input, const fs::path &work, int level, double mb)
{
    fs::create_directories(work / "gzip");
    const fs::path gz = work / "gzip" / "a.gz";
    const fs::path back = work / "gzip" / input.filename();
    bool ok = false, ok2 = false;
    Gzip g;
    g.pack = seconds(
        [&] {
            return shell("gzip -" + std::to_string(level) + " -c " + shellQuote(input) + " > " +
                         shellQuote(gz));
        },
        &ok);
    g.unpack = seconds([&] { return shell("gunzip -c " + shellQuote(gz) + " > " + shellQuote(back)); }, &ok2);
    g.size = fs::file_size(gz);
    row("gzip -" + std::to_string(level) + " / gunzip", mb, g.pack, g.size, g.unpack,
        ok && ok2 && sameFile(input, back));
    fs::remove_all(work / "gzip");
    return g;
}

void benchOne(const fs::path &input, const fs::path &work)
{
    const double mb = double(fs::file_size(input)) / 1e6;
    g_runs = fs::file_size(input) <= (16u << 20) ? 5 : 2;
    std::printf("\n%s (%.1f MB, best of %d)\n  %-22s %10s %10s %14s %10s\n", input.filename().c_str(), mb,
                g_runs, "tool", "pack MB/s", "pack ms", "size", "unpk MB/s");
    const std::string name = input.filename().string();
    fs::remove_all(work);
    fs::create_directories(work / "lha" / "out");
    fs::create_directories(work / "lhasa");
    fs::copy_file(input, work / "lha" / name);
    bool ok = false, ok2 = false;

    fs::create_directories(work / "ours");
    const Ours automatic = benchOurs(input, work, "zorvin auto", lzh::PackMethod::Auto, mb);
    const Ours thorough = benchOurs(input, work, "zorvin thorough", lzh::PackMethod::Lh5, mb);

    const fs::path theirs = work / "lha" / "a.lzh";
    const double lhaPack = seconds(
        [&] {
            return shell("cd " + shellQuote(work / "lha") + " && rm -f a.lzh && lha aqo5 a.lzh " +
                         shellQuote(name) + " >/dev/null 2>&1");
        },
        &ok);
    const double lhaUnpack = seconds(
        [&] {
            return shell("cd " + shellQuote(work / "lha" / "out") +
                         " && lha xfq ../a.lzh </dev/null >/dev/null 2>&1");
        },
        &ok2);
    const uintmax_t lhaSize = fs::exists(theirs) ? fs::file_size(theirs) : 0;
    row("lha -lh5-", mb, lhaPack, lhaSize, lhaUnpack,
        ok && ok2 && sameFile(input, work / "lha" / "out" / name));
    const double lhasaTheirs = lhasaRow(input, theirs, work, mb);
    fs::create_directories(work / "ours" / "out");
    const double oursTheirs =
        seconds([&] { return lzh::unpackArchive(theirs, work / "ours" / "out", nullptr) == lzh::Ok; }, &ok);
    row("  zorvin unpacks it", mb, 0, 0, oursTheirs, ok && sameFile(input, work / "ours" / "out" / name));

    benchGzip(input, work, 1, mb);
    const Gzip gz6 = benchGzip(input, work, 6, mb);

    std::printf("  auto: pack %.2fx gzip -6, size %+.2f%% vs thorough (<= +3%%), %.1f ms; "
                "unpack %.2fx gunzip (>= 1), %.2fx lhasa\n",
                gz6.pack / automatic.pack, 100.0 * (double(automatic.size) / double(thorough.size) - 1),
                automatic.pack * 1e3, gz6.unpack / automatic.unpack, lhasaTheirs / oursTheirs);
    fs::remove_all(work);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: lzh_bench <input>...   (bench/lzh/make-inputs.sh makes the inputs)\n");
        return 2;
    }
    std::printf("MB/s are of the input; unpack speeds include writing the file. Best of several runs:\n"
                "on a machine shared with other work the figures vary from run to run.\n");
    const fs::path work = fs::temp_directory_path() / ("lzh_bench." + std::to_string(::getpid()));
    for (int i = 1; i < argc; ++i)
        benchOne(argv[i], work);
    return 0;
}
