// Initialisation, the folder walk, the allocation bitmap and the queries of
// the fast FAT engine. File data and preview are in CFastFatRecoveryData.cpp.
#include "engines/fat/CFastFatRecovery.h"

#include "core/BootSector.h"
#include "core/ByteReader.h"
#include "core/Log.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Recognisers.h"
#include "core/Status.h"
#include "store/CScanResultFileManager.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

using namespace tessaroo;

namespace
{
// Progress is reported at most this often during the walk.
constexpr unsigned long long REPORT_INTERVAL_MS = 5000;
// Intermediate reports stay below the completion band (percent x scale from
// 10000 to 10099), which would tell the application the scan had finished.
constexpr int MAX_INTERMEDIATE_PERCENT = 99;

std::string ExtensionOf(const char* name)
{
    char ext[FILE_NAME_SIZE] = {0};
    if (GetExtendName(name, ext, sizeof(ext)) != 0)
        return std::string();
    return ext;
}
} // namespace

CFastFatRecovery::CFastFatRecovery()
    : m_u64StartSector(0), m_u64SectorCount(0), m_wcDriveLetter(0), m_nBytesPerSector(512),
      m_hDevice(-1), m_szBootSector{}, m_nFirstDataSector(0), m_nSectorsPerCluster(0), m_nRootClusterNO(0),
      m_nIsFat32(1), m_nBitMapSize(0), m_u64FatStartSector(0), m_nEngineType(ENGINE_TYPE_FAST_FAT),
      m_nScale(0), m_pScanFunc(nullptr), m_pRecoveryFunc(nullptr), m_pParam(nullptr),
      m_fileTypeJudge(&m_diskReader), m_bGeometryValid(false), m_u64LastReport(0), m_nReportStep(0)
{
}

CFastFatRecovery::~CFastFatRecovery()
{
    m_pScanResult.reset();
    if (m_hDevice >= 0)
        close(m_hDevice);
    m_hDevice = -1;
}

unsigned int CFastFatRecovery::Init(int diskIndex, long long startSector, long long sectorCount,
                                    wchar_t driveLetter)
{
    if (m_hDevice >= 0)
        return STATUS_SUCCESS;
    if (startSector < 0 || sectorCount < 0 || startSector > (long long)(INT64_MAX / 512))
        return STATUS_INVALID_PARAMETER;
    int fd = OpenDiskReadOnly(diskIndex);
    if (fd < 0)
        return unsigned(errno ? errno : ENOENT);
    m_hDevice = fd;
    m_u64StartSector = (unsigned long long)startSector;
    m_u64SectorCount = (unsigned long long)sectorCount;
    m_wcDriveLetter = driveLetter;
    if (m_u64BootUnit > m_u64SectorCount || lseek(fd, off_t(startSector + m_u64BootUnit) * 512, SEEK_SET) < 0)
        return unsigned(errno ? errno : EINVAL);
    unsigned int got = 0;
    if (ReadData(fd, m_szBootSector, int(sizeof(m_szBootSector)), &got) != 0 || got != sizeof(m_szBootSector))
        return STATUS_READ_FAULT;
    FatGeometry g;
    const char* why = "";
    if (!DeriveFatGeometry(m_szBootSector, sizeof(m_szBootSector), g, &why))
    {
        CoreLog("CFastFatRecovery: the FAT volume at sector %lld is unreadable: %s\n", startSector, why);
        return STATUS_INVALID_PARAMETER;
    }
    m_geo = g;
    m_bGeometryValid = true;
    m_nBytesPerSector = int(g.bytesPerSector);
    m_nIsFat32 = g.kind == FatKind::Fat32 ? 1 : 0;
    m_nRootClusterNO = g.rootCluster;
    m_nFirstDataSector = unsigned(g.firstDataSector);
    m_nSectorsPerCluster = g.sectorsPerCluster;
    unsigned int st = m_diskReader.Init(diskIndex, m_u64StartSector + m_u64SectorCount);
    if (st != STATUS_SUCCESS)
        return st;
    m_u64FatStartSector = AbsSector(g.reservedSectors);
    unsigned int fatSt = m_fat.Init(&m_diskReader, g, m_u64StartSector, m_u64StartSector + m_u64SectorCount);
    if (fatSt != STATUS_SUCCESS)
        CoreLog("CFastFatRecovery: FAT read failed (%u)\n", fatSt);
    return STATUS_SUCCESS;
}

