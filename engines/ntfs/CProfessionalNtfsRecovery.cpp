// Records, MFT layouts, folder chains and the queries of the deep NTFS
// engine. File data and preview are in CProfessionalNtfsRecoveryData.cpp.
#include "engines/ntfs/CProfessionalNtfsRecovery.h"

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
#include <new>
#include <strings.h>
#include <unistd.h>
#include <unordered_set>

using namespace tessaroo;

namespace
{
// The deep engine reads 512-byte sectors and 1024-byte records: the records
// the sweep recognises are those of volumes with 512-byte sectors.
constexpr uint32_t SECTOR_BYTES = 512;
constexpr uint32_t RECORD_BYTES = 1024;
constexpr uint32_t SECTORS_PER_RECORD = RECORD_BYTES / SECTOR_BYTES;
// Sectors read at the scanned area's start for its boot sector.
constexpr uint32_t BOOT_SECTORS = 8;
// The MFT of a record whose record 0 would lie before the device's start:
// no other record of it can be placed.
constexpr uint64_t NO_MFT = UINT64_MAX;

// A cluster size read from a record: a power of two from 1 to 128 sectors
// (64 KiB, the largest any formatter makes).
bool IsAcceptedClusterSectors(uint64_t spc)
{
    return spc >= 1 && spc <= 128 && (spc & (spc - 1)) == 0;
}

// The names a record gives its file: the first file-name attribute (parent,
// times, size) and the name shown, the Win32 one when there is one.
} // namespace

uint64_t CProfessionalNtfsRecovery::CRecordVolume::VolumeClusters() const
{
    const uint64_t end = m_engine.DeviceEnd();
    const uint64_t start = uint64_t(m_vol.i64VolumeStart);
    return end > start ? (end - start) / m_vol.uSectorsPerCluster : 0;
}

uint32_t CProfessionalNtfsRecovery::CRecordVolume::ClusterBytes() const
{
    return m_vol.uSectorsPerCluster * SECTOR_BYTES;
}

uint64_t CProfessionalNtfsRecovery::CRecordVolume::ClusterSector(uint64_t cluster) const
{
    return uint64_t(m_vol.i64VolumeStart) + cluster * m_vol.uSectorsPerCluster;
}

unsigned int CProfessionalNtfsRecovery::CRecordVolume::ReadSectors(uint64_t abs512, unsigned char* buf,
                                                                   uint32_t units)
{
    return m_engine.ReadAbs(buf, abs512, units);
}

unsigned int CProfessionalNtfsRecovery::CRecordVolume::ReadRecordByNumber(uint64_t number, unsigned char* buf,
                                                                          size_t len)
{
    uint64_t sector = 0;
    if (len < RECORD_BYTES || !m_engine.RecordSector(m_vol.u64MftSector, number, sector))
        return STATUS_INVALID_PARAMETER;
    return m_engine.ReadAbs(buf, sector, SECTORS_PER_RECORD);
}

CProfessionalNtfsRecovery::CProfessionalNtfsRecovery()
    : u64StartSector(0), u64SectorCount(0), wcDriveLetter(0), nBytesPerSector(int(SECTOR_BYTES)),
      nRecordBytes(int(RECORD_BYTES)), nSectorsPerRecord(int(SECTORS_PER_RECORD)), nProgressScale(0),
      pScanFunc(nullptr), pRecoveryFunc(nullptr), pParam(nullptr), nEngineType(ENGINE_TYPE_DEEP_NTFS),
      nSectorsPerCluster(8), judge(&reader), bHaveBootLayout(false), nLayoutRuns(0),
      uNextSyntheticId(FIRST_SYNTHETIC_FOLDER), u64DroppedFiles(0), u64DroppedLayouts(0),
      vecRecord(RECORD_BYTES, 0)
{
}

CProfessionalNtfsRecovery::~CProfessionalNtfsRecovery()
{
    pResultStore.reset();
}

