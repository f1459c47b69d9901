#include "engines/ntfs/CNtfsParse.h"

#include "core/ByteReader.h"
#include "core/Status.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <set>

using namespace tessaroo;

namespace
{
// Width limits of a run header's two fields, as the format writes them.
constexpr unsigned MAX_FIELD_BYTES = 7;
// An attribute list longer than this is not read: real lists stay far below
// it even for files of hundreds of thousands of fragments, and the bound
// keeps a damaged list from costing a huge allocation.
constexpr uint64_t MAX_LIST_BYTES = 256 * 1024;
// Records read for the names an attribute list places elsewhere.
constexpr size_t MAX_NAME_RECORDS = 16;
// Data moves through one buffer of this size per copy.
constexpr size_t TRANSFER_BYTES = 64 * 1024;

bool IsWanted(const NtfsAttribute& a, uint32_t type)
{
    // A file's contents are its unnamed data stream; named streams are
    // other data of the file.
    return a.type == type && (type != NTFS_TYPE_DATA || a.nameLength == 0);
}

// The value of an attribute list, resident or on the volume.
unsigned int ReadListValue(INtfsVolume& vol, const unsigned char* rec, const NtfsAttribute& list,
                           std::vector<uint8_t>& value)
{
    value.clear();
    if (!list.nonResident)
    {
        const unsigned char* v = rec + list.offset + list.valueOffset;
        value.assign(v, v + list.valueLength);
        return STATUS_SUCCESS;
    }
    if (!list.hasRealSize)
        return STATUS_SUCCESS;
    std::vector<__RUNLIST__> runs;
    CNtfsParse::GetRunList(rec, list, runs);
    std::vector<NtfsExtent> extents;
    CNtfsParse::PlaceRuns(runs, vol.VolumeClusters(), extents);
    const uint64_t want = std::min<uint64_t>(list.realSize, MAX_LIST_BYTES);
    try
    {
        value.reserve(size_t(want));
        std::vector<uint8_t> piece;
        for (const NtfsExtent& e : extents)
        {
            if (value.size() >= want)
                break;
            const uint64_t bytes = std::min<uint64_t>(e.u64Count * vol.ClusterBytes(), want - value.size());
            if (e.bSparse)
            {
                value.insert(value.end(), size_t(bytes), 0);
                continue;
            }
            piece.assign(size_t((bytes + 511) / 512 * 512), 0);
            unsigned int st =
                vol.ReadSectors(vol.ClusterSector(e.u64Cluster), piece.data(), uint32_t(piece.size() / 512));
            if (st != STATUS_SUCCESS)
                return st;
            value.insert(value.end(), piece.begin(), piece.begin() + ptrdiff_t(bytes));
        }
    }
    catch (const std::bad_alloc&)
    {
        return STATUS_NOT_ENOUGH_MEMORY;
    }
    return STATUS_SUCCESS;
}
} // namespace

CNtfsParse::CNtfsParse() : nFixupCount(2), nBytesPerSector(512), nRecordBytes(1024) {}

int CNtfsParse::Init(int bytesPerSector)
{
    if (bytesPerSector <= 0 || !IsNtfsSectorSizeSupported(uint32_t(bytesPerSector)))
        return int(STATUS_INVALID_PARAMETER);
    nBytesPerSector = bytesPerSector;
    nRecordBytes = bytesPerSector == 512 ? 1024 : bytesPerSector;
    nFixupCount = nRecordBytes / int(NTFS_FIXUP_STRIDE);
    return 0;
}

int CNtfsParse::FileRecordFixUp(unsigned char* record, size_t len) const
{
    if (!record || record[0] == 0 || len < size_t(nRecordBytes))
        return -1;
    for (int i = 0; i < nFixupCount; ++i)
    {
        const size_t from = NTFS_REC_UPDATE_ARRAY + 2 * size_t(i);
        const size_t to = NTFS_FIXUP_STRIDE * size_t(i + 1) - 2;
        record[to] = record[from];
        record[to + 1] = record[from + 1];
    }
    return 0;
}

void CNtfsParse::GetRunList(const uint8_t* rec, const NtfsAttribute& a, std::vector<__RUNLIST__>& runs)
{
    if (!rec || !a.nonResident)
        return;
    GetRunList(rec + a.offset, a.length, runs);
}

