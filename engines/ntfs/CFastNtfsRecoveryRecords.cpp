// Records and runs of the fast NTFS engine: where a record lies in the MFT,
// reading records, the data runs of a record (through its attribute list
// when it has one), and the volume bitmap.
#include "engines/ntfs/CFastNtfsRecovery.h"

#include "core/ByteReader.h"
#include "core/Log.h"
#include "core/Status.h"

#include <algorithm>
#include <cstring>
#include <new>

using namespace tessaroo;

namespace
{
// Pieces read from the device at a time when filling a buffer from runs.
constexpr uint64_t READ_PIECE_BYTES = 1024 * 1024;

bool IsWanted(const NtfsAttribute& a, uint32_t type)
{
    // A file's contents are its unnamed data stream; named streams are
    // other data of the file.
    return a.type == type && (type != NTFS_TYPE_DATA || a.nameLength == 0);
}
} // namespace

unsigned int CFastNtfsRecovery::ReadVolume(unsigned char* buf, uint64_t abs512, uint32_t units)
{
    if (units == 0 || abs512 < u64StartSector || abs512 > (uint64_t)INT64_MAX)
        return STATUS_INVALID_PARAMETER;
    unsigned int got = 0;
    unsigned int st = reader.ReadData(buf, int(units), (long long)abs512, 512, &got);
    if (st == STATUS_SUCCESS)
        return STATUS_SUCCESS;
    return st;
}

uint64_t CFastNtfsRecovery::VolumeClusters() const
{
    if (!bGeometryValid)
        return 0;
    // The volume as the boot sector states it, within the range opened.
    const uint64_t opened = u64SectorCount / geo.unitsPerSector;
    const uint64_t sectors = std::min<uint64_t>(geo.totalSectors, opened);
    return sectors / geo.sectorsPerCluster;
}

void CFastNtfsRecovery::SetMftRuns(const std::vector<__RUNLIST__>& runs)
{
    vecMftRunList = runs;
    vecMftExtents.clear();
    vecMftExtentEnds.clear();
    CNtfsParse::PlaceRuns(runs, VolumeClusters(), vecMftExtents);
    uint64_t end = 0;
    for (const NtfsExtent& e : vecMftExtents)
    {
        end += e.u64Count * geo.bytesPerCluster;
        vecMftExtentEnds.push_back(end);
    }
}

uint64_t CFastNtfsRecovery::MftBytes() const
{
    return vecMftExtentEnds.empty() ? 0 : vecMftExtentEnds.back();
}

void CFastNtfsRecovery::LoadMftRunList()
{
    SetMftRuns({});
    std::vector<uint8_t> rec(size_t(nRecordBytes), 0);
    NtfsRecordHeader h;
    if (ReadRecordAt(u64MftStartSector, rec.data(), rec.size()) != STATUS_SUCCESS ||
        !ParseNtfsRecordHeader(rec.data(), rec.size(), h))
    {
        CoreLog("CFastNtfsRecovery: no MFT record at sector %llu\n", u64MftStartSector);
        return;
    }
    parser.FileRecordFixUp(rec.data(), rec.size());
    // The MFT's first piece locates the records that may hold its others.
    CNtfsAttributeWalker walk(rec.data(), rec.size(), h);
    NtfsAttribute a;
    bool hasList = false;
    while (walk.Next(a))
    {
        if (a.type == NTFS_TYPE_ATTRIBUTE_LIST)
            hasList = true;
        if (IsWanted(a, NTFS_TYPE_DATA) && a.nonResident && a.startVcn == 0 && vecMftRunList.empty())
        {
            std::vector<__RUNLIST__> runs;
            CNtfsParse::GetRunList(rec.data(), a, runs);
            SetMftRuns(runs);
        }
    }
    if (!hasList)
        return;
    DataInfo d;
    if (ResolveData(rec.data(), rec.size(), h, NTFS_MFT_RECORD, NTFS_TYPE_DATA, d) == 0 && !d.bResident)
    {
        std::vector<NtfsExtent> all;
        if (CNtfsParse::PlaceRuns(d.vecRuns, VolumeClusters(), all) * geo.bytesPerCluster > MftBytes())
            SetMftRuns(d.vecRuns);
    }
}