unsigned int CProfessionalNtfsRecovery::ReadAbs(unsigned char* buf, uint64_t abs512, uint32_t units)
{
    if (units == 0 || abs512 > uint64_t(INT64_MAX))
        return STATUS_INVALID_PARAMETER;
    unsigned int got = 0;
    return reader.ReadData(buf, int(units), (long long)abs512, int(SECTOR_BYTES), &got);
}

unsigned int CProfessionalNtfsRecovery::Init(int diskIndex, long long startSector, long long sectorCount,
                                             wchar_t driveLetter)
{
    if (startSector < 0 || sectorCount <= 0 || startSector > (long long)(INT64_MAX / 512) ||
        sectorCount > (long long)(INT64_MAX / 512) - startSector)
        return STATUS_INVALID_PARAMETER;
    u64StartSector = (unsigned long long)startSector;
    u64SectorCount = (unsigned long long)sectorCount;
    wcDriveLetter = driveLetter;
    nSectorsPerCluster = int(GetDefaultNtfsSectorPerCluster(u64SectorCount, SECTOR_BYTES));
    parser.Init(int(SECTOR_BYTES));
    mapMftRunList.clear();
    nLayoutRuns = 0;
    bHaveBootLayout = false;
    unsigned int st = reader.Init(diskIndex, u64StartSector + u64SectorCount);
    if (st != STATUS_SUCCESS)
        return st;
    std::vector<uint8_t> boot(BOOT_SECTORS * SECTOR_BYTES, 0);
    const uint32_t units = uint32_t(std::min<uint64_t>(BOOT_SECTORS, u64SectorCount));
    if ((st = ReadAbs(boot.data(), u64StartSector, units)) != STATUS_SUCCESS)
        return st;
    NtfsGeometry g;
    if (!IsNtfs(boot.data()) || !DeriveNtfsGeometry(boot.data(), boot.size(), g) ||
        g.bytesPerSector != SECTOR_BYTES)
        return STATUS_SUCCESS;
    // The volume's own MFT places the records of its MFT zone that the
    // volume's bitmap gives as free: those of an earlier format.
    nSectorsPerCluster = int(g.sectorsPerCluster);
    const uint64_t mftSector = u64StartSector + g.mftCluster * g.unitsPerCluster;
    std::vector<uint8_t> rec(RECORD_BYTES, 0);
    NtfsRecordHeader h;
    if (ReadAbs(rec.data(), mftSector, SECTORS_PER_RECORD) == STATUS_SUCCESS &&
        ParseNtfsRecordHeader(rec.data(), rec.size(), h) && h.recordNumber == NTFS_MFT_RECORD)
    {
        parser.FileRecordFixUp(rec.data(), rec.size());
        LearnMft(rec.data(), rec.size(), h, mftSector);
        auto it = mapMftRunList.find(mftSector);
        if (it != mapMftRunList.end())
        {
            bootLayout = it->second;
            bHaveBootLayout = true;
        }
    }
    return STATUS_SUCCESS;
}

unsigned int CProfessionalNtfsRecovery::Init(wchar_t* devicePath, wchar_t driveLetter)
{
    if (!devicePath)
        return STATUS_INVALID_PARAMETER;
    std::string path = WideToUtf8(devicePath);
    if (path.size() > 256)
        path.resize(256);
    int fd = OpenDeviceReadOnly(path.c_str());
    if (fd < 0)
        return unsigned(errno ? errno : ENOENT);
    uint64_t bytes = 0;
    const bool sized = GetDeviceSize(fd, bytes);
    const int e = errno ? errno : EIO;
    close(fd);
    if (!sized)
        return unsigned(e);
    u64StartSector = 0;
    u64SectorCount = bytes / SECTOR_BYTES;
    wcDriveLetter = driveLetter;
    mapMftRunList.clear();
    nLayoutRuns = 0;
    bHaveBootLayout = false;
    return reader.Init(devicePath, u64SectorCount);
}

unsigned int CProfessionalNtfsRecovery::InitCallBack(SCAN_CALLBACK scan, RECOVERY_CALLBACK recovery,
                                                     void* ctx, int scale)
{
    pScanFunc = scan;
    pRecoveryFunc = recovery;
    pParam = ctx;
    nProgressScale = scale;
    return STATUS_SUCCESS;
}

