// Recognisers of audio files.
#include "core/ByteReader.h"
#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/FileRecognisers.h"

using namespace tessaroo;

EXTEND_NAME_TYPE CFileTypeJudge::IsMp3Type(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_MP3))
        return EXT_UNKNOWN;
    // An ID3v2 tag header: version bytes never FF, no undefined flag bits,
    // and a tag size of four 7-bit bytes. The header ends at byte 9, so a
    // buffer that stops earlier cannot show one.
    const ByteReader r(buf, size_t(len));
    uint8_t flags = 0;
    if (!r.Matches(0, "ID3", 3) || !r.Fits(0, 10) || r.U8(3) == 0xFF || r.U8(4) == 0xFF)
        return EXT_UNKNOWN;
    r.ReadU8(5, flags);
    if (flags & 0x1F)
        return EXT_UNKNOWN;
    for (size_t i = 6; i <= 9; ++i)
        if (r.U8(i) >= 0x80)
            return EXT_UNKNOWN;
    return EXT_MP3;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMidType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_MID))
        return EXT_UNKNOWN;
    // The header chunk (length 6, big-endian) directly followed by a track chunk.
    static const unsigned char HEADER_LENGTH[4] = {0, 0, 0, 6};
    const ByteReader r(buf, size_t(len));
    return r.Matches(0, "MThd", 4) && r.Matches(4, HEADER_LENGTH, 4) && r.Matches(14, "MTrk", 4)
               ? EXT_MID
               : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsApeType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_APE))
        return EXT_UNKNOWN;
    return ByteReader(buf, size_t(len)).Matches(0, "MAC ", 4) ? EXT_APE : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsWavType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_WAV))
        return EXT_UNKNOWN;
    const ByteReader r(buf, size_t(len));
    return r.Matches(0, "RIFF", 4) && r.Matches(8, "WAVE", 4) && r.Matches(12, "fmt ", 4) ? EXT_WAV
                                                                                          : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMp2Type(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_MP2))
        return EXT_UNKNOWN;
    // MPEG-1 layer II frame header: 384 kbit/s, 48 kHz, stereo.
    static const unsigned char FRAME[4] = {0xFF, 0xFD, 0xE4, 0x00};
    return ByteReader(buf, size_t(len)).Matches(0, FRAME, 4) ? EXT_MP2 : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsMmfType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_MMF))
        return EXT_UNKNOWN;
    return ByteReader(buf, size_t(len)).Matches(0, "MMMD", 4) ? EXT_MMF : EXT_UNKNOWN;
}
