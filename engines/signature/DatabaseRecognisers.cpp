// Recognisers of database files and mail stores.
#include "core/ByteReader.h"
#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/FileRecognisers.h"

using namespace tessaroo;

EXTEND_NAME_TYPE CFileTypeJudge::IsSqlType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_SQL))
        return EXT_UNKNOWN;
    // The 16-byte header string, its terminating NUL included.
    return ByteReader(buf, size_t(len)).Matches(0, "SQLite format 3", 16) ? EXT_DB : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsDbxEmailType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_DBX))
        return EXT_UNKNOWN;
    static const unsigned char MAGIC[4] = {0xCF, 0xAD, 0x12, 0xFE};
    return ByteReader(buf, size_t(len)).Matches(0, MAGIC, 4) ? EXT_DBX : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsPstEmailType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_PST))
        return EXT_UNKNOWN;
    const ByteReader r(buf, size_t(len));
    return r.Matches(0, "!BDN", 4) && r.Matches(8, "SM", 2) ? EXT_PST : EXT_UNKNOWN;
}