unsigned int CProfessionalNtfsRecovery::ScanDevice(wchar_t*)
{
    return STATUS_SUCCESS;
}

unsigned int CProfessionalNtfsRecovery::GetUnUsedSectorCount(unsigned long long&, unsigned long long&)
{
    return STATUS_SUCCESS;
}

unsigned int CProfessionalNtfsRecovery::BuildBitMapInfo()
{
    return STATUS_SUCCESS;
}

unsigned int CProfessionalNtfsRecovery::InitProfessionalScan(wchar_t* storeName)
{
    mapFolders.clear();
    vecFolderOrder.clear();
    mapIdOwner.clear();
    uNextSyntheticId = FIRST_SYNTHETIC_FOLDER;
    u64DroppedFiles = u64DroppedLayouts = 0;
    mapMftRunList.clear();
    nLayoutRuns = 0;
    if (bHaveBootLayout)
    {
        mapMftRunList[bootLayout.u64MftSector] = bootLayout;
        nLayoutRuns = bootLayout.vecRuns.size();
    }
    pResultStore.reset();
    pResultStore.reset(new (std::nothrow) CScanResultFileManager());
    if (!pResultStore)
        return STATUS_NOT_ENOUGH_MEMORY;
    const unsigned int st = pResultStore->InitNamedOrNew(storeName, STORE_PREFIX, u64StartSector);
    if (st != STATUS_SUCCESS)
        CoreLog("CProfessionalNtfsRecovery: cannot open the scan result store (%u)\n", st);
    pResultStore->InitSearchCallBack(m_pSearchFunc, m_pSearchParam);
    return st;
}

// --- MFT layouts ---------------------------------------------------------------

bool CProfessionalNtfsRecovery::LayoutSector(const MftLayout& l, uint64_t number, uint64_t& sector)
{
    if (number > 0xFFFFFFFFull)
        return false;
    const uint64_t off = number * RECORD_BYTES;
    auto it = std::upper_bound(l.vecExtentEnds.begin(), l.vecExtentEnds.end(), off);
    if (it == l.vecExtentEnds.end())
        return false;
    const NtfsExtent& e = l.vecExtents[size_t(it - l.vecExtentEnds.begin())];
    const uint64_t clusterBytes = uint64_t(l.uSectorsPerCluster) * SECTOR_BYTES;
    const uint64_t extentStart = *it - e.u64Count * clusterBytes;
    // A record in a hole, or cut by the extent's end, is no record.
    if (e.bSparse || *it - off < RECORD_BYTES)
        return false;
    sector =
        uint64_t(l.i64VolumeStart) + e.u64Cluster * l.uSectorsPerCluster + (off - extentStart) / SECTOR_BYTES;
    return true;
}

bool CProfessionalNtfsRecovery::RecordSector(uint64_t mftSector, uint64_t number, uint64_t& sector) const
{
    if (mftSector == NO_MFT || number > 0xFFFFFFFFull)
        return false;
    auto it = mapMftRunList.find(mftSector);
    if (it != mapMftRunList.end() && LayoutSector(it->second, number, sector))
        return true;
    // Past what its known runs hold (or with none known): the MFT taken as
    // going on contiguously, as a freshly made one does.
    const uint64_t end = DeviceEnd();
    if (mftSector >= end || number >= (end - mftSector) / SECTORS_PER_RECORD)
        return false;
    sector = mftSector + number * SECTORS_PER_RECORD;
    return true;
}

bool CProfessionalNtfsRecovery::BuildLayout(MftLayout& l, const std::vector<__RUNLIST__>& runs) const
{
    l.vecRuns = runs;
    l.vecExtents.clear();
    l.vecExtentEnds.clear();
    const uint64_t end = DeviceEnd();
    const uint64_t start = uint64_t(l.i64VolumeStart);
    const uint64_t clusters = end > start ? (end - start) / l.uSectorsPerCluster : 0;
    CNtfsParse::PlaceRuns(runs, clusters, l.vecExtents);
    const uint64_t clusterBytes = uint64_t(l.uSectorsPerCluster) * SECTOR_BYTES;
    uint64_t bytes = 0;
    for (const NtfsExtent& e : l.vecExtents)
    {
        bytes += e.u64Count * clusterBytes;
        l.vecExtentEnds.push_back(bytes);
    }
    return !l.vecExtents.empty();
}

