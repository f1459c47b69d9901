// One descriptor per recogniser: its function, the shortest buffer it judges,
// and every first byte a buffer it accepts can start with. The content
// lookup uses the first bytes to skip recognisers that cannot answer, so a
// descriptor's set must hold every first byte its function ever accepts (the
// signature tests check this against the functions).
#pragma once

#include "engines/signature/CFileTypeJudge.h"

#include <cstdint>
#include <initializer_list>

namespace tessaroo
{
struct LEAD_BYTES
{
    uint64_t u64Bits[4];
    constexpr bool Has(uint8_t b) const { return (u64Bits[b >> 6] >> (b & 63)) & 1; }
};

constexpr LEAD_BYTES LeadBytes(std::initializer_list<uint8_t> bytes)
{
    LEAD_BYTES set{{0, 0, 0, 0}};
    for (uint8_t b : bytes)
        set.u64Bits[b >> 6] |= uint64_t(1) << (b & 63);
    return set;
}

// For formats whose signature does not sit at byte 0 (a box size, a packet
// timestamp or a zip header's variable fields come first).
inline constexpr LEAD_BYTES ANY_LEAD_BYTE{{~uint64_t(0), ~uint64_t(0), ~uint64_t(0), ~uint64_t(0)}};

struct FILE_RECOGNISER
{
    const char* szName;
    PFN_RECOGNISE_FILE pfnRecognise;
    int nMinLen;          // shorter buffers are never recognised
    LEAD_BYTES leadBytes; // first bytes of every buffer it can accept
};

// The common first test of every recogniser: no buffer, or too short a one.
inline bool RejectsBuffer(const unsigned char* buf, int len, const FILE_RECOGNISER& r)
{
    return !buf || len < r.nMinLen;
}

// Video
inline constexpr FILE_RECOGNISER RECOGNISE_MPG{"IsMpgType", &CFileTypeJudge::IsMpgType, 16,
                                               LeadBytes({0x00})};
inline constexpr FILE_RECOGNISER RECOGNISE_MP4{"IsMp4Type", &CFileTypeJudge::IsMp4Type, 32, ANY_LEAD_BYTE};
inline constexpr FILE_RECOGNISER RECOGNISE_RMVB{"IsRmvbType", &CFileTypeJudge::IsRmvbType, 4,
                                                LeadBytes({'.'})};
inline constexpr FILE_RECOGNISER RECOGNISE_ASF{"IsAsfType", &CFileTypeJudge::IsAsfType, 24,
                                               LeadBytes({0x30})};
inline constexpr FILE_RECOGNISER RECOGNISE_SWF{"IsSwfType", &CFileTypeJudge::IsSwfType, 8,
                                               LeadBytes({'C', 'F'})};
inline constexpr FILE_RECOGNISER RECOGNISE_AVI{"IsAviType", &CFileTypeJudge::IsAviType, 16, LeadBytes({'R'})};
inline constexpr FILE_RECOGNISER RECOGNISE_FLV{"IsFlvType", &CFileTypeJudge::IsFlvType, 16, LeadBytes({'F'})};
inline constexpr FILE_RECOGNISER RECOGNISE_3GP{"Is3pgType", &CFileTypeJudge::Is3pgType, 32, ANY_LEAD_BYTE};
inline constexpr FILE_RECOGNISER RECOGNISE_MKV{"IsMkvType", &CFileTypeJudge::IsMkvType, 16,
                                               LeadBytes({0x1A})};
inline constexpr FILE_RECOGNISER RECOGNISE_TS{"IsTsType", &CFileTypeJudge::IsTsType, 188, LeadBytes({0x47})};
inline constexpr FILE_RECOGNISER RECOGNISE_MTS{"IsMtsType", &CFileTypeJudge::IsMtsType, 16, ANY_LEAD_BYTE};
inline constexpr FILE_RECOGNISER RECOGNISE_MXF{"IsMxfType", &CFileTypeJudge::IsMxfType, 16,
                                               LeadBytes({0x06})};
inline constexpr FILE_RECOGNISER RECOGNISE_MOV{"IsMovType", &CFileTypeJudge::IsMovType, 16, ANY_LEAD_BYTE};
// Audio
inline constexpr FILE_RECOGNISER RECOGNISE_MP3{"IsMp3Type", &CFileTypeJudge::IsMp3Type, 3, LeadBytes({'I'})};
inline constexpr FILE_RECOGNISER RECOGNISE_MID{"IsMidType", &CFileTypeJudge::IsMidType, 16, LeadBytes({'M'})};
inline constexpr FILE_RECOGNISER RECOGNISE_APE{"IsApeType", &CFileTypeJudge::IsApeType, 4, LeadBytes({'M'})};
inline constexpr FILE_RECOGNISER RECOGNISE_WAV{"IsWavType", &CFileTypeJudge::IsWavType, 16, LeadBytes({'R'})};
inline constexpr FILE_RECOGNISER RECOGNISE_MP2{"IsMp2Type", &CFileTypeJudge::IsMp2Type, 4, LeadBytes({0xFF})};
inline constexpr FILE_RECOGNISER RECOGNISE_MMF{"IsMmfType", &CFileTypeJudge::IsMmfType, 4, LeadBytes({'M'})};
// Image
inline constexpr FILE_RECOGNISER RECOGNISE_GIF{"IsGifType", &CFileTypeJudge::IsGifType, 8, LeadBytes({'G'})};
inline constexpr FILE_RECOGNISER RECOGNISE_BMP{"IsBmpType", &CFileTypeJudge::IsBmpType, 40, LeadBytes({'B'})};
inline constexpr FILE_RECOGNISER RECOGNISE_JPG{"IsJpgType", &CFileTypeJudge::IsJpgType, 16,
                                               LeadBytes({0xFF})};
inline constexpr FILE_RECOGNISER RECOGNISE_PNG{"IsPngType", &CFileTypeJudge::IsPngType, 8, LeadBytes({0x89})};
inline constexpr FILE_RECOGNISER RECOGNISE_PSD{"IsPsdType", &CFileTypeJudge::IsPsdType, 40, LeadBytes({'8'})};
inline constexpr FILE_RECOGNISER RECOGNISE_TIF{"IsTifType", &CFileTypeJudge::IsTifType, 4,
                                               LeadBytes({'I', 'M'})};
inline constexpr FILE_RECOGNISER RECOGNISE_ICO{"IsIcoType", &CFileTypeJudge::IsIcoType, 16,
                                               LeadBytes({0x00})};
// Office documents
inline constexpr FILE_RECOGNISER RECOGNISE_FLA{"IsFlaType", &CFileTypeJudge::IsFlaType, 16,
                                               LeadBytes({0xD0})};
inline constexpr FILE_RECOGNISER RECOGNISE_OFFICE2003{"IsOffice2003Type", &CFileTypeJudge::IsOffice2003Type,
                                                      8, LeadBytes({0xD0})};
// "[Content_Types].xml" at 31 is accepted whatever the bytes before it.
inline constexpr FILE_RECOGNISER RECOGNISE_OFFICE2007{"IsOffice2007Type", &CFileTypeJudge::IsOffice2007Type,
                                                      31, ANY_LEAD_BYTE};
inline constexpr FILE_RECOGNISER RECOGNISE_PDF{"IsPdfType", &CFileTypeJudge::IsPdfType, 5, LeadBytes({'%'})};
// Archives and disk images
inline constexpr FILE_RECOGNISER RECOGNISE_GZIP{"IsGzipType", &CFileTypeJudge::IsGzipType, 16,
                                                LeadBytes({0x1F})};
inline constexpr FILE_RECOGNISER RECOGNISE_7Z{"Is7zType", &CFileTypeJudge::Is7zType, 2, LeadBytes({'7'})};
inline constexpr FILE_RECOGNISER RECOGNISE_ZIP{"IsZipType", &CFileTypeJudge::IsZipType, 48, LeadBytes({'P'})};
inline constexpr FILE_RECOGNISER RECOGNISE_RAR{"IsRarType", &CFileTypeJudge::IsRarType, 7, LeadBytes({'R'})};
inline constexpr FILE_RECOGNISER RECOGNISE_CAB{"IsCabType", &CFileTypeJudge::IsCabType, 36, LeadBytes({'M'})};
inline constexpr FILE_RECOGNISER RECOGNISE_GHO{"IsGhoType", &CFileTypeJudge::IsGhoType, 2, LeadBytes({0xFE})};
// Executables
inline constexpr FILE_RECOGNISER RECOGNISE_PE{"IsPeType", &CFileTypeJudge::IsPeType, 512, LeadBytes({'M'})};
// Databases and mail stores
inline constexpr FILE_RECOGNISER RECOGNISE_SQL{"IsSqlType", &CFileTypeJudge::IsSqlType, 16, LeadBytes({'S'})};
inline constexpr FILE_RECOGNISER RECOGNISE_DBX{"IsDbxEmailType", &CFileTypeJudge::IsDbxEmailType, 16,
                                               LeadBytes({0xCF})};
inline constexpr FILE_RECOGNISER RECOGNISE_PST{"IsPstEmailType", &CFileTypeJudge::IsPstEmailType, 16,
                                               LeadBytes({'!'})};
// Fonts
inline constexpr FILE_RECOGNISER RECOGNISE_TTF{"IsTtfType", &CFileTypeJudge::IsTtfType, 16,
                                               LeadBytes({0x00})};
} // namespace tessaroo
