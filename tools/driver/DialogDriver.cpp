#include "driver/DialogDriver.h"
#include <vector>

namespace {

struct FindContext
{
    const char* title;
    const char* className;
    bool needMessageBox;
    DWORD processId;
    HWND found;
    int controlId;   // the window must have this control; 0: any
};

BOOL CALLBACK FindTopLevel(HWND hwnd, LPARAM param)
{
    FindContext* ctx = reinterpret_cast<FindContext*>(param);
    char text[512];
    if (ctx->processId)
    {
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner != ctx->processId || !IsWindowVisible(hwnd))
            return TRUE;
    }
    if (ctx->className)
    {
        GetClassNameA(hwnd, text, sizeof(text));
        if (lstrcmpA(text, ctx->className) != 0)
            return TRUE;
    }
    if (ctx->title && GetWindowTextOf(hwnd) != ctx->title)
        return TRUE;
    if (ctx->needMessageBox && (!IsWindowVisible(hwnd) || !GetDlgItem(hwnd, 0xFFFF)))
        return TRUE;
    if (ctx->controlId && !GetDlgItem(hwnd, ctx->controlId))
        return TRUE;
    ctx->found = hwnd;
    return FALSE;
}

HWND PollFor(FindContext ctx, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;)
    {
        ctx.found = NULL;
        EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&ctx));
        if (ctx.found || GetTickCount() - start >= timeoutMs)
            return ctx.found;
        Sleep(50);
    }
}

