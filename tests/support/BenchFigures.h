// What the benchmarks print: a series of run times as median and mean, runs timed one after
// another, and `xwd -root` timed the same way as the yardstick beside them.
#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <numeric>
#include <vector>

inline void reportSeconds(const char *what, std::vector<double> seconds, int width = 44)
{
    if (seconds.empty()) {
        std::printf("%-*s no runs\n", width, what);
        return;
    }
    std::sort(seconds.begin(), seconds.end());
    const double mean = std::accumulate(seconds.begin(), seconds.end(), 0.0) / double(seconds.size());
    std::printf("%-*s median %7.4f s   mean %7.4f s   (%zu runs)\n", width, what, seconds[seconds.size() / 2],
                mean, seconds.size());
}

// Up to `rounds` runs; a run that returns false ends the series (it is not counted).
inline std::vector<double> timedRuns(int rounds, const std::function<bool()> &run)
{
    std::vector<double> seconds;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        if (!run())
            break;
        seconds.push_back(double(clock.nsecsElapsed()) / 1e9);
    }
    return seconds;
}

inline std::vector<double> timedXwdRoot(int rounds, const QString &out)
{
    return timedRuns(rounds, [&out] {
        return QProcess::execute(QStringLiteral("xwd"), {QStringLiteral("-root"), QStringLiteral("-silent"),
                                                         QStringLiteral("-out"), out}) == 0;
    });
}
