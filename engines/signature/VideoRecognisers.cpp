// Recognisers of video containers and streams.
#include "core/ByteReader.h"
#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/FileRecognisers.h"

#include <algorithm>

using namespace tessaroo;

namespace
{
constexpr uint8_t TS_SYNC = 0x47;
constexpr size_t TS_PACKET = 188;
// Packets checked in the 4 KiB read from the device: all that fit (21 × 188 < 4096).
constexpr size_t TS_PACKETS_IN_BLOCK = 22;
constexpr size_t TS_BLOCK = 4096;
} // namespace

EXTEND_NAME_TYPE CFileTypeJudge::IsMpgType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_MPG))
        return EXT_UNKNOWN;
    const ByteReader r(buf, size_t(len));
    static const unsigned char SEQUENCE[4] = {0, 0, 1, 0xB3}, GOP[4] = {0, 0, 1, 0xB8};
    static const unsigned char PACK[4] = {0, 0, 1, 0xBA}, SYSTEM[4] = {0, 0, 1, 0xBB};
    const unsigned char* follower;
    if (r.Matches(0, SEQUENCE, 4))
        follower = GOP;
    else if (r.Matches(0, PACK, 4))
        follower = SYSTEM;
    else
        return EXT_UNKNOWN;
    // An elementary stream's group of pictures, or a program stream's system
    // header, follows its first header within the first 32 bytes.
    const size_t window = std::min<size_t>(size_t(len), 32);
    for (size_t off = 0; off + 3 < window; ++off)
        if (r.Matches(off, follower, 4))
            return EXT_MPG;
    return EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMp4Type(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_MP4))
        return EXT_UNKNOWN;
    const ByteReader r(buf, size_t(len));
    if (r.Matches(4, "ftyp", 4) && (r.Matches(8, "iso", 3) || r.Matches(8, "mp42", 4)))
        return EXT_MP4;
    return EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsRmvbType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_RMVB))
        return EXT_UNKNOWN;
    return ByteReader(buf, size_t(len)).Matches(0, ".RMF", 4) ? EXT_RMVB : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsAsfType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_ASF))
        return EXT_UNKNOWN;
    // The ASF header object GUID {75B22630-668E-11CF-A6D9-00AA0062CE6C} as stored.
    static const unsigned char HEADER_OBJECT[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    return ByteReader(buf, size_t(len)).Matches(0, HEADER_OBJECT, 16) ? EXT_ASF : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsSwfType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_SWF))
        return EXT_UNKNOWN;
    const ByteReader r(buf, size_t(len));
    const uint8_t version = r.U8(3);
    if (r.Matches(0, "CWS", 3) && version >= 6 && version <= 15)
        return EXT_SWF;
    if (r.Matches(0, "FWS", 3) && version < 6)
        return EXT_SWF;
    return EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsAviType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_AVI))
        return EXT_UNKNOWN;
    const ByteReader r(buf, size_t(len));
    return r.Matches(0, "RIFF", 4) && r.Matches(8, "AVI ", 4) && r.Matches(12, "LIST", 4) ? EXT_AVI
                                                                                          : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsFlvType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_FLV))
        return EXT_UNKNOWN;
    const ByteReader r(buf, size_t(len));
    static const unsigned char HEADER_SIZE[4] = {0, 0, 0, 9};
    return r.Matches(0, "FLV\x01", 4) && r.Matches(5, HEADER_SIZE, 4) ? EXT_FLV : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::Is3pgType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_3GP))
        return EXT_UNKNOWN;
    const ByteReader r(buf, size_t(len));
    return r.Matches(4, "ftyp", 4) && r.Matches(8, "3gp", 3) ? EXT_3GP : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMkvType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_MKV))
        return EXT_UNKNOWN;
    static const unsigned char EBML[4] = {0x1A, 0x45, 0xDF, 0xA3};
    return ByteReader(buf, size_t(len)).Matches(0, EBML, 4) ? EXT_MKV : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsTsType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_TS))
        return EXT_UNKNOWN;
    const ByteReader r(buf, size_t(len));
    if (r.U8(0) != TS_SYNC || (r.U8(1) == 0 && r.U8(2) == 0 && r.U8(3) == 0))
        return EXT_UNKNOWN;
    // Every packet start inside the buffer holds the sync byte.
    for (size_t off = 0; off < size_t(len); off += TS_PACKET)
        if (r.U8(off) != TS_SYNC)
            return EXT_UNKNOWN;

    // The packet grid must go on for 4 KiB of the device, not just this sector.
    LOOKUP_STATE& st = s_state;
    const int bytesPerSector = st.m_nBytesPerSector;
    if (bytesPerSector <= 0)
        return EXT_UNKNOWN;
    const int blockSectors = std::max(1, int(TS_BLOCK) / bytesPerSector);
    unsigned char* block = st.m_probeBuf;
    if (!ReadSectors(st.m_u64CurrentSector, blockSectors, block, PROBE_BUF_SIZE))
        return EXT_UNKNOWN;
    for (size_t k = 0; k < TS_PACKETS_IN_BLOCK; ++k)
        if (block[TS_PACKET * k] != TS_SYNC)
            return EXT_UNKNOWN;

    if (st.m_bIsNeedCheckTsFileRange)
    {
        // A packet that ends exactly at the sector edge shows the stream runs
        // on from the sector before: this is its middle, not its start.
        if (st.m_u64CurrentSector == 0 || !ReadSectors(st.m_u64CurrentSector - 1, 1, block, PROBE_BUF_SIZE))
            return EXT_UNKNOWN;
        for (size_t back = TS_PACKET; back <= size_t(bytesPerSector); back += TS_PACKET)
            if (block[size_t(bytesPerSector) - back] == TS_SYNC)
                return EXT_UNKNOWN;
        for (const _TS_FILE_RANGE_& range : st.m_tsFileRangeVec)
            if (range.u64FirstSector <= st.m_u64StartSector && st.m_u64StartSector <= range.u64LastSector)
                return EXT_UNKNOWN;
    }
    return EXT_TS;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMtsType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_MTS))
        return EXT_UNKNOWN;
    const ByteReader r(buf, size_t(len));
    // A 4-byte arrival timestamp, the first TS packet header, then the start of
    // the programme association table (transport stream id 0) as AVCHD
    // cameras write it.
    static const unsigned char PAT[8] = {0x00, 0x00, 0xB0, 0x11, 0x00, 0x00, 0xC1, 0x00};
    if (!r.Matches(8, PAT, 8))
        return EXT_UNKNOWN;
    // While an MTS file is being measured, a packet with a non-zero timestamp is
    // part of it rather than the start of the next file.
    if (s_state.m_bIsMtsFileHead && (r.U8(0) || r.U8(1) || r.U8(2) || r.U8(3)))
        return EXT_UNKNOWN;
    return EXT_MTS;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMxfType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_MXF))
        return EXT_UNKNOWN;
    // Header partition pack key, closed and complete.
    static const unsigned char PARTITION_KEY[16] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                                    0x0D, 0x01, 0x02, 0x01, 0x01, 0x02, 0x04, 0x00};
    return ByteReader(buf, size_t(len)).Matches(0, PARTITION_KEY, 16) ? EXT_MXF : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMovType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_MOV))
        return EXT_UNKNOWN;
    const ByteReader r(buf, size_t(len));
    if (r.Matches(0, "moov", 4) || (r.Matches(4, "ftyp", 4) && r.Matches(8, "qt  ", 4)))
        return EXT_MOV;
    return EXT_UNKNOWN;
}