void CNtfsParse::GetRunList(const unsigned char* attribute, size_t attrLen, std::vector<__RUNLIST__>& runs)
{
    ByteReader whole(attribute, attrLen);
    uint32_t declared = 0;
    uint16_t p = 0;
    if (!whole.ReadU32(NTFS_ATTR_LENGTH, declared) || !whole.ReadU16(NTFS_ATTR_RUNS_OFFSET, p))
        return;
    const size_t end = declared < attrLen ? declared : attrLen;
    ByteReader r(attribute, end);
    size_t pos = p;
    // Every run takes at least two bytes, so the list ends within the attribute.
    while (pos < end)
    {
        const uint8_t h = r.U8(pos);
        const unsigned a = h & 0x0F, b = h >> 4;
        if (h == 0 || a == 0 || a > MAX_FIELD_BYTES || b > MAX_FIELD_BYTES || !r.Fits(pos + 1, size_t(a) + b))
            return;
        uint64_t count = 0;
        r.ReadUN(pos + 1, a, count);
        __RUNLIST__ run;
        run.u64ClusterCount = count & 0xFFFFFFFFull;
        if (b == 0)
            run.bSparse = true;
        else
            r.ReadSN(pos + 1 + a, b, run.i64ClusterOffset);
        runs.push_back(run);
        pos += 1 + size_t(a) + b;
    }
}

void CNtfsParse::AppendPiece(std::vector<__RUNLIST__>& runs, int64_t& runningStart,
                             const std::vector<__RUNLIST__>& piece)
{
    int64_t pieceStart = 0;
    bool first = true;
    for (__RUNLIST__ run : piece)
    {
        if (!run.bSparse)
        {
            int64_t abs = 0;
            if (__builtin_add_overflow(pieceStart, run.i64ClusterOffset, &abs))
                return;
            pieceStart = abs;
            if (first)
            {
                // The piece's first start is absolute; make it relative to
                // the last start of the pieces before it.
                int64_t rel = 0;
                if (__builtin_sub_overflow(abs, runningStart, &rel))
                    return;
                run.i64ClusterOffset = rel;
                first = false;
            }
            runningStart = abs;
        }
        runs.push_back(run);
    }
}

uint64_t CNtfsParse::PlaceRuns(const std::vector<__RUNLIST__>& runs, uint64_t totalClusters,
                               std::vector<NtfsExtent>& extents)
{
    int64_t start = 0;
    uint64_t placed = 0;
    for (const __RUNLIST__& run : runs)
    {
        if (run.u64ClusterCount == 0)
            continue;
        NtfsExtent e;
        e.u64Count = run.u64ClusterCount;
        if (run.bSparse)
        {
            e.bSparse = true;
            extents.push_back(e);
            placed += e.u64Count;
            continue;
        }
        if (__builtin_add_overflow(start, run.i64ClusterOffset, &start) || start < 0 ||
            uint64_t(start) >= totalClusters)
            break; // a run outside the volume: the list is damaged from here on
        e.u64Cluster = uint64_t(start);
        const bool cut = e.u64Count > totalClusters - e.u64Cluster;
        if (cut)
            e.u64Count = totalClusters - e.u64Cluster;
        extents.push_back(e);
        placed += e.u64Count;
        if (cut)
            break;
    }
    return placed;
}

int CNtfsParse::ResolveData(INtfsVolume& vol, const unsigned char* rec, size_t len, const NtfsRecordHeader& h,
                            unsigned int number, uint32_t type, NtfsDataInfo& out) const
{
    out = NtfsDataInfo();
    CNtfsAttributeWalker walk(rec, len, h);
    NtfsAttribute a, found, list;
    bool hasFound = false, hasList = false;
    while (walk.Next(a))
    {
        if (a.type == NTFS_TYPE_ATTRIBUTE_LIST && !hasList)
        {
            list = a;
            hasList = true;
        }
        if (IsWanted(a, type) && !hasFound)
        {
            found = a;
            hasFound = true;
        }
    }
    if (hasFound && !found.nonResident)
    {
        out.bResident = true;
        const unsigned char* v = rec + found.offset + found.valueOffset;
        out.vecResident.assign(v, v + found.valueLength);
        out.bHasSize = true;
        out.u64RealSize = found.valueLength;
        return 0;
    }
    // With an attribute list the pieces may lie in other records; the list
    // names them all, the one in this record included.
    if (hasList)
        return CollectListPieces(vol, rec, len, h, list, number, type, out);
    if (!hasFound || found.startVcn != 0)
        return STATUS_NTFS_NO_DATA;
    GetRunList(rec, found, out.vecRuns);
    out.bHasSize = found.hasRealSize;
    out.u64RealSize = found.realSize;
    out.bHasValid = found.hasInitializedSize;
    out.u64ValidSize = found.initializedSize;
    return 0;
}

