// Decides from the first bytes of a sector whether a file of a known format
// starts there, and which, by running the recognisers of the format table
// (ExtendNameTable.h) in row order.
//
// Process-wide state. Everything a lookup works on lives in one object,
// CFileTypeJudge::s_state (LOOKUP_STATE below): the device and sector being
// judged, the sector size, the transport-stream flags and ranges, and the
// buffers that device reads land in. The FAT, NTFS and signature engines each
// hold a judge, but all judges share that one state, so only one lookup,
// matching check or length estimate may run in the process at a time. The
// application guarantees this by running every engine operation on its one
// worker thread; debug builds check it (CLookupScope) and abort when two
// threads are inside at once.
//
// The device. A judge is constructed over its owner's CDiskReader. The
// entry points that start a lookup (IsFileTypeMatching, BeginLookup)
// install that reader, the sector size and the sector into the shared
// state; the recognisers that look beyond the buffer they were handed
// (transport stream, compound file, zip container) read the following
// sectors through it. A missing reader, a sector size the
// judge does not handle, or sectors past the end of the device make such a
// read a failed read, which each recogniser answers as it answers an I/O
// error.
#pragma once

#include "core/FileNode.h"
#include "engines/signature/ExtendNameType.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class CDiskReader;

// A transport stream already carved: the device sectors it covers, both ends
// included. A packet run inside one of these is not the start of a new file.
struct _TS_FILE_RANGE_
{
    unsigned long long u64FirstSector;
    unsigned long long u64LastSector;
};

// A recogniser reads at most len bytes of buf and returns its type code or
// EXT_UNKNOWN; a length estimator returns the byte length of the file whose
// head sector is buf.
typedef EXTEND_NAME_TYPE (*PFN_RECOGNISE_FILE)(const unsigned char* buf, int len);
typedef unsigned long long (*PFN_ESTIMATE_FILE_BYTES)(const unsigned char* head, int len);

class CFileTypeJudge
{
  public:
    // Sector sizes of real media; anything else makes every device read fail.
    static constexpr int MIN_SECTOR_SIZE = 512;
    static constexpr int MAX_SECTOR_SIZE = 4096;
    // The block a length estimate walks (m_pReadBuf of the estimators).
    static constexpr size_t READ_BUF_SIZE = 65536;
    // Largest read a recogniser makes: the zip window of four sectors plus the
    // four bytes carried over from the window before.
    static constexpr size_t PROBE_BUF_SIZE = 4 * MAX_SECTOR_SIZE + 4;

    // All state of every judge; see the head of this file.
    struct LOOKUP_STATE
    {
        int m_nBytesPerSector = 512;                   // sector size of every device read
        CDiskReader* m_pDiskReader = nullptr;          // device the following sectors come from
        unsigned long long m_u64StartSector = 0;       // sector where the candidate file starts
        unsigned long long m_u64CurrentSector = 0;     // sector whose bytes are being judged
        int m_bIsNeedCheckTsFileRange = 1;             // IsTsType applies its continuation and range tests
        int m_bIsMtsFileHead = 0;                      // the length of an MTS file is being estimated
        std::vector<_TS_FILE_RANGE_> m_tsFileRangeVec; // transport streams already carved
        // The block a length estimate walks. Recognisers never read into it, so
        // a content lookup run by an estimate cannot overwrite its block.
        alignas(64) unsigned char m_pReadBuf[READ_BUF_SIZE] = {};
        // Where the recognisers' own device reads land.
        alignas(64) unsigned char m_probeBuf[PROBE_BUF_SIZE] = {};

        // Where the carving sweep stands, for the progress a length estimate
        // reports while it reads ahead (set by ParseFileBuf).
        unsigned long long m_u64ScanSectorCount = 0;  // sectors swept so far
        unsigned long long m_u64SectorTotalCount = 0; // sectors the sweep covers
        int m_nRemaidSecond = -1;                     // estimated seconds left, -1 unknown
        unsigned long long m_u64FileCount = 0;        // files found so far
        // The callbacks of the engine driving the estimates (InitCallBack).
        SCAN_CALLBACK m_progressFunc = nullptr;
        RECOVERY_CALLBACK m_pRecoveryFunc = nullptr;
        void* m_pParam = nullptr;
        int m_nPercent = 0; // the scale of the scan reports
        // The answer of the last progress report of the current estimate; a
        // non-zero answer stopped it.
        int m_ErrorCode = 0;
    };
    static LOOKUP_STATE s_state;

