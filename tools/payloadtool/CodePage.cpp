#include "CodePage.h"
#include <iconv.h>
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