unsigned int CFastFatRecovery::Init(wchar_t* devicePath, wchar_t driveLetter)
{
    if (m_hDevice >= 0)
        return STATUS_SUCCESS;
    if (!devicePath)
        return STATUS_INVALID_PARAMETER;
    std::string path = WideToUtf8(devicePath);
    if (path.size() > 256)
        path.resize(256);
    int fd = OpenDeviceReadOnly(path.c_str());
    if (fd < 0)
        return unsigned(errno);
    uint64_t bytes = 0;
    if (!GetDeviceSize(fd, bytes))
    {
        int e = errno ? errno : EIO;
        close(fd);
        return unsigned(e);
    }
    m_hDevice = fd;
    m_u64StartSector = 0;
    m_u64SectorCount = bytes / unsigned(m_nBytesPerSector);
    m_wcDriveLetter = driveLetter;
    lseek(fd, 0, SEEK_SET);
    return STATUS_SUCCESS;
}

unsigned int CFastFatRecovery::InitCallBack(SCAN_CALLBACK scan, RECOVERY_CALLBACK recovery, void* ctx,
                                            int scale)
{
    m_pScanFunc = scan;
    m_pRecoveryFunc = recovery;
    m_pParam = ctx;
    m_nScale = scale;
    return STATUS_SUCCESS;
}

unsigned int CFastFatRecovery::ReadVolumeSectors(unsigned char* buf, uint64_t sector, uint32_t count,
                                                 uint32_t* got)
{
    *got = 0;
    const uint64_t abs = AbsSector(sector);
    const uint64_t end = m_u64StartSector + m_u64SectorCount;
    if (abs >= end || count == 0)
        return STATUS_READ_FAULT;
    // A cluster that runs past the volume's end gives what the volume holds.
    uint64_t units = std::min<uint64_t>(uint64_t(count) * m_geo.unitsPerSector, end - abs);
    units -= units % m_geo.unitsPerSector;
    if (units == 0)
        return STATUS_READ_FAULT;
    unsigned int gotUnits = 0;
    unsigned int st = m_diskReader.ReadData(buf, int(units), (long long)abs, 512, &gotUnits);
    if (st == STATUS_SUCCESS)
        gotUnits = unsigned(units);
    *got = gotUnits / m_geo.unitsPerSector;
    if (st == STATUS_READ_FAULT && *got > 0)
        return STATUS_SUCCESS;
    if (st == STATUS_SUCCESS && *got == 0)
        return STATUS_READ_FAULT;
    return st;
}

int CFastFatRecovery::ReportScan(int percent, int secondsLeft)
{
    if (!m_pScanFunc)
        return 0;
    return m_pScanFunc(m_pParam, percent, m_nScale, secondsLeft, 0, 0, 0, nullptr);
}

