// Initialisation, carving and the queries of the signature engine. File copy
// and preview are in CFileTypeRecoveryData.cpp.
#include "engines/signature/CFileTypeRecovery.h"

#include "core/Log.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "store/CScanResultFileManager.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <unistd.h>

using namespace tessaroo;

namespace
{
// Types whose length comes from a header field or a compound-file header.
// A damaged header can claim far more than the file has, so the sweep still
// looks at the sectors after such a head.
bool IsHeaderSizedType(EXTEND_NAME_TYPE type)
{
    switch (type)
    {
    case EXT_DOC:
    case EXT_OLE:
    case EXT_XLS:
    case EXT_PPT:
    case EXT_WAV:
    case EXT_AVI:
    case EXT_ASF:
    case EXT_SWF:
    case EXT_BMP:
    case EXT_CAB:
    case EXT_TTF:
    case EXT_ICO:
        return true;
    default:
        return false;
    }
}
} // namespace

CFileTypeRecovery::CFileTypeRecovery()
    : m_wcDriveLetter(L'C'), m_nBytesPerSector(512), m_fileTypeJudge(&m_diskReader), m_nScale(0),
      m_pScanFunc(nullptr), m_pRecoveryFunc(nullptr), m_pParam(nullptr), m_pSearchFunc(nullptr),
      m_pSearchParam(nullptr)
{
}

CFileTypeRecovery::~CFileTypeRecovery() = default;

unsigned int CFileTypeRecovery::OpenStore(const std::string& name, long long startSector)
{
    // The old store is flushed as it goes.
    m_pScanResult.reset();
    m_pScanResult.reset(new (std::nothrow) CScanResultFileManager());
    if (!m_pScanResult)
        return STATUS_NOT_ENOUGH_MEMORY;
    const std::wstring wname = Utf8ToWide(name.c_str());
    const unsigned int st = m_pScanResult->InitNamedOrNew(wname.c_str(), STORE_PREFIX,
                                                          (unsigned long long)std::max(startSector, 0LL));
    if (st != STATUS_SUCCESS)
        CoreLog("CFileTypeRecovery: cannot open the scan result store (%u)\n", st);
    m_pScanResult->InitSearchCallBack(m_pSearchFunc, m_pSearchParam);
    return st;
}

unsigned int CFileTypeRecovery::Init(int diskIndex, long long startSector, long long sectorCount,
                                     wchar_t driveLetter)
{
    m_wcDriveLetter = driveLetter;
    const unsigned long long end = startSector >= 0 && sectorCount >= 0
                                       ? (unsigned long long)startSector + (unsigned long long)sectorCount
                                       : 0;
    const unsigned int st = m_diskReader.Init(diskIndex, end);
    OpenStore(std::string(), startSector);
    return st;
}

unsigned int CFileTypeRecovery::Init(wchar_t* devicePath, wchar_t driveLetter)
{
    m_wcDriveLetter = driveLetter;
    unsigned long long sectors = 0;
    if (devicePath)
    {
        const std::string path = WideToUtf8(devicePath);
        const int fd = OpenDeviceReadOnly(path.c_str());
        uint64_t bytes = 0;
        if (fd >= 0 && GetDeviceSize(fd, bytes))
            sectors = bytes / 512;
        if (fd >= 0)
            close(fd);
    }
    const unsigned int st = m_diskReader.Init(devicePath, sectors);
    OpenStore(std::string(), 0);
    return st;
}

unsigned int CFileTypeRecovery::InitLogFile(const wchar_t* storeName, wchar_t driveLetter, int diskIndex,
                                            int bytesPerSector, unsigned long long sectorLimit)
{
    m_wcDriveLetter = driveLetter;
    m_nBytesPerSector = bytesPerSector;
    const unsigned int st = m_diskReader.Init(diskIndex, sectorLimit);
    OpenStore(storeName ? WideToUtf8(storeName) : std::string(), 0);
    return st;
}

unsigned int CFileTypeRecovery::InitLogFile(const wchar_t* storeName, wchar_t driveLetter,
                                            wchar_t* devicePath, int bytesPerSector,
                                            unsigned long long sectorLimit)
{
    m_wcDriveLetter = driveLetter;
    m_nBytesPerSector = bytesPerSector;
    const unsigned int st = m_diskReader.Init(devicePath, sectorLimit);
    OpenStore(storeName ? WideToUtf8(storeName) : std::string(), 0);
    return st;
}

