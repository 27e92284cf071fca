// payloadtool: builds, lists and verifies the payloads that PivoraSetup.exe carries.
//   payloadtool pack <folder> <archive>
//   payloadtool list <archive>
//   payloadtool scramble <in> <out>
//   payloadtool unscramble <in> <out>
//   payloadtool checksum <archive> <wmfdist> <out>
//   payloadtool verify <exe> <archive> <wmfdist>
//   payloadtool needs <archive> <wmfdist>
// Every failure is reported on stderr with exit status 1 (2 for a wrong command line); an
// output file appears only when the command succeeded.
#include "Archive.h"
#include "Checksum.h"
#include "FileIo.h"
#include "PeResources.h"
#include "Scramble.h"
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{
const std::uint16_t kPayloadType = 1001;
const std::uint16_t kArchiveId = 207;
const std::uint16_t kWmfDistId = 203;
const std::uint16_t kChecksumsId = 209;

const char kUsage[] =
    "usage: payloadtool pack <folder> <archive>\n"
    "       payloadtool list <archive>\n"
    "       payloadtool scramble <in> <out>\n"
    "       payloadtool unscramble <in> <out>\n"
    "       payloadtool checksum <archive> <wmfdist> <out>\n"
    "       payloadtool verify <exe> <archive> <wmfdist>\n"
    "       payloadtool needs <archive> <wmfdist>\n";

// Every run asks this much of the temporary folder, whatever its payloads.
const std::uint64_t kTempSpaceFloor = 200ull << 20;

int Fail(const char* command, const std::string& message)
{
    std::fprintf(stderr, "payloadtool: %s: %s\n", command, message.c_str());
    return 1;
}

int RunScramble(const char* command, const std::string& in, const std::string& out, bool scramble)
{
    std::string error;
    std::vector<std::uint8_t> data;
    if (!ReadWholeFile(in, &data, &error))
        return Fail(command, error);
    // The setup program refuses an empty resource, and a resource's size is a 32-bit value.
    if (scramble && data.empty())
        return Fail(command, in + ": the file is empty; an empty resource cannot be unpacked");
    if (data.size() > 0xFFFFFFFFull)
        return Fail(command, in + ": larger than a resource can be (4 GiB)");
    if (scramble)
        ScramblePayload(data.data(), data.size());
    else
        UnscramblePayload(data.data(), data.size());
    COutputFile file;
    if (!file.Create(out, &error) || !file.Write(data.data(), data.size(), &error) || !file.Commit(&error))
        return Fail(command, error);
    return 0;
}

// Writes the data of the checksums resource for the two plain payloads.
int RunChecksum(const std::string& archive, const std::string& wmfdist, const std::string& out)
{
    std::string error;
    std::vector<std::uint8_t> archiveData;
    std::vector<std::uint8_t> wmfdistData;
    if (!ReadWholeFile(archive, &archiveData, &error) || !ReadWholeFile(wmfdist, &wmfdistData, &error))
        return Fail("checksum", error);
    std::vector<std::uint8_t> data = ChecksumResource(PayloadCrc32(archiveData), PayloadCrc32(wmfdistData));
    COutputFile file;
    if (!file.Create(out, &error) || !file.Write(data.data(), data.size(), &error) || !file.Commit(&error))
        return Fail("checksum", error);
    return 0;
}

std::string Hex32(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(value));
    return text;
}

// Compares one embedded resource, unscrambled, with the file that the build packed into it,
// and gives that file's CRC-32 for the checksums resource.
bool VerifyResource(const CPeResources& resources, std::uint16_t id, const char* what,
                    const std::string& expectedPath, const std::string& exePath, std::uint32_t* crc)
{
    std::string error;
    std::vector<std::uint8_t> embedded;
    std::vector<std::uint8_t> expected;
    if (!resources.Find(kPayloadType, id, &embedded, &error) || !ReadWholeFile(expectedPath, &expected, &error))
    {
        Fail("verify", error);
        return false;
    }
    UnscramblePayload(embedded.data(), embedded.size());
    std::string subject = exePath + ": resource " + std::to_string(id) + " (" + what + ")";
    if (embedded.size() != expected.size())
    {
        Fail("verify", subject + " unscrambles to " + std::to_string(embedded.size())
                           + " bytes, but " + expectedPath + " has " + std::to_string(expected.size()));
        return false;
    }
    for (std::size_t i = 0; i < embedded.size(); ++i)
    {
        if (embedded[i] != expected[i])
        {
            Fail("verify", subject + " differs from " + expectedPath + " first at byte " + std::to_string(i));
            return false;
        }
    }
    std::printf("%s matches %s (%zu bytes)\n", subject.c_str(), expectedPath.c_str(), expected.size());
    *crc = PayloadCrc32(expected);
    return true;
}

