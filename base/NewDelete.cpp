// The program allocates only with new (std::nothrow). The C++ run-time's nothrow forms call the
// throwing ones inside a try block, which links the whole exception machinery (unwinder,
// terminate handler, demangler, formatted printing, a thread library) into a program that
// throws nothing. These take the memory straight from the C run-time's heap, as the run-time's
// own operator new does, so its operator delete still frees it.
#include <new>
#include <stdlib.h>

void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    return malloc(size ? size : 1);
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return malloc(size ? size : 1);
}