unsigned int CFileTypeRecovery::InitCallBack(SCAN_CALLBACK scan, RECOVERY_CALLBACK recovery, void* ctx,
                                             int scale)
{
    m_pScanFunc = scan;
    m_pRecoveryFunc = recovery;
    m_pParam = ctx;
    m_nScale = scale;
    return m_fileTypeJudge.InitCallBack(scan, recovery, ctx, scale);
}

int CFileTypeRecovery::ParseFileBuf(const unsigned char* sector, int len, unsigned long long absSector,
                                    unsigned long long scannedSectors, unsigned long long totalSectors,
                                    int secondsLeft, CDiskReader* reader, int bytesPerSector,
                                    unsigned long long& skipSectors, unsigned long long& fileCount)
{
    skipSectors = 1;
    m_nBytesPerSector = bytesPerSector;
    if (!m_pScanResult || bytesPerSector <= 0)
        return int(STATUS_INVALID_PARAMETER);
    char name[FILE_NAME_SIZE];
    EXTEND_NAME_TYPE type = EXT_UNKNOWN;
    unsigned long long length = 0;
    const int st =
        m_fileTypeJudge.ParseFileBuf(sector, len, absSector, scannedSectors, totalSectors, secondsLeft,
                                     fileCount, reader, bytesPerSector, name, sizeof(name), type, length);
    if (st != int(STATUS_SUCCESS))
        return st;

    _FILE_NODE_* node = m_pScanResult->CreateFileNode(int(sizeof(_FILE_NODE_)));
    if (!node)
        return int(STATUS_INVALID_PARAMETER);
    memset(node, 0, sizeof(*node));
    node->wcDriveLetter = uint32_t(m_wcDriveLetter);
    node->uEngineType = ENGINE_TYPE_SIGNATURE;
    node->bDataHealth = 1;
    node->uFileIndex = m_pScanResult->GetFileIndex();
    node->uClusterSize = 0xFFFFFFFF;
    node->u64FileSize = length;
    node->u64RecordSector = absSector;
    CopyUtf8(node->szFileName, sizeof(node->szFileName), name);
    m_pScanResult->AddChildren(0, 0, node->uFileIndex, 0, nullptr);

    if (!IsHeaderSizedType(type))
    {
        const unsigned long long bps = (unsigned long long)bytesPerSector;
        skipSectors = length / bps + (length % bps ? 1 : 0);
        if (skipSectors == 0)
            skipSectors = 1;
    }
    ++fileCount;
    return int(STATUS_SUCCESS);
}

unsigned int CFileTypeRecovery::ScanDevice(wchar_t*)
{
    return STATUS_SUCCESS;
}

unsigned int CFileTypeRecovery::GetUnUsedSectorCount(unsigned long long&, unsigned long long&)
{
    return STATUS_SUCCESS;
}

unsigned int CFileTypeRecovery::BuildBitMapInfo()
{
    return STATUS_SUCCESS;
}

unsigned int CFileTypeRecovery::GetFileNodeParentDirPath(_FILE_NODE_*, wchar_t* path, int pathLen)
{
    // Carved files lie in the root.
    if (path && pathLen > 0)
        path[0] = 0;
    return STATUS_SUCCESS;
}

unsigned int CFileTypeRecovery::GetChildrenFileNode(_FILE_NODE_* dir, unsigned int level,
                                                    std::vector<_FILE_NODE_>& children)
{
    if (!m_pScanResult || dir || level != 0)
        return STATUS_SUCCESS;
    m_pScanResult->FlushBufToFile();
    return m_pScanResult->GetChildrenFileNode(0, children);
}

unsigned int CFileTypeRecovery::GetChildrenFileCount(_FILE_NODE_* dir, unsigned int level,
                                                     unsigned int& count)
{
    if (!m_pScanResult || dir || level != 0)
        return STATUS_SUCCESS;
    m_pScanResult->FlushBufToFile();
    return m_pScanResult->GetChildrenFileCount(0, count);
}

unsigned int CFileTypeRecovery::GetLostFileCount()
{
    return m_pScanResult ? m_pScanResult->GetFileIndex() : 0;
}

unsigned int CFileTypeRecovery::InitSearchCallBack(SEARCH_CALLBACK search, void* ctx)
{
    m_pSearchFunc = search;
    m_pSearchParam = ctx;
    if (!m_pScanResult)
        return STATUS_INVALID_PARAMETER;
    return m_pScanResult->InitSearchCallBack(search, ctx);
}

unsigned int CFileTypeRecovery::SearchFileNode(wchar_t* typeKey, std::vector<__SEARCH_FILE_INFO__>& hits)
{
    if (!m_pScanResult)
        return 0;
    return unsigned(m_pScanResult->SearchFileNodeInfo(typeKey, hits));
}