    // Marks a stretch of work on s_state. Scopes nest on one thread (a length
    // estimate runs content lookups); debug builds abort when a second thread
    // enters while another is inside. Free in release builds.
    class CLookupScope
    {
      public:
        CLookupScope();
        ~CLookupScope();
        CLookupScope(const CLookupScope&) = delete;
        CLookupScope& operator=(const CLookupScope&) = delete;
    };

    explicit CFileTypeJudge(CDiskReader* reader = nullptr) : m_pOwnReader(reader) {}
    CFileTypeJudge(const CFileTypeJudge&) = delete;
    CFileTypeJudge& operator=(const CFileTypeJudge&) = delete;

    // Points the shared state at sector of this judge's device, as the start
    // and the current sector, with bytesPerSector as the sector size. The
    // transport-stream flags are left as they are.
    void BeginLookup(int bytesPerSector, unsigned long long sector);

    // Content lookup: the code of the first table row whose recogniser
    // answers for (buf, len), or EXT_UNKNOWN. Uses the device and sector of
    // the shared state. Runs only the rows that can answer for buf[0]; the
    // result is always that of running every row in order.
    static EXTEND_NAME_TYPE GetDataBufType(const unsigned char* buf, int len);
    // The same by running every row in table order: the reference the fast
    // path is tested against.
    static EXTEND_NAME_TYPE GetDataBufTypeByTableOrder(const unsigned char* buf, int len);

    // Code of the first row whose extension equals ext, ignoring ASCII case;
    // EXT_UNKNOWN for an unknown or null ext.
    static EXTEND_NAME_TYPE GetExtendNameType(const char* ext);
    // Row index of the first row with extension ext, or -1.
    static int FindExtendNameRow(const char* ext);

    // 1 when buf, the first data sector of a file named with extension ext at
    // sector of reader's device, fits that extension's format (its first
    // row's recogniser returns that row's code), else 0. 1 for an extension no
    // row has. The transport-stream continuation and range tests are off for
    // this check. A null reader means this judge's own reader.
    int IsFileTypeMatching(const unsigned char* buf, int len, const char* ext, CDiskReader* reader,
                           int bytesPerSector, unsigned long long sector);
    int IsFileTypeMatching(const unsigned char* buf, int len, const char* ext, int bytesPerSector,
                           unsigned long long sector)
    {
        return IsFileTypeMatching(buf, len, ext, nullptr, bytesPerSector, sector);
    }

    // Office Open XML part name: EXT_DOCX for "word..." (len >= 5), EXT_PPTX for
    // "ppt..." (len >= 4), EXT_XLSX for "xl..." (len >= 3), ignoring case; else
    // EXT_UNKNOWN. Reads min(len, 4) bytes of name.
    static EXTEND_NAME_TYPE ReturnFileType(const char* name, unsigned len);

    // 1 when all len bytes of buf are 0 (also for len 0), else 0; 0 for a
    // negative len or a null buf with len > 0.
    static int IsZeroBuffer(const unsigned char* buf, int len);
    static int IsSectorTailIsZeroBuffetr(const unsigned char* buf, int len);

    // True when the sector is file-system metadata: an NTFS file, index or
    // log-restart record, an NTFS "$STA" stream, a FAT/exFAT/NTFS boot sector,
    // or a run of FAT directory entries. Reads len bytes.
    static bool IsFileSystemSector(const unsigned char* buf, int len);

    // Stores the scan and recovery callbacks, their context and the scale of
    // the scan reports for the length estimates of every judge; returns 0.
    unsigned int InitCallBack(SCAN_CALLBACK scan, RECOVERY_CALLBACK recovery, void* ctx, int scale);