bool CProfessionalNtfsRecovery::RecordSectorsPerCluster(const unsigned char* rec, size_t len,
                                                        const NtfsRecordHeader& h, uint32_t& spc)
{
    CNtfsAttributeWalker walk(rec, len, h);
    NtfsAttribute a;
    while (walk.Next(a))
    {
        // With an attribute list the runs here may be one piece of many,
        // while the allocated size counts them all.
        if (a.type == NTFS_TYPE_ATTRIBUTE_LIST)
            return false;
        if (a.type != NTFS_TYPE_DATA || a.nameLength != 0)
            continue;
        if (!a.nonResident || a.startVcn != 0 || !a.hasRealSize)
            return false;
        std::vector<__RUNLIST__> runs;
        CNtfsParse::GetRunList(rec, a, runs);
        uint64_t clusters = 0;
        for (const __RUNLIST__& r : runs)
            if (__builtin_add_overflow(clusters, r.u64ClusterCount, &clusters))
                return false;
        // The runs must be the whole attribute: they cover its clusters,
        // and the allocated size is exactly that many clusters.
        if (clusters == 0 || a.lastVcn + 1 != clusters || a.allocatedSize % SECTOR_BYTES != 0)
            return false;
        const uint64_t sectors = a.allocatedSize / SECTOR_BYTES;
        if (sectors % clusters != 0 || !IsAcceptedClusterSectors(sectors / clusters))
            return false;
        spc = uint32_t(sectors / clusters);
        return true;
    }
    return false;
}

void CProfessionalNtfsRecovery::LearnMft(const unsigned char* rec, size_t len, const NtfsRecordHeader& h,
                                         uint64_t sector)
{
    NtfsRecordNames names;
    if (!ReadNtfsRecordNames(rec, len, h, names) || strcasecmp(names.strName.c_str(), "$MFT") != 0)
        return;
    CNtfsAttributeWalker walk(rec, len, h);
    NtfsAttribute a, data;
    bool found = false, hasList = false;
    std::vector<__RUNLIST__> runs;
    while (walk.Next(a))
    {
        if (a.type == NTFS_TYPE_ATTRIBUTE_LIST)
            hasList = true;
        if (!found && a.type == NTFS_TYPE_DATA && a.nameLength == 0 && a.nonResident && a.startVcn == 0)
        {
            CNtfsParse::GetRunList(rec, a, runs);
            data = a;
            found = true;
        }
    }
    if (!found || runs.empty() || runs[0].bSparse || runs[0].i64ClusterOffset <= 0)
        return;
    uint32_t spc = 0;
    const bool ownSize = RecordSectorsPerCluster(rec, len, h, spc);
    if (!ownSize)
        spc = uint32_t(nSectorsPerCluster);
    auto old = mapMftRunList.find(sector);
    if (old == mapMftRunList.end() && mapMftRunList.size() >= MAX_LAYOUTS)
    {
        NoteDropped(u64DroppedLayouts, "MFT layouts: later \"$MFT\" records are not learned");
        return;
    }
    const size_t oldRuns = old != mapMftRunList.end() ? old->second.vecRuns.size() : 0;
    auto fits = [&](const MftLayout& x)
    { return nLayoutRuns - oldRuns + x.vecRuns.size() <= MAX_LAYOUT_RUNS; };
    // Record 0 lies at the MFT's first cluster: that gives the volume's start.
    MftLayout l;
    if (!MakeLayout(l, sector, spc, runs))
        return;
    if (!fits(l))
    {
        NoteDropped(u64DroppedLayouts, "MFT layouts: later \"$MFT\" records are not learned");
        return;
    }
    if (hasList)
    {
        // A fragmented MFT keeps its further runs in records its first
        // runs place; with them all, its allocated size tells the cluster
        // size its record alone could not.
        mapMftRunList[sector] = l;
        NtfsDataInfo d;
        CRecordVolume vol(*this, VolumeRef{sector, l.i64VolumeStart, spc});
        if (parser.ResolveData(vol, rec, len, h, NTFS_MFT_RECORD, NTFS_TYPE_DATA, d) == 0 && !d.bResident &&
            d.vecRuns.size() > runs.size())
        {
            uint64_t clusters = 0;
            for (const __RUNLIST__& r : d.vecRuns)
                clusters += r.u64ClusterCount;
            const uint64_t sectors = data.allocatedSize / SECTOR_BYTES;
            uint32_t joinedSpc = spc;
            if (!ownSize && clusters != 0 && data.allocatedSize % SECTOR_BYTES == 0 &&
                sectors % clusters == 0 && IsAcceptedClusterSectors(sectors / clusters))
                joinedSpc = uint32_t(sectors / clusters);
            MftLayout joined;
            if (MakeLayout(joined, sector, joinedSpc, d.vecRuns) && fits(joined))
                l = std::move(joined);
        }
    }
    nLayoutRuns = nLayoutRuns - oldRuns + l.vecRuns.size();
    mapMftRunList[sector] = std::move(l);
}

