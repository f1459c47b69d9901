// Recognisers of archives and disk-image backups.
#include "core/ByteReader.h"
#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/FileRecognisers.h"

using namespace tessaroo;

EXTEND_NAME_TYPE CFileTypeJudge::IsGzipType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_GZIP))
        return EXT_UNKNOWN;
    // A deflate member with no flag other than a stored name. The extra flags
    // byte is 0 for gzip's default level, 2 for its best and 4 for its fastest
    // compression; every one of them is a real gzip file.
    static const unsigned char MAGIC[3] = {0x1F, 0x8B, 0x08};
    const ByteReader r(buf, size_t(len));
    const uint8_t flags = r.U8(3), extraFlags = r.U8(8), system = r.U8(9);
    if (!r.Matches(0, MAGIC, 3) || (flags != 0 && flags != 0x08))
        return EXT_UNKNOWN;
    if (extraFlags != 0 && extraFlags != 2 && extraFlags != 4)
        return EXT_UNKNOWN;
    return system < 14 || system == 0xFF ? EXT_GZIP : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::Is7zType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_7Z))
        return EXT_UNKNOWN;
    static const unsigned char MAGIC[5] = {'7', 'z', 0xBC, 0xAF, 0x27};
    return ByteReader(buf, size_t(len)).Matches(0, MAGIC, 5) ? EXT_7Z : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsZipType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_ZIP))
        return EXT_UNKNOWN;
    static const unsigned char LOCAL[4] = {'P', 'K', 0x03, 0x04};
    return ByteReader(buf, size_t(len)).Matches(0, LOCAL, 4) ? EXT_ZIP : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsRarType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_RAR))
        return EXT_UNKNOWN;
    static const unsigned char MARKER[7] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
    return ByteReader(buf, size_t(len)).Matches(0, MARKER, 7) ? EXT_RAR : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsCabType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_CAB))
        return EXT_UNKNOWN;
    return ByteReader(buf, size_t(len)).Matches(0, "MSCF", 4) ? EXT_CAB : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsGhoType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_GHO))
        return EXT_UNKNOWN;
    static const unsigned char MAGIC[4] = {0xFE, 0xEF, 0x00, 0x00};
    return ByteReader(buf, size_t(len)).Matches(0, MAGIC, 4) ? EXT_GHO : EXT_UNKNOWN;
}
