#include "engines/CProfessionalRecovery.h"

#include "core/Log.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Recognisers.h"
#include "core/Status.h"
#include "engines/CFileRecoveryFactory.h"
#include "engines/ntfs/NtfsLayout.h"
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <strings.h>

using namespace tessaroo;

namespace
{
// Reports of the sweep: percent within the sweep's 90 share, plus the 10
// the quick phase took.
constexpr int SWEEP_PERCENT_BASE = 10;
// Seconds between two estimates of the time left.
constexpr unsigned long long ESTIMATE_INTERVAL_MS = 5000;
// An NTFS record cut by the chunk's end is read again whole from here.
constexpr int RECORD_REREAD_BYTES = 8192;
// Free runs of a quick engine's bitmap are listed up to this many; a
// bitmap that claims more is not a bitmap of a real volume (a FAT32 card
// of 64 GB in its worst fragmentation has far fewer).
constexpr size_t MAX_FREE_RUNS = 16u * 1024 * 1024;

std::string LowerExtensionOf(const _FILE_NODE_& node)
{
    char name[FILE_NAME_SIZE];
    memcpy(name, node.szFileName, sizeof(name));
    name[sizeof(name) - 1] = 0;
    char ext[FILE_NAME_SIZE] = {0};
    if (GetExtendName(name, ext, sizeof(ext)) != 0)
        return std::string();
    GetCharLowerA(ext);
    return ext;
}

std::wstring StoreNameIn(const char* dir, const char* prefix)
{
    char name[CLogFileManager::PATH_SIZE] = {0};
    CLogFileManager::GetInstance()->GetLogFileNameByFileType(dir, prefix, name);
    return Utf8ToWide(name);
}

void SortNodes(std::vector<_FILE_NODE_>& nodes)
{
    std::stable_sort(nodes.begin(), nodes.end(),
                     [](const _FILE_NODE_& a, const _FILE_NODE_& b)
                     {
                         if ((a.bIsDir != 0) != (b.bIsDir != 0))
                             return a.bIsDir == 0;
                         return strncasecmp(a.szFileName, b.szFileName, sizeof(a.szFileName)) < 0;
                     });
}
} // namespace

CProfessionalRecovery::CProfessionalRecovery()
    : m_wcDriveLetter(L'C'), m_nBytesPerSector(512), m_nDiskIndex(0), m_u64StartSector(0),
      m_u64SectorCount(0), m_nScale(SCAN_SCALE), m_pScanFunc(nullptr), m_pRecoveryFunc(nullptr),
      m_pSearchFunc(nullptr), m_pSearchParam(nullptr), m_pParam(nullptr), m_bFindLog(0), m_logInfo(),
      m_u64Scanned(0), m_u64Total(0), m_u64Unreadable(0)
{
}

CProfessionalRecovery::~CProfessionalRecovery() = default;

unsigned int CProfessionalRecovery::Init(int diskIndex, long long startSector, long long sectorCount,
                                         wchar_t driveLetter)
{
    if (startSector < 0 || sectorCount <= 0)
        return STATUS_INVALID_PARAMETER;
    m_nDiskIndex = diskIndex;
    m_u64StartSector = (unsigned long long)startSector;
    m_u64SectorCount = (unsigned long long)sectorCount;
    m_wcDriveLetter = driveLetter;
    m_strDevicePath.clear();
    const unsigned int rs = m_diskReader.Init(diskIndex, m_u64StartSector + m_u64SectorCount);
    if (rs != STATUS_SUCCESS)
        return rs;
    memset(&m_logInfo, 0, sizeof(m_logInfo));
    m_bFindLog = CLogFileManager::GetInstance()->LoadRecoveryLogInfo(
        GetDiskDevicePath(diskIndex).c_str(), diskIndex, m_u64StartSector, m_u64SectorCount, &m_logInfo);
    m_proFat.Init(diskIndex, startSector, sectorCount, driveLetter);
    const unsigned int st = m_proNtfs.Init(diskIndex, startSector, sectorCount, driveLetter);
    m_pFastEngine.reset(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        diskIndex, startSector, sectorCount, driveLetter, RECOVERY_TYPE_FAST));
    return st;
}

unsigned int CProfessionalRecovery::Init(wchar_t* devicePath, wchar_t driveLetter)
{
    // Volumes given by path are read through disk numbers like every other
    // (TESSAROO_DISKS); this form has no way to read sectors.
    (void)devicePath;
    (void)driveLetter;
    return STATUS_INVALID_PARAMETER;
}

