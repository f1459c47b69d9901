// Length estimators of databases and mail stores: neither leaves a mark at
// its end, so each runs to the next file.
#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/LengthScan.h"

using namespace tessaroo;

unsigned long long CFileTypeJudge::GetDBFileBytesSize(const unsigned char*, int)
{
    return CLengthScan(LIMIT_6_GIB, false).Run();
}

unsigned long long CFileTypeJudge::GetMailFileBytesSize(const unsigned char*, int)
{
    return CLengthScan(LIMIT_2_GIB, false).Run();
}
