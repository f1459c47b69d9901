// Length estimators of audio files.
#include "core/ByteReader.h"
#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/LengthScan.h"

#include <algorithm>
#include <cstring>

using namespace tessaroo;

namespace
{
// MP3: an ID3v1 tag, 128 bytes from its "TAG", closes the file. The last
// chunk that holds one gives the candidate; the scan runs on to the next
// file, and a candidate beyond it is not believed.
class CMp3Scan : public CLengthScan
{
  public:
    CMp3Scan() : CLengthScan(LIMIT_2_GIB, false) {}

  protected:
    bool OnChunk(const SCAN_CHUNK& c, uint64_t&) override
    {
        constexpr size_t ID3V1_SIZE = 128;
        const size_t p = FindBytes(c.pData, 0, c.nFileBytes, "TAG", 3);
        if (p < c.nFileBytes)
            m_u64Candidate = c.u64Offset + p + ID3V1_SIZE;
        return false;
    }
    uint64_t OnEnd(uint64_t scanned) override
    {
        return m_u64Candidate && m_u64Candidate < scanned ? m_u64Candidate : scanned;
    }

  private:
    uint64_t m_u64Candidate = 0;
};

// Standard MIDI file: after the 14-byte header come chunks of an ASCII type
// and a big-endian length; the file ends after its n-th track chunk. The
// walk goes from chunk to chunk by their lengths (other chunk types are
// passed over), so it always moves forward; the scan's limit bounds it.
class CMidiScan : public CLengthScan
{
  public:
    CMidiScan(const unsigned char* head, size_t len) : CLengthScan(LIMIT_MIDI, false)
    {
        constexpr size_t TRACK_COUNT = 10;
        const ByteReader r(head, len);
        m_nTracks = std::max<unsigned>(1, unsigned(r.U8(TRACK_COUNT) << 8 | r.U8(TRACK_COUNT + 1)));
        Feed(head, len, 0);
        m_u64Seen = len;
    }

  protected:
    bool OnChunk(const SCAN_CHUNK& c, uint64_t& result) override
    {
        Feed(c.pData, c.nFileBytes, c.u64Offset);
        m_u64Seen = c.u64Offset + c.nFileBytes;
        if (m_bDone && m_u64End <= m_u64Seen)
        {
            result = m_u64End;
            return true;
        }
        return false;
    }
    uint64_t OnEnd(uint64_t scanned) override { return m_bDone ? std::min(m_u64End, scanned) : scanned; }

  private:
    static constexpr size_t CHUNK_HEADER = 8;

    // Walks the chunk headers that lie in data (bytes at file offset off).
    // A header cut by the edge of one piece is finished from the next.
    void Feed(const unsigned char* data, size_t len, uint64_t off)
    {
        while (!m_bFailed && !m_bDone)
        {
            const uint64_t at = m_u64Header + m_nHave;
            if (at < off || at - off >= len)
                return;
            const size_t take = std::min<size_t>(CHUNK_HEADER - m_nHave, size_t(len - (at - off)));
            memcpy(m_header + m_nHave, data + (at - off), take);
            m_nHave += take;
            if (m_nHave < CHUNK_HEADER)
                return;
            for (size_t i = 0; i < 4; ++i)
                if (m_header[i] < 0x20 || m_header[i] > 0x7E)
                    m_bFailed = true; // not a chunk: the walk lost its way
            if (m_bFailed)
                return;
            const uint64_t length = uint64_t(m_header[4]) << 24 | uint64_t(m_header[5]) << 16 |
                                    uint64_t(m_header[6]) << 8 | m_header[7];
            m_u64Header += CHUNK_HEADER + length;
            m_nHave = 0;
            if (memcmp(m_header, "MTrk", 4) == 0 && ++m_nFound == m_nTracks)
            {
                m_bDone = true;
                m_u64End = m_u64Header;
            }
        }
    }

    unsigned m_nTracks = 1;
    unsigned m_nFound = 0;
    uint64_t m_u64Header = 14; // the first chunk follows the header chunk
    unsigned char m_header[CHUNK_HEADER] = {};
    size_t m_nHave = 0;
    bool m_bDone = false;
    bool m_bFailed = false;
    uint64_t m_u64End = 0;
    uint64_t m_u64Seen = 0;
};

// Monkey's Audio: an APEv2 tag (header and footer, each 32 bytes and
// starting "APETAGEX" version 2000) closes the file.
class CApeScan : public CLengthScan
{
  public:
    CApeScan() : CLengthScan(LIMIT_2_GIB, false) {}

  protected:
    bool OnChunk(const SCAN_CHUNK& c, uint64_t& result) override
    {
        static const unsigned char TAG[10] = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 0x07};
        constexpr size_t FOOTER = 32;
        const size_t p = FindBytes(c.pData, 0, c.nFileBytes, TAG, sizeof(TAG));
        if (p >= c.nFileBytes)
            return false;
        const size_t q = FindBytes(c.pData, p + 1, c.nFileBytes, TAG, sizeof(TAG));
        result = c.u64Offset + (q < c.nFileBytes ? q + FOOTER : c.nFileBytes);
        return true;
    }
};
} // namespace

unsigned long long CFileTypeJudge::GetMP3FileBytesSize(const unsigned char*, int)
{
    return CMp3Scan().Run();
}

unsigned long long CFileTypeJudge::GetMIDFileBytesSize(const unsigned char* head, int len)
{
    const size_t have = head && len > 0 ? std::min(size_t(len), EstimateSectorSize()) : 0;
    return CMidiScan(head, have).Run();
}

unsigned long long CFileTypeJudge::GetAPEFileBytesSize(const unsigned char*, int)
{
    return CApeScan().Run();
}

unsigned long long CFileTypeJudge::GetWAVFileBytesSize(const unsigned char* head, int len)
{
    if (!head || len < 8)
        return EstimateSectorSize();
    return uint64_t(ByteReader(head, size_t(len)).U32(4)) + 8;
}

unsigned long long CFileTypeJudge::GetDefaultAudioFileBytesSize(const unsigned char*, int)
{
    return CLengthScan(LIMIT_256_MIB, false).Run();
}