unsigned int CFastNtfsRecovery::ReadMft(uint64_t off, unsigned char* buf, size_t len)
{
    while (len > 0)
    {
        auto it = std::upper_bound(vecMftExtentEnds.begin(), vecMftExtentEnds.end(), off);
        if (it == vecMftExtentEnds.end())
            return STATUS_INVALID_PARAMETER;
        const size_t k = size_t(it - vecMftExtentEnds.begin());
        const NtfsExtent& e = vecMftExtents[k];
        if (e.bSparse)
            return STATUS_INVALID_PARAMETER; // no record lives in a hole
        const uint64_t extentBytes = e.u64Count * geo.bytesPerCluster;
        const uint64_t inExtent = off - (*it - extentBytes);
        const size_t n = size_t(std::min<uint64_t>(len, *it - off));
        unsigned int st = ReadVolume(buf, ClusterToAbs(e.u64Cluster) + inExtent / 512, uint32_t(n / 512));
        if (st != STATUS_SUCCESS)
            return st;
        buf += n;
        off += n;
        len -= n;
    }
    return STATUS_SUCCESS;
}

unsigned int CFastNtfsRecovery::GetFileRecordBuf(unsigned int record, unsigned char* buf, size_t len)
{
    if (!buf || len < size_t(nRecordBytes))
        return STATUS_INVALID_PARAMETER;
    const uint64_t off = uint64_t(record) * unsigned(nRecordBytes);
    if (off >= MftBytes() || MftBytes() - off < unsigned(nRecordBytes))
        return STATUS_INVALID_PARAMETER;
    // A record may straddle two runs of the MFT; ReadMft follows them.
    return ReadMft(off, buf, size_t(nRecordBytes));
}

unsigned int CFastNtfsRecovery::ReadRecordByNumber(uint64_t number, unsigned char* buf, size_t len)
{
    if (number > 0xFFFFFFFFull)
        return STATUS_INVALID_PARAMETER;
    return GetFileRecordBuf(unsigned(number), buf, len);
}

unsigned long long CFastNtfsRecovery::GetFileRecordIndexSectorOffset(unsigned long long record)
{
    if (record > 0xFFFFFFFFull)
        return u64StartSector;
    const uint64_t off = record * unsigned(nRecordBytes);
    auto it = std::upper_bound(vecMftExtentEnds.begin(), vecMftExtentEnds.end(), off);
    if (it == vecMftExtentEnds.end())
        return u64StartSector;
    const NtfsExtent& e = vecMftExtents[size_t(it - vecMftExtentEnds.begin())];
    if (e.bSparse)
        return u64StartSector;
    const uint64_t inExtent = off - (*it - e.u64Count * geo.bytesPerCluster);
    return ClusterToAbs(e.u64Cluster) + inExtent / 512;
}

unsigned int CFastNtfsRecovery::ReadRecordAt(uint64_t abs512, unsigned char* buf, size_t len)
{
    if (!buf || len < size_t(nRecordBytes))
        return STATUS_INVALID_PARAMETER;
    return ReadVolume(buf, abs512, uint32_t(nRecordBytes / 512));
}

unsigned int CFastNtfsRecovery::ReadNodeRecord(const _FILE_NODE_* node, unsigned char* buf, size_t len)
{
    if (GetFileRecordIndexSectorOffset(node->uClusterNO) == node->u64RecordSector &&
        node->u64RecordSector != u64StartSector)
        return GetFileRecordBuf(node->uClusterNO, buf, len);
    return ReadRecordAt(node->u64RecordSector, buf, len);
}