    // Signature lookup at one sector of the carving sweep: whether a known
    // file starts in buf (len bytes, the sector at sector of reader's device)
    // and how long it is. scanned, total, secondsLeft and fileCount are the
    // sweep's progress figures, reported again by a length estimate that
    // reads ahead. On success (0) name (nameSize bytes) holds "%lld.%s" of
    // the sector and the type's extension, type the code and length the
    // estimate in bytes. 87 when no known file with a length estimator starts
    // here. When a progress report of the estimate is answered non-zero the
    // estimate stops and that answer is returned (an answer of 87 as -9527,
    // so that a stop is never taken for "nothing here"); nothing should be
    // recorded then. Holds the lookup scope for the whole estimate.
    int ParseFileBuf(const unsigned char* buf, int len, unsigned long long sector, unsigned long long scanned,
                     unsigned long long total, int secondsLeft, unsigned long long fileCount,
                     CDiskReader* reader, int bytesPerSector, char* name, size_t nameSize,
                     EXTEND_NAME_TYPE& type, unsigned long long& length);

    // End tests of the length estimates: for each sector of block (len bytes,
    // whole sectors read after the current sector) the current sector moves
    // on by one and the sector is judged; 1 when it is file-system metadata
    // or the start of a known file (IsEndOfMPGFile: other than an MPEG
    // header, code 15), with size grown by the bytes before it; else 0 and
    // size unchanged.
    static int IsEndOfFile(const unsigned char* block, int len, unsigned long long& size);
    static int IsEndOfVedioFile(const unsigned char* block, int len, unsigned long long& size);
    static int IsEndOfMPGFile(const unsigned char* block, int len, unsigned long long& size);

    // Tail markers under the sector-aligned rule: a marker at p is accepted
    // when it ends at a sector edge of buf or only zeros follow it to that
    // sector's end. 1 with offset just past the accepted marker, else 0.
    // JPEG looks at the first FF D9 of buf only; PNG (IEND chunk) and GIF
    // (00 3B) go on to the next occurrence. buf starts at a sector edge.
    static int GetJPGFileTailOffset(const unsigned char* buf, int len, unsigned long long& offset);
    static int GetPNGFileTailOffset(const unsigned char* buf, int len, unsigned long long& offset);
    static int GetGIFFileTailOffset(const unsigned char* buf, int len, unsigned long long& offset);

    // Byte length of a compound file from its header (head, len bytes) and
    // its last FAT sector, read from the device; 0 when the header does not
    // hold together or its DIFAT chain cannot be followed.
    static unsigned long long GetOFFICE2003FileBytesSizeByFileHead(const unsigned char* head, int len);

    // The length estimators: the byte length of the file whose head sector
    // (head, len bytes) starts at the start sector of the shared state. Each
    // reads at most len bytes of head and, through the shared device, at most
    // its format's byte limit beyond it; see the family files.
    // Video (VideoEstimators.cpp)
    static unsigned long long GetMPGFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetMP4FileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetRMVBFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetASFFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetSWFFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetAVIFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetDefaultVedioFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetMKVFileBytes(const unsigned char* head, int len);
    static unsigned long long GetTSFileBytesSize(const unsigned char* head, int len);
    // Audio (AudioEstimators.cpp)
    static unsigned long long GetMP3FileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetMIDFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetAPEFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetWAVFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetDefaultAudioFileBytesSize(const unsigned char* head, int len);
    // Image (ImageEstimators.cpp)
    static unsigned long long GetGIFFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetBMPFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetJPGFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetPNGFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetDefaultPictureFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetICOFileBytesSize(const unsigned char* head, int len);
    // Office documents (OfficeEstimators.cpp)
    static unsigned long long GetFLAFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetOFFICE2003FileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetOFFICE2007FileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetPDFFileBytesSize(const unsigned char* head, int len);
    // Archives (ArchiveEstimators.cpp)
    static unsigned long long Get7ZFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetZIPFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetRARFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetCABFileBytesSize(const unsigned char* head, int len);
    // Databases and mail stores (DatabaseEstimators.cpp)
    static unsigned long long GetDBFileBytesSize(const unsigned char* head, int len);
    static unsigned long long GetMailFileBytesSize(const unsigned char* head, int len);
    // Fonts (FontEstimators.cpp)
    static unsigned long long GetTTFFileBytesSize(const unsigned char* head, int len);