unsigned int CProfessionalRecovery::InitCallBack(SCAN_CALLBACK scan, RECOVERY_CALLBACK recovery, void* ctx,
                                                 int scale)
{
    (void)scale;
    m_pScanFunc = scan;
    m_pRecoveryFunc = recovery;
    m_pParam = ctx;
    m_nScale = SCAN_SCALE;
    if (m_pFastEngine)
        m_pFastEngine->InitCallBack(scan, recovery, ctx, FAST_SCALE);
    m_proFat.InitCallBack(scan, recovery, ctx, SCAN_SCALE);
    m_proNtfs.InitCallBack(scan, recovery, ctx, SCAN_SCALE);
    m_fileType.InitCallBack(scan, recovery, ctx, SCAN_SCALE);
    return STATUS_SUCCESS;
}

unsigned int CProfessionalRecovery::InitSearchCallBack(SEARCH_CALLBACK search, void* ctx)
{
    m_pSearchFunc = search;
    m_pSearchParam = ctx;
    if (m_pFastEngine)
        m_pFastEngine->InitSearchCallBack(search, ctx);
    m_proFat.InitSearchCallBack(search, ctx);
    m_proNtfs.InitSearchCallBack(search, ctx);
    m_fileType.InitSearchCallBack(search, ctx);
    return STATUS_SUCCESS;
}

void CProfessionalRecovery::SetNotLoadLogFile()
{
    if (m_bFindLog)
        CLogFileManager::GetInstance()->DropFoundLog();
    m_bFindLog = 0;
    memset(&m_logInfo, 0, sizeof(m_logInfo));
}

unsigned int CProfessionalRecovery::InitInnerEngines(bool reuse)
{
    char dir[CLogFileManager::PATH_SIZE] = {0};
    CLogFileManager::GetInstance()->GetLogFileDirPath(dir);
    std::wstring fileType, proFat, proNtfs;
    if (reuse)
    {
        fileType = StoreNameIn(dir, CFileTypeRecovery::STORE_PREFIX);
        proFat = StoreNameIn(dir, CProfessionalFatRecovery::STORE_PREFIX);
        proNtfs = StoreNameIn(dir, CProfessionalNtfsRecovery::STORE_PREFIX);
    }
    if (fileType.empty())
        fileType = Utf8ToWide(
            CLogFileManager::MakeStoreName(CFileTypeRecovery::STORE_PREFIX, m_u64StartSector).c_str());
    const unsigned int st = m_fileType.InitLogFile(fileType.c_str(), m_wcDriveLetter, m_nDiskIndex,
                                                   m_nBytesPerSector, m_u64StartSector + m_u64SectorCount);
    m_fileType.InitCallBack(m_pScanFunc, m_pRecoveryFunc, m_pParam, SCAN_SCALE);
    m_fileType.InitSearchCallBack(m_pSearchFunc, m_pSearchParam);
    m_proFat.ClearProfessionalVec(proFat.empty() ? nullptr : &proFat[0]);
    m_proNtfs.InitProfessionalScan(proNtfs.empty() ? nullptr : &proNtfs[0]);
    return st;
}

void CProfessionalRecovery::CollectRuns(bool haveMap,
                                        std::vector<std::pair<unsigned long long, unsigned long long>>& runs)
{
    runs.clear();
    if (haveMap && m_pFastEngine)
    {
        unsigned long long start = 0;
        while (runs.size() < MAX_FREE_RUNS)
        {
            unsigned long long from = start, count = 0;
            m_pFastEngine->GetUnUsedSectorCount(from, count);
            // A run must lie ahead of the last one and inside the volume, or
            // the listing is not one to trust.
            if (count == 0 || from < start || from >= m_u64SectorCount)
                break;
            count = std::min(count, m_u64SectorCount - from);
            runs.emplace_back(from, count);
            start = from + count;
        }
        if (!runs.empty())
            return;
    }
    runs.emplace_back(0ULL, m_u64SectorCount);
}

