// Initialisation, the MFT sweep, the folder tree and the queries of the fast
// NTFS engine. Records and runs are in CFastNtfsRecoveryRecords.cpp, file
// data and preview in CFastNtfsRecoveryData.cpp.
#include "engines/ntfs/CFastNtfsRecovery.h"

#include "core/ByteReader.h"
#include "core/FileIo.h"
#include "core/Log.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "store/CScanResultFileManager.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <unistd.h>

using namespace tessaroo;

namespace
{
// Boot bytes read by Init.
constexpr size_t BOOT_READ_BYTES = 4096;
// The MFT is read this many records at a time.
constexpr int RECORDS_PER_PIECE = 1024;
// A remaining-time estimate is made at most this often.
constexpr unsigned long long ESTIMATE_INTERVAL_MS = 5000;
// Intermediate reports stay below the completion band (percent x scale from
// 10000 to 10099), which would tell the application the scan had finished.
constexpr int MAX_INTERMEDIATE_PERCENT = 99;
// No volume nests folders this deep (paths are limited to 32767 units); a
// chain that goes on is damaged and ends here.
constexpr size_t MAX_FOLDER_DEPTH = 4096;
} // namespace

CFastNtfsRecovery::CFastNtfsRecovery()
    : u64StartSector(0), u64SectorCount(0), u64MftStartSector(0), wcDriveLetter(0), nBytesPerSector(512),
      nRecordBytes(1024), nSectorsPerRecord(2), nSectorsPerCluster(0), nScanChunkBytes(0), u64BitmapBytes(0),
      nEngineType(ENGINE_TYPE_FAST_NTFS), nProgressScale(0), pScanFunc(nullptr), pRecoveryFunc(nullptr),
      pParam(nullptr), judge(&reader), bInitialised(false), bGeometryValid(false), u64ScanStartTick(0),
      u64LastEstimate(0), nSecondsLeft(-1)
{
}

CFastNtfsRecovery::~CFastNtfsRecovery()
{
    pResultStore.reset();
}

unsigned int CFastNtfsRecovery::Init(int diskIndex, long long startSector, long long sectorCount,
                                     wchar_t driveLetter)
{
    if (bInitialised)
        return STATUS_SUCCESS;
    if (startSector < 0 || sectorCount < 0 || startSector > (long long)(INT64_MAX / 512) ||
        sectorCount > (long long)(INT64_MAX / 512) - startSector)
        return STATUS_INVALID_PARAMETER;
    int fd = OpenDiskReadOnly(diskIndex);
    if (fd < 0)
        return unsigned(errno ? errno : ENOENT);
    bInitialised = true;
    u64StartSector = (unsigned long long)startSector;
    u64SectorCount = (unsigned long long)sectorCount;
    wcDriveLetter = driveLetter;
    std::vector<uint8_t> boot(BOOT_READ_BYTES);
    // A backup boot sector is the volume's last sector: only that much is
    // there to read.
    const size_t want =
        u64BootUnit == 0 ? boot.size()
                         : size_t(std::min<unsigned long long>(
                               boot.size(), (u64SectorCount - std::min(u64BootUnit, u64SectorCount)) * 512));
    size_t got = 0;
    const unsigned int rs = ReadFullAt(fd, boot.data(), want, (u64StartSector + u64BootUnit) * 512, got);
    close(fd);
    if (rs != STATUS_SUCCESS || got < 512 || got != want)
        return STATUS_READ_FAULT;
    NtfsGeometry g;
    if (!DeriveNtfsGeometry(boot.data(), boot.size(), g))
    {
        CoreLog("CFastNtfsRecovery: no usable NTFS geometry at sector %lld\n", startSector);
        return STATUS_INVALID_PARAMETER;
    }
    geo = g;
    nBytesPerSector = int(g.bytesPerSector);
    nRecordBytes = int(g.recordBytes);
    nSectorsPerRecord = int(g.recordBytes / g.bytesPerSector);
    nSectorsPerCluster = int(g.sectorsPerCluster);
    nScanChunkBytes = nRecordBytes * RECORDS_PER_PIECE;
    try
    {
        pScanBuf.assign(size_t(nScanChunkBytes), 0);
    }
    catch (const std::bad_alloc&)
    {
        return STATUS_NOT_ENOUGH_MEMORY;
    }
    parser.Init(nBytesPerSector);
    u64MftStartSector = u64StartSector + g.mftCluster * g.unitsPerCluster;
    bGeometryValid = true;
    unsigned int st = reader.Init(diskIndex, u64StartSector + u64SectorCount);
    if (st != STATUS_SUCCESS)
        return st;
    LoadMftRunList();
    return STATUS_SUCCESS;
}

