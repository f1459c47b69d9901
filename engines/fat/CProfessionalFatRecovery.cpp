// Initialisation, the sweep's sector handling, the volume layouts and the
// end-of-sweep folder tree of the deep FAT engine, and its queries. File
// data and preview are in CProfessionalFatRecoveryData.cpp.
#include "engines/fat/CProfessionalFatRecovery.h"

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
#include <unordered_set>
#include <unistd.h>

using namespace tessaroo;

namespace
{
constexpr uint32_t SECTOR_SIZE = 512;
// A lost FAT12/16 volume's fixed root area is taken to be the 32 sectors
// below its data area: the 512 entries formatters give cards and disks.
constexpr int64_t VIRTUAL_ROOT_SECTORS = 32;
// The root folder of a FAT32 volume whose boot sector is gone: formatters
// put it in the first cluster.
constexpr uint32_t VIRTUAL_ROOT_CLUSTER = 2;
// Layouts derived from folder starts use cluster sizes real volumes use.
constexpr int64_t MAX_VIRTUAL_SPC = 128;
// Folder entries of a sector tried when working out which folder a cluster
// belongs to from its subfolders' ".." entries.
constexpr int SUBFOLDER_TRIES = 4;
// A folder tree worked out at the end holds at most every folder start and
// every folder entry the sweep kept; a chain of ".." entries read off the
// device ends at that many.
constexpr size_t MAX_TREE_FOLDERS =
    CProfessionalFatRecovery::MAX_FOLDER_STARTS + CProfessionalFatRecovery::MAX_FOLDER_ENTRIES;

bool IsPowerOfTwo(int64_t v)
{
    return v > 0 && (v & (v - 1)) == 0;
}

std::string ExtensionOf(const char* name)
{
    char ext[FILE_NAME_SIZE] = {0};
    if (GetExtendName(name, ext, sizeof(ext)) != 0)
        return std::string();
    return ext;
}

// The first cluster named by the entry at e: the low word alone on a
// volume of 16-bit clusters, else with the high word, without the four
// reserved top bits.
uint32_t RawCluster(const unsigned char* e, bool clusters16)
{
    ByteReader r(e, DIR_ENTRY_SIZE);
    const uint32_t lo = r.U16(DE_CLUSTER_LO);
    if (clusters16)
        return lo;
    return ((uint32_t(r.U16(DE_CLUSTER_HI)) << 16) | lo) & FAT32_ENTRY_MASK;
}
} // namespace

CProfessionalFatRecovery::CProfessionalFatRecovery()
    : m_hDevice(-1), m_nDiskIndex(-1), m_u64StartSector(0), m_u64SectorCount(0), m_wcDriveLetter(0),
      m_nBytesPerSector(int(SECTOR_SIZE)), m_pScanFunc(nullptr), m_pRecoveryFunc(nullptr), m_pParam(nullptr),
      m_nScale(0), m_nEngineType(ENGINE_TYPE_DEEP_FAT), m_bHasRealDbr(0), m_fileTypeJudge(&m_diskReader),
      m_nRootClusterNO(VIRTUAL_ROOT_CLUSTER)
{
}

CProfessionalFatRecovery::~CProfessionalFatRecovery()
{
    m_pScanResult.reset();
}

unsigned int CProfessionalFatRecovery::Init(int diskIndex, long long startSector, long long sectorCount,
                                            wchar_t driveLetter)
{
    if (m_hDevice >= 0)
        return STATUS_SUCCESS;
    // Positions are signed 64-bit byte offsets on the device in the end.
    if (startSector < 0 || sectorCount < 0 || startSector > INT64_MAX / 512 - sectorCount)
        return STATUS_INVALID_PARAMETER;
    const unsigned int st = m_diskReader.Init(diskIndex, (unsigned long long)(startSector + sectorCount));
    if (st != STATUS_SUCCESS)
        return st;
    m_hDevice = m_diskReader.GetHandle();
    m_nDiskIndex = diskIndex;
    m_u64StartSector = (unsigned long long)startSector;
    m_u64SectorCount = (unsigned long long)sectorCount;
    m_wcDriveLetter = driveLetter;
    m_fdtContext = Context();
    m_bHasRealDbr = 0;
    return STATUS_SUCCESS;
}

unsigned int CProfessionalFatRecovery::Init(wchar_t* devicePath, wchar_t driveLetter)
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
    const bool sized = GetDeviceSize(fd, bytes);
    const int err = errno ? errno : EIO;
    close(fd);
    if (!sized)
        return unsigned(err);
    m_u64StartSector = 0;
    m_u64SectorCount = bytes / SECTOR_SIZE;
    m_wcDriveLetter = driveLetter;
    m_diskReader.Init(devicePath, m_u64SectorCount);
    m_fdtContext = Context();
    m_bHasRealDbr = 0;
    return STATUS_SUCCESS;
}

unsigned int CProfessionalFatRecovery::InitCallBack(SCAN_CALLBACK scan, RECOVERY_CALLBACK recovery, void* ctx,
                                                    int scale)
{
    m_pScanFunc = scan;
    m_pRecoveryFunc = recovery;
    m_pParam = ctx;
    m_nScale = scale;
    return STATUS_SUCCESS;
}

unsigned int CProfessionalFatRecovery::ScanDevice(wchar_t*)
{
    return STATUS_SUCCESS;
}

unsigned int CProfessionalFatRecovery::BuildBitMapInfo()
{
    return STATUS_SUCCESS;
}

unsigned int CProfessionalFatRecovery::GetUnUsedSectorCount(unsigned long long&, unsigned long long&)
{
    return STATUS_SUCCESS;
}

