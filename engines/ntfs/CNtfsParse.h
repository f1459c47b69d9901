// The record primitives both NTFS engines embed: the update-sequence fix-up
// that restores a file record's block tails, and the one run-list decoder
// and run placer that turn a non-resident attribute into clusters of the
// volume. Nothing here reads the device; the engines hand buffers in.
#pragma once

#include "engines/ntfs/NtfsLayout.h"

#include <cstddef>
#include <cstdint>
#include <vector>

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

  private:
    int nFixupCount;
    int nBytesPerSector;
    int nRecordBytes;
};
