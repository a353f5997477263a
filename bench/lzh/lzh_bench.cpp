// Packs and unpacks each input with our LHA library, lha (-lh5-), lhasa (unpack only)
// and gzip -6, and prints throughput and sizes side by side.
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

void row(const char *tool, double mb, double packSec, uintmax_t size, double unpackSec, bool ok)
{
    char pack[32] = "-", unpack[32] = "-", bytes[32] = "-";
    if (packSec > 0)
        std::snprintf(pack, sizeof pack, "%8.1f", mb / packSec);
    if (size > 0)
        std::snprintf(bytes, sizeof bytes, "%12ju", size);
    if (unpackSec > 0)
        std::snprintf(unpack, sizeof unpack, "%8.1f", mb / unpackSec);
    std::printf("  %-14s %10s %14s %10s  %s\n", tool, pack, bytes, unpack, ok ? "" : "FAILED");
}

void benchOne(const fs::path &input, const fs::path &work)
{
    const double mb = double(fs::file_size(input)) / 1e6;
    g_runs = fs::file_size(input) <= (16u << 20) ? 3 : 1;
    std::printf("\n%s (%.1f MB, best of %d)\n  %-14s %10s %14s %10s\n", input.filename().c_str(), mb, g_runs,
                "tool", "pack MB/s", "size", "unpk MB/s");
    const std::string name = input.filename().string();
    fs::remove_all(work);
    fs::create_directories(work / "ours" / "out");
    fs::create_directories(work / "lha" / "out");
    fs::create_directories(work / "lhasa");
    fs::create_directories(work / "gzip");
    fs::copy_file(input, work / "lha" / name);
    bool ok = false, ok2 = false;

    const fs::path ours = work / "ours" / "a.lzh";
    const double oursPack = seconds(
        [&] {
            fs::remove(ours);
            return lzh::packFile(ours, input, name) == lzh::Ok;
        },
        &ok);
    const double oursUnpack =
        seconds([&] { return lzh::unpackArchive(ours, work / "ours" / "out", nullptr) == lzh::Ok; }, &ok2);
    row("zorvin -lh5-", mb, oursPack, fs::file_size(ours), oursUnpack,
        ok && ok2 && sameFile(input, work / "ours" / "out" / name));

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

    const double lhasaOurs = seconds(
        [&] {
            return shell("cd " + shellQuote(work / "lhasa") + " && lhasa xqf " + shellQuote(ours) +
                         " >/dev/null 2>&1");
        },
        &ok);
    row("lhasa (ours)", mb, 0, 0, lhasaOurs, ok && sameFile(input, work / "lhasa" / name));
    fs::remove(work / "lhasa" / name);
    const double lhasaTheirs = seconds(
        [&] {
            return shell("cd " + shellQuote(work / "lhasa") + " && lhasa xqf " + shellQuote(theirs) +
                         " >/dev/null 2>&1");
        },
        &ok);
    row("lhasa (lha)", mb, 0, 0, lhasaTheirs, ok && sameFile(input, work / "lhasa" / name));
    const double oursTheirs =
        seconds([&] { return lzh::unpackArchive(theirs, work / "ours" / "out", nullptr) == lzh::Ok; }, &ok);
    row("zorvin (lha)", mb, 0, 0, oursTheirs, ok && sameFile(input, work / "ours" / "out" / name));

    const fs::path gz = work / "gzip" / "a.gz";
    const double gzPack =
        seconds([&] { return shell("gzip -6 -c " + shellQuote(input) + " > " + shellQuote(gz)); }, &ok);
    const double gzUnpack = seconds(
        [&] { return shell("gzip -dc " + shellQuote(gz) + " > " + shellQuote(work / "gzip" / name)); }, &ok2);
    row("gzip -6", mb, gzPack, fs::file_size(gz), gzUnpack,
        ok && ok2 && sameFile(input, work / "gzip" / name));

    std::printf("  goals: pack %.2fx gzip -6 (>1), size %+.2f%% vs lha (<=+2%%), unpack %.2fx lhasa (>=2)\n",
                gzPack / oursPack,
                lhaSize ? 100.0 * (double(fs::file_size(ours)) / double(lhaSize) - 1) : 0.0,
                lhasaTheirs / oursTheirs);
    fs::remove_all(work);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: lzh_bench <input>...   (bench/lzh/make-inputs.sh makes the inputs)\n");
        return 2;
    }
    const fs::path work = fs::temp_directory_path() / ("lzh_bench." + std::to_string(::getpid()));
    for (int i = 1; i < argc; ++i)
        benchOne(argv[i], work);
    return 0;
}
