// Times UnpackResource (resource 207 of this program) and ExtractArchive of what it wrote, and
// watches the process's private memory while both run.
//   payload_bench_<MiB>.exe <work folder with trailing backslash> <repetitions> [log-first|log-last]
// Prints unpack_ms=... and extract_ms=... (one figure per timed run), bare_copy_ms (a plain
// ReadFile/WriteFile loop of 1,024 bytes over the archive), private_base_kib and
// private_peak_kib. With log-first or log-last each repetition runs both steps four times, twice
// with the run's log open (a new file in the work folder, as a run with /Log makes it), in the
// order on, off, off, on or off, on, on, off; the figures with the log are unpack_log_ms=... and
// extract_log_ms=..., and what one line of the log costs follows: log_line_ms as LogEvent writes
// it, synced_line_ms flushed to the disk.
// Every timed step starts with nothing of this program's output waiting to be written: what the
// step before wrote is flushed to the disk first. The last unpacked archive and extracted files
// stay for the caller.
#include "base/Log.h"
#include "payload/Archive.h"
#include "payload/Unpack.h"
#include "resources/resource.h"
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace
{
double g_dTicksPerMs;

double NowMs()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / g_dTicksPerMs;
}

// PrivateUsage where the system keeps it. Wine answers 0 there; its PagefileUsage is the
// process's anonymous resident memory, which is what grows with a private buffer.
SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(),
                              reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof(counters)))
        return 0;
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

// Samples the private memory every millisecond until told to stop and keeps the largest value.
struct CSampler
{
    volatile LONG m_nStop = 0;
    SIZE_T m_nPeak = 0;
    static DWORD WINAPI Run(void* param)
    {
        CSampler* self = static_cast<CSampler*>(param);
        while (!self->m_nStop)
        {
            SIZE_T now = PrivateBytes();
            if (now > self->m_nPeak)
                self->m_nPeak = now;
            Sleep(1);
        }
        return 0;
    }
};

