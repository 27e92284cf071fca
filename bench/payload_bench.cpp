// Times UnpackResource (resource 207 of this program) and ExtractArchive of what it wrote, and
// watches the process's private memory while both run.
//   payload_bench_<MiB>.exe <work folder with trailing backslash> <repetitions>
// Prints unpack_ms=..., extract_ms=... (one figure per repetition), bare_copy_ms (a plain
// ReadFile/WriteFile loop of 1,024 bytes over the archive), private_base_kib and
// private_peak_kib. The last unpacked archive and extracted files stay for the caller.
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

void DeleteFolderFiles(const std::string& folder)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do
    {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileA((folder + data.cFileName).c_str());
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

bool UnpackAndExtract(const std::string& archive, const std::string& dest, double* unpackMs,
                      double* extractMs)
{
    DeleteFileA(archive.c_str());
    double start = NowMs();
    if (!UnpackResource(IDR_ARCHIVE, archive.c_str()))
        return false;
    double unpacked = NowMs();
    DeleteFolderFiles(dest);
    double extractStart = NowMs();
    HRESULT hr = ExtractArchive(archive.c_str(), dest.c_str());
    double extracted = NowMs();
    if (unpackMs)
        *unpackMs = unpacked - start;
    if (extractMs)
        *extractMs = extracted - extractStart;
    if (FAILED(hr))
        fprintf(stderr, "ExtractArchive: 0x%08lX\n", static_cast<unsigned long>(hr));
    return SUCCEEDED(hr);
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
        fprintf(stderr, "usage: %s <work folder\\> <repetitions>\n", argv[0]);
        return 2;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_dTicksPerMs = static_cast<double>(frequency.QuadPart) / 1000.0;
    const std::string work = argv[1];
    const int repetitions = atoi(argv[2]);
    const std::string archive = work + "PivoraSetup_IS.bin";
    const std::string dest = work + "out\\";
    CreateDirectoryA(dest.c_str(), NULL);

    // The private memory of the process while one unpacking and extraction run.
    const SIZE_T base = PrivateBytes();
    CSampler sampler;
    sampler.m_nPeak = base;
    HANDLE thread = CreateThread(NULL, 0, CSampler::Run, &sampler, 0, NULL);
    bool ok = UnpackAndExtract(archive, dest, NULL, NULL);
    InterlockedExchange(&sampler.m_nStop, 1);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    SIZE_T after = PrivateBytes();
    if (after > sampler.m_nPeak)
        sampler.m_nPeak = after;
    if (!ok)
        return 1;

    // That run also warmed the resource pages and the page cache; now the timed runs.
    std::vector<double> unpackMs;
    std::vector<double> extractMs;
    for (int i = 0; i < repetitions; ++i)
    {
        double unpack = 0;
        double extract = 0;
        if (!UnpackAndExtract(archive, dest, &unpack, &extract))
            return 1;
        unpackMs.push_back(unpack);
        extractMs.push_back(extract);
    }
    std::vector<double> bareMs(1, BareCopyMs(archive, work + "bare.bin"));
    PrintFigures("unpack_ms", unpackMs);
    PrintFigures("bare_copy_ms", bareMs);
    PrintFigures("extract_ms", extractMs);
    printf("private_base_kib=%lu\n", static_cast<unsigned long>(base >> 10));
    printf("private_peak_kib=%lu\n", static_cast<unsigned long>(sampler.m_nPeak >> 10));
    return 0;
}