unsigned int CFastFatRecovery::ScanDevice(wchar_t* resultName)
{
    m_dirNodeMap.clear();
    m_delDirVec.clear();
    m_dirQueue.clear();
    m_walkedDirs.clear();
    m_walkedClusters.Clear();
    m_markedDirs.clear();
    m_levelCache.clear();
    m_pScanResult.reset();
    m_pScanResult.reset(new (std::nothrow) CScanResultFileManager());
    if (!m_pScanResult)
        return STATUS_NOT_ENOUGH_MEMORY;

    if (resultName)
    {
        if (m_pScanResult->Init(resultName) != STATUS_SUCCESS)
            CoreLog("CFastFatRecovery: cannot open the store of an earlier scan\n");
        m_pScanResult->InitSearchCallBack(m_pSearchFunc, m_pSearchParam);
        return STATUS_SUCCESS;
    }

    if (!m_bGeometryValid)
    {
        // Init found no volume to walk: that is a failure, not an empty volume.
        CoreLog("CFastFatRecovery: no readable FAT volume at sector %llu to scan\n", m_u64StartSector);
        m_pScanResult.reset();
        return STATUS_INVALID_PARAMETER;
    }
    if (m_pScanResult->InitNew("Fast_", m_u64StartSector) != STATUS_SUCCESS)
        CoreLog("CFastFatRecovery: cannot create the scan result store\n");
    m_pScanResult->InitSearchCallBack(m_pSearchFunc, m_pSearchParam);

    m_dirQueue.push_back(m_nRootClusterNO);
    const unsigned long long startTick = rsb_getTickCount();
    m_u64LastReport = startTick;
    m_nReportStep = 0;
    int answer = ReportScan(1, -1);

    bool stopped = false;
    while (!m_dirQueue.empty())
    {
        const unsigned int c = m_dirQueue.front();
        m_dirQueue.pop_front();
        if (m_walkedDirs.insert(c).second)
            InitDirInfo(c);
        const unsigned long long now = rsb_getTickCount();
        if (now - m_u64LastReport < REPORT_INTERVAL_MS)
            continue;
        m_u64LastReport = now;
        ++m_nReportStep;
        if (m_nScale == 100)
            answer = ReportScan(std::min(1 + m_nReportStep, MAX_INTERMEDIATE_PERCENT),
                                std::max(100 - m_nReportStep, 0));
        else if (m_nScale == 9)
            answer = ReportScan(std::min(20 + m_nReportStep, MAX_INTERMEDIATE_PERCENT), -1);
        else
            continue;
        if (answer != 0)
        {
            stopped = true;
            break;
        }
    }
    m_dirQueue.clear();

    if (!stopped && answer == 0)
    {
        answer = ReportScan(80, 10);
        if (answer == 0)
            WriteFolderNodes();
    }
    m_pScanResult->FlushBufToFile();
    if (!stopped && answer == 0)
        answer = ReportScan(100, 0);
    return unsigned(answer);
}

void CFastFatRecovery::WriteFolderNodes()
{
    for (unsigned int c : m_delDirVec)
    {
        auto it = m_dirNodeMap.find(c);
        if (it == m_dirNodeMap.end())
            continue;
        _FILE_NODE_* slot = m_pScanResult->CreateFileNode(int(sizeof(_FILE_NODE_)));
        if (!slot)
            return;
        *slot = it->second.node;
        slot->bDataHealth = 1;
        slot->uFileIndex = m_pScanResult->GetFileIndex();
        const unsigned int parent = it->second.parentCluster;
        int level = 0;
        _GetRootParentDirIndex(parent, level);
        m_pScanResult->AddChildren(parent, unsigned(level), slot->uFileIndex, c, slot->szFileName);
    }
}

unsigned int CFastFatRecovery::InitDirInfo(unsigned int cluster)
{
    const bool rootArea = !m_nIsFat32 && cluster == 0;
    if (!rootArea && !m_geo.IsDataCluster(cluster))
        return STATUS_INVALID_PARAMETER;
    auto known = m_dirNodeMap.find(cluster);
    const bool isKnown = known != m_dirNodeMap.end() && known->second.node.bIsDir;
    const bool insideDeleted = isKnown && known->second.node.bIsDeleted;

    uint64_t sector =
        rootArea ? m_geo.firstDataSector - m_geo.rootDirSectors : m_geo.ClusterToSector(cluster);
    const uint32_t sectors = rootArea ? m_geo.rootDirSectors : m_geo.sectorsPerCluster;
    std::vector<unsigned char> buf;
    try
    {
        buf.resize(size_t(sectors) * m_geo.bytesPerSector);
    }
    catch (const std::bad_alloc&)
    {
        return STATUS_NOT_ENOUGH_MEMORY;
    }
    m_longName.Reset();

    unsigned int folder = cluster;
    unsigned int current = cluster;
    bool firstCluster = true, linked = true;
    CClusterRunSet met;
    // A chain can meet each cluster once; the bound also covers a table the
    // walker cannot read.
    for (uint64_t steps = 0; steps <= uint64_t(m_geo.clusterCount) + 1; ++steps)
    {
        if (!rootArea && m_walkedClusters.Contains(current))
            break; // read already, as part of another folder's chain
        uint32_t got = 0;
        unsigned int st = ReadVolumeSectors(buf.data(), sector, sectors, &got);
        if (st != STATUS_SUCCESS)
            return st;
        const size_t len = size_t(got) * m_geo.bytesPerSector;
        // A subfolder's first cluster starts with its dot pair. Later clusters
        // are taken when the table links them to a live folder; a cluster
        // reached only by guessing (a deleted folder's freed chain) must show
        // the dot pair too, which in practice ends such a folder after its
        // first cluster.
        if (isKnown && current != m_nRootClusterNO && (firstCluster || !linked || insideDeleted) &&
            !IsFatFileRecord(buf.data(), len))
            break;
        if (!rootArea)
            m_walkedClusters.Add(current);
        bool ended = false;
        WalkDirBuffer(buf.data(), len, sector, folder, insideDeleted, ended);
        if (ended || rootArea)
            break;
        uint32_t next = 0;
        if (m_fat.NextFolderCluster(current, met, next, linked) != STATUS_SUCCESS || next == 0)
            break;
        current = next;
        firstCluster = false;
        sector = m_geo.ClusterToSector(next);
    }
    return STATUS_SUCCESS;
}