bool CProfessionalNtfsRecovery::MakeLayout(MftLayout& l, uint64_t sector, uint32_t spc,
                                           const std::vector<__RUNLIST__>& runs) const
{
    const uint64_t first = uint64_t(runs[0].i64ClusterOffset);
    if (first > sector / spc)
        return false;
    l.u64MftSector = sector;
    l.uSectorsPerCluster = spc;
    l.i64VolumeStart = int64_t(sector - first * spc);
    return BuildLayout(l, runs);
}

CProfessionalNtfsRecovery::VolumeRef
CProfessionalNtfsRecovery::PlaceRecord(uint64_t number, uint64_t sector, uint32_t ownSectorsPerCluster) const
{
    VolumeRef v;
    uint64_t at = 0;
    const uint64_t contiguous =
        sector >= number * SECTORS_PER_RECORD ? sector - number * SECTORS_PER_RECORD : NO_MFT;
    auto near = mapMftRunList.find(contiguous);
    if (near != mapMftRunList.end() && LayoutSector(near->second, number, at) && at == sector)
        return VolumeRef{near->first, near->second.i64VolumeStart, near->second.uSectorsPerCluster};
    for (const auto& m : mapMftRunList)
        if (LayoutSector(m.second, number, at) && at == sector)
            return VolumeRef{m.first, m.second.i64VolumeStart, m.second.uSectorsPerCluster};
    // No known MFT places it: a contiguous MFT holding it here. An MFT known
    // to start there (whose runs end before this record) gives the volume.
    v.u64MftSector = contiguous;
    v.i64VolumeStart = int64_t(u64StartSector);
    v.uSectorsPerCluster = uint32_t(nSectorsPerCluster);
    if (near != mapMftRunList.end())
    {
        v.i64VolumeStart = near->second.i64VolumeStart;
        v.uSectorsPerCluster = near->second.uSectorsPerCluster;
    }
    // What the file's own data states about its clusters is worth more than
    // a guess from elsewhere.
    if (IsAcceptedClusterSectors(ownSectorsPerCluster))
        v.uSectorsPerCluster = ownSectorsPerCluster;
    return v;
}

// --- folders -------------------------------------------------------------------

void CProfessionalNtfsRecovery::NoteDropped(unsigned long long& counter, const char* what)
{
    if (counter++ == 0)
        CoreLog("CProfessionalNtfsRecovery: memory cap reached for %s\n", what);
}

uint32_t CProfessionalNtfsRecovery::NewFolderId(uint32_t record, uint64_t mftSector)
{
    // 0 asks a store for the root, 5 is the root.
    if (record != NTFS_MFT_RECORD && record != NTFS_ROOT_RECORD && record < FIRST_SYNTHETIC_FOLDER &&
        mapIdOwner.emplace(record, mftSector).second)
        return record;
    return uNextSyntheticId++;
}