int CFastNtfsRecovery::Get0X20RunList(const unsigned char* rec, size_t len, const NtfsAttribute& list,
                                      unsigned int number, int type, std::vector<__RUNLIST__>& runs)
{
    NtfsRecordHeader h;
    if (!rec || !ParseNtfsRecordHeader(rec, len, h) || list.type != NTFS_TYPE_ATTRIBUTE_LIST)
        return STATUS_NTFS_NO_DATA;
    DataInfo d;
    const int st = parser.CollectListPieces(*this, rec, len, h, list, number, uint32_t(type), d);
    if (st == 0)
        runs.insert(runs.end(), d.vecRuns.begin(), d.vecRuns.end());
    return st;
}

int CFastNtfsRecovery::GetRunListInfo(unsigned long long recordSector, int type,
                                      std::vector<__RUNLIST__>& runs)
{
    std::vector<uint8_t> rec(size_t(nRecordBytes), 0);
    NtfsRecordHeader h;
    unsigned int st = ReadRecordAt(recordSector, rec.data(), rec.size());
    if (st != STATUS_SUCCESS)
        return int(st);
    if (!ParseNtfsRecordHeader(rec.data(), rec.size(), h))
        return STATUS_NTFS_FAILED;
    parser.FileRecordFixUp(rec.data(), rec.size());
    DataInfo d;
    if (ResolveData(rec.data(), rec.size(), h, h.recordNumber, uint32_t(type), d) != 0 || d.bResident)
        return STATUS_NTFS_NO_DATA;
    runs.insert(runs.end(), d.vecRuns.begin(), d.vecRuns.end());
    return 0;
}

int CFastNtfsRecovery::GetBitMapRealBytesSize(unsigned long long recordSector, unsigned long long& size)
{
    std::vector<uint8_t> rec(size_t(nRecordBytes), 0);
    NtfsRecordHeader h;
    unsigned int st = ReadRecordAt(recordSector, rec.data(), rec.size());
    if (st != STATUS_SUCCESS)
        return int(st);
    if (!ParseNtfsRecordHeader(rec.data(), rec.size(), h))
        return STATUS_NTFS_FAILED;
    parser.FileRecordFixUp(rec.data(), rec.size());
    DataInfo d;
    if (ResolveData(rec.data(), rec.size(), h, h.recordNumber, NTFS_TYPE_DATA, d) != 0 || !d.bHasSize)
        return int(STATUS_INVALID_PARAMETER);
    size = d.u64RealSize;
    return 0;
}

int CFastNtfsRecovery::GetAttr0x80Data(unsigned long long recordSector, unsigned char* buf, size_t bufLen,
                                       unsigned& length)
{
    length = 0;
    std::vector<uint8_t> rec(size_t(nRecordBytes), 0);
    NtfsRecordHeader h;
    unsigned int st = ReadRecordAt(recordSector, rec.data(), rec.size());
    if (st != STATUS_SUCCESS)
        return int(st);
    if (!ParseNtfsRecordHeader(rec.data(), rec.size(), h))
        return STATUS_NTFS_BAD_RUN;
    parser.FileRecordFixUp(rec.data(), rec.size());
    DataInfo d;
    if (ResolveData(rec.data(), rec.size(), h, h.recordNumber, NTFS_TYPE_DATA, d) != 0 || !d.bResident)
        return STATUS_NTFS_BAD_RUN;
    if (!buf || d.vecResident.size() > bufLen)
        return int(STATUS_INVALID_PARAMETER);
    if (!d.vecResident.empty())
        memcpy(buf, d.vecResident.data(), d.vecResident.size());
    length = unsigned(d.vecResident.size());
    return 0;
}