unsigned int CFastFatRecovery::WalkDirBuffer(const unsigned char* buf, size_t len, uint64_t firstSector,
                                             unsigned int& folder, bool insideDeleted, bool& ended)
{
    const uint32_t bps = m_geo.bytesPerSector;
    ended = WalkFatEntries(buf, len, m_longName,
                           [&](const FatDirEntryView& v)
                           {
                               if (v.isDir)
                               {
                                   AddDirNode(v.raw, v.Name(), folder, insideDeleted);
                                   return;
                               }
                               // Any other entry is a file, whatever its read-only,
                               // hidden, system and archive bits.
                               if (!v.deleted && !insideDeleted)
                                   return;
                               AddFileNode(v.raw, v.Name(), AbsSector(firstSector + v.offset / bps), folder);
                           });
    return STATUS_SUCCESS;
}

unsigned int CFastFatRecovery::EntryCluster(const unsigned char* e, bool isDir, const char* name)
{
    ByteReader r(e, DIR_ENTRY_SIZE);
    const uint16_t lo = r.U16(DE_CLUSTER_LO);
    if (!m_nIsFat32)
        return lo;
    uint16_t hi = r.U16(DE_CLUSTER_HI);
    // Some systems clear the high word when they delete an entry; a file
    // that lies above cluster 65535 is then found by looking for its start.
    if (e[0] == DELETED_MARK && hi == 0 && lo != 0 && (isDir || r.U32(DE_SIZE) != 0))
    {
        if (isDir)
            GetDirRealHighClusterNO(lo, hi);
        else
            GetFileRealHighClusterNO(lo, hi, name);
    }
    return (uint32_t(hi) << 16) | lo;
}

void CFastFatRecovery::AddDirNode(const unsigned char* e, const std::string& name, unsigned int folder,
                                  bool insideDeleted)
{
    const unsigned int cluster = EntryCluster(e, true, name.c_str());
    ByteReader r(e, DIR_ENTRY_SIZE);
    DirEntryInfo info = {};
    _FILE_NODE_& n = info.node;
    n.wcDriveLetter = uint32_t(m_wcDriveLetter);
    n.uEngineType = ENGINE_TYPE_FAST_FAT;
    n.bIsDir = 1;
    n.bIsDeleted = (e[0] == DELETED_MARK || insideDeleted) ? 1 : 0;
    n.uClusterNO = cluster;
    n.uClusterSize = m_geo.bytesPerCluster;
    n.u64CreateTime = FatDateToTime(r.U16(DE_CDATE));
    n.u64AccessTime = FatDateToTime(r.U16(DE_ADATE));
    n.u64ModifyTime = FatDateToTime(r.U16(DE_WDATE));
    n.u64DataStartSector = m_geo.firstDataSector;
    CopyUtf8Name(n.szFileName, sizeof(n.szFileName), name);
    info.parentCluster = folder;
    if (cluster == 0 || cluster == folder || !m_geo.IsDataCluster(cluster))
        return;
    m_dirQueue.push_back(cluster);
    m_dirNodeMap[cluster] = info;
}