int CProfessionalRecovery::Report(unsigned long long scanned, unsigned long long total, int secondsLeft,
                                  unsigned long long files)
{
    if (!m_pScanFunc)
        return 0;
    const unsigned long long shown = std::min(scanned, total);
    const int percent = int(shown * 100 / std::max(total, 1ULL)) + SWEEP_PERCENT_BASE;
    return m_pScanFunc(m_pParam, std::min(percent, 100 + SWEEP_PERCENT_BASE), SCAN_SCALE, secondsLeft, shown,
                       total, files, nullptr);
}

unsigned int CProfessionalRecovery::ScanDevice(wchar_t* resultName)
{
    (void)resultName;
    CLogFileManager* logs = CLogFileManager::GetInstance();
    const bool reuse = m_bFindLog != 0;
    if (!reuse)
        logs->AddDirIndex();
    char dir[CLogFileManager::PATH_SIZE] = {0};
    logs->GetLogFileDirPath(dir);
    m_u64Scanned = m_u64Total = m_u64Unreadable = 0;

    // Quick phase: the volume's own metadata and its bitmap of used space.
    bool haveMap = false;
    unsigned int result = STATUS_SUCCESS;
    if (m_pFastEngine)
    {
        m_pFastEngine->InitCallBack(m_pScanFunc, m_pRecoveryFunc, m_pParam, FAST_SCALE);
        haveMap = m_pFastEngine->BuildBitMapInfo() == STATUS_SUCCESS;
        std::wstring fastStore = reuse ? StoreNameIn(dir, "Fast_") : std::wstring();
        result = m_pFastEngine->ScanDevice(fastStore.empty() ? nullptr : &fastStore[0]);
        m_pFastEngine->InitSearchCallBack(m_pSearchFunc, m_pSearchParam);
        // A quick engine that cannot walk its volume (an implausible boot
        // sector) leaves the volume to the sweep rather than ending the scan.
        if (result == STATUS_INVALID_PARAMETER)
        {
            m_pFastEngine.reset();
            haveMap = false;
            result = STATUS_SUCCESS;
        }
    }
    if (result != STATUS_SUCCESS)
    {
        // Stopped in the quick phase: no sweep, and the folder goes back.
        if (!reuse)
            logs->ReduceDirIndex();
        return result;
    }

    InitInnerEngines(reuse);
    CoreLog("InitVirtualDbrInfo Start\n");
    m_proFat.InitVirtualDbrInfo();
    // Transport streams carved by an earlier scan of this process say
    // nothing about this volume.
    CFileTypeJudge::ClearTsFileRange();
    std::vector<unsigned char> chunk;
    try
    {
        chunk.resize(CHUNK_BYTES);
    }
    catch (const std::bad_alloc&)
    {
        return STATUS_NOT_ENOUGH_MEMORY;
    }

    std::vector<std::pair<unsigned long long, unsigned long long>> runs;
    CollectRuns(haveMap, runs);
    unsigned long long total = 0;
    for (const auto& r : runs)
        total += r.second;
    m_u64Total = total;

    const unsigned long long B = (unsigned long long)m_nBytesPerSector;
    const unsigned long long perChunk = CHUNK_BYTES / B;
    unsigned long long scanned = 0, resumedFiles = 0, fileCount = 0;
    size_t runIndex = 0;
    unsigned long long offsetInRun = 0;
    if (reuse)
    {
        // Go on where the stopped sweep was: the run it was in and how far.
        for (size_t i = 0; i < runs.size(); ++i)
            if (runs[i].first == m_logInfo.u64RunStart)
                runIndex = i;
        if (runIndex < runs.size() && runs[runIndex].first == m_logInfo.u64RunStart)
        {
            offsetInRun = std::min<unsigned long long>(m_logInfo.u64RunOffset, runs[runIndex].second);
            scanned = std::min<unsigned long long>(m_logInfo.u64ScannedSectors, total);
        }
        resumedFiles = m_logInfo.u64FileCount;
        m_bFindLog = 0;
    }
    (void)resumedFiles; // the reopened stores count what they already hold

    const unsigned long long startTick = rsb_getTickCount();
    unsigned long long lastEstimate = startTick;
    int secondsLeft = -1;
    int answer = 0;
    unsigned long long stopRunStart = 0, stopRunLength = 0, stopOffset = 0;
    for (; runIndex < runs.size() && answer == 0; ++runIndex, offsetInRun = 0)
    {
        const unsigned long long runStart = runs[runIndex].first, runLength = runs[runIndex].second;
        stopRunStart = runStart;
        stopRunLength = runLength;
        while (offsetInRun < runLength && answer == 0)
        {
            const unsigned long long n = std::min(perChunk, runLength - offsetInRun);
            const unsigned long long abs = m_u64StartSector + runStart + offsetInRun;
            unsigned int got = 0;
            const unsigned int rs = m_diskReader.ReadData(chunk.data(), int(n), (long long)abs, int(B), &got);
            if (rs == STATUS_SUCCESS)
                got = unsigned(n);
            long long extra = 0;
            if (got > 0)
                answer = ParseProfessionalFileInfo(chunk.data(), int(got * B), abs, scanned, total,
                                                   secondsLeft, extra, fileCount);
            if (got < n)
            {
                // Sectors that could not be read are passed over, not the end.
                CoreLog("sweep: %llu sectors unreadable at %llu\n", n - got, abs + got);
                m_u64Unreadable += n - got;
            }
            // The position advances by what was asked, plus what a carved
            // file still covers; a stop inside an estimate stops it there.
            long long step = (long long)n + extra;
            if (step < 0)
                step = 0;
            const unsigned long long advance = std::min((unsigned long long)step, runLength - offsetInRun);
            offsetInRun += advance;
            scanned = std::min(scanned + advance, total);
            const unsigned long long now = rsb_getTickCount();
            if (now - lastEstimate >= ESTIMATE_INTERVAL_MS)
            {
                lastEstimate = now;
                const unsigned long long seconds = std::max((now - startTick) / 1000, 1ULL);
                const unsigned long long speed = std::max(B * scanned / seconds, 1ULL);
                secondsLeft = int(std::min<unsigned long long>((total - scanned) * B / speed, 0x7FFFFFFF));
            }
            if (answer == 0)
                answer = Report(scanned, total, secondsLeft, GetLostFileCount());
        }
        stopOffset = offsetInRun;
    }
    m_u64Scanned = scanned;

    // The deep engines build their trees from what was found, stopped or not.
    m_proFat.DealProfessionalRecordVec();
    m_proNtfs.ParseProfessionalRecordVec();
    if (answer == 0 && m_pScanFunc)
        m_pScanFunc(m_pParam, 100, 100, 0, 0, 0, 0, nullptr);
    // A sweep that ran to its end is recorded past its last run, so that
    // going on finds nothing left.
    if (answer == 0)
        stopOffset = stopRunLength;
    logs->SaveLogFileInfo(GetDiskDevicePath(m_nDiskIndex).c_str(), m_nDiskIndex, m_u64StartSector,
                          m_u64SectorCount, stopRunStart, stopRunLength, stopOffset, scanned,
                          GetLostFileCount(), dir, m_strDevicePath.c_str());
    return unsigned(answer);
}

