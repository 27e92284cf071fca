// What a shipped setup must withstand: DLLs planted beside it in a downloads folder.
#include "e2e/Scenario.h"

namespace {

class Hardening : public ScenarioTest
{
};

TEST_F(Hardening, PlantedDllsBesideTheProgramAreNotLoaded)
{
    // A downloads folder with the setup, a naive program and two planted DLLs, with Wine told
    // to prefer native DLLs for both programs. The diagnostics provider is off, so that the
    // DirectX probe reads file versions through version.dll.
    std::string folder = MakeTempDir("downloads");
    std::string planted = ProgramDir() + "planted\\";
    ASSERT_TRUE(CopyFileA(TestProductPath().c_str(), (folder + "PivoraSetup.exe").c_str(), FALSE));
    for (const char* file : {"version.dll", "winmm.dll", "plant_control.exe"})
        ASSERT_TRUE(CopyFileA((planted + file).c_str(), (folder + file).c_str(), FALSE)) << file;
    const std::vector<std::pair<const char*, const char*>> preferNative = {
        {"version", "native,builtin"}, {"winmm", "native,builtin"}, {"dxdiagn", ""}};
    CWineSettings setupOverrides("PivoraSetup.exe", "\\DllOverrides", preferNative);
    CWineSettings controlOverrides("plant_control.exe", "\\DllOverrides", preferNative);
    const std::string marker = m_Temp + "loaded-";

    // The naive program takes both planted DLLs: the planting itself works.
    SetupRun control;
    control.exe = folder + "plant_control.exe";
    control.environment = {{"PIVORA_PLANT_MARKER", marker}};
    RunResult controlResult = RunSetup(control);
    ASSERT_TRUE(controlResult.started);
    EXPECT_TRUE(FileExists(marker + "version.dll"));
    EXPECT_TRUE(FileExists(marker + "winmm.dll"));
    DeleteFileA((marker + "version.dll").c_str());
    DeleteFileA((marker + "winmm.dll").c_str());

    // The setup takes neither, and its run still works.
    SetupRun run = Run("/Silent");
    run.exe = folder + "PivoraSetup.exe";
    run.environment.push_back({"PIVORA_PLANT_MARKER", marker});
    RunResult result = RunSetup(run);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_TRUE(result.messages.empty()) << "DirectX 9 was not found through the file versions";
    EXPECT_GE(Find("wmfdist start"), 0) << "the run did not get through";
    EXPECT_FALSE(FileExists(marker + "winmm.dll")) << "the planted winmm.dll was loaded";
    // Wine's own user32.dll imports version.dll (the one of Windows does not), so with native
    // DLLs preferred the planted one is mapped at process start, before any code of the setup
    // runs: its marker says nothing about the setup. What the setup itself loads shows in the
    // run: the planted DLL has none of the version functions, so a probe that took it would
    // have read no file version, found no DirectX 9 and ended with message 116.
    RemoveTree(folder);
}

} // namespace
