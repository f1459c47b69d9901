#include "engines/ntfs/CNtfsParse.h"

#include "core/ByteReader.h"
#include "core/Status.h"

using namespace tessaroo;

namespace
{
// Width limits of a run header's two fields, as the format writes them.
constexpr unsigned MAX_FIELD_BYTES = 7;
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