// The checksums resource must hold exactly the CRC-32s of the two plain payloads: the setup
// program refuses to run a payload whose bytes do not give its CRC-32.
bool VerifyChecksums(const CPeResources& resources, const std::string& exePath,
                     std::uint32_t archiveCrc, std::uint32_t wmfdistCrc)
{
    std::string error;
    std::vector<std::uint8_t> embedded;
    if (!resources.Find(kPayloadType, kChecksumsId, &embedded, &error))
    {
        Fail("verify", error);
        return false;
    }
    std::string subject = exePath + ": resource " + std::to_string(kChecksumsId) + " (checksums)";
    std::vector<std::uint8_t> expected = ChecksumResource(archiveCrc, wmfdistCrc);
    if (embedded.size() != expected.size())
    {
        Fail("verify", subject + " has " + std::to_string(embedded.size()) + " bytes; "
                           + std::to_string(expected.size()) + " are expected");
        return false;
    }
    if (embedded != expected)
    {
        std::uint32_t held[2] = { 0, 0 };
        for (int i = 0; i < 8; ++i)
            held[i / 4] |= static_cast<std::uint32_t>(embedded[i]) << (8 * (i % 4));
        Fail("verify", subject + " holds " + Hex32(held[0]) + " for resource " + std::to_string(kArchiveId)
                           + " and " + Hex32(held[1]) + " for resource " + std::to_string(kWmfDistId)
                           + "; the payloads give " + Hex32(archiveCrc) + " and " + Hex32(wmfdistCrc));
        return false;
    }
    std::printf("%s matches (CRC-32 %s and %s)\n", subject.c_str(), Hex32(archiveCrc).c_str(),
                Hex32(wmfdistCrc).c_str());
    return true;
}

int RunVerify(const std::string& exe, const std::string& archive, const std::string& wmfdist)
{
    std::string error;
    CPeResources resources;
    if (!resources.Load(exe, &error))
        return Fail("verify", error);
    std::uint32_t archiveCrc = 0;
    std::uint32_t wmfdistCrc = 0;
    bool archiveOk = VerifyResource(resources, kArchiveId, "payload archive", archive, exe, &archiveCrc);
    bool wmfdistOk = VerifyResource(resources, kWmfDistId, "wmfdist.exe", wmfdist, exe, &wmfdistCrc);
    return archiveOk && wmfdistOk && VerifyChecksums(resources, exe, archiveCrc, wmfdistCrc) ? 0 : 1;
}

// Prints what a run of the setup program with these payloads needs in the temporary folder: it
// writes the archive, every file of it and wmfdist.exe into its work directory, and asks for at
// least 200 MiB.
int RunNeeds(const std::string& archive, const std::string& wmfdist)
{
    std::vector<std::string> problems;
    std::uint64_t content = 0;
    if (!ListArchive(archive, nullptr, &problems, &content))
        return Fail("needs", problems.empty() ? archive + ": not a valid archive" : problems[0]);
    std::string error;
    std::uint64_t archiveSize = 0;
    std::uint64_t wmfdistSize = 0;
    if (!FileSizeOf(archive, &archiveSize, &error) || !FileSizeOf(wmfdist, &wmfdistSize, &error))
        return Fail("needs", error);
    // The payloads are resources of the program's image, which is mapped whole into the address
    // space when the program starts. A PE image has 32-bit sizes, and Windows loads no image of
    // 2 GiB or more; the 32-bit program has 2 GiB of address space in all, which must also hold
    // the system's DLLs, its stack and its heap. The program itself takes less than 1 MiB.
    const std::uint64_t imageLimit = (2048ull - 1) << 20;
    if (archiveSize + wmfdistSize >= imageLimit)
        return Fail("needs", "the payloads take " + std::to_string(archiveSize + wmfdistSize)
                                 + " bytes; with the program they would make an image of 2 GiB or more, "
                                   "which Windows does not load and a 32-bit process has no room for "
                                   "(at most " + std::to_string(imageLimit - 1) + " bytes of payloads)");
    const std::uint64_t written = archiveSize + content + wmfdistSize;
    const std::uint64_t needed = written > kTempSpaceFloor ? written : kTempSpaceFloor;
    std::printf("payload needs %llu MiB in the temporary folder (archive %llu bytes, its files %llu "
                "bytes, wmfdist.exe %llu bytes: %llu bytes written; every run asks for 200 MiB at "
                "least)\n",
                static_cast<unsigned long long>((needed + (1u << 20) - 1) >> 20),
                static_cast<unsigned long long>(archiveSize), static_cast<unsigned long long>(content),
                static_cast<unsigned long long>(wmfdistSize), static_cast<unsigned long long>(written));
    return 0;
}
}

int main(int argc, char** argv)
{
    std::string command = argc > 1 ? argv[1] : "";
    std::string error;
    if (command == "pack" && argc == 4)
        return PackFolder(argv[2], argv[3], &error) ? 0 : Fail("pack", error);
    if (command == "list" && argc == 3)
    {
        std::vector<std::string> problems;
        bool ok = ListArchive(argv[2], stdout, &problems);
        for (const std::string& problem : problems)
            Fail("list", problem);
        return ok ? 0 : 1;
    }
    if (command == "scramble" && argc == 4)
        return RunScramble("scramble", argv[2], argv[3], true);
    if (command == "unscramble" && argc == 4)
        return RunScramble("unscramble", argv[2], argv[3], false);
    if (command == "checksum" && argc == 5)
        return RunChecksum(argv[2], argv[3], argv[4]);
    if (command == "verify" && argc == 5)
        return RunVerify(argv[2], argv[3], argv[4]);
    if (command == "needs" && argc == 4)
        return RunNeeds(argv[2], argv[3]);
    std::fputs(kUsage, stderr);
    return 2;
}
