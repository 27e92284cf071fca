#include "common/TestSupport.h"
#include <gtest/gtest.h>
#include <process.h>
#include <shellapi.h>
#include <algorithm>
#include <vector>

std::string Sjis(const char* utf8)
{
    int wide = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, NULL, 0);
    std::vector<wchar_t> w(wide > 0 ? wide : 1);
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, w.data(), wide);
    int narrow = WideCharToMultiByte(932, 0, w.data(), -1, NULL, 0, NULL, NULL);
    std::vector<char> n(narrow > 0 ? narrow : 1);
    WideCharToMultiByte(932, 0, w.data(), -1, n.data(), narrow, NULL, NULL);
    return std::string(n.data());
}

std::string MakeTempDir(const char* prefix, const std::string& parent)
{
    char temp[MAX_PATH];
    if (parent.empty())
        GetTempPathA(sizeof(temp), temp);
    else
        lstrcpynA(temp, parent.c_str(), MAX_PATH);
    for (unsigned n = GetTickCount() ^ GetCurrentProcessId();; ++n)
    {
        char path[MAX_PATH];
        wsprintfA(path, "%s%s%08x", temp, prefix, n);
        if (CreateDirectoryA(path, NULL))
            return std::string(path) + "\\";
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return std::string();
    }
}

void RemoveTree(const std::string& path)
{
    std::string from = path;
    while (!from.empty() && from.back() == '\\')
        from.pop_back();
    from.push_back('\0');   // SHFileOperation wants a double NUL
    SHFILEOPSTRUCTA op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    SHFileOperationA(&op);
}

bool ReadFileBytes(const std::string& path, std::string* data)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(h, &size) != 0;
    data->assign(ok ? (size_t)size.QuadPart : 0, '\0');
    DWORD read = 0;
    if (ok && !data->empty())
        ok = ReadFile(h, &(*data)[0], (DWORD)data->size(), &read, NULL) && read == data->size();
    CloseHandle(h);
    return ok;
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> ListFolder(const std::string& folder, const char* pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
    {
        std::string name = data.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

CWineSettings::CWineSettings(const std::string& program, const char* subkey,
                             const std::vector<std::pair<const char*, const char*>>& values)
    : m_strKey("Software\\Wine\\AppDefaults\\" + program)
{
    for (const auto& value : values)
        RegSetKeyValueA(HKEY_CURRENT_USER, (m_strKey + subkey).c_str(), value.first, REG_SZ, value.second, lstrlenA(value.second) + 1);
}

int RunTestInCopy(const std::string& copyName, const char* subkey, const std::vector<std::pair<const char*, const char*>>& values)
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string copy = ProgramDir() + copyName;
    const std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof(self));
    if (!CopyFileA(self, copy.c_str(), FALSE))
        return -1;
    CWineSettings settings(copyName, subkey, values);
    _putenv("PIVORA_TEST_COPY=1");
    const int code = (int)_spawnl(_P_WAIT, copy.c_str(), copy.c_str(), filter.c_str(), NULL);
    _putenv("PIVORA_TEST_COPY=");
    DeleteFileA(copy.c_str());
    return code;
}