unsigned int CFastNtfsRecovery::Init(wchar_t* devicePath, wchar_t driveLetter)
{
    if (bInitialised)
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
    const int e = errno ? errno : EIO;
    close(fd);
    if (!sized)
        return unsigned(e);
    bInitialised = true;
    u64StartSector = 0;
    u64SectorCount = bytes / 512;
    wcDriveLetter = driveLetter;
    return STATUS_SUCCESS;
}

unsigned int CFastNtfsRecovery::InitCallBack(SCAN_CALLBACK scan, RECOVERY_CALLBACK recovery, void* ctx,
                                             int scale)
{
    pScanFunc = scan;
    pRecoveryFunc = recovery;
    pParam = ctx;
    nProgressScale = scale;
    return STATUS_SUCCESS;
}

int CFastNtfsRecovery::ReportScan(int percent, int secondsLeft)
{
    if (!pScanFunc)
        return 0;
    return pScanFunc(pParam, percent, nProgressScale, secondsLeft, 0, 0, 0, nullptr);
}

unsigned int CFastNtfsRecovery::ScanDevice(wchar_t* resultName)
{
    vecAncestorIndex.clear();
    setAncestors.clear();
    mapFolders.clear();
    mapLevels.clear();
    pResultStore.reset();
    pResultStore.reset(new (std::nothrow) CScanResultFileManager());
    if (!pResultStore)
        return STATUS_NOT_ENOUGH_MEMORY;
    if (resultName)
    {
        if (pResultStore->Init(resultName) != STATUS_SUCCESS)
            CoreLog("CFastNtfsRecovery: cannot open the store of an earlier scan\n");
        pResultStore->InitSearchCallBack(m_pSearchFunc, m_pSearchParam);
        return STATUS_SUCCESS;
    }

    if (pResultStore->InitNew("Fast_", u64StartSector) != STATUS_SUCCESS)
        CoreLog("CFastNtfsRecovery: cannot create the scan result store\n");
    pResultStore->InitSearchCallBack(m_pSearchFunc, m_pSearchParam);

    unsigned int answer = bGeometryValid ? SweepMft() : 0;
    if (answer == 0)
        RunAncestorPass();
    pResultStore->FlushBufToFile();
    if (answer == 0)
        answer = unsigned(ReportScan(100, 0));
    return answer;
}

unsigned int CFastNtfsRecovery::SweepMft()
{
    const uint64_t total = MftBytes();
    const uint64_t rb = unsigned(nRecordBytes);
    u64ScanStartTick = rsb_getTickCount();
    u64LastEstimate = u64ScanStartTick;
    nSecondsLeft = -1;
    bool logged = false;
    for (uint64_t off = 0; off < total;)
    {
        uint64_t n = std::min<uint64_t>(uint64_t(nScanChunkBytes), total - off);
        n -= n % rb;
        if (n == 0)
            break;
        const uint64_t first = off / rb;
        if (first > 0xFFFFFFFFull)
            break; // record numbers are 32-bit
        if (ReadMft(off, pScanBuf.data(), size_t(n)) == STATUS_SUCCESS)
            ParsePieceRecords(pScanBuf.data(), size_t(n), first);
        else
        {
            // One bad sector must not end the scan nor cost the piece: the
            // records around it are read one by one.
            if (!logged)
                CoreLog("CFastNtfsRecovery: unreadable MFT piece at record %llu\n",
                        (unsigned long long)first);
            logged = true;
            for (uint64_t k = 0; k < n / rb; ++k)
                if (ReadMft(off + k * rb, pScanBuf.data(), size_t(rb)) == STATUS_SUCCESS)
                    ParsePieceRecords(pScanBuf.data(), size_t(rb), first + k);
        }
        off += n;
        const unsigned long long now = rsb_getTickCount();
        if (nProgressScale == 100 && now - u64LastEstimate >= ESTIMATE_INTERVAL_MS)
        {
            u64LastEstimate = now;
            const uint64_t elapsed = (now - u64ScanStartTick) / 1000;
            uint64_t speed = elapsed ? off / elapsed : 0;
            if (speed == 0)
                speed = 1;
            nSecondsLeft = int(std::min<uint64_t>((total - off) / speed, INT32_MAX));
        }
        const int percent = int(std::min<uint64_t>(off * 100 / total, MAX_INTERMEDIATE_PERCENT));
        const int answer = ReportScan(percent, nSecondsLeft);
        if (answer != 0)
            return unsigned(answer);
    }
    return 0;
}