void CFastFatRecovery::AddFileNode(const unsigned char* e, const std::string& name, uint64_t entrySector,
                                   unsigned int folder)
{
    if (!m_pScanResult)
        return;
    const unsigned int cluster = EntryCluster(e, false, name.c_str());
    _FILE_NODE_* slot = m_pScanResult->CreateFileNode(int(sizeof(_FILE_NODE_)));
    if (!slot)
        return;
    ByteReader r(e, DIR_ENTRY_SIZE);
    slot->wcDriveLetter = uint32_t(m_wcDriveLetter);
    slot->uEngineType = ENGINE_TYPE_FAST_FAT;
    slot->bIsDir = 0;
    slot->uFileIndex = m_pScanResult->GetFileIndex();
    slot->uClusterNO = cluster;
    slot->uClusterSize = m_geo.bytesPerCluster;
    slot->u64CreateTime = FatDateToTime(r.U16(DE_CDATE));
    slot->u64AccessTime = FatDateToTime(r.U16(DE_ADATE));
    slot->u64ModifyTime = FatDateToTime(r.U16(DE_WDATE));
    slot->u64FileSize = r.U32(DE_SIZE);
    slot->u64DataStartSector = m_geo.firstDataSector;
    slot->u64RecordSector = entrySector;
    slot->u64PartitionStartSector = m_u64StartSector;
    CopyUtf8Name(slot->szFileName, sizeof(slot->szFileName), name);
    slot->bDataHealth = unsigned(IsFileDataHealth(slot, m_geo.sectorsPerCluster));
    int level = 0;
    _GetRootParentDirIndex(folder, level);
    m_pScanResult->AddChildren(folder, unsigned(level), slot->uFileIndex, cluster, nullptr);
    MarkFolderForListing(folder);
}

void CFastFatRecovery::MarkFolderForListing(unsigned int folder)
{
    unsigned int cur = folder;
    // Each folder is marked once; a folder already marked has its ancestors
    // marked too, and parents that lead back to each other end here.
    while (m_markedDirs.insert(cur).second)
    {
        m_delDirVec.push_back(cur);
        auto it = m_dirNodeMap.find(cur);
        if (it == m_dirNodeMap.end())
            return;
        const unsigned int parent = it->second.parentCluster;
        if (parent == cur || parent == m_nRootClusterNO || !m_geo.IsDataCluster(parent))
            return;
        cur = parent;
    }
}

unsigned int CFastFatRecovery::GetNextClusterNO(unsigned int cluster, unsigned int& next)
{
    uint32_t v = 0;
    unsigned int st = m_fat.GetEntry(cluster, v);
    if (st == STATUS_SUCCESS)
        next = v;
    return st;
}

unsigned int CFastFatRecovery::FindNextClusterNO(unsigned int cluster, unsigned int& next)
{
    bool linked = false;
    uint32_t n = 0;
    unsigned int st = m_fat.FindNext(cluster, n, linked);
    if (st == STATUS_SUCCESS)
        next = n;
    return st;
}

unsigned int CFastFatRecovery::FindHighClusterWord(
    unsigned short low, unsigned short& high,
    const std::function<bool(const unsigned char*, size_t, uint64_t)>& starts)
{
    std::vector<unsigned char> sector(m_geo.bytesPerSector);
    for (uint32_t h = 0; h < FAT_HIGH_WORD_GUESSES; ++h)
    {
        const uint32_t c = (h << 16) | low;
        if (!m_geo.IsDataCluster(c))
        {
            if (c >= FAT_FIRST_DATA_CLUSTER)
                break; // beyond the volume's end
            continue;
        }
        uint32_t got = 0;
        const uint64_t s = m_geo.ClusterToSector(c);
        const unsigned int st = ReadVolumeSectors(sector.data(), s, 1, &got);
        if (st != STATUS_SUCCESS)
            return st;
        if (starts(sector.data(), sector.size(), AbsSector(s)))
        {
            high = (unsigned short)h;
            break;
        }
    }
    return STATUS_SUCCESS;
}