int CProfessionalRecovery::ParseProfessionalFileInfo(unsigned char* chunk, int len,
                                                     unsigned long long absSector, unsigned long long scanned,
                                                     unsigned long long total, int secondsLeft,
                                                     long long& extraSectors, unsigned long long& fileCount)
{
    extraSectors = 0;
    const int B = m_nBytesPerSector;
    if (!chunk || len < B || B <= 0)
        return 0;
    const int R = B <= 512 ? 2 * B : B;
    const long long sectors = len / B;
    std::vector<unsigned char> record;
    long long i = 0;
    while (i < sectors)
    {
        unsigned char* sector = chunk + i * B;
        const unsigned long long abs = absSector + (unsigned long long)i;
        long long step = 1;
        const long long leftBytes = (long long)len - i * B;
        const unsigned char* rec = sector;
        bool ntfs = false;
        if (leftBytes >= R)
            ntfs = IsNtfsFileRecord(sector, R);
        else if (memcmp(sector, "FILE", 4) == 0)
        {
            // A record cut by the chunk's end is read again whole.
            record.assign(RECORD_REREAD_BYTES, 0);
            unsigned int got = 0;
            const int want = RECORD_REREAD_BYTES / B;
            if (m_diskReader.ReadData(record.data(), want, (long long)abs, B, &got) == STATUS_SUCCESS)
                got = unsigned(want);
            if ((long long)got * B >= R && IsNtfsFileRecord(record.data(), R))
            {
                ntfs = true;
                rec = record.data();
            }
        }
        if (ntfs)
            m_proNtfs.ParseNtfsFileRecord(const_cast<unsigned char*>(rec), abs);
        else if (IsFatFileRecord(sector, size_t(B)))
            m_proFat.ParseFatFileRecord(sector, abs);
        else if (IsFatFDTRecord(sector, B))
            m_proFat.ParseFDTFileRecord(sector, abs);
        else
        {
            unsigned long long skip = 1;
            const int rc = m_fileType.ParseFileBuf(sector, B, abs, scanned + (unsigned long long)i, total,
                                                   secondsLeft, &m_diskReader, B, skip, fileCount);
            if (rc != 0 && rc != int(STATUS_INVALID_PARAMETER))
            {
                // Stopped inside a length estimate: the sweep stops at this sector.
                extraSectors = -(sectors - i);
                return rc;
            }
            step = (long long)std::max(skip, 1ULL);
        }
        if (i + step > sectors)
        {
            extraSectors = i + step - sectors;
            break;
        }
        i += step;
    }
    return 0;
}