void CProfessionalFatRecovery::ClearSweepState()
{
    m_fatSectorOffsetMap.clear();
    m_unplacedStartVec.clear();
    m_waitingFileVec.clear();
    m_longFileInfoVec.clear();
    m_unDealFileMap.clear();
    m_proDirInfoMap.clear();
    m_clusterOwnerMap.clear();
    m_fdtContext = Context();
    m_longName.Reset();
}

unsigned int CProfessionalFatRecovery::ClearProfessionalVec(wchar_t* storeName)
{
    ClearSweepState();
    m_virtualDbrVec.clear();
    m_bHasRealDbr = 0;
    m_nRootClusterNO = VIRTUAL_ROOT_CLUSTER;
    m_drops = DropCounts();
    m_pScanResult.reset();
    m_pScanResult.reset(new (std::nothrow) CScanResultFileManager());
    if (!m_pScanResult)
        return STATUS_NOT_ENOUGH_MEMORY;
    const unsigned int st = m_pScanResult->InitNamedOrNew(storeName, STORE_PREFIX, m_u64StartSector);
    if (st != STATUS_SUCCESS)
        CoreLog("CProfessionalFatRecovery: cannot open the scan result store (%u)\n", st);
    m_pScanResult->InitSearchCallBack(m_pSearchFunc, m_pSearchParam);
    return st;
}