    // Reads up to maxCount sectors from sector of the shared device into dst
    // (dstSize bytes), stopping at the end of the device; got is the number
    // read. False when none could be read.
    static bool ReadSectorsUpTo(unsigned long long sector, int maxCount, unsigned char* dst, size_t dstSize,
                                int& got);

    // Transport-stream bookkeeping of the carving scan.
    static void SetNeedCheckTsFileRange(int on) { s_state.m_bIsNeedCheckTsFileRange = on; }
    static void SetMtsFileHead(int on) { s_state.m_bIsMtsFileHead = on; }
    static void AddTsFileRange(unsigned long long firstSector, unsigned long long lastSector);
    static void ClearTsFileRange() { s_state.m_tsFileRangeVec.clear(); }

    // Reads count sectors of s_state.m_nBytesPerSector bytes from sector of the
    // shared device into dst (dstSize bytes). True only when every sector
    // arrived; a missing reader, a bad sector size, a range past the end of the
    // device or a buffer too small for the read is a failed read.
    static bool ReadSectors(unsigned long long sector, int count, unsigned char* dst, size_t dstSize);

    // The recognisers, by family. Each returns EXT_UNKNOWN for a null buf or a
    // len below its minimum (FILE_RECOGNISER::nMinLen of its descriptor), and
    // reads no byte at or beyond len.
    // Video (VideoRecognisers.cpp)
    static EXTEND_NAME_TYPE IsMpgType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsMp4Type(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsRmvbType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsAsfType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsSwfType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsAviType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsFlvType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE Is3pgType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsMkvType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsTsType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsMtsType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsMxfType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsMovType(const unsigned char* buf, int len);
    // Audio (AudioRecognisers.cpp)
    static EXTEND_NAME_TYPE IsMp3Type(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsMidType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsApeType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsWavType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsMp2Type(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsMmfType(const unsigned char* buf, int len);
    // Image (ImageRecognisers.cpp)
    static EXTEND_NAME_TYPE IsGifType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsBmpType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsJpgType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsPngType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsPsdType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsTifType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsIcoType(const unsigned char* buf, int len);
    // Office documents (OfficeRecognisers.cpp)
    static EXTEND_NAME_TYPE IsFlaType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsOffice2003Type(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsOffice2007Type(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsPdfType(const unsigned char* buf, int len);
    // Which Office 97-2003 document a compound file at the current sector is,
    // from the sector after its header and its first directory sector; head is
    // the header (len bytes). EXT_OLE when undecided or a read fails.
    static EXTEND_NAME_TYPE GetOffice2003Type(const unsigned char* head, int len);
    // Which Office Open XML document a zip at the current sector is, from the
    // part names in its first 20 sectors; EXT_UNKNOWN when undecided.
    static EXTEND_NAME_TYPE GetOffice2007Type();
    // Archives and disk images (ArchiveRecognisers.cpp)
    static EXTEND_NAME_TYPE IsGzipType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE Is7zType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsZipType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsRarType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsCabType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsGhoType(const unsigned char* buf, int len);
    // Executables (ExecutableRecognisers.cpp)
    static EXTEND_NAME_TYPE IsPeType(const unsigned char* buf, int len);
    // Databases and mail stores (DatabaseRecognisers.cpp)
    static EXTEND_NAME_TYPE IsSqlType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsDbxEmailType(const unsigned char* buf, int len);
    static EXTEND_NAME_TYPE IsPstEmailType(const unsigned char* buf, int len);
    // Fonts (FontRecognisers.cpp)
    static EXTEND_NAME_TYPE IsTtfType(const unsigned char* buf, int len);

  private:
    // Installs reader (or, when null, this judge's own), the sector size and
    // the sector into the shared state.
    void InstallLookup(CDiskReader* reader, int bytesPerSector, unsigned long long sector);

    CDiskReader* m_pOwnReader; // the owner's device; not owned
};