IFileRecoveryParse* CProfessionalRecovery::EngineOf(const _FILE_NODE_* node)
{
    switch (node->uEngineType)
    {
    case ENGINE_TYPE_FAST_NTFS:
    case ENGINE_TYPE_FAST_FAT:
        return m_pFastEngine.get();
    case ENGINE_TYPE_DEEP_NTFS:
        return &m_proNtfs;
    case ENGINE_TYPE_DEEP_FAT:
        return &m_proFat;
    case ENGINE_TYPE_SIGNATURE:
        return &m_fileType;
    default:
        return nullptr;
    }
}

unsigned int CProfessionalRecovery::GetChildrenFileNode(_FILE_NODE_* dir, unsigned int level,
                                                        std::vector<_FILE_NODE_>& children)
{
    unsigned int st = STATUS_SUCCESS;
    if (!dir)
    {
        if (level != 0)
            st = STATUS_INVALID_PARAMETER;
        else
        {
            if (m_pFastEngine)
                m_pFastEngine->GetChildrenFileNode(nullptr, 0, children);
            m_proFat.GetChildrenFileNode(nullptr, 0, children);
            m_proNtfs.GetChildrenFileNode(nullptr, 0, children);
            m_fileType.GetChildrenFileNode(nullptr, 0, children);
        }
    }
    else if (dir->uEngineType != ENGINE_TYPE_SIGNATURE)
    {
        IFileRecoveryParse* e = EngineOf(dir);
        st = e ? e->GetChildrenFileNode(dir, level, children) : STATUS_INVALID_PARAMETER;
    }
    SortNodes(children);
    return st;
}

unsigned int CProfessionalRecovery::GetChildrenFileCount(_FILE_NODE_* dir, unsigned int level,
                                                         unsigned int& count)
{
    if (!dir)
    {
        if (level != 0)
            return STATUS_INVALID_PARAMETER;
        IFileRecoveryParse* roots[] = {m_pFastEngine.get(), &m_proFat, &m_proNtfs, &m_fileType};
        for (IFileRecoveryParse* e : roots)
        {
            unsigned int n = 0;
            if (e && e->GetChildrenFileCount(nullptr, 0, n) == STATUS_SUCCESS)
                count += n;
        }
        return STATUS_SUCCESS;
    }
    if (dir->uEngineType == ENGINE_TYPE_SIGNATURE)
        return STATUS_SUCCESS;
    IFileRecoveryParse* e = EngineOf(dir);
    return e ? e->GetChildrenFileCount(dir, level, count) : STATUS_INVALID_PARAMETER;
}

unsigned int CProfessionalRecovery::GetLostFileCount()
{
    return (m_pFastEngine ? m_pFastEngine->GetLostFileCount() : 0) + m_proFat.GetLostFileCount() +
           m_proNtfs.GetLostFileCount() + m_fileType.GetLostFileCount();
}

unsigned int CProfessionalRecovery::GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int pathLen)
{
    if (!node)
        return STATUS_INVALID_PARAMETER;
    IFileRecoveryParse* e = EngineOf(node);
    return e ? e->GetFileNodeParentDirPath(node, path, pathLen) : STATUS_INVALID_PARAMETER;
}

unsigned int CProfessionalRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int rootSeparators)
{
    if (!node)
        return STATUS_INVALID_PARAMETER;
    IFileRecoveryParse* e = EngineOf(node);
    return e ? e->SaveFileData(node, targetPath, rootSeparators) : STATUS_INVALID_PARAMETER;
}

