// CScopedHandle: the owner of one raw handle outside the classes that own their own (a kernel
// handle, a registry key, a COM interface, a memory block), released when the owner goes out of
// scope, so that every early return gives it back.
#pragma once
#include <windows.h>
#include <unknwn.h>

// Close is the function that gives the handle back (CloseHandle, RegCloseKey, ...). Null and
// INVALID_HANDLE_VALUE both mean "no handle": Windows answers failures with either.
template <typename T, auto Close>
class CScopedHandle
{
public:
    explicit CScopedHandle(T handle = T()) : m_hHandle(handle) {}
    ~CScopedHandle() { Reset(); }
    CScopedHandle(const CScopedHandle&) = delete;
    CScopedHandle& operator=(const CScopedHandle&) = delete;

    bool IsSet() const
    {
        return m_hHandle && static_cast<const void*>(m_hHandle) != INVALID_HANDLE_VALUE;
    }
    T Get() const { return m_hHandle; }
    T operator->() const { return m_hHandle; }
    // Closes the handle held and takes the new one.
    void Reset(T handle = T())
    {
        if (IsSet())
            Close(m_hHandle);
        m_hHandle = handle;
    }
    // Gives the handle held to the caller, who closes it from now on.
    T Detach()
    {
        T handle = m_hHandle;
        m_hHandle = T();
        return handle;
    }
    // For calls that hand a new handle out through a pointer; the one held is closed first.
    T* Receive()
    {
        Reset();
        return &m_hHandle;
    }

private:
    T m_hHandle;
};

inline void ReleaseInterface(IUnknown* pInterface)
{
    pInterface->Release();
}

typedef CScopedHandle<HANDLE, CloseHandle> CKernelHandle;
typedef CScopedHandle<HANDLE, FindClose> CFindHandle;
typedef CScopedHandle<HKEY, RegCloseKey> CKeyHandle;
typedef CScopedHandle<HLOCAL, LocalFree> CLocalMemory;
template <typename I>
using CInterface = CScopedHandle<I*, ReleaseInterface>;
