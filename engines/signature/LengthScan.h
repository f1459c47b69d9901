// What the length estimators share: the scan-forward loop that reads the
// sectors after a file's head sector in 64 KiB chunks until the format's own
// tail marker, the start of another known file, file-system metadata or the
// format's byte limit, and the byte searches their tail rules are made of.
// Internal to the signature library.
#pragma once

#include "engines/signature/CFileTypeJudge.h"

#include <cstddef>
#include <cstdint>

namespace tessaroo
{
// Byte limits of the scans: the most a damaged or endless file costs.
constexpr uint64_t LIMIT_256_MIB = 0x10000000;
constexpr uint64_t LIMIT_128_MIB = 0x8000000;
constexpr uint64_t LIMIT_2_GIB = 0x80000000;
constexpr uint64_t LIMIT_1_GIB = 0x40000000;
constexpr uint64_t LIMIT_4_GIB = uint64_t(1) << 32;
constexpr uint64_t LIMIT_6_GIB = uint64_t(6) << 30;
constexpr uint64_t LIMIT_64_GIB = uint64_t(1) << 36;
constexpr uint64_t LIMIT_MIDI = 0x800000;
// Office files: the compound-file estimate and the scans share one cap.
constexpr uint64_t LIMIT_OFFICE = 0x7FFFFFF;

// One chunk of the scan, as a member's tail rule sees it.
struct SCAN_CHUNK
{
    const unsigned char* pData; // the sectors read
    size_t nBytes;              // bytes read (whole sectors)
    size_t nFileBytes;          // bytes before the end test's hit; nBytes without a hit
    uint64_t u64Offset;         // offset of pData[0] in the file (the head sector is offset 0)
    bool bEndHit;               // a known file or file-system sector starts at nFileBytes
};

// The scan-forward loop. A member derives from it, looks at each chunk in
// OnChunk and says what the length is when the scan ends without its
// decision in OnEnd.
class CLengthScan
{
  public:
    // endTestMpg: an MPEG header (code 15) does not end the file.
    CLengthScan(uint64_t limit, bool endTestMpg) : m_u64Limit(limit), m_bEndTestMpg(endTestMpg) {}
    virtual ~CLengthScan() = default;

    // Reads from the sector after the head sector on. The scanned size
    // starts at one sector and grows by each chunk, up to the end test's
    // hit. Ends at the member's decision, an end hit, the limit, the end of
    // the device, a failed read or a non-zero progress answer.
    uint64_t Run();

  protected:
    // True when the chunk decides the length (put into result).
    virtual bool OnChunk(const SCAN_CHUNK& chunk, uint64_t& result)
    {
        (void)chunk;
        (void)result;
        return false;
    }
    // The length when the scan ended without a decision; scanned is the
    // head sector plus every byte read before the end.
    virtual uint64_t OnEnd(uint64_t scanned) { return scanned; }

  private:
    uint64_t m_u64Limit;
    bool m_bEndTestMpg;
};

// The scan of a zip container (zip archives, Office Open XML documents) to
// its end-of-central-directory record and comment.
uint64_t ScanToZipEnd(uint64_t limit);

// The index of the first sector of block (len bytes) that ends a file as the
// end tests say, advancing the shared current sector over each sector
// judged; -1 when none does.
int FindEndSector(const unsigned char* block, size_t len, bool endTestMpg);

// Sector size of the estimate under way.
inline size_t EstimateSectorSize()
{
    const int b = CFileTypeJudge::s_state.m_nBytesPerSector;
    return b > 0 ? size_t(b) : 512;
}

// First offset p in [from, to) with the n bytes of pattern at p (the whole
// pattern below to); to when none.
size_t FindBytes(const unsigned char* buf, size_t from, size_t to, const void* pattern, size_t n);
// Last such offset; to when none.
size_t FindLastBytes(const unsigned char* buf, size_t from, size_t to, const void* pattern, size_t n);
// The sector-aligned tail rule: a marker ending at end (an offset of buf,
// which starts at a sector edge) is accepted when end is a sector edge or
// only zeros follow it to its sector's end (or to len).
bool IsAlignedTail(const unsigned char* buf, size_t len, size_t end, size_t bytesPerSector);
// First occurrence of pattern in buf[0, len) accepted by the rule; the offset
// just past it in end.
bool FindAlignedTail(const unsigned char* buf, size_t len, const void* pattern, size_t n, size_t& end);
} // namespace tessaroo