// Calls action with the path of every file (not folder) directly in folder.
void ForEachFile(const std::string& folder, void (*action)(const std::string&))
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do
    {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            action(folder + data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

void RemoveFile(const std::string& path)
{
    DeleteFileA(path.c_str());
}

// Writes what the system still holds of the file to the disk, so that the next timed step does
// not pay for it.
void FlushFile(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    FlushFileBuffers(file);
    CloseHandle(file);
}

// One unpacking and one extraction, each timed from a flushed start; with log, the run's log is
// open (a new file) while both run, as in a run with /Log.
bool UnpackAndExtract(const std::string& archive, const std::string& dest, const wchar_t* log,
                      double* unpackMs, double* extractMs)
{
    DeleteFileA(archive.c_str());
    if (log)
    {
        DeleteFileW(log);
        if (!OpenLog(log, kLogNewFile))
        {
            fprintf(stderr, "OpenLog failed\n");
            return false;
        }
    }
    double start = NowMs();
    bool unpacked = SUCCEEDED(UnpackResource(IDR_ARCHIVE, archive.c_str()));
    double unpackEnd = NowMs();
    HRESULT hr = E_FAIL;
    double extractStart = 0;
    double extractEnd = 0;
    if (unpacked)
    {
        FlushFile(archive);
        ForEachFile(dest, RemoveFile);
        extractStart = NowMs();
        hr = ExtractArchive(archive.c_str(), dest.c_str());
        extractEnd = NowMs();
        ForEachFile(dest, FlushFile);
    }
    CloseLog();
    if (unpackMs)
        *unpackMs = unpackEnd - start;
    if (extractMs)
        *extractMs = extractEnd - extractStart;
    if (!unpacked)
        fprintf(stderr, "UnpackResource failed\n");
    else if (FAILED(hr))
        fprintf(stderr, "ExtractArchive: 0x%08lX\n", static_cast<unsigned long>(hr));
    return SUCCEEDED(hr);
}

// What one line of the run's log costs, as LogEvent writes it (a line like the extraction's).
double LogLineMs(const wchar_t* log, int lines)
{
    DeleteFileW(log);
    if (!OpenLog(log, kLogNewFile))
        return 0;
    double start = NowMs();
    for (int i = 0; i < lines; ++i)
        LogEvent("archive entry \"%s\" extracted: %I64d bytes", "part00.bin",
                 static_cast<LONGLONG>(i));
    double end = NowMs();
    CloseLog();
    DeleteFileW(log);
    return (end - start) / lines;
}

// What one such line costs when it reaches the disk before the call returns, as the log's
// FILE_FLAG_WRITE_THROUGH asks. Wine opens the file without it, so a flush after every line
// stands in for it here.
double SyncedLineMs(const std::string& path, int lines)
{
    DeleteFileA(path.c_str());
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH,
                              NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    const char line[] =
        "2026-01-01 12:00:00.000 [1234] archive entry \"part00.bin\" extracted: 8388608 bytes\r\n";
    DWORD written = 0;
    double start = NowMs();
    for (int i = 0; i < lines; ++i)
    {
        WriteFile(file, line, sizeof(line) - 1, &written, NULL);
        FlushFileBuffers(file);
    }
    double end = NowMs();
    CloseHandle(file);
    DeleteFileA(path.c_str());
    return (end - start) / lines;
}

// The same calls as the extraction's copy without any of its code: ReadFile and WriteFile of
// 1,024 bytes from the archive into one new file. It shows what the platform itself costs.
double BareCopyMs(const std::string& archive, const std::string& target)
{
    DeleteFileA(target.c_str());
    HANDLE in = CreateFileA(archive.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            NULL, OPEN_EXISTING, 0, NULL);
    HANDLE out = CreateFileA(target.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, CREATE_NEW, 0, NULL);
    double start = NowMs();
    char buffer[1024];
    DWORD read = 0;
    DWORD written = 0;
    while (ReadFile(in, buffer, sizeof(buffer), &read, NULL) && read)
        WriteFile(out, buffer, read, &written, NULL);
    CloseHandle(out);
    double end = NowMs();
    CloseHandle(in);
    DeleteFileA(target.c_str());
    return end - start;
}

void PrintFigures(const char* name, const std::vector<double>& figures)
{
    printf("%s=", name);
    for (size_t i = 0; i < figures.size(); ++i)
        printf("%s%.3f", i ? "," : "", figures[i]);
    printf("\n");
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
    {
        fprintf(stderr, "usage: %s <work folder\\> <repetitions> [log-first|log-last]\n", argv[0]);
        return 2;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_dTicksPerMs = static_cast<double>(frequency.QuadPart) / 1000.0;
    const std::string work = argv[1];
    const int repetitions = atoi(argv[2]);
    const std::string order = argc > 3 ? argv[3] : "";
    const bool withLog = order == "log-first" || order == "log-last";
    const std::string archive = work + "PivoraSetup_IS.bin";
    const std::string dest = work + "out\\";
    CreateDirectoryA(dest.c_str(), NULL);
    wchar_t log[MAX_PATH];
    wchar_t linesLog[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, (work + "PivoraSetup-bench.log").c_str(), -1, log, MAX_PATH) ||
        !MultiByteToWideChar(CP_ACP, 0, (work + "lines.log").c_str(), -1, linesLog, MAX_PATH))
        return 2;

    // The private memory of the process while one unpacking and extraction run.
    const SIZE_T base = PrivateBytes();
    CSampler sampler;
    sampler.m_nPeak = base;
    HANDLE thread = CreateThread(NULL, 0, CSampler::Run, &sampler, 0, NULL);
    bool ok = UnpackAndExtract(archive, dest, NULL, NULL, NULL);
    InterlockedExchange(&sampler.m_nStop, 1);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    SIZE_T after = PrivateBytes();
    if (after > sampler.m_nPeak)
        sampler.m_nPeak = after;
    if (!ok)
        return 1;

    // That run also warmed the resource pages and the page cache; now the timed runs, with the
    // log and without it in the order asked for.
    std::vector<double> unpackMs;
    std::vector<double> extractMs;
    std::vector<double> unpackLogMs;
    std::vector<double> extractLogMs;
    for (int i = 0; i < repetitions; ++i)
    {
        // With the log, off and on twice each, the second pair mirroring the first, so that a
        // trend over the repetition falls on both alike.
        static const bool kLogFirstPasses[4] = { true, false, false, true };
        for (int pass = 0; pass < (withLog ? 4 : 1); ++pass)
        {
            const bool logged = withLog && kLogFirstPasses[pass] == (order == "log-first");
            double unpack = 0;
            double extract = 0;
            if (!UnpackAndExtract(archive, dest, logged ? log : NULL, &unpack, &extract))
                return 1;
            (logged ? unpackLogMs : unpackMs).push_back(unpack);
            (logged ? extractLogMs : extractMs).push_back(extract);
        }
    }
    std::vector<double> bareMs(1, BareCopyMs(archive, work + "bare.bin"));
    PrintFigures("unpack_ms", unpackMs);
    PrintFigures("bare_copy_ms", bareMs);
    PrintFigures("extract_ms", extractMs);
    if (withLog)
    {
        PrintFigures("unpack_log_ms", unpackLogMs);
        PrintFigures("extract_log_ms", extractLogMs);
        PrintFigures("log_line_ms", std::vector<double>(1, LogLineMs(linesLog, 1000)));
        PrintFigures("synced_line_ms", std::vector<double>(1, SyncedLineMs(work + "synced.log", 50)));
    }
    printf("private_base_kib=%lu\n", static_cast<unsigned long>(base >> 10));
    printf("private_peak_kib=%lu\n", static_cast<unsigned long>(sampler.m_nPeak >> 10));
    return 0;
}
