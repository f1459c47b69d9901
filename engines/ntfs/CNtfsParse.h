// The record primitives both NTFS engines embed: the update-sequence fix-up
// that restores a file record's block tails, and the one run-list decoder
// and run placer that turn a non-resident attribute into clusters of the
// volume. Nothing here reads the device; the engines hand buffers in.
#pragma once

#include "engines/ntfs/NtfsLayout.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace tessaroo
{
// The volume an NTFS engine reads a record's other records and clusters
// from: the fast engine's own volume, or a volume the deep engine inferred
// from the records it found. Positions are absolute 512-byte sectors.
class INtfsVolume
{
  public:
    virtual ~INtfsVolume() = default;
    // Clusters runs may be placed on, and bytes per cluster (a multiple of 512).
    virtual uint64_t VolumeClusters() const = 0;
    virtual uint32_t ClusterBytes() const = 0;
    // Absolute sector of a cluster of the volume.
    virtual uint64_t ClusterSector(uint64_t cluster) const = 0;
    // Reads units 512-byte sectors at abs512 into buf. 0 or the reader's status.
    virtual unsigned int ReadSectors(uint64_t abs512, unsigned char* buf, uint32_t units) = 0;
    // Reads record number of the volume's MFT into buf (len bytes, at least
    // a record), as stored. 0; 87 when the MFT does not hold it; the reader's status.
    virtual unsigned int ReadRecordByNumber(uint64_t number, unsigned char* buf, size_t len) = 0;
};
} // namespace tessaroo

class CNtfsParse
{
  public:
    CNtfsParse();

    // Stores the volume's sector size (512, 1024, 2048 or 4096) and derives
    // the record size from it: 1024 bytes for 512-byte sectors, one sector
    // otherwise. The fix-up repairs every 512-byte block of a record, as the
    // update sequence protects them, so a 4096-byte record has 8 tails.
    // Returns 0, or 87 for another size (the parser then keeps its state).
    int Init(int bytesPerSector);

    int GetBytesPerSector() const { return nBytesPerSector; }
    int GetRecordBytes() const { return nRecordBytes; }
    int GetFixupCount() const { return nFixupCount; }

    // Writes the update-sequence array (the words from 0x32 on) over the
    // last two bytes of each 512-byte block of a record of len bytes. The
    // tails are not compared first: a torn record is repaired all the same.
    // Returns 0; -1 for a null record, one whose first byte is 0, or a len
    // shorter than a record (nothing is changed then).
    int FileRecordFixUp(unsigned char* record, size_t len) const;

    // Appends the runs of a non-resident attribute to runs. The list runs
    // from the attribute's run-list offset to its end; it stops at a 0
    // header byte, a header whose length or offset width is 0 or above 7
    // (a 5-to-7-byte length keeps its low 32 bits), or a run that does not
    // fit in the attribute. Runs already decoded stay appended.
    static void GetRunList(const uint8_t* rec, const tessaroo::NtfsAttribute& a,
                           std::vector<__RUNLIST__>& runs);
    // The same for attribute bytes given alone (attrLen readable bytes; the
    // attribute's own length field is honoured when shorter).
    static void GetRunList(const unsigned char* attribute, size_t attrLen, std::vector<__RUNLIST__>& runs);

    // Appends the runs of one more piece (extent) of an attribute, whose
    // run list starts afresh at cluster 0, to runs of the pieces before it,
    // rewriting its first start relative to theirs. runningStart carries
    // the start of the last placed run across calls (0 before the first).
    static void AppendPiece(std::vector<__RUNLIST__>& runs, int64_t& runningStart,
                            const std::vector<__RUNLIST__>& piece);

    // Places runs on a volume of totalClusters clusters, appending extents
    // in order. A run that starts outside the volume ends the list there; a
    // run that crosses its end is cut at the end and ends the list. Returns
    // the clusters placed (sparse ones included).
    static uint64_t PlaceRuns(const std::vector<__RUNLIST__>& runs, uint64_t totalClusters,
                              std::vector<tessaroo::NtfsExtent>& extents);

    // The data of the first attribute of type (the unnamed stream for data)
    // of the fixed-up record rec (len bytes), which is record number number
    // of vol: resident bytes, or its runs with sizes. With an attribute list
    // the pieces are those CollectListPieces joins. 0, -100 when there is
    // no such data.
    int ResolveData(tessaroo::INtfsVolume& vol, const unsigned char* rec, size_t len,
                    const tessaroo::NtfsRecordHeader& h, unsigned int number, uint32_t type,
                    tessaroo::NtfsDataInfo& out) const;
    // The pieces of attribute type named by the attribute list list of rec.
    // A piece is taken from a record that names number as its base and is
    // in use exactly when rec is; pieces are joined while each starts where
    // the last ended. Lists inside those records are never followed. 0 when
    // the first piece was found, else -100.
    int CollectListPieces(tessaroo::INtfsVolume& vol, const unsigned char* rec, size_t len,
                          const tessaroo::NtfsRecordHeader& h, const tessaroo::NtfsAttribute& list,
                          unsigned int number, uint32_t type, tessaroo::NtfsDataInfo& out) const;

    // The file-name attributes a record's attribute list places in its
    // extension records (a file of many pieces may keep its names there),
    // each decoded, in list order; the same base and in-use checks as for
    // data pieces. Empty when there are none.
    std::vector<tessaroo::NtfsFileName> ListedFileNames(tessaroo::INtfsVolume& vol, const unsigned char* rec,
                                                        size_t len, const tessaroo::NtfsRecordHeader& h,
                                                        unsigned int number) const;

    // Hands the first limit bytes of the data d describes to sink, in pieces
    // of at most 64 KiB, calling progress(percent) after each piece but the
    // last (a non-zero answer stops the copy with it). Holes and bytes past
    // the initialised size are zeros; resident data gives only the bytes the
    // record holds. 0; 30 when the data ends before limit (copied says how
    // far it went); a read's or the sink's status.
    static unsigned int CopyData(tessaroo::INtfsVolume& vol, const tessaroo::NtfsDataInfo& d, uint64_t limit,
                                 const std::function<unsigned int(const unsigned char*, size_t)>& sink,
                                 const std::function<int(int)>& progress, uint64_t& copied);
    // The absolute sector of the first data cluster of non-resident data;
    // false when it has none on the volume (no runs, or a hole first).
    static bool FirstDataSector(tessaroo::INtfsVolume& vol, const tessaroo::NtfsDataInfo& d, uint64_t& abs);

  private:
    int nFixupCount;
    int nBytesPerSector;
    int nRecordBytes;
};
