// What every end-to-end scenario shares: a clean hand-off in the registry, a temporary folder
// and an event log of the test doubles, the expected message texts, and the media layout for
// the DirectX setup.
#pragma once
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "common/TestSupport.h"
#include "e2e/SetupRunner.h"

extern const char kPivoraKey[];
extern const char kSetupMgrKey[];

// The message texts of the run, as code page 932 bytes; Utf8 gives one by its id (108 for the
// caption) as the string table holds it.
struct Messages
{
    static const char* Utf8(int id);
    static std::string Caption() { return Sjis(Utf8(108)); }
    static std::string Restart() { return Sjis(Utf8(110)); }
    static std::string Failed() { return Sjis(Utf8(111)); }
    static std::string OfferDirectX() { return Sjis(Utf8(112)); }
    static std::string NoSpace() { return Sjis(Utf8(113)); }
    static std::string NoDirectX() { return Sjis(Utf8(116)); }
    static std::string Interrupted() { return Sjis(Utf8(120)); }
};

// A UTF-8 text in UTF-16.
std::wstring WideFromUtf8(const char* utf8);

class ScenarioTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // A run of the product linked with the test doubles (or the given program), with the temp
    // folder and the doubles' log of this scenario, answering the destination dialog with the
    // scenario's destination folder; with its log in m_RunLog unless withLog is false.
    SetupRun Run(const std::string& arguments = "", bool withLog = true);
    // The events of the last run in m_RunLog.
    std::vector<std::string> RunLog() const { return ReadLogEvents(m_RunLog); }
    // The run's log ends by naming this end and the exit code.
    void ExpectLogEnd(const char* end, int exitCode) const;
    // The lines the doubles logged, in order.
    std::vector<std::string> Log() const;
    // Log line i, or "<none>" when there is no such line.
    std::string LogLine(int i) const;
    // Index of the first log line that starts with prefix; -1 when none.
    int Find(const std::string& prefix) const;
    // The messages' texts, in order.
    static std::vector<std::string> Texts(const RunResult& result);

    std::string m_Temp;         // the run's temporary folder
    std::string m_LogPath;      // the test doubles' events
    std::string m_RunLog;       // the run's own log
    std::string m_Destination;  // typed into the destination dialog (no trailing backslash)
};

// The disc drive of the session ("X:"), empty when it has none.
std::string DiscDrive();

// A copy of the product at <media>\<below>Disk1\Setup\PivoraSetup.exe beside a DirectX setup
// (the fake) at the given path under Disk1. The media lie in a new folder on the session's disc
// drive, or in parent (a folder ending with a backslash) when it is given; removed again at the
// end. m_Root is empty when the media cannot be laid out.
class CMediaLayout
{
public:
    CMediaLayout(const std::string& product, const char* dxSetupBelowDisk1,
                 const std::string& below = "", const std::string& parent = "");
    ~CMediaLayout();
    std::string Program() const { return m_Media + "Disk1\\Setup\\PivoraSetup.exe"; }
    std::string m_Root;
    std::string m_Media;
};

// xtsetup.ini in the Windows directory with [Setup] DX=value while it lives.
class CXtSetupIni
{
public:
    explicit CXtSetupIni(const char* value);
    ~CXtSetupIni();
};

// DirectX older than 9 for the programs of this name started while it lives: the diagnostics
// provider is disabled and a native d3d9.dll asked for, which is moved out of the system folder
// so that no version of it can be read.
class COldDirectX
{
public:
    explicit COldDirectX(const char* programName);
    ~COldDirectX();
    static void RestoreLeftOvers();   // after an earlier run that died half-way
private:
    CWineSettings m_Overrides;
    bool m_bMoved;
};
