// The security of an elevated run's work directory, read back from the descriptor the run
// creates it with (Wine keeps no access lists on its files, so the folder itself cannot tell).
#include <gtest/gtest.h>
#include <aclapi.h>
#include "setup/Hardening.h"
#include "setup/WorkDirectory.h"

namespace {

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(buffer);
    return CreateWellKnownSid(type, NULL, buffer, &size) && EqualSid(sid, buffer);
}

TEST(WorkDirectorySecurity, AdministratorsAndSystemOnly)
{
    PSECURITY_DESCRIPTOR descriptor = CreateAdminOnlyDescriptor();
    ASSERT_NE(nullptr, descriptor);

    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "the temp folder's access list must not flow in";

    // The owner may always rewrite the access list: not the user who made the folder.
    PSID owner = NULL;
    BOOL ownerDefaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted));
    ASSERT_TRUE(owner != NULL) << "no owner: the creating user would own the folder";
    EXPECT_TRUE(IsWellKnown(owner, WinBuiltinAdministratorsSid));

    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = NULL;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl) << "a null DACL would grant everyone everything";
    ASSERT_EQ(2u, (unsigned)dacl->AceCount);

    const WELL_KNOWN_SID_TYPE expected[2] = {WinBuiltinAdministratorsSid, WinLocalSystemSid};
    for (DWORD i = 0; i < dacl->AceCount; ++i)
    {
        void* ace = NULL;
        ASSERT_TRUE(GetAce(dacl, i, &ace));
        ACCESS_ALLOWED_ACE* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, allowed->Header.AceType) << i;
        EXPECT_EQ((BYTE)(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE), allowed->Header.AceFlags) << i;
        EXPECT_EQ((ACCESS_MASK)FILE_ALL_ACCESS, allowed->Mask) << i;
        EXPECT_TRUE(IsWellKnown(&allowed->SidStart, expected[i])) << i;
    }
    LocalFree(descriptor);
}

} // namespace