unsigned int CProfessionalFatRecovery::InitVirtualDbrInfo()
{
    if (!m_virtualDbrVec.empty())
        return STATUS_SUCCESS; // layouts are numbered in order: the volume's own comes first or not at all
    unsigned char boot[FAT_BOOT_READ_BYTES] = {0};
    const uint64_t sectors = std::min<uint64_t>(FAT_BOOT_READ_BYTES / SECTOR_SIZE, m_u64SectorCount);
    if (sectors == 0)
        return STATUS_SUCCESS;
    unsigned int got = 0;
    const unsigned int st =
        m_diskReader.ReadData(boot, int(sectors), (long long)m_u64StartSector, int(SECTOR_SIZE), &got);
    if (st != STATUS_SUCCESS)
        return st;
    if (!IsFat(boot))
        return STATUS_SUCCESS;
    FatGeometry g;
    const char* why = "";
    if (!DeriveFatGeometry(boot, sizeof(boot), g, &why))
    {
        CoreLog("CProfessionalFatRecovery: the boot sector at %llu is unusable: %s\n", m_u64StartSector, why);
        return STATUS_SUCCESS;
    }
    __VIRTUAL_DBR_INFO__ d;
    const int64_t units = g.unitsPerSector;
    d.spc = int64_t(g.sectorsPerCluster) * units;
    d.partition = m_u64StartSector;
    d.dataStart = int64_t(g.firstDataSector) * units;
    d.rootSectors = int64_t(g.rootDirSectors) * units;
    d.real = true;
    d.clusters16 = g.kind != FatKind::Fat32;
    d.clusters32 = g.kind == FatKind::Fat32;
    d.rootCluster = d.clusters32 ? g.rootCluster : 0;
    d.endSector = m_u64StartSector + std::min<uint64_t>(g.totalSectors * uint64_t(units), m_u64SectorCount);
    m_virtualDbrVec.push_back(d);
    m_nRootClusterNO = d.rootCluster;
    m_bHasRealDbr = 1;
    return STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------
// Layouts

int CProfessionalFatRecovery::FindLayoutPlacing(uint32_t cluster, uint64_t sector) const
{
    if (!IsFolderCluster(cluster))
        return -1;
    for (size_t i = 0; i < m_virtualDbrVec.size(); ++i)
    {
        const __VIRTUAL_DBR_INFO__& g = m_virtualDbrVec[i];
        if (g.clusters16 && cluster > 0xFFFF)
            continue;
        if (sector < g.endSector && g.ClusterSector(cluster) == int64_t(sector))
            return int(i);
    }
    return -1;
}

int CProfessionalFatRecovery::CalcVirtualDbr(uint32_t c1, uint64_t s1, uint32_t c2, uint64_t s2)
{
    // The folder further on the disk has the higher cluster number; a pair
    // that says otherwise belongs to two layouts.
    if (c1 <= c2 || s1 <= s2)
        return -1;
    const int64_t dc = int64_t(c1) - int64_t(c2);
    const int64_t ds = int64_t(s1 - s2);
    if (ds % dc != 0)
        return -1;
    const int64_t spc = ds / dc;
    if (!IsPowerOfTwo(spc) || spc > MAX_VIRTUAL_SPC)
        return -1;
    const int64_t base = int64_t(s2) - (int64_t(c2) - 2) * spc;
    if (base < int64_t(m_u64StartSector) || uint64_t(base) >= DeviceEnd())
        return -1;
    if (m_virtualDbrVec.size() >= MAX_GEOMETRIES)
    {
        Drop(m_drops.geometries, "volume layouts");
        return -1;
    }
    __VIRTUAL_DBR_INFO__ d;
    d.spc = spc;
    d.partition = m_u64StartSector;
    d.dataStart = base - int64_t(m_u64StartSector);
    d.rootSectors = VIRTUAL_ROOT_SECTORS;
    d.rootCluster = VIRTUAL_ROOT_CLUSTER;
    d.endSector = DeviceEnd();
    d.clusters32 = c1 > 0xFFFF;
    m_virtualDbrVec.push_back(d);
    CoreLog(
        "CProfessionalFatRecovery: volume layout %zu: %lld sectors per cluster, data area at sector %lld\n",
        m_virtualDbrVec.size() - 1, (long long)spc, (long long)base);
    return int(m_virtualDbrVec.size() - 1);
}

int CProfessionalFatRecovery::DeriveLayout(uint32_t cluster, uint64_t sector)
{
    // Starts of a volume lie near each other, so the most recent unplaced
    // ones are tried first, and a few only: garbage that passes for folder
    // starts must not cost a pass over all of them each.
    int made = -1;
    size_t tries = 0;
    for (size_t i = m_unplacedStartVec.size(); i-- > 0 && tries < PAIRING_TRIES;)
    {
        const UnplacedStart& u = m_unplacedStartVec[i];
        if (u.cluster == cluster)
            continue;
        ++tries;
        made = cluster > u.cluster ? CalcVirtualDbr(cluster, sector, u.cluster, u.sector)
                                   : CalcVirtualDbr(u.cluster, u.sector, cluster, sector);
        if (made >= 0)
            break;
    }
    if (made < 0)
        return -1;
    // The starts the new layout places are folders of it now.
    std::vector<UnplacedStart> still;
    for (const UnplacedStart& u : m_unplacedStartVec)
    {
        if (FindLayoutPlacing(u.cluster, u.sector) == made)
            RecordFolderStart(made, u.cluster, u.parent, u.sector);
        else
            still.push_back(u);
    }
    m_unplacedStartVec.swap(still);
    return made;
}

int CProfessionalFatRecovery::BestLayout(uint64_t sector, bool final) const
{
    int best = -1;
    int64_t bestStart = 0;
    for (size_t i = 0; i < m_virtualDbrVec.size(); ++i)
    {
        const __VIRTUAL_DBR_INFO__& g = m_virtualDbrVec[i];
        const int64_t area = g.Base() - g.rootSectors;
        if (int64_t(sector) >= area && sector < g.endSector && (best < 0 || area > bestStart))
        {
            best = int(i);
            bestStart = area;
        }
    }
    if (best >= 0 || !final)
        return best;
    // Below every area: a root area larger than the usual one, of the
    // volume whose data area follows nearest.
    for (size_t i = 0; i < m_virtualDbrVec.size(); ++i)
    {
        const __VIRTUAL_DBR_INFO__& g = m_virtualDbrVec[i];
        const int64_t area = g.Base() - g.rootSectors;
        if (int64_t(sector) < area && (best < 0 || area < bestStart))
        {
            best = int(i);
            bestStart = area;
        }
    }
    return best;
}

CProfessionalFatRecovery::FolderId CProfessionalFatRecovery::ParentFolderFromDotDot(int layout, uint32_t self,
                                                                                    uint32_t dotdot) const
{
    if (dotdot == 0 || dotdot == self || !IsFolderCluster(dotdot))
        return ROOT_FOLDER;
    const FolderId parent = MakeFolderId(layout, dotdot);
    // Some systems name the FAT32 root by its cluster rather than by 0.
    const uint32_t root = m_virtualDbrVec[size_t(layout)].rootCluster;
    if (root != 0 && dotdot == root && !m_fatSectorOffsetMap.count(parent))
        return ROOT_FOLDER;
    return parent;
}

// ---------------------------------------------------------------------------
// The sweep

unsigned int CProfessionalFatRecovery::ParseFatFileRecord(unsigned char* sector, unsigned long long absSector)
{
    if (!sector)
        return STATUS_INVALID_PARAMETER;
    if (!IsFatFileRecord(sector, SECTOR_SIZE))
        return ParseFDTFileRecord(sector, absSector);
    const uint32_t cluster = RawCluster(sector, false);
    if (!IsFolderCluster(cluster))
        return ParseFDTFileRecord(sector, absSector);
    int layout = FindLayoutPlacing(cluster, absSector);
    if (layout < 0)
    {
        layout = DeriveLayout(cluster, absSector);
        if (layout >= 0)
            ResolveParked(layout);
    }
    if (layout < 0)
    {
        if (m_unplacedStartVec.size() < MAX_FOLDER_STARTS)
            m_unplacedStartVec.push_back({cluster, RawCluster(sector + DIR_ENTRY_SIZE, false), absSector});
        else
            Drop(m_drops.folderStarts, "folder starts");
        Park(sector, absSector);
        return STATUS_SUCCESS;
    }
    ParseFolderStart(sector, absSector, layout);
    return STATUS_SUCCESS;
}

unsigned int CProfessionalFatRecovery::ParseFDTFileRecord(unsigned char* sector, unsigned long long absSector)
{
    if (!sector)
        return STATUS_INVALID_PARAMETER;
    if (!ParsePlaced(sector, absSector, false))
        Park(sector, absSector);
    return STATUS_SUCCESS;
}

bool CProfessionalFatRecovery::ParsePlaced(const unsigned char* sector, uint64_t s, bool final)
{
    const uint32_t cluster = RawCluster(sector, false);
    if (IsFatFileRecord(sector, SECTOR_SIZE) && IsFolderCluster(cluster))
    {
        int layout = FindLayoutPlacing(cluster, s);
        if (layout >= 0)
        {
            ParseFolderStart(sector, s, layout);
            return true;
        }
        // At the end: a folder start no layout places (its volume gave no
        // second one). Its entries are still the folder's own, under the
        // layout that holds the sector.
        layout = final ? BestLayout(s, true) : -1;
        if (layout < 0)
            return false;
        const __VIRTUAL_DBR_INFO__& g = m_virtualDbrVec[size_t(layout)];
        const FolderId folder = MakeFolderId(layout, cluster);
        RecordFolderStart(layout, cluster, RawCluster(sector + DIR_ENTRY_SIZE, g.clusters16), s);
        SetContext(layout, folder, s, s + uint64_t(g.spc));
        ParseDirSector(sector, s, layout, folder, nullptr);
        return true;
    }
    PendingName pending;
    if (TakePending(sector, s, pending))
    {
        SetContextFor(pending.layout, pending.folder, s);
        ParseDirSector(sector, s, pending.layout, pending.folder, &pending.parts);
        return true;
    }
    Placement at;
    if (!PlaceSector(sector, s, final, at) || !(at.strong || final))
        return false;
    SetContext(at.layout, at.folder, at.first, at.end);
    ParseDirSector(sector, s, at.layout, at.folder, nullptr);
    return true;
}

void CProfessionalFatRecovery::ParseFolderStart(const unsigned char* sector, uint64_t s, int layout)
{
    __VIRTUAL_DBR_INFO__& g = m_virtualDbrVec[size_t(layout)];
    const uint32_t cluster = RawCluster(sector, g.clusters16);
    const uint32_t parent = RawCluster(sector + DIR_ENTRY_SIZE, g.clusters16);
    if (cluster > 0xFFFF)
        g.clusters32 = true;
    RecordFolderStart(layout, cluster, parent, s);
    const FolderId folder = MakeFolderId(layout, cluster);
    SetContext(layout, folder, s, s + uint64_t(g.spc));
    ParseDirSector(sector, s, layout, folder, nullptr);
}

void CProfessionalFatRecovery::ParseDirSector(const unsigned char* sector, uint64_t s, int layout,
                                              FolderId folder, const CFatLongName* carried)
{
    if (carried)
        m_longName = *carried;
    else
        m_longName.Reset();
    const bool ended = WalkFatEntries(sector, SECTOR_SIZE, m_longName,
                                      [&](const FatDirEntryView& v)
                                      {
                                          if (v.isDir)
                                              RecordFolderEntry(layout, folder, v, s);
                                          else
                                              AddFileNode(layout, folder, v, s);
                                      });
    if (ended || !m_longName.IsPending())
        return;
    if (m_longFileInfoVec.size() >= MAX_PENDING_NAMES)
    {
        Drop(m_drops.pendingNames, "long names waiting for their rest");
        m_longFileInfoVec.pop_front();
    }
    m_longFileInfoVec.push_back({m_longName, layout, folder, s});
}

bool CProfessionalFatRecovery::IsWhereTheRestLies(const PendingName& p, uint64_t s) const
{
    // A name cut inside a cluster goes on in the next sector; one cut at a
    // cluster's end goes on at the start of the folder's next cluster,
    // wherever that lies. Nowhere else: a cut whose rest was overwritten
    // must not take the first entry of some other sector for it.
    if (s == p.sector + 1)
        return true;
    const __VIRTUAL_DBR_INFO__& g = m_virtualDbrVec[size_t(p.layout)];
    const int64_t base = g.Base();
    if (int64_t(p.sector) < base || int64_t(s) < base)
        return false; // the fixed root area lies in one piece
    return (p.sector + 1 - uint64_t(base)) % uint64_t(g.spc) == 0 &&
           (s - uint64_t(base)) % uint64_t(g.spc) == 0;
}

bool CProfessionalFatRecovery::TakePending(const unsigned char* sector, uint64_t s, PendingName& out)
{
    if (m_longFileInfoVec.empty() || sector[0] == 0 || !IsFatEntyValid(sector, SECTOR_SIZE))
        return false;
    size_t best = m_longFileInfoVec.size();
    for (size_t i = 0; i < m_longFileInfoVec.size(); ++i)
    {
        const PendingName& p = m_longFileInfoVec[i];
        if (!IsWhereTheRestLies(p, s) || !p.parts.Continues(sector))
            continue;
        best = i; // the latest cut run that fits, unless the one just before fits
        if (p.sector + 1 == s)
            break;
    }
    if (best == m_longFileInfoVec.size())
        return false;
    out = m_longFileInfoVec[best];
    m_longFileInfoVec.erase(m_longFileInfoVec.begin() + long(best));
    return true;
}

void CProfessionalFatRecovery::SetContext(int layout, FolderId folder, uint64_t first, uint64_t end)
{
    m_fdtContext.valid = true;
    m_fdtContext.layout = layout;
    m_fdtContext.folder = folder;
    m_fdtContext.first = first;
    m_fdtContext.end = end;
}

void CProfessionalFatRecovery::SetContextFor(int layout, FolderId folder, uint64_t s)
{
    const __VIRTUAL_DBR_INFO__& g = m_virtualDbrVec[size_t(layout)];
    const int64_t base = g.Base();
    if (int64_t(s) < base)
    {
        SetContext(layout, folder, uint64_t(std::max<int64_t>(base - g.rootSectors, 0)), uint64_t(base));
        return;
    }
    const uint64_t first = uint64_t(base) + (s - uint64_t(base)) / uint64_t(g.spc) * uint64_t(g.spc);
    SetContext(layout, folder, first, first + uint64_t(g.spc));
}

bool CProfessionalFatRecovery::PlaceSector(const unsigned char* sector, uint64_t s, bool final,
                                           Placement& out)
{
    // Layouts whose area holds the sector, the nearest start first: on a
    // card formatted again with another cluster size the old folders lie
    // under the old layout, and only the evidence tells which one.
    std::vector<std::pair<int64_t, int>> covering;
    for (size_t i = 0; i < m_virtualDbrVec.size(); ++i)
    {
        const __VIRTUAL_DBR_INFO__& g = m_virtualDbrVec[i];
        const int64_t area = g.Base() - g.rootSectors;
        if (int64_t(s) >= area && s < g.endSector)
            covering.emplace_back(-area, int(i));
    }
    std::stable_sort(covering.begin(), covering.end(),
                     [](const std::pair<int64_t, int>& a, const std::pair<int64_t, int>& b)
                     { return a.first < b.first; });
    Placement weak;
    for (const auto& c : covering)
    {
        Placement at;
        PlaceIn(c.second, sector, s, final, at);
        if (at.strong)
        {
            out = at;
            return true;
        }
        if (weak.layout < 0)
            weak = at;
    }
    if (weak.layout < 0)
    {
        if (!final)
            return false;
        const int layout = BestLayout(s, true);
        if (layout < 0)
            return false;
        PlaceIn(layout, sector, s, final, weak);
    }
    if (weak.layout < 0)
        return false;
    out = weak;
    return true;
}

void CProfessionalFatRecovery::PlaceIn(int layout, const unsigned char* sector, uint64_t s, bool final,
                                       Placement& out)
{
    out = Placement();
    out.layout = layout;
    if (m_fdtContext.valid && m_fdtContext.layout == layout && s >= m_fdtContext.first &&
        s < m_fdtContext.end)
    {
        out.folder = m_fdtContext.folder;
        out.strong = true;
        out.first = m_fdtContext.first;
        out.end = m_fdtContext.end;
        return;
    }
    const __VIRTUAL_DBR_INFO__& g = m_virtualDbrVec[size_t(layout)];
    const int64_t base = g.Base();
    if (int64_t(s) < base)
    {
        // The FAT12/16 root area, or (at the end) a sector below every data
        // area: the root is the only folder that lies there.
        out.folder = ROOT_FOLDER;
        out.strong = int64_t(s) >= base - g.rootSectors;
        out.first = uint64_t(std::max<int64_t>(std::min<int64_t>(base - g.rootSectors, int64_t(s)), 0));
        out.end = uint64_t(base);
        return;
    }
    const uint64_t n64 = (s - uint64_t(base)) / uint64_t(g.spc) + 2;
    if (!IsFolderCluster(n64) || (g.clusters16 && n64 > 0xFFFF))
    {
        out.layout = -1;
        return;
    }
    const uint32_t n = uint32_t(n64);
    out.first = uint64_t(g.ClusterSector(n));
    out.end = out.first + uint64_t(g.spc);
    const FolderId own = MakeFolderId(layout, n);
    out.strong = true;
    out.folder = own;
    if (m_fatSectorOffsetMap.count(own))
        return;
    if (g.rootCluster != 0 && n == g.rootCluster)
    {
        out.folder = ROOT_FOLDER;
        return;
    }
    auto owner = m_clusterOwnerMap.find(own);
    if (owner != m_clusterOwnerMap.end())
    {
        out.folder = owner->second;
        return;
    }
    uint32_t parent = 0;
    // A later sector of a folder's first cluster whose dot pair was not
    // swept (it lies in space the volume still uses).
    if (s > out.first && ReadDotPair(layout, n, parent))
    {
        RecordFolderStart(layout, n, parent, out.first);
        return;
    }
    // A cluster further along some folder's chain: its subfolders name
    // that folder in their ".." entries. The subfolder is read where the
    // layout puts it, which on a disk of several lost volumes may be in
    // another volume whose folders have the same numbers: under a derived
    // layout this waits for the end of the sweep, when every layout is known
    // and the nearest one is tried first.
    const bool remoteCounts = final || g.real;
    for (int i = 0, tried = 0; i < int(SECTOR_SIZE / DIR_ENTRY_SIZE) && tried < SUBFOLDER_TRIES; ++i)
    {
        const unsigned char* e = sector + i * DIR_ENTRY_SIZE;
        if (e[0] == 0)
            break;
        if (e[DE_ATTR] == ATTR_LONG_NAME || !(e[DE_ATTR] & ATTR_DIRECTORY) || e[0] == '.' ||
            !IsFatEntyValid(e, SECTOR_SIZE - size_t(i) * DIR_ENTRY_SIZE))
            continue;
        const uint32_t sub = RawCluster(e, g.clusters16);
        if (!IsFolderCluster(sub) || sub == n)
            continue;
        ++tried;
        uint32_t dotdot = 0;
        if (ReadDotPair(layout, sub, dotdot))
        {
            out.folder = ParentFolderFromDotDot(layout, sub, dotdot);
            out.strong = remoteCounts;
            if (remoteCounts)
            {
                RecordFolderStart(layout, sub, dotdot, uint64_t(g.ClusterSector(sub)));
                if (m_clusterOwnerMap.size() < MAX_CLUSTER_OWNERS)
                    m_clusterOwnerMap.emplace(own, out.folder);
            }
            return;
        }
    }
    // Nothing more is known of the cluster: a folder of its own, whose
    // entry and first sector are gone.
    out.folder = own;
    out.strong = false;
}

void CProfessionalFatRecovery::Park(const unsigned char* sector, uint64_t s)
{
    if (m_unDealFileMap.count(s))
        return; // offered twice: the first copy stands
    if (m_unDealFileMap.size() >= MAX_PARKED_SECTORS)
    {
        Drop(m_drops.parkedSectors, "parked directory sectors");
        return;
    }
    try
    {
        m_unDealFileMap.emplace(s, std::vector<unsigned char>(sector, sector + SECTOR_SIZE));
    }
    catch (const std::bad_alloc&)
    {
        Drop(m_drops.parkedSectors, "parked directory sectors");
    }
}

void CProfessionalFatRecovery::ResolveParked(int layout)
{
    m_fdtContext = Context();
    for (auto it = m_unDealFileMap.begin(); it != m_unDealFileMap.end();)
    {
        const bool taken =
            BestLayout(it->first, false) == layout && ParsePlaced(it->second.data(), it->first, false);
        it = taken ? m_unDealFileMap.erase(it) : std::next(it);
    }
    m_fdtContext = Context();
}

void CProfessionalFatRecovery::RecordFolderStart(int layout, uint32_t cluster, uint32_t parent,
                                                 uint64_t sector)
{
    const FolderId id = MakeFolderId(layout, cluster);
    if (m_fatSectorOffsetMap.count(id))
        return;
    if (m_fatSectorOffsetMap.size() >= MAX_FOLDER_STARTS)
    {
        Drop(m_drops.folderStarts, "folder starts");
        return;
    }
    m_fatSectorOffsetMap.emplace(id, FolderStart{parent, sector});
}

void CProfessionalFatRecovery::RecordFolderEntry(int layout, FolderId container, const FatDirEntryView& v,
                                                 uint64_t entrySector)
{
    const uint32_t cluster = EntryCluster(layout, v);
    if (!IsFolderCluster(cluster))
        return;
    const FolderId id = MakeFolderId(layout, cluster);
    if (id == container)
        return;
    auto it = m_proDirInfoMap.find(id);
    // A cluster named by two entries: a deleted folder whose cluster a
    // live one took over. The live one is the folder there now.
    if (it != m_proDirInfoMap.end() && !(it->second.deleted && !v.deleted))
        return;
    if (it == m_proDirInfoMap.end() && m_proDirInfoMap.size() >= MAX_FOLDER_ENTRIES)
    {
        Drop(m_drops.folderEntries, "folder entries");
        return;
    }
    ByteReader r(v.raw, DIR_ENTRY_SIZE);
    char name[FILE_NAME_SIZE];
    CopyUtf8Name(name, sizeof(name), v.Name());
    FolderEntry e{
        container,
        entrySector,
        {FatDateToTime(r.U16(DE_CDATE)), FatDateToTime(r.U16(DE_ADATE)), FatDateToTime(r.U16(DE_WDATE))},
        v.deleted,
        name};
    m_proDirInfoMap[id] = std::move(e);
}

void CProfessionalFatRecovery::AddFileNode(int layout, FolderId folder, const FatDirEntryView& v,
                                           uint64_t entrySector)
{
    if (!m_pScanResult)
        return;
    if (m_waitingFileVec.size() >= MAX_WAITING_FILES)
    {
        Drop(m_drops.waitingFiles, "files");
        return;
    }
    const std::string name = v.Name();
    const uint32_t cluster = EntryCluster(layout, v);
    _FILE_NODE_* slot = m_pScanResult->CreateFileNode(int(sizeof(_FILE_NODE_)));
    if (!slot)
        return;
    const __VIRTUAL_DBR_INFO__& g = m_virtualDbrVec[size_t(layout)];
    ByteReader r(v.raw, DIR_ENTRY_SIZE);
    slot->wcDriveLetter = uint32_t(m_wcDriveLetter);
    slot->uEngineType = ENGINE_TYPE_DEEP_FAT;
    slot->bIsDir = 0;
    slot->uFileIndex = m_pScanResult->GetFileIndex();
    slot->uClusterNO = cluster;
    slot->uClusterSize = uint32_t(g.spc) * SECTOR_SIZE;
    slot->u64CreateTime = FatDateToTime(r.U16(DE_CDATE));
    slot->u64AccessTime = FatDateToTime(r.U16(DE_ADATE));
    slot->u64ModifyTime = FatDateToTime(r.U16(DE_WDATE));
    slot->u64FileSize = r.U32(DE_SIZE);
    slot->u64DataStartSector = uint64_t(g.dataStart);
    slot->u64RecordSector = entrySector;
    slot->u64PartitionStartSector = g.partition;
    CopyUtf8Name(slot->szFileName, sizeof(slot->szFileName), name);
    slot->bDataHealth = unsigned(IsFileDataHealth(*slot));
    m_waitingFileVec.push_back({slot->uFileIndex, folder});
}

// ---------------------------------------------------------------------------
// Device reads

bool CProfessionalFatRecovery::ReadSector(uint64_t sector, unsigned char* buf)
{
    if (sector >= m_diskReader.GetEndSector())
        return false;
    unsigned int got = 0;
    return m_diskReader.ReadData(buf, 1, (long long)sector, int(SECTOR_SIZE), &got) == STATUS_SUCCESS;
}

bool CProfessionalFatRecovery::ReadDotPair(int layout, uint32_t cluster, uint32_t& parent)
{
    const __VIRTUAL_DBR_INFO__& g = m_virtualDbrVec[size_t(layout)];
    if (!IsFolderCluster(cluster))
        return false;
    const int64_t s = g.ClusterSector(cluster);
    if (s < 0 || uint64_t(s) >= g.endSector)
        return false;
    unsigned char buf[SECTOR_SIZE];
    if (!ReadSector(uint64_t(s), buf) || !IsFatFileRecord(buf, sizeof(buf)) ||
        RawCluster(buf, g.clusters16) != cluster)
        return false;
    parent = RawCluster(buf + DIR_ENTRY_SIZE, g.clusters16);
    return true;
}

uint32_t CProfessionalFatRecovery::GuessHighWord(
    int layout, uint16_t low, const std::function<bool(const unsigned char*, uint64_t, uint32_t)>& starts)
{
    const __VIRTUAL_DBR_INFO__& g = m_virtualDbrVec[size_t(layout)];
    unsigned char buf[SECTOR_SIZE];
    for (uint32_t h = 0; h < FAT_HIGH_WORD_GUESSES; ++h)
    {
        const uint32_t c = (h << 16) | low;
        if (!IsFolderCluster(c))
        {
            if (c > 0x0FFFFFF6)
                break;
            continue;
        }
        const int64_t s = g.ClusterSector(c);
        if (s < 0 || uint64_t(s) >= g.endSector || !ReadSector(uint64_t(s), buf))
            break; // beyond the volume, or unreadable: no later candidate is nearer
        if (starts(buf, uint64_t(s), c))
            return h;
    }
    return 0;
}

uint32_t CProfessionalFatRecovery::EntryCluster(int layout, const FatDirEntryView& v)
{
    __VIRTUAL_DBR_INFO__& g = m_virtualDbrVec[size_t(layout)];
    const uint32_t raw = RawCluster(v.raw, g.clusters16);
    if (g.clusters16)
        return raw;
    if (raw > 0xFFFF && !v.deleted)
        g.clusters32 = true;
    ByteReader r(v.raw, DIR_ENTRY_SIZE);
    const uint16_t lo = r.U16(DE_CLUSTER_LO);
    // Some systems clear the high word of an entry they delete. On a
    // volume known to use clusters above 65535, a deleted entry whose high
    // word is 0 is looked for where its first cluster begins.
    if (!v.deleted || raw > 0xFFFF || lo < 2 || !g.clusters32 || (!v.isDir && r.U32(DE_SIZE) == 0))
        return raw;
    uint32_t high = 0;
    if (v.isDir)
        high = GuessHighWord(layout, lo,
                             [&](const unsigned char* sector, uint64_t, uint32_t candidate) {
                                 return IsFatFileRecord(sector, SECTOR_SIZE) &&
                                        RawCluster(sector, false) == candidate;
                             });
    else
    {
        const std::string ext = ExtensionOf(v.Name().c_str());
        if (ext.empty())
            return raw;
        high = GuessHighWord(layout, lo,
                             [&](const unsigned char* sector, uint64_t abs, uint32_t)
                             {
                                 return m_fileTypeJudge.IsFileTypeMatching(sector, int(SECTOR_SIZE),
                                                                           ext.c_str(), &m_diskReader,
                                                                           int(SECTOR_SIZE), abs) != 0;
                             });
    }
    return ((high << 16) | lo) & FAT32_ENTRY_MASK;
}

int CProfessionalFatRecovery::IsFileDataHealth(const _FILE_NODE_& node)
{
    const std::string ext = ExtensionOf(node.szFileName);
    if (ext.empty() || node.uClusterNO < 2 || node.uClusterSize < SECTOR_SIZE)
        return 1;
    const uint64_t spc = node.uClusterSize / SECTOR_SIZE;
    const uint64_t sector =
        node.u64PartitionStartSector + node.u64DataStartSector + uint64_t(node.uClusterNO - 2) * spc;
    unsigned char buf[SECTOR_SIZE];
    if (!ReadSector(sector, buf))
        return 1;
    return m_fileTypeJudge.IsFileTypeMatching(buf, int(SECTOR_SIZE), ext.c_str(), &m_diskReader,
                                              int(SECTOR_SIZE), sector)
               ? 1
               : 0;
}

// ---------------------------------------------------------------------------
// The end of the sweep

unsigned int CProfessionalFatRecovery::DealProfessionalRecordVec()
{
    m_fdtContext = Context();
    // In sector order, so that a cut long name meets its rest and the
    // sectors of a cluster follow its first.
    for (auto it = m_unDealFileMap.begin(); it != m_unDealFileMap.end(); it = m_unDealFileMap.erase(it))
        if (!ParsePlaced(it->second.data(), it->first, true))
            ++m_drops.unplacedAtEnd;
    if (!m_longFileInfoVec.empty())
        CoreLog("CProfessionalFatRecovery: %zu long names cut at a sector's end never met their rest\n",
                m_longFileInfoVec.size());
    if (m_drops.unplacedAtEnd)
        CoreLog("CProfessionalFatRecovery: %zu directory sectors fit no volume layout and were left out\n",
                m_drops.unplacedAtEnd);
    WriteTree();
    if (m_pScanResult)
        m_pScanResult->FlushBufToFile();
    const DropCounts& d = m_drops;
    if (d.parkedSectors || d.folderStarts || d.folderEntries || d.waitingFiles || d.pendingNames ||
        d.geometries)
        CoreLog("CProfessionalFatRecovery: over the memory bounds, left out: %zu parked sectors, %zu folder "
                "starts, %zu folder entries, %zu files, %zu cut long names, %zu volume layouts\n",
                d.parkedSectors, d.folderStarts, d.folderEntries, d.waitingFiles, d.pendingNames,
                d.geometries);
    ClearSweepState();
    return STATUS_SUCCESS;
}

CProfessionalFatRecovery::FolderId CProfessionalFatRecovery::ParentOf(FolderId f)
{
    const int layout = LayoutOf(f);
    const uint32_t cluster = ClusterOf(f);
    if (size_t(layout) >= m_virtualDbrVec.size())
        return ROOT_FOLDER;
    auto start = m_fatSectorOffsetMap.find(f);
    if (start != m_fatSectorOffsetMap.end())
        return ParentFolderFromDotDot(layout, cluster, start->second.parent);
    auto entry = m_proDirInfoMap.find(f);
    if (entry != m_proDirInfoMap.end())
        return entry->second.container == f ? ROOT_FOLDER : entry->second.container;
    uint32_t dotdot = 0;
    if (ReadDotPair(layout, cluster, dotdot))
    {
        RecordFolderStart(layout, cluster, dotdot,
                          uint64_t(m_virtualDbrVec[size_t(layout)].ClusterSector(cluster)));
        return ParentFolderFromDotDot(layout, cluster, dotdot);
    }
    return ROOT_FOLDER;
}

void CProfessionalFatRecovery::WriteTree()
{
    if (!m_pScanResult)
        return;
    // Every folder that holds a listed file, and the folders above it.
    std::map<FolderId, FolderId> parentOf;
    std::deque<FolderId> work;
    for (const WaitingFile& w : m_waitingFileVec)
        if (w.folder != ROOT_FOLDER && parentOf.emplace(w.folder, ROOT_FOLDER).second)
            work.push_back(w.folder);
    while (!work.empty())
    {
        const FolderId f = work.front();
        work.pop_front();
        FolderId p = ParentOf(f);
        if (p != ROOT_FOLDER && !parentOf.count(p))
        {
            if (parentOf.size() < MAX_TREE_FOLDERS)
            {
                parentOf.emplace(p, ROOT_FOLDER);
                work.push_back(p);
            }
            else
                p = ROOT_FOLDER; // a chain of ".." entries longer than any real tree
        }
        parentOf[f] = p;
    }
    // Levels below the root, walked upwards without recursion. A chain of
    // parents that comes back to itself is cut where it closes: that folder
    // hangs in the root.
    std::unordered_map<FolderId, uint32_t> level;
    std::vector<FolderId> path;
    std::unordered_set<FolderId> onPath;
    for (const auto& entry : parentOf)
    {
        path.clear();
        onPath.clear();
        FolderId f = entry.first;
        uint32_t base = 0;
        while (f != ROOT_FOLDER)
        {
            auto known = level.find(f);
            if (known != level.end())
            {
                base = known->second;
                break;
            }
            if (!onPath.insert(f).second)
            {
                parentOf[path.back()] = ROOT_FOLDER;
                break;
            }
            path.push_back(f);
            auto up = parentOf.find(f);
            f = up == parentOf.end() ? ROOT_FOLDER : up->second;
        }
        for (size_t i = path.size(); i-- > 0;)
            level[path[i]] = base + uint32_t(path.size() - i);
    }
    for (const auto& entry : parentOf)
    {
        const FolderId f = entry.first;
        const FolderId p = entry.second;
        const int layout = LayoutOf(f);
        const __VIRTUAL_DBR_INFO__& g = m_virtualDbrVec[size_t(layout)];
        _FILE_NODE_* slot = m_pScanResult->CreateFileNode(int(sizeof(_FILE_NODE_)));
        if (!slot)
            return;
        slot->wcDriveLetter = uint32_t(m_wcDriveLetter);
        slot->uEngineType = ENGINE_TYPE_DEEP_FAT;
        slot->bIsDir = 1;
        slot->bDataHealth = 1;
        slot->uFileIndex = m_pScanResult->GetFileIndex();
        slot->uClusterNO = f;
        slot->uClusterSize = uint32_t(g.spc) * SECTOR_SIZE;
        slot->u64DataStartSector = uint64_t(g.dataStart);
        slot->u64PartitionStartSector = g.partition;
        auto e = m_proDirInfoMap.find(f);
        if (e != m_proDirInfoMap.end())
        {
            slot->bIsDeleted = e->second.deleted ? 1 : 0;
            slot->u64CreateTime = e->second.times[0];
            slot->u64AccessTime = e->second.times[1];
            slot->u64ModifyTime = e->second.times[2];
            slot->u64RecordSector = e->second.sector;
            CopyUtf8(slot->szFileName, sizeof(slot->szFileName), e->second.name.c_str());
        }
        else
        {
            // Its own entry is gone (overwritten, or in a cluster no sweep met).
            slot->bIsDeleted = 1;
            auto s = m_fatSectorOffsetMap.find(f);
            slot->u64RecordSector = s != m_fatSectorOffsetMap.end() ? s->second.sector : 0;
            snprintf(slot->szFileName, sizeof(slot->szFileName), "LostFolder%u", ClusterOf(f));
        }
        const uint32_t l = level[f];
        const uint32_t index = slot->uFileIndex;
        char name[FILE_NAME_SIZE];
        memcpy(name, slot->szFileName, sizeof(name));
        if (p == ROOT_FOLDER)
            m_pScanResult->AddChildren(m_nRootClusterNO, 0, index, f, name);
        else
            m_pScanResult->AddChildren(p, l - 1, index, f, name);
    }
    for (const WaitingFile& w : m_waitingFileVec)
    {
        if (w.folder == ROOT_FOLDER)
            m_pScanResult->AddChildren(m_nRootClusterNO, 0, w.index, 0, nullptr);
        else
            m_pScanResult->AddChildren(w.folder, level[w.folder], w.index, 0, nullptr);
    }
}

void CProfessionalFatRecovery::Drop(size_t& counter, const char* what)
{
    if (counter == 0)
        CoreLog("CProfessionalFatRecovery: too many %s for the memory bound; further ones are left out\n",
                what);
    ++counter;
}

// ---------------------------------------------------------------------------
// Queries