unsigned int CProfessionalRecovery::PreView(_FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf,
                                            int& len, PREVIEW_CALLBACK progress, void* ctx)
{
    if (!node)
        return STATUS_INVALID_PARAMETER;
    IFileRecoveryParse* e = EngineOf(node);
    return e ? e->PreView(node, imagePath, buf, len, progress, ctx) : STATUS_INVALID_PARAMETER;
}

unsigned int CProfessionalRecovery::GetUnUsedSectorCount(unsigned long long&, unsigned long long&)
{
    return 0;
}

unsigned int CProfessionalRecovery::BuildBitMapInfo()
{
    return 0;
}

void CProfessionalRecovery::GetFileDataStartSectorMap(_FILE_NODE_* node,
                                                      std::map<unsigned long long, std::string>& starts)
{
    if (!node || node->bIsDir)
        return;
    const unsigned long long B = (unsigned long long)m_nBytesPerSector;
    unsigned long long sector = 0;
    switch (node->uEngineType)
    {
    case ENGINE_TYPE_FAST_NTFS:
    case ENGINE_TYPE_DEEP_NTFS:
    {
        std::vector<__RUNLIST__> runs;
        if (m_proNtfs.GetRunListInfo((long long)node->u64RecordSector, int(NTFS_TYPE_DATA), runs) != 0 ||
            runs.empty() || runs[0].bSparse || runs[0].i64ClusterOffset < 0 || node->uClusterSize == 0 ||
            (unsigned long long)runs[0].i64ClusterOffset > UINT64_MAX / node->uClusterSize)
            return;
        sector = node->u64PartitionStartSector +
                 (unsigned long long)node->uClusterSize * (unsigned long long)runs[0].i64ClusterOffset / B;
        break;
    }
    case ENGINE_TYPE_FAST_FAT:
    case ENGINE_TYPE_DEEP_FAT:
    {
        const unsigned long long spc = node->uClusterSize / B;
        if (node->uClusterNO == 0)
        {
            if (node->u64DataStartSector < 32)
                return;
            sector = node->u64PartitionStartSector + node->u64DataStartSector - 32;
        }
        else if (node->uClusterNO >= 2)
            sector =
                node->u64PartitionStartSector + node->u64DataStartSector + (node->uClusterNO - 2ULL) * spc;
        else
            return;
        break;
    }
    default:
        return;
    }
    starts[sector] = LowerExtensionOf(*node);
}

unsigned int CProfessionalRecovery::SearchFileNode(wchar_t* typeKey, std::vector<__SEARCH_FILE_INFO__>& hits)
{
    const size_t first = hits.size();
    if (m_pFastEngine)
        m_pFastEngine->SearchFileNode(typeKey, hits);
    std::map<unsigned long long, std::string> starts;
    for (size_t i = first; i < hits.size(); ++i)
        GetFileDataStartSectorMap(&hits[i], starts);
    // The deep engines sweep free space, where the folders of deleted
    // folders lie: a file the volume's own metadata lists is met there
    // again. A deep node whose data starts where a listed file's does, of
    // the same kind, is that file, and is left out.
    std::vector<__SEARCH_FILE_INFO__> deep;
    m_proFat.SearchFileNode(typeKey, deep);
    m_proNtfs.SearchFileNode(typeKey, deep);
    for (__SEARCH_FILE_INFO__& d : deep)
    {
        std::map<unsigned long long, std::string> own;
        GetFileDataStartSectorMap(&d, own);
        if (!own.empty())
        {
            auto it = starts.find(own.begin()->first);
            if (it != starts.end() && it->second == own.begin()->second)
                continue;
        }
        hits.push_back(d);
    }
    for (size_t i = first; i < hits.size(); ++i)
        GetFileDataStartSectorMap(&hits[i], starts);
    std::vector<__SEARCH_FILE_INFO__> carved;
    m_fileType.SearchFileNode(typeKey, carved);
    for (const __SEARCH_FILE_INFO__& c : carved)
    {
        auto it = starts.find(c.u64RecordSector);
        if (it != starts.end())
        {
            // The carved file is a file system's file found again: the
            // same start, the same kind (a camera's .thm is a JPEG).
            const std::string ext = LowerExtensionOf(c);
            if (ext == it->second || (it->second == "thm" && ext == "jpg"))
                continue;
        }
        hits.push_back(c);
    }
    SortNodes(hits);
    return STATUS_SUCCESS;
}
