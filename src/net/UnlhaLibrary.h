// Our stand-in for the closed LZH archiver library: the three calls the program makes
// (Unlha, UnlhaGetVersion, UnlhaSetCursorMode) over the LHA library in src/lzh. It parses
// the archiver command line and converts names between disk (UTF-8) and archive (CP932).
// One instance per engine, owned by its ArchiverQueue, so each engine in a process has its
// own busy state.
#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <filesystem>
#include <limits>

// What bounds one command besides its command line: the bytes an extract's selected entries
// may declare in all (checked from the headers before anything is written), and a flag
// another thread raises to stop an extract or an add (it then removes what it wrote).
struct UnlhaLimits
{
    quint64 maxTotalBytes = std::numeric_limits<quint64>::max();
    const std::atomic<bool> *cancel = nullptr;
    // An add command for a transfer: a file that goes stored into a new archive leaves
    // only its header there (lzh::PackOptions::headerOnlyWhenStored).
    bool headerOnlyWhenStored = false;
    // An add command counts the bytes it read of its file here (lzh::PackOptions::inputRead).
    std::atomic<uint64_t> *inputRead = nullptr;
};

class UnlhaLibrary
{
  public:
    // The answer to a call made while another call is still running; the one definition
    // of this number in the program.
    static constexpr int kBusy = 32799;
    // What UnlhaGetVersion answers once the library passed its self-check (1.00).
    static constexpr int kVersion = 100;

    UnlhaLibrary();
    ~UnlhaLibrary();
    UnlhaLibrary(const UnlhaLibrary &) = delete;
    UnlhaLibrary &operator=(const UnlhaLibrary &) = delete;

    // Runs one command line: "a" adds files to an archive, "x" (or "e") unpacks into the
    // destination folder (the path ending with "/") every entry, or only the entry whose
    // bare name is named after the folder (at most one). Switches ("-n", "-gm", ...) are
    // accepted and ignored; `limits` apply to extract commands, but for the choice of a
    // header alone, which applies to add commands, and the cancel flag, which stops both.
    // Returns 0, kBusy or an lzh::Error code; a short result text goes into `output`
    // (NUL-terminated, at most `outputSize` bytes). Safe to call from any thread; a second
    // concurrent call returns kBusy at once.
    int Unlha(quintptr owner, const QString &commandLine, char *output, int outputSize,
              const UnlhaLimits &limits = {});
    // Non-zero once the library works (checked by packing and unpacking a sample in memory).
    int UnlhaGetVersion();
    // The library never shows a cursor; the mode is kept only to answer like the original.
    bool UnlhaSetCursorMode(int mode);
    int cursorMode() const { return m_cursorMode.load(); }

    bool isBusy() const { return m_busy.load(); }

    // Splits a command line into words; double quotes group blanks into one word and are
    // removed. `quoted` (when given) tells which words were quoted. False on an open quote.
    static bool splitCommandLine(const QString &line, QStringList *words, QList<bool> *quoted = nullptr);
    // A path as the LZH library takes it: the file name bytes Qt uses for it.
    static std::filesystem::path fsPath(const QString &path);

  private:
    int run(const QString &commandLine, const UnlhaLimits &limits);

    std::atomic<bool> m_busy{false};
    std::atomic<int> m_cursorMode{1};
    int m_version = -1; // -1 until the first self-check
};