void CFastNtfsRecovery::ParsePieceRecords(unsigned char* buf, size_t len, uint64_t firstRecord)
{
    const size_t rb = size_t(nRecordBytes);
    for (size_t i = 0; i + rb <= len; i += rb)
    {
        const uint64_t number = firstRecord + i / rb;
        if (number > 0xFFFFFFFFull)
            return;
        ParseDeletedRecord(buf + i, rb, uint32_t(number));
    }
}

_FILE_NODE_* CFastNtfsRecovery::NewNode()
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

void CFastNtfsRecovery::ParseDeletedRecord(unsigned char* rec, size_t len, uint32_t number)
{
    if (number < NTFS_FIRST_USER_RECORD)
        return;
    NtfsRecordHeader h;
    // Only records that are neither in use nor folders are deleted files;
    // an extension record belongs to a file found through its base record.
    if (!ParseNtfsRecordHeader(rec, len, h) || h.flags != 0 || h.baseRecord != 0)
        return;
    parser.FileRecordFixUp(rec, len);
    NtfsRecordNames names;
    if (!ReadNtfsRecordNames(rec, len, h, names))
        return;
    DataInfo data;
    const int ds = ResolveData(rec, len, h, number, NTFS_TYPE_DATA, data);
    uint64_t size = names.first.realSize;
    if (ds == 0 && data.bHasSize)
        size = data.u64RealSize;
    else if (names.bHasDataSize)
        size = names.u64DataSize;
    const int health = HealthOfData(data, ds, names.strName.c_str(), size);
    const unsigned int parent = names.first.parent;
    const unsigned int level = GetRootParentDirIndex(parent);
    _FILE_NODE_* node = NewNode();
    if (!node)
        return;
    node->bIsDir = 0;
    node->bDataHealth = unsigned(health);
    node->uClusterNO = number;
    node->uClusterSize = geo.bytesPerCluster;
    node->u64CreateTime = names.first.createTime;
    node->u64AccessTime = names.first.accessTime;
    node->u64ModifyTime = names.first.modifyTime;
    node->u64FileSize = size;
    node->u64RecordSector = GetFileRecordIndexSectorOffset(number);
    node->u64PartitionStartSector = u64StartSector;
    CopyUtf8(node->szFileName, sizeof(node->szFileName), names.strName.c_str());
    pResultStore->AddChildren(parent, level, node->uFileIndex, number, nullptr);
}

void CFastNtfsRecovery::NoteAncestor(unsigned int record)
{
    if (setAncestors.insert(record).second)
        vecAncestorIndex.push_back(record);
}