int CNtfsParse::CollectListPieces(INtfsVolume& vol, const unsigned char* rec, size_t len,
                                  const NtfsRecordHeader& h, const NtfsAttribute& list, unsigned int number,
                                  uint32_t type, NtfsDataInfo& out) const
{
    std::vector<uint8_t> value;
    if (ReadListValue(vol, rec, list, value) != STATUS_SUCCESS)
        return STATUS_NTFS_NO_DATA;
    const std::vector<NtfsListEntry> entries = ParseNtfsAttributeList(value.data(), value.size());
    std::vector<uint8_t> other;
    int64_t runningStart = 0;
    uint64_t nextVcn = 0;
    bool any = false;
    for (const NtfsListEntry& e : entries)
    {
        if (e.type != type || (type == NTFS_TYPE_DATA && e.nameLength != 0))
            continue;
        // Pieces are joined only while each starts where the last ended: a
        // piece out of place cannot be put on the file's clusters. An entry
        // for clusters already placed (a damaged list names one twice) adds
        // nothing.
        if (any && e.startVcn < nextVcn)
            continue;
        if (e.startVcn != nextVcn)
            break;
        const unsigned char* holder = rec;
        size_t holderLen = len;
        NtfsRecordHeader hh = h;
        if (e.record != number)
        {
            other.assign(size_t(nRecordBytes), 0);
            if (vol.ReadRecordByNumber(e.record, other.data(), other.size()) != STATUS_SUCCESS ||
                !ParseNtfsRecordHeader(other.data(), other.size(), hh))
                break;
            // A record given back to the MFT may since hold another file's
            // attributes: only one that still names this file as its base,
            // and is in use exactly when this file is, is one of its pieces.
            if (hh.baseRecord != number || ((hh.flags ^ h.flags) & NTFS_RECORD_IN_USE) != 0)
                break;
            FileRecordFixUp(other.data(), other.size());
            holder = other.data();
            holderLen = other.size();
        }
        CNtfsAttributeWalker walk(holder, holderLen, hh);
        NtfsAttribute a;
        bool found = false;
        while (walk.Next(a))
            if (IsWanted(a, type) && (!a.nonResident || a.startVcn == e.startVcn))
            {
                found = true;
                break;
            }
        if (!found)
            break;
        if (!a.nonResident)
        {
            // Resident data named by a list: the whole of it, if it is first.
            if (any)
                break;
            out.bResident = true;
            const unsigned char* v = holder + a.offset + a.valueOffset;
            out.vecResident.assign(v, v + a.valueLength);
            out.bHasSize = true;
            out.u64RealSize = a.valueLength;
            return 0;
        }
        std::vector<__RUNLIST__> piece;
        GetRunList(holder, a, piece);
        AppendPiece(out.vecRuns, runningStart, piece);
        if (e.startVcn == 0)
        {
            out.bHasSize = a.hasRealSize;
            out.u64RealSize = a.realSize;
            out.bHasValid = a.hasInitializedSize;
            out.u64ValidSize = a.initializedSize;
        }
        any = true;
        if (a.lastVcn < a.startVcn || a.lastVcn == UINT64_MAX)
            break;
        nextVcn = a.lastVcn + 1;
    }
    return any ? 0 : STATUS_NTFS_NO_DATA;
}

