// The process-wide helpers: module instance and directory, the fold of Win32 errors, and the
// double-byte test of code page 932.
#include <gtest/gtest.h>
#include "base/CodePage.h"
#include "base/Module.h"
#include "common/TestSupport.h"

TEST(Module, InstanceDirectoryErrorFoldAndDoubleByteTest)
{
    SetModuleInstance(NULL);
    EXPECT_EQ(GetModuleHandleA(NULL), GetModuleInstance());
    char szDir[MAX_PATH], szSmall[4] = "abc";
    EXPECT_EQ(1, GetModuleDirectory(szDir, sizeof(szDir)));
    EXPECT_EQ(0, lstrcmpiA(ProgramDir().c_str(), szDir)) << szDir << " vs " << ProgramDir();
    EXPECT_TRUE(GetModuleDirectory(szSmall, sizeof(szSmall)) == 0 && szSmall[0] == 0) << szSmall;
    // Codes above 0 fold into FACILITY_WIN32 on their low 16 bits; 0 and negative values pass.
    const LONG folds[][2] = {{2, (LONG)0x80070002}, {0, 0}, {-5, -5}, {ERROR_HANDLE_EOF, (LONG)0x80070026}, {0x12345, (LONG)0x80072345}};
    for (const auto& f : folds)
        EXPECT_EQ(f[1], FoldWin32Error(f[0])) << f[0];
    // At a failure site the fold never gives success, also when the last error is 0.
    SetLastError(0);
    EXPECT_EQ(E_FAIL, HResultFromFailure());
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ((HRESULT)0x80070005, HResultFromFailure());
    // Lead 0x81-0x9F or 0xE0-0xFC, trail 0x40-0x7E or 0x80-0xFC; half-width katakana is single.
    const struct { unsigned char lead, trail; bool bPair; } pairs[] = {
        {0x95, 0x5C, true}, {0x81, 0x40, true}, {0x81, 0x7E, true}, {0x81, 0x80, true}, {0xE0, 0xFC, true},
        {0x81, 0x7F, false}, {0x81, 0x3F, false}, {0x81, 0xFD, false}, {0xA0, 0x40, false}, {0xB1, 0x40, false}};
    for (const auto& p : pairs)
        EXPECT_EQ(p.bPair, IsDoubleBytePair(p.lead, p.trail)) << std::hex << +p.lead << " " << +p.trail;
    // Scanned from the start: in 0x95 0x95 0x5C the 0x5C stands alone.
    const struct { const char* text; int index; bool bTrail; } trails[] = {
        {"\x95\x5C", 1, true}, {"\x95\x5C", 0, false}, {"\x95\x95\x5C", 2, false}, {"\x95\x95\x5C", 1, true},
        {"a\x81\x7F", 2, false}, {"ab\x82\xA0x", 3, true}, {"ab", 5, false}, {NULL, 1, false}};
    for (const auto& t : trails)
        EXPECT_EQ(t.bTrail, IsTrailByteAt(t.text, t.index)) << (t.text ? t.text : "(null)") << " " << t.index;
}