const CFastNtfsRecovery::FolderInfo& CFastNtfsRecovery::ReadFolderInfo(unsigned int record)
{
    auto known = mapFolders.find(record);
    if (known != mapFolders.end())
        return known->second;
    FolderInfo info;
    std::vector<uint8_t> rec(size_t(nRecordBytes), 0);
    NtfsRecordHeader h;
    if (GetFileRecordBuf(record, rec.data(), rec.size()) == STATUS_SUCCESS &&
        ParseNtfsRecordHeader(rec.data(), rec.size(), h))
    {
        parser.FileRecordFixUp(rec.data(), rec.size());
        info.bRecord = true;
        info.bIsDir = (h.flags & NTFS_RECORD_DIRECTORY) != 0;
        NtfsRecordNames names;
        if (ReadNtfsRecordNames(rec.data(), rec.size(), h, names))
        {
            info.bNamed = true;
            info.uParent = names.first.parent;
            info.name = names.first;
            info.name.name = names.strName;
            info.u64Size = names.bHasDataSize ? names.u64DataSize : names.first.realSize;
        }
    }
    return mapFolders.emplace(record, info).first->second;
}

namespace
{
// A folder that can be put in the tree: a record of a folder with a name.
// Anything else named as a parent (a record reused by a file, a record that
// is gone, the volume's own metadata) becomes a lost folder of the root.
template <typename Info> bool IsPlaceable(const Info& f, unsigned int record)
{
    return f.bRecord && f.bIsDir && f.bNamed && record >= NTFS_FIRST_USER_RECORD;
}
} // namespace

unsigned int CFastNtfsRecovery::GetRootParentDirIndex(unsigned int folder)
{
    std::vector<unsigned int> chain;
    std::unordered_set<unsigned int> visited;
    unsigned int level = 0;
    bool cacheable = true;
    unsigned int cur = folder;
    while (cur != NTFS_ROOT_RECORD)
    {
        auto known = mapLevels.find(cur);
        if (known != mapLevels.end())
        {
            level += known->second;
            break;
        }
        if (chain.size() >= MAX_FOLDER_DEPTH || !visited.insert(cur).second)
        {
            // A chain that loops back on itself (or never ends) stops at
            // the first repeat; its levels depend on where a walk starts.
            cacheable = false;
            break;
        }
        NoteAncestor(cur);
        chain.push_back(cur);
        ++level;
        const FolderInfo& f = ReadFolderInfo(cur);
        if (!IsPlaceable(f, cur))
            break;
        cur = f.uParent;
    }
    if (cacheable)
        for (size_t i = 0; i < chain.size(); ++i)
            mapLevels[chain[i]] = level - unsigned(i);
    return level;
}

void CFastNtfsRecovery::RunAncestorPass()
{
    // Folders met while walking up; walks made here may add more, which are
    // taken in their turn (each number once).
    for (size_t i = 0; i < vecAncestorIndex.size(); ++i)
    {
        const unsigned int record = vecAncestorIndex[i];
        const FolderInfo f = ReadFolderInfo(record);
        if (!IsPlaceable(f, record))
        {
            _FILE_NODE_* node = NewNode();
            if (!node)
                return;
            node->bIsDir = 1;
            node->bDataHealth = 1;
            node->uClusterNO = record;
            node->uClusterSize = 0xFFFFFFFF;
            snprintf(node->szFileName, sizeof(node->szFileName), "LostFolder%u", record);
            pResultStore->AddChildren(NTFS_ROOT_RECORD, 0, node->uFileIndex, record, node->szFileName);
            continue;
        }
        const unsigned int level = GetRootParentDirIndex(f.uParent);
        _FILE_NODE_* node = NewNode();
        if (!node)
            return;
        node->bIsDir = 1;
        // A folder has no data of its own to judge; 0 would hide it (and
        // every file below it) whenever its name looks like a picture's.
        node->bDataHealth = 1;
        node->uClusterNO = record;
        node->uClusterSize = geo.bytesPerCluster;
        node->u64CreateTime = f.name.createTime;
        node->u64AccessTime = f.name.accessTime;
        node->u64ModifyTime = f.name.modifyTime;
        node->u64FileSize = f.u64Size;
        node->u64RecordSector = GetFileRecordIndexSectorOffset(record);
        node->u64PartitionStartSector = u64StartSector;
        CopyUtf8(node->szFileName, sizeof(node->szFileName), f.name.name.c_str());
        pResultStore->AddChildren(f.uParent, level, node->uFileIndex, record, node->szFileName);
    }
}