unsigned int CFastFatRecovery::GetDirRealHighClusterNO(unsigned short low, unsigned short& high)
{
    return FindHighClusterWord(low, high,
                               [](const unsigned char* sector, size_t len, uint64_t)
                               { return IsFatFileRecord(sector, len); });
}

unsigned int CFastFatRecovery::GetFileRealHighClusterNO(unsigned short low, unsigned short& high,
                                                        const char* name)
{
    const std::string ext = ExtensionOf(name);
    if (ext.empty())
        return STATUS_SUCCESS;
    return FindHighClusterWord(low, high,
                               [&](const unsigned char* sector, size_t len, uint64_t absSector)
                               {
                                   return m_fileTypeJudge.IsFileTypeMatching(sector, int(len), ext.c_str(),
                                                                             &m_diskReader, 512,
                                                                             absSector) != 0;
                               });
}

int CFastFatRecovery::IsFileDataHealth(_FILE_NODE_* node, unsigned int sectorsPerCluster)
{
    if (!node)
        return 1;
    const std::string ext = ExtensionOf(node->szFileName);
    if (ext.empty() || !m_geo.IsDataCluster(node->uClusterNO))
        return 1;
    const uint64_t volumeSector =
        node->u64DataStartSector + uint64_t(node->uClusterNO - FAT_FIRST_DATA_CLUSTER) * sectorsPerCluster;
    std::vector<unsigned char> sector(m_geo.bytesPerSector);
    uint32_t got = 0;
    if (ReadVolumeSectors(sector.data(), volumeSector, 1, &got) != STATUS_SUCCESS || got == 0)
        return 1;
    return m_fileTypeJudge.IsFileTypeMatching(sector.data(), int(sector.size()), ext.c_str(), &m_diskReader,
                                              512, AbsSector(volumeSector))
               ? 1
               : 0;
}

unsigned int CFastFatRecovery::GetRootParentDirIndex(unsigned int cluster, int& level,
                                                     std::set<unsigned int>& visited)
{
    // The folders counted on the way up. Each gets its own level cached at
    // the end, so that the folders of a deep tree (or of a long ".." chain
    // a damaged volume makes up) read every ".." entry once between them
    // rather than once each.
    std::vector<unsigned int> counted;
    int found = 0;
    unsigned int st = STATUS_SUCCESS;
    std::vector<unsigned char> sector(m_geo.bytesPerSector);
    for (uint64_t steps = 0; steps <= uint64_t(m_geo.clusterCount) + 1; ++steps)
    {
        auto known = m_levelCache.find(cluster);
        if (known != m_levelCache.end())
        {
            found += known->second;
            break;
        }
        visited.insert(cluster);
        // On FAT32 a ".." entry names the root as cluster 0.
        if (cluster == m_nRootClusterNO || cluster == 0 || !m_geo.IsDataCluster(cluster))
            break;
        uint32_t got = 0;
        st = ReadVolumeSectors(sector.data(), m_geo.ClusterToSector(cluster), 1, &got);
        if (st != STATUS_SUCCESS)
            break;
        if (!IsFatFileRecord(sector.data(), sector.size()))
            break; // the root (its label first) or no folder at all
        ByteReader r(sector.data(), sector.size());
        found += 1;
        counted.push_back(cluster);
        const uint32_t lo = r.U16(32 + DE_CLUSTER_LO);
        const uint32_t parent = m_nIsFat32 ? ((uint32_t(r.U16(32 + DE_CLUSTER_HI)) << 16) | lo) : lo;
        if (visited.count(parent))
            break;
        cluster = parent;
    }
    level += found;
    if (st == STATUS_SUCCESS)
        for (size_t i = 0; i < counted.size(); ++i)
            m_levelCache[counted[i]] = found - int(i);
    return st;
}

unsigned int CFastFatRecovery::_GetRootParentDirIndex(unsigned int cluster, int& level)
{
    auto it = m_levelCache.find(cluster);
    if (it != m_levelCache.end())
    {
        level = it->second;
        return STATUS_SUCCESS;
    }
    std::set<unsigned int> visited;
    int l = 0;
    unsigned int st = GetRootParentDirIndex(cluster, l, visited);
    level = l;
    if (st == STATUS_SUCCESS)
        m_levelCache[cluster] = l;
    return st;
}

