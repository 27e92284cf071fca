#include "base/NtFile.h"
#include <winternl.h>
#include "base/Module.h"

namespace {

typedef NTSTATUS(NTAPI* NtCreateFileFn)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                         PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                         ULONG, PVOID, ULONG);
typedef ULONG(NTAPI* RtlNtStatusToDosErrorFn)(NTSTATUS);

const ULONG_PTR kFileCreated = 2;   // FILE_CREATED, in the status block's Information

} // namespace

DWORD OpenNative(HANDLE folder, const wchar_t* name, int length, ACCESS_MASK access, ULONG share,
                 ULONG disposition, ULONG options, PSECURITY_DESCRIPTOR security,
                 CKernelHandle& handle, bool* created)
{
    // Looked up once; statics of constant start values, which need no guard of the C++ run-time.
    static NtCreateFileFn createFile;
    static RtlNtStatusToDosErrorFn toError;
    if (!createFile || !toError)
    {
        createFile = GetSystemFunction<NtCreateFileFn>("ntdll.dll", "NtCreateFile");
        toError = GetSystemFunction<RtlNtStatusToDosErrorFn>("ntdll.dll", "RtlNtStatusToDosError");
    }
    handle.Reset();
    if (created)
        *created = false;
    if (!createFile || !toError)
        return ERROR_PROC_NOT_FOUND;
    if (length <= 0 || length > 32767)
        return ERROR_INVALID_NAME;
    UNICODE_STRING unicodeName;
    unicodeName.Buffer = const_cast<wchar_t*>(name);
    unicodeName.Length = static_cast<USHORT>(length * sizeof(wchar_t));
    unicodeName.MaximumLength = unicodeName.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &unicodeName, OBJ_CASE_INSENSITIVE, folder, security);
    IO_STATUS_BLOCK status = {};
    HANDLE opened = NULL;
    const NTSTATUS result = createFile(&opened, access | SYNCHRONIZE, &attributes, &status, NULL,
                                       FILE_ATTRIBUTE_NORMAL, share, disposition,
                                       options | kNtSynchronousIo | kNtOpenReparsePoint, NULL, 0);
    if (result < 0)
        return toError(result);
    handle.Reset(opened);
    if (created)
        *created = status.Information == kFileCreated;
    return ERROR_SUCCESS;
}
