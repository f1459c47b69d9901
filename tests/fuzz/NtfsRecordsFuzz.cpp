// libFuzzer target: the NTFS record primitives on hostile MFT records.
//
// Input: byte 0 picks the sector size (512, 1024, 2048 or 4096 by its low
// two bits) and so the record size (1024, or one sector); bytes 1-4 the
// volume's cluster count for run placement; the rest is the record, cut or
// zero-padded to the record size in a heap block of exactly that size, so
// any read past it faults.
//
// The run: header decode, fix-up, the attribute walk with every file name
// decoded, every non-resident attribute's run list decoded and placed, every
// resident attribute list decoded, and the raw run-list decoder over the
// record's tail from every 8-byte position.
//
// Checks besides the sanitizers: every attribute the walk returns lies in
// the record and holds its value; a walk takes fewer steps than the record
// has 24-byte headers; runs are fewer than their attribute's bytes; placed
// extents lie on the volume.
#include "core/ByteReader.h"
#include "engines/ntfs/CNtfsParse.h"
#include "engines/ntfs/NtfsLayout.h"
#include "tests/fuzz/FuzzDisk.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5)
        return 0;
    const int bps = 512 << (data[0] & 3);
    const size_t rb = bps == 512 ? 1024 : size_t(bps);
    const uint64_t clusters = tessaroo::ByteReader(data, size).U32(1);
    data += 5;
    size -= 5;
    const std::unique_ptr<uint8_t[]> rec = fuzz::ExactCopy(data, size, rb);

    CNtfsParse parser;
    if (parser.Init(bps) != 0 || parser.GetRecordBytes() != int(rb))
        fuzz::Fail("a supported sector size was refused");
    tessaroo::NtfsRecordHeader h;
    if (tessaroo::ParseNtfsRecordHeader(rec.get(), rb, h))
    {
        parser.FileRecordFixUp(rec.get(), rb);
        if (h.end > rb)
            fuzz::Fail("the walk's end lies past the record");
        tessaroo::CNtfsAttributeWalker walk(rec.get(), rb, h);
        tessaroo::NtfsAttribute a;
        size_t steps = 0;
        while (walk.Next(a))
        {
            if (++steps > rb / tessaroo::NTFS_RESIDENT_HEADER)
                fuzz::Fail("the attribute walk does not move forward");
            if (a.offset > rb || a.length > rb - a.offset || a.valueOffset > a.length ||
                a.valueLength > a.length - a.valueOffset || a.runsOffset > a.length)
                fuzz::Fail("an attribute outside its record");
            tessaroo::NtfsFileName fn;
            tessaroo::ParseNtfsFileName(rec.get(), a, fn);
            if (fn.name.size() > 255 * 3)
                fuzz::Fail("a file name longer than 255 units");
            if (a.nonResident)
            {
                std::vector<__RUNLIST__> runs;
                CNtfsParse::GetRunList(rec.get(), a, runs);
                if (runs.size() > a.length / 2)
                    fuzz::Fail("more runs than bytes to hold them");
                std::vector<tessaroo::NtfsExtent> extents;
                CNtfsParse::PlaceRuns(runs, clusters, extents);
                for (const tessaroo::NtfsExtent& e : extents)
                    if (!e.bSparse && (e.u64Cluster >= clusters || e.u64Count > clusters - e.u64Cluster))
                        fuzz::Fail("an extent off the volume");
                std::vector<__RUNLIST__> joined;
                int64_t startCluster = 0;
                CNtfsParse::AppendPiece(joined, startCluster, runs);
                CNtfsParse::AppendPiece(joined, startCluster, runs);
            }
            else if (a.type == tessaroo::NTFS_TYPE_ATTRIBUTE_LIST)
            {
                const auto entries =
                    tessaroo::ParseNtfsAttributeList(rec.get() + a.offset + a.valueOffset, a.valueLength);
                if (entries.size() > a.valueLength / tessaroo::NTFS_AL_MIN_ENTRY)
                    fuzz::Fail("more list entries than bytes to hold them");
            }
        }
    }
    // The raw decoder over the record's tail, as a deep sweep meets attributes.
    for (size_t off = 0; off + 8 <= rb; off += 8)
    {
        std::vector<__RUNLIST__> runs;
        CNtfsParse::GetRunList(rec.get() + off, rb - off, runs);
        if (runs.size() > (rb - off) / 2)
            fuzz::Fail("more runs than bytes to hold them");
    }
    return 0;
}