std::vector<NtfsFileName> CNtfsParse::ListedFileNames(INtfsVolume& vol, const unsigned char* rec, size_t len,
                                                      const NtfsRecordHeader& h, unsigned int number) const
{
    std::vector<NtfsFileName> names;
    CNtfsAttributeWalker walk(rec, len, h);
    NtfsAttribute list;
    bool hasList = false;
    while (!hasList && walk.Next(list))
        hasList = list.type == NTFS_TYPE_ATTRIBUTE_LIST;
    std::vector<uint8_t> value;
    if (!hasList || ReadListValue(vol, rec, list, value) != STATUS_SUCCESS)
        return names;
    // A file has a handful of names (hard links); a list naming more
    // records for them is damaged, and each costs a read.
    std::set<uint64_t> holders;
    for (const NtfsListEntry& e : ParseNtfsAttributeList(value.data(), value.size()))
        if (e.type == NTFS_TYPE_FILE_NAME && e.record != number && holders.size() < MAX_NAME_RECORDS)
            holders.insert(e.record);
    std::vector<uint8_t> other(size_t(nRecordBytes), 0);
    for (uint64_t holder : holders)
    {
        NtfsRecordHeader hh;
        if (vol.ReadRecordByNumber(holder, other.data(), other.size()) != STATUS_SUCCESS ||
            !ParseNtfsRecordHeader(other.data(), other.size(), hh) || hh.baseRecord != number ||
            ((hh.flags ^ h.flags) & NTFS_RECORD_IN_USE) != 0)
            continue;
        FileRecordFixUp(other.data(), other.size());
        CNtfsAttributeWalker walkOther(other.data(), other.size(), hh);
        NtfsAttribute a;
        while (walkOther.Next(a))
        {
            NtfsFileName fn;
            if (ParseNtfsFileName(other.data(), a, fn))
                names.push_back(fn);
        }
    }
    return names;
}

unsigned int CNtfsParse::CopyData(INtfsVolume& vol, const NtfsDataInfo& d, uint64_t limit,
                                  const std::function<unsigned int(const unsigned char*, size_t)>& sink,
                                  const std::function<int(int)>& progress, uint64_t& copied)
{
    copied = 0;
    unsigned int st = STATUS_SUCCESS;
    if (d.bResident)
    {
        // Only the bytes the record holds: a size beyond them is a file
        // kept incomplete, never padded from an earlier buffer.
        const size_t n = size_t(std::min<uint64_t>(limit, d.vecResident.size()));
        if (n > 0 && (st = sink(d.vecResident.data(), n)) != STATUS_SUCCESS)
            return st;
        copied = n;
        return n < limit ? STATUS_READ_FAULT : STATUS_SUCCESS;
    }
    const uint64_t clusterBytes = vol.ClusterBytes();
    if (clusterBytes == 0 || clusterBytes % 512 != 0)
        return STATUS_INVALID_PARAMETER;
    std::vector<NtfsExtent> extents;
    PlaceRuns(d.vecRuns, vol.VolumeClusters(), extents);
    // Bytes past the initialised length read as zeros, whatever the
    // clusters there hold.
    const uint64_t valid = d.bHasValid ? d.u64ValidSize : UINT64_MAX;
    std::vector<uint8_t> buf;
    try
    {
        buf.resize(TRANSFER_BYTES);
    }
    catch (const std::bad_alloc&)
    {
        return STATUS_NOT_ENOUGH_MEMORY;
    }
    uint64_t remaining = limit, fileOffset = 0;
    for (const NtfsExtent& e : extents)
    {
        const uint64_t extentBytes = e.u64Count * clusterBytes;
        for (uint64_t done = 0; done < extentBytes && remaining > 0;)
        {
            const size_t n = size_t(std::min<uint64_t>({TRANSFER_BYTES, extentBytes - done, remaining}));
            if (e.bSparse || fileOffset >= valid)
                memset(buf.data(), 0, n); // a hole holds no clusters: it reads as zeros
            else
            {
                st = vol.ReadSectors(vol.ClusterSector(e.u64Cluster) + done / 512, buf.data(),
                                     uint32_t((n + 511) / 512));
                if (st != STATUS_SUCCESS)
                    return st;
                if (valid - fileOffset < n)
                    memset(buf.data() + (valid - fileOffset), 0, size_t(n - (valid - fileOffset)));
            }
            if ((st = sink(buf.data(), n)) != STATUS_SUCCESS)
                return st;
            copied += n;
            remaining -= n;
            done += n;
            fileOffset += n;
            if (remaining > 0)
            {
                const int answer = progress(int(copied * 100 / limit));
                if (answer != 0)
                    return unsigned(answer);
            }
        }
        if (remaining == 0)
            break;
    }
    // The runs ended before the file did: what they held is kept, incomplete.
    return remaining > 0 ? STATUS_READ_FAULT : STATUS_SUCCESS;
}

bool CNtfsParse::FirstDataSector(INtfsVolume& vol, const NtfsDataInfo& d, uint64_t& abs)
{
    if (d.bResident)
        return false;
    std::vector<NtfsExtent> extents;
    PlaceRuns(d.vecRuns, vol.VolumeClusters(), extents);
    if (extents.empty() || extents[0].bSparse)
        return false;
    abs = vol.ClusterSector(extents[0].u64Cluster);
    return true;
}