unsigned int CFastFatRecovery::BuildBitMapInfo()
{
    m_pBitMap.clear();
    m_nBitMapSize = 0;
    if (!m_bGeometryValid)
        return STATUS_INVALID_PARAMETER;
    const uint64_t total = m_geo.totalSectors;
    if (total <= m_geo.firstDataSector)
        return STATUS_INVALID_PARAMETER;
    // A boot sector can state a volume far larger than the range it was
    // opened on; clusters beyond that range can be neither read nor swept,
    // and mapping them would cost a table lookup each for nothing.
    const uint64_t openSectors = m_u64SectorCount / m_geo.unitsPerSector;
    if (openSectors <= m_geo.firstDataSector)
        return STATUS_INVALID_PARAMETER;
    const uint64_t end = std::min<uint64_t>(total, openSectors);
    uint64_t clusters = (end - m_geo.firstDataSector + m_geo.sectorsPerCluster - 1) / m_geo.sectorsPerCluster;
    clusters = std::min<uint64_t>(clusters, FAT_MAX_CLUSTERS);
    try
    {
        m_pBitMap.assign(size_t((clusters + 7) / 8), 0);
    }
    catch (const std::bad_alloc&)
    {
        return STATUS_NOT_ENOUGH_MEMORY;
    }
    m_nBitMapSize = int(m_pBitMap.size());
    for (uint64_t i = 0; i < clusters; ++i)
    {
        const uint64_t c = i + FAT_FIRST_DATA_CLUSTER;
        if (c >= m_geo.fatEntryCapacity)
            break; // the table has no entry for the rest: nothing there can be in use
        uint32_t v = 0;
        if (m_fat.GetEntry(uint32_t(c), v) != STATUS_SUCCESS)
            continue;
        if (v != 0)
            m_pBitMap[size_t(i / 8)] |= uint8_t(1u << (i % 8));
    }
    return STATUS_SUCCESS;
}

unsigned int CFastFatRecovery::GetUnUsedSectorCount(unsigned long long& start, unsigned long long& count)
{
    count = 0;
    if (m_pBitMap.empty())
        return 1;
    if (start >= m_u64SectorCount)
    {
        start = m_u64SectorCount;
        return 1;
    }
    // Positions here are 512-byte sectors of the volume, as the sweep counts them.
    const uint64_t unit = m_geo.unitsPerSector;
    const uint64_t dataStart = m_geo.firstDataSector * unit;
    const uint64_t clusterUnits = uint64_t(m_geo.sectorsPerCluster) * unit;
    const uint64_t bits = uint64_t(m_pBitMap.size()) * 8;
    const uint64_t from = start < dataStart ? dataStart : start;
    uint64_t i = (from - dataStart) / clusterUnits;
    auto isSet = [&](uint64_t k) { return (m_pBitMap[size_t(k / 8)] >> (k % 8)) & 1; };
    while (i < bits)
    {
        if (i % 8 == 0 && m_pBitMap[size_t(i / 8)] == 0xFF)
        {
            i += 8;
            continue;
        }
        if (!isSet(i))
            break;
        ++i;
    }
    if (i >= bits)
    {
        start = m_u64SectorCount;
        return 1;
    }
    uint64_t runStart = dataStart + i * clusterUnits;
    if (runStart < from)
        runStart = from;
    uint64_t j = i;
    while (j < bits)
    {
        if (j % 8 == 0 && m_pBitMap[size_t(j / 8)] == 0)
        {
            j += 8;
            continue;
        }
        if (isSet(j))
            break;
        ++j;
    }
    uint64_t runEnd = dataStart + std::min(j, bits) * clusterUnits;
    runEnd = std::min<uint64_t>(runEnd, m_u64SectorCount);
    if (runStart >= m_u64SectorCount)
    {
        start = m_u64SectorCount;
        return 1;
    }
    start = runStart;
    count = runEnd > runStart ? runEnd - runStart : 0;
    return 1;
}