// PNG with stored (uncompressed) deflate blocks: enough for screenshots, no zlib needed.
DWORD Crc32(const BYTE* data, size_t size, DWORD crc = 0)
{
    crc = ~crc;
    for (size_t i = 0; i < size; ++i)
    {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void PutBe32(std::string& out, DWORD v)
{
    out.push_back((char)(v >> 24));
    out.push_back((char)(v >> 16));
    out.push_back((char)(v >> 8));
    out.push_back((char)v);
}

void PutChunk(std::string& out, const char* type, const std::string& data)
{
    PutBe32(out, (DWORD)data.size());
    std::string body = std::string(type, 4) + data;
    out += body;
    PutBe32(out, Crc32(reinterpret_cast<const BYTE*>(body.data()), body.size()));
}

std::string EncodePng(int width, int height, const std::vector<BYTE>& rgb)
{
    std::string raw;
    for (int y = 0; y < height; ++y)
    {
        raw.push_back('\0');   // filter: none
        raw.append(reinterpret_cast<const char*>(&rgb[(size_t)y * width * 3]), (size_t)width * 3);
    }
    std::string z = "\x78\x01";
    DWORD a = 1, b = 0;
    for (unsigned char c : raw)
    {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    for (size_t pos = 0; pos < raw.size() || pos == 0; pos += 65535)
    {
        size_t n = raw.size() - pos < 65535 ? raw.size() - pos : 65535;
        z.push_back(pos + n >= raw.size() ? '\1' : '\0');
        z.push_back((char)(n & 0xFF));
        z.push_back((char)(n >> 8));
        z.push_back((char)(~n & 0xFF));
        z.push_back((char)((~n >> 8) & 0xFF));
        z.append(raw, pos, n);
        if (pos + n >= raw.size())
            break;
    }
    PutBe32(z, (b << 16) | a);

    std::string png = "\x89PNG\r\n\x1a\n";
    std::string ihdr;
    PutBe32(ihdr, (DWORD)width);
    PutBe32(ihdr, (DWORD)height);
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);   // 8-bit RGB
    PutChunk(png, "IHDR", ihdr);
    PutChunk(png, "IDAT", z);
    PutChunk(png, "IEND", std::string());
    return png;
}

} // namespace

HWND WaitForWindow(const char* title, const char* className, DWORD timeoutMs)
{
    return PollFor(FindContext{title, className, false, 0, NULL, 0}, timeoutMs);
}

HWND WaitForMessageBox(DWORD timeoutMs, DWORD processId)
{
    return PollFor(FindContext{NULL, "#32770", true, processId, NULL, 0}, timeoutMs);
}

HWND FindProcessWindow(DWORD processId, const char* title)
{
    return PollFor(FindContext{title, NULL, false, processId, NULL, 0}, 0);
}

HWND FindProcessDialog(DWORD processId, int controlId)
{
    return PollFor(FindContext{NULL, "#32770", false, processId, NULL, controlId}, 0);
}

bool WaitForWindowGone(HWND hwnd, DWORD timeoutMs, bool untilHidden)
{
    DWORD start = GetTickCount();
    for (;;)
    {
        if (!IsWindow(hwnd) || (untilHidden && !IsWindowVisible(hwnd)))
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(50);
    }
}

std::string GetWindowTextOf(HWND hwnd)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return std::string();
    std::vector<char> text(length + 2, '\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    return std::string(text.data());
}

std::wstring GetWindowTextWide(HWND hwnd)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return std::wstring();
    std::vector<wchar_t> text(length + 2, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    return std::wstring(text.data());
}

std::vector<std::wstring> GetChildTextsWide(HWND dlg)
{
    std::vector<std::wstring> texts;
    for (HWND child = GetWindow(dlg, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    {
        char cls[64];
        GetClassNameA(child, cls, sizeof(cls));
        if (lstrcmpiA(cls, "Edit") != 0 && IsWindowVisible(child))
            texts.push_back(GetWindowTextWide(child));
    }
    return texts;
}

std::string GetControlText(HWND dlg, int id)
{
    HWND control = GetDlgItem(dlg, id);
    return control ? GetWindowTextOf(control) : std::string();
}

std::string GetMessageBoxText(HWND box)
{
    return GetControlText(box, 0xFFFF);
}

bool HasControl(HWND dlg, int id)
{
    return GetDlgItem(dlg, id) != NULL;
}

bool MessageBoxHasIcon(HWND box)
{
    HWND c = GetWindow(box, GW_CHILD);
    while (c && !((GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && SendMessageA(c, STM_GETICON, 0, 0)))
        c = GetWindow(c, GW_HWNDNEXT);
    return c && IsWindowVisible(c);
}

std::vector<std::wstring> GetCutOffTexts(HWND window)
{
    HDC dc = GetDC(NULL);
    LOGFONTW logFont = {};
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (GetDlgItem(window, 0xFFFF) &&
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
    {
        logFont = metrics.lfMessageFont;
    }
    else
    {
        logFont.lfHeight = -MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72);
        logFont.lfCharSet = DEFAULT_CHARSET;
        lstrcpyW(logFont.lfFaceName, L"MS Shell Dlg");
    }
    HFONT font = CreateFontIndirectW(&logFont);
    HGDIOBJ old = SelectObject(dc, font);
    std::vector<std::wstring> cut;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    {
        char cls[64];
        GetClassNameA(child, cls, sizeof(cls));
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        const bool isStatic = lstrcmpiA(cls, "Static") == 0 &&
                              ((style & SS_TYPEMASK) <= SS_RIGHT || (style & SS_TYPEMASK) == SS_LEFTNOWORDWRAP);
        const bool isButton = lstrcmpiA(cls, "Button") == 0 &&
                              ((style & 0x0F) == BS_PUSHBUTTON || (style & 0x0F) == BS_DEFPUSHBUTTON);
        const std::wstring text = GetWindowTextWide(child);
        if ((!isStatic && !isButton) || !IsWindowVisible(child) || text.empty())
            continue;
        RECT client, needed;
        GetClientRect(child, &client);
        needed = client;
        needed.bottom = needed.top;
        UINT format = DT_CALCRECT | DT_EXPANDTABS | (style & SS_NOPREFIX ? DT_NOPREFIX : 0);
        format |= isButton || (style & SS_TYPEMASK) == SS_LEFTNOWORDWRAP ? DT_SINGLELINE : DT_WORDBREAK;
        DrawTextW(dc, text.c_str(), -1, &needed, format);
        // A push button keeps a few pixels of its face for the frame on either side.
        const LONG frame = isButton ? 4 : 0;
        if (needed.right - needed.left > client.right - client.left - 2 * frame ||
            needed.bottom - needed.top > client.bottom - client.top)
            cut.push_back(text);
    }
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(NULL, dc);
    return cut;
}

std::vector<int> GetButtonIds(HWND dlg)
{
    std::vector<int> ids;
    for (HWND child = GetWindow(dlg, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    {
        char cls[64];
        GetClassNameA(child, cls, sizeof(cls));
        LONG style = GetWindowLongA(child, GWL_STYLE) & 0x0F;
        if (lstrcmpiA(cls, "Button") == 0 && IsWindowVisible(child) &&
            (style == BS_PUSHBUTTON || style == BS_DEFPUSHBUTTON))
            ids.push_back(GetDlgCtrlID(child));
    }
    return ids;
}

void SetControlText(HWND dlg, int id, const char* text)
{
    SendMessageA(GetDlgItem(dlg, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void PressButton(HWND dlg, int id)
{
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

bool SaveWindowPng(HWND hwnd, const std::string& pngPath, DWORD settleMs)
{
    RedrawWindow(hwnd, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    Sleep(settleMs);   // let the owning thread paint
    RECT rc;
    if (!IsWindowVisible(hwnd) || !GetWindowRect(hwnd, &rc))
        return false;
    int width = rc.right - rc.left, height = rc.bottom - rc.top;
    if (width <= 0 || height <= 0)
        return false;

    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;   // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = NULL;
    HBITMAP bitmap = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    bool ok = bitmap != NULL;
    if (ok)
    {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, rc.left, rc.top, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, old);
    }
    std::vector<BYTE> rgb;
    if (ok)
    {
        const BYTE* px = static_cast<const BYTE*>(bits);
        rgb.resize((size_t)width * height * 3);
        for (size_t i = 0; i < (size_t)width * height; ++i)
        {
            rgb[i * 3] = px[i * 4 + 2];
            rgb[i * 3 + 1] = px[i * 4 + 1];
            rgb[i * 3 + 2] = px[i * 4];
        }
    }
    if (bitmap)
        DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return ok && WriteFileBytes(pngPath, EncodePng(width, height, rgb));
}

std::string ScreenshotPath(const char* name)
{
    std::string dir = ProgramDir() + "..\\screenshots";
    CreateDirectoryA(dir.c_str(), NULL);
    return dir + "\\" + name + ".png";
}

bool WriteFileBytes(const std::string& path, const std::string& data)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = data.empty() || WriteFile(h, data.data(), (DWORD)data.size(), &written, NULL);
    CloseHandle(h);
    return ok && written == data.size();
}

std::string ProgramDir()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, path, sizeof(path));
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of('\\') + 1);
}
