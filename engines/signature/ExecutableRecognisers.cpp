// Recognisers of executables.
#include "core/ByteReader.h"
#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/FileRecognisers.h"

using namespace tessaroo;

namespace
{
constexpr size_t MZ_PE_OFFSET = 60; // u32: where the PE header starts
// The PE header must lie in the first sector: its signature and the
// characteristics word (at +22) end by byte 511.
constexpr uint32_t MAX_PE_OFFSET = 488;
constexpr size_t PE_CHARACTERISTICS = 22;
constexpr uint16_t IMAGE_FILE_EXECUTABLE_IMAGE = 0x0002;
constexpr uint16_t IMAGE_FILE_SYSTEM = 0x1000;
constexpr uint16_t IMAGE_FILE_DLL = 0x2000;
} // namespace

EXTEND_NAME_TYPE CFileTypeJudge::IsPeType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_PE))
        return EXT_UNKNOWN;
    static const unsigned char PE_SIGNATURE[4] = {'P', 'E', 0, 0};
    const ByteReader r(buf, size_t(len));
    uint32_t pe = 0;
    uint16_t characteristics = 0;
    if (!r.Matches(0, "MZ", 2) || !r.ReadU32(MZ_PE_OFFSET, pe) || pe > MAX_PE_OFFSET)
        return EXT_UNKNOWN;
    if (!r.Matches(pe, PE_SIGNATURE, 4) || !r.ReadU16(pe + PE_CHARACTERISTICS, characteristics))
        return EXT_UNKNOWN;
    if (!(characteristics & IMAGE_FILE_EXECUTABLE_IMAGE))
        return EXT_UNKNOWN;
    if (characteristics & IMAGE_FILE_SYSTEM)
        return EXT_SYS;
    if (characteristics & IMAGE_FILE_DLL)
        return EXT_DLL;
    return EXT_EXE;
}