CProfessionalNtfsRecovery::FolderState* CProfessionalNtfsRecovery::GetFolder(const VolumeRef& vol,
                                                                             uint32_t record)
{
    const FolderKey key{vol.u64MftSector, record};
    auto known = mapFolders.find(key);
    if (known != mapFolders.end())
        return &known->second;
    if (mapFolders.size() >= MAX_FOLDERS)
        return nullptr;
    FolderState st;
    st.i64VolumeStart = vol.i64VolumeStart;
    st.uSectorsPerCluster = uint8_t(vol.uSectorsPerCluster);
    uint64_t sector = 0;
    std::vector<uint8_t> rec(RECORD_BYTES, 0);
    NtfsRecordHeader h;
    // A folder is put under its parent only when the record at its place is
    // a named folder record of that very number; anything else (no record,
    // a file, another record, the volume's own metadata) is a lost folder.
    if (record >= NTFS_FIRST_USER_RECORD && RecordSector(vol.u64MftSector, record, sector) &&
        ReadAbs(rec.data(), sector, SECTORS_PER_RECORD) == STATUS_SUCCESS &&
        ParseNtfsRecordHeader(rec.data(), rec.size(), h) && (h.flags & NTFS_RECORD_DIRECTORY) != 0 &&
        h.recordNumber == record && h.baseRecord == 0)
    {
        parser.FileRecordFixUp(rec.data(), rec.size());
        NtfsRecordNames names;
        if (ReadNtfsRecordNames(rec.data(), rec.size(), h, names))
        {
            st.bPlaceable = true;
            st.uParent = names.first.parent;
            st.u64Sector = sector;
        }
    }
    st.uId = NewFolderId(record, vol.u64MftSector);
    vecFolderOrder.push_back(key);
    return &mapFolders.emplace(key, st).first->second;
}

bool CProfessionalNtfsRecovery::WalkUp(const VolumeRef& vol, uint32_t folder, uint32_t& level, uint32_t& id)
{
    if (folder == NTFS_ROOT_RECORD)
    {
        level = 0;
        id = NTFS_ROOT_RECORD;
        return true;
    }
    // A walk that meets a loop breaks it once (below) and walks again; the
    // second walk ends at the break.
    for (int attempt = 0; attempt < 2; ++attempt)
    {
        std::vector<FolderState*> chain;
        std::unordered_map<uint32_t, size_t> visited;
        uint32_t base = 0;
        bool again = false;
        for (uint32_t cur = folder; cur != NTFS_ROOT_RECORD;)
        {
            FolderState* st = GetFolder(vol, cur);
            if (!st)
            {
                if (chain.empty())
                    return false;
                chain.back()->bAtRoot = true; // its parent cannot be remembered
                break;
            }
            if (st->uLevel != 0)
            {
                base = st->uLevel;
                break;
            }
            auto seen = visited.find(cur);
            if (seen != visited.end())
            {
                // The chain loops back: the loop's folder of the lowest
                // record number goes to the root, whichever file met the
                // loop first, so every walk through the loop agrees.
                FolderState* lowest = nullptr;
                uint32_t lowestRecord = 0;
                for (const auto& v : visited)
                    if (v.second >= seen->second && (!lowest || v.first < lowestRecord))
                    {
                        lowest = chain[v.second];
                        lowestRecord = v.first;
                    }
                lowest->bAtRoot = true;
                again = true;
                break;
            }
            visited.emplace(cur, chain.size());
            chain.push_back(st);
            if (!st->bPlaceable || st->bAtRoot)
                break;
            if (chain.size() >= MAX_FOLDER_DEPTH)
            {
                st->bAtRoot = true;
                break;
            }
            cur = st->uParent;
        }
        if (again)
            continue;
        for (size_t i = 0; i < chain.size(); ++i)
            chain[i]->uLevel = base + uint32_t(chain.size() - i);
        FolderState* self = chain.empty() ? GetFolder(vol, folder) : chain[0];
        if (!self)
            return false;
        level = self->uLevel;
        id = self->uId;
        return true;
    }
    return false;
}