unsigned int CFastNtfsRecovery::BuildBitMapInfo()
{
    pBitmap.clear();
    u64BitmapBytes = 0;
    if (!bGeometryValid)
        return STATUS_INVALID_PARAMETER;
    std::vector<uint8_t> rec(size_t(nRecordBytes), 0);
    unsigned int st = GetFileRecordBuf(NTFS_BITMAP_RECORD, rec.data(), rec.size());
    if (st != STATUS_SUCCESS)
        return st;
    NtfsRecordHeader h;
    if (!ParseNtfsRecordHeader(rec.data(), rec.size(), h))
        return unsigned(STATUS_NTFS_FAILED);
    parser.FileRecordFixUp(rec.data(), rec.size());
    DataInfo d;
    if (ResolveData(rec.data(), rec.size(), h, NTFS_BITMAP_RECORD, NTFS_TYPE_DATA, d) != 0)
        return unsigned(STATUS_NTFS_NO_DATA);
    // One bit per cluster: a bitmap that claims more is read no further.
    const uint64_t cap = (VolumeClusters() + 7) / 8;
    const uint64_t want = std::min<uint64_t>(d.bHasSize ? d.u64RealSize : 0, cap);
    try
    {
        pBitmap.assign(size_t(want), 0);
    }
    catch (const std::bad_alloc&)
    {
        return STATUS_NOT_ENOUGH_MEMORY;
    }
    u64BitmapBytes = want;
    if (d.bResident)
    {
        const size_t n = size_t(std::min<uint64_t>(want, d.vecResident.size()));
        if (n > 0)
            memcpy(pBitmap.data(), d.vecResident.data(), n);
        return STATUS_SUCCESS;
    }
    std::vector<NtfsExtent> extents;
    CNtfsParse::PlaceRuns(d.vecRuns, VolumeClusters(), extents);
    std::vector<uint8_t> piece;
    uint64_t filled = 0;
    for (const NtfsExtent& e : extents)
    {
        const uint64_t extentBytes = e.u64Count * geo.bytesPerCluster;
        for (uint64_t done = 0; done < extentBytes && filled < want;)
        {
            const uint64_t n = std::min<uint64_t>({extentBytes - done, want - filled, READ_PIECE_BYTES});
            // Bytes that cannot be read stay 0: their clusters are swept as
            // free, which costs time but loses nothing.
            if (!e.bSparse)
            {
                piece.assign(size_t((n + 511) / 512 * 512), 0);
                if (ReadVolume(piece.data(), ClusterToAbs(e.u64Cluster) + done / 512,
                               uint32_t(piece.size() / 512)) == STATUS_SUCCESS)
                    memcpy(pBitmap.data() + filled, piece.data(), size_t(n));
            }
            done += n;
            filled += n;
        }
    }
    return STATUS_SUCCESS;
}

unsigned int CFastNtfsRecovery::GetUnUsedSectorCount(unsigned long long& start, unsigned long long& count)
{
    count = 0;
    if (start > u64SectorCount)
    {
        start = u64SectorCount;
        return 1;
    }
    if (pBitmap.empty() || !bGeometryValid)
        return 1;
    const uint64_t upc = geo.unitsPerCluster;
    const uint64_t bits = std::min<uint64_t>(uint64_t(pBitmap.size()) * 8, VolumeClusters());
    const uint64_t c = start / upc;
    if (c >= bits)
        return 1;
    auto isSet = [&](uint64_t k) { return (pBitmap[size_t(k / 8)] >> (k % 8)) & 1; };
    uint64_t i = c;
    while (i < bits)
    {
        if (i % 8 == 0 && pBitmap[size_t(i / 8)] == 0xFF)
            i += 8;
        else if (isSet(i))
            ++i;
        else
            break;
    }
    if (i >= bits)
        return 1; // no free cluster from here on: the sector stays, the count is 0
    const uint64_t runStart = i == c ? start : i * upc;
    uint64_t j = i;
    while (j < bits)
    {
        if (j % 8 == 0 && pBitmap[size_t(j / 8)] == 0)
            j += 8;
        else if (!isSet(j))
            ++j;
        else
            break;
    }
    const uint64_t runEnd = std::min<uint64_t>(std::min(j, bits) * upc, u64SectorCount);
    start = runStart;
    count = runEnd > runStart ? runEnd - runStart : 0;
    return 1;
}
