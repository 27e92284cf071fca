#include "CodePage.h"
#include <clocale>
#include <cstring>
#include <cwctype>
#include <iconv.h>
#include <locale.h>
#include <vector>

namespace
{
bool Convert(const char* to, const char* from, const std::string& input, std::string* output)
{
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1))
        return false;
    std::vector<char> in(input.begin(), input.end());
    std::vector<char> out(input.size() * 4 + 16);
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    bool ok = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1)
              && inLeft == 0
              && iconv(converter, nullptr, nullptr, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(converter);
    if (ok)
        output->assign(out.data(), outPtr);
    return ok;
}
}

bool Utf8ToCp932(const std::string& utf8, std::string* cp932)
{
    std::string converted;
    std::string back;
    if (!Convert("CP932", "UTF-8", utf8, &converted) || !Convert("UTF-8", "CP932", converted, &back)
        || back != utf8)
        return false;
    *cp932 = converted;
    return true;
}

bool Cp932ToUtf8(const std::string& cp932, std::string* utf8)
{
    return Convert("UTF-8", "CP932", cp932, utf8);
}

bool IsCp932LeadByte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool IsCp932Pair(unsigned char lead, unsigned char trail)
{
    return IsCp932LeadByte(lead) && ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC));
}

std::wstring WindowsCompareKey(const std::string& cp932)
{
    std::string wide;
    std::wstring key;
    if (Convert("WCHAR_T", "CP932", cp932, &wide))
        key.assign(reinterpret_cast<const wchar_t*>(wide.data()), wide.size() / sizeof(wchar_t));
    else
        key.assign(cp932.begin(), cp932.end());
    // The C locale upper-cases ASCII only; Windows upper-cases every script.
    static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    for (wchar_t& c : key)
        c = unicode ? towupper_l(static_cast<wint_t>(c), unicode) : std::towupper(static_cast<wint_t>(c));
    return key;
}