_FILE_NODE_* CProfessionalNtfsRecovery::NewNode()
{
    if (!pResultStore)
        return nullptr;
    _FILE_NODE_* slot = pResultStore->CreateFileNode(int(sizeof(_FILE_NODE_)));
    if (!slot)
        return nullptr;
    memset(slot, 0, sizeof(*slot));
    slot->wcDriveLetter = uint32_t(wcDriveLetter);
    slot->uEngineType = uint32_t(nEngineType);
    slot->uFileIndex = pResultStore->GetFileIndex();
    return slot;
}

// --- the sweep's records -----------------------------------------------------

unsigned int CProfessionalNtfsRecovery::ParseNtfsFileRecord(unsigned char* record,
                                                            unsigned long long absSector)
{
    if (!record)
        return STATUS_INVALID_PARAMETER;
    // The caller's buffer is the sweep's chunk: the fix-up works on a copy.
    unsigned char* rec = vecRecord.data();
    memcpy(rec, record, RECORD_BYTES);
    NtfsRecordHeader h;
    if (!ParseNtfsRecordHeader(rec, RECORD_BYTES, h))
        return unsigned(STATUS_NTFS_FAILED);
    ByteReader r(rec, RECORD_BYTES);
    const uint32_t inUse = r.U32(NTFS_REC_BYTES_IN_USE);
    if (inUse > RECORD_BYTES || h.firstAttribute > RECORD_BYTES || h.firstAttribute > inUse)
        return STATUS_INVALID_PARAMETER;
    parser.FileRecordFixUp(rec, RECORD_BYTES);
    const uint32_t number = h.recordNumber;
    if (number == NTFS_MFT_RECORD)
    {
        LearnMft(rec, RECORD_BYTES, h, absSector);
        return STATUS_SUCCESS;
    }
    // Folders are listed from the chains of the files in them; extension
    // records belong to the file of their base record; the volume's own
    // metadata is not listed.
    if ((h.flags & NTFS_RECORD_DIRECTORY) != 0 || h.baseRecord != 0 || number < NTFS_FIRST_USER_RECORD ||
        !pResultStore)
        return STATUS_SUCCESS;
    uint32_t ownSpc = 0;
    RecordSectorsPerCluster(rec, RECORD_BYTES, h, ownSpc);
    const VolumeRef vol = PlaceRecord(number, absSector, ownSpc);
    CRecordVolume access(*this, vol);
    NtfsRecordNames names;
    if (!ReadNtfsRecordNames(rec, RECORD_BYTES, h, names))
    {
        // A file of many pieces may keep its names in extension records.
        for (const NtfsFileName& fn : parser.ListedFileNames(access, rec, RECORD_BYTES, h, number))
            if (!names.bNamed)
            {
                names.bNamed = true;
                names.first = fn;
                names.strName = fn.name;
            }
            else if (fn.nameSpace == NTFS_NAMESPACE_WIN32)
                names.strName = fn.name;
        if (!names.bNamed)
            return STATUS_SUCCESS;
    }
    // The files of $Extend are the volume's own metadata, as records 0 to 11.
    if (names.first.parent == NTFS_EXTEND_RECORD && !names.strName.empty() && names.strName[0] == '$')
        return STATUS_SUCCESS;
    NtfsDataInfo data;
    const int ds = parser.ResolveData(access, rec, RECORD_BYTES, h, number, NTFS_TYPE_DATA, data);
    uint64_t size = names.first.realSize;
    if (ds == 0 && data.bHasSize)
        size = data.u64RealSize;
    else if (names.bHasDataSize)
        size = names.u64DataSize;
    const int health = HealthOfData(vol, data, ds, names.strName.c_str(), size);

    uint32_t level = 0, parentId = NTFS_ROOT_RECORD;
    if (!WalkUp(vol, names.first.parent, level, parentId))
    {
        // Past the folder cap the file is kept, at the root.
        level = 0;
        parentId = NTFS_ROOT_RECORD;
        NoteDropped(u64DroppedFiles, "folders: files of further folders are filed at the root");
    }
    _FILE_NODE_* node = NewNode();
    if (!node)
        return STATUS_NOT_ENOUGH_MEMORY;
    node->bIsDir = 0;
    node->bDataHealth = unsigned(health);
    node->uClusterNO = number;
    node->uClusterSize = vol.uSectorsPerCluster * SECTOR_BYTES;
    node->u64CreateTime = names.first.createTime;
    node->u64AccessTime = names.first.accessTime;
    node->u64ModifyTime = names.first.modifyTime;
    node->u64FileSize = size;
    node->u64RecordSector = absSector;
    node->u64PartitionStartSector = uint64_t(vol.i64VolumeStart);
    CopyUtf8Name(node->szFileName, sizeof(node->szFileName), names.strName);
    pResultStore->AddChildren(parentId, level, node->uFileIndex, number, nullptr);
    return STATUS_SUCCESS;
}

void CProfessionalNtfsRecovery::FileFolder(const FolderKey& key, FolderState& st)
{
    NtfsRecordNames names;
    bool named = false;
    if (st.bPlaceable)
    {
        std::vector<uint8_t> rec(RECORD_BYTES, 0);
        NtfsRecordHeader h;
        if (ReadAbs(rec.data(), st.u64Sector, SECTORS_PER_RECORD) == STATUS_SUCCESS &&
            ParseNtfsRecordHeader(rec.data(), rec.size(), h) && h.recordNumber == key.uRecord)
        {
            parser.FileRecordFixUp(rec.data(), rec.size());
            named = ReadNtfsRecordNames(rec.data(), rec.size(), h, names);
        }
    }
    uint32_t parentId = NTFS_ROOT_RECORD, parentLevel = 0;
    if (named && !st.bAtRoot)
    {
        const VolumeRef vol{key.u64MftSector, st.i64VolumeStart, st.uSectorsPerCluster};
        if (!WalkUp(vol, st.uParent, parentLevel, parentId))
        {
            parentId = NTFS_ROOT_RECORD;
            parentLevel = 0;
        }
    }
    _FILE_NODE_* node = NewNode();
    if (!node)
        return;
    node->bIsDir = 1;
    // A folder has no data of its own to judge; 0 would hide it (and every
    // file below it) whenever its name looks like a picture's.
    node->bDataHealth = 1;
    node->uClusterNO = st.uId;
    node->uClusterSize = uint32_t(st.uSectorsPerCluster) * SECTOR_BYTES;
    node->u64PartitionStartSector = uint64_t(st.i64VolumeStart);
    if (named)
    {
        node->u64CreateTime = names.first.createTime;
        node->u64AccessTime = names.first.accessTime;
        node->u64ModifyTime = names.first.modifyTime;
        node->u64RecordSector = st.u64Sector;
        CopyUtf8Name(node->szFileName, sizeof(node->szFileName), names.strName);
    }
    else
        snprintf(node->szFileName, sizeof(node->szFileName), "LostFolder%u", key.uRecord);
    pResultStore->AddChildren(parentId, parentLevel, node->uFileIndex, st.uId, node->szFileName);
}

unsigned int CProfessionalNtfsRecovery::ParseProfessionalRecordVec()
{
    if (!pResultStore)
        return STATUS_SUCCESS;
    // Folders met on the chains, in the order they were met; walks made
    // here meet no new ones but past the cap, so the list ends.
    for (size_t i = 0; i < vecFolderOrder.size(); ++i)
    {
        const FolderKey key = vecFolderOrder[i];
        auto it = mapFolders.find(key);
        if (it != mapFolders.end())
            FileFolder(key, it->second);
    }
    if (u64DroppedFiles || u64DroppedLayouts)
        CoreLog("CProfessionalNtfsRecovery: %llu files filed at the root past the folder cap, %llu \"$MFT\" "
                "records not learned past the layout cap\n",
                u64DroppedFiles, u64DroppedLayouts);
    return pResultStore->FlushBufToFile();
}

// --- queries ---------------------------------------------------------------------
