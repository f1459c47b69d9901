// libFuzzer target: the file type judge's content lookup, extension match
// and length estimates on hostile sectors, with the fuzz input also serving
// as the device that the transport-stream, compound-file and zip
// recognisers and every length estimate read from.
//
// Input: byte 0 controls the lookup (bits 0-1 sector size 512 << n, bit 2
// the transport-stream continuation and range tests, bit 3 the MTS head
// flag, bits 4-5 the sector judged, bit 6 a device that ends one sector
// early, bit 7 a carved stream covering the judged sector); byte 1 % 9 is the
// length n of the extension that follows, and its bit 7 makes the second
// progress report of an estimate ask to stop; the rest is the device, whose
// bytes from the judged sector on are the buffer judged (at most 8 KiB).
//
// Also checks that the first-byte shortcut of GetDataBufType answers as
// running every row in table order does, that the signature lookup answers
// only 0, 87 or the stop, and that no estimate claims more than its format's
// limit allows.
#include "core/CDiskReader.h"
#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/ExtendNameTable.h"
#include "tests/fuzz/FuzzDisk.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>

namespace
{
int g_nReports = 0;
int g_nStopAt = -1;
int OnProgress(void*, int percent, int scale, int, unsigned long long current, unsigned long long total,
               unsigned long long, wchar_t*)
{
    // Reports never pass the total nor look like a finished scan.
    if (current > total || (scale > 0 && percent * scale >= tessaroo::SCAN_COMPLETE_LOW))
        abort();
    return g_nReports++ == g_nStopAt ? 1 : 0;
}

// The most any estimate may answer: the largest scan limit, or a 32-bit
// header field plus its 8-byte chunk header.
constexpr unsigned long long MAX_ESTIMATE = 1ULL << 36;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t ctrl = data[0];
    const size_t extLen = std::min<size_t>(data[1] % 9, size - 2);
    const std::string ext(reinterpret_cast<const char*>(data + 2), extLen);
    const uint8_t* disk = data + 2 + extLen;
    const size_t diskSize = size - 2 - extLen;

    const int bytesPerSector = 512 << (ctrl & 3);
    const unsigned long long sector = (ctrl >> 4) & 3;
    fuzz::FillDisk(disk, diskSize);
    const unsigned long long endSector =
        diskSize / size_t(bytesPerSector) - ((ctrl & 0x40) && diskSize >= size_t(bytesPerSector));
    CDiskReader reader;
    if (reader.Init(0, endSector) != 0)
        abort();

    const size_t from = size_t(sector) * size_t(bytesPerSector);
    const size_t len = from < diskSize ? std::min<size_t>(diskSize - from, 8192) : 0;
    // An exact-size copy, so that any read past the judged buffer faults.
    const std::unique_ptr<uint8_t[]> buf = fuzz::ExactCopy(disk + std::min(from, diskSize), len, len);

    CFileTypeJudge::ClearTsFileRange();
    if (ctrl & 0x80)
        CFileTypeJudge::AddTsFileRange(sector, sector);
    CFileTypeJudge::SetNeedCheckTsFileRange((ctrl >> 2) & 1);
    CFileTypeJudge::SetMtsFileHead((ctrl >> 3) & 1);

    CFileTypeJudge judge(&reader);
    judge.BeginLookup(bytesPerSector, sector);
    const EXTEND_NAME_TYPE fast = CFileTypeJudge::GetDataBufType(buf.get(), int(len));
    const EXTEND_NAME_TYPE slow = CFileTypeJudge::GetDataBufTypeByTableOrder(buf.get(), int(len));
    if (fast != slow || fast < EXT_DOC || fast > EXT_UNKNOWN)
        fuzz::Fail("the content lookup and the table order disagree, or name no type");
    const int match = judge.IsFileTypeMatching(buf.get(), int(len), ext.c_str(), bytesPerSector, sector);
    if (match != 0 && match != 1)
        abort();
    CFileTypeJudge::IsFileSystemSector(buf.get(), int(len));

    // The signature lookup of the carving sweep, then every estimator on its
    // own, each against the same device.
    judge.InitCallBack(&OnProgress, nullptr, nullptr, 90);
    g_nReports = 0;
    g_nStopAt = (data[1] & 0x80) ? 1 : -1;
    char name[64];
    EXTEND_NAME_TYPE type = EXT_UNKNOWN;
    unsigned long long length = 0;
    const int status = judge.ParseFileBuf(buf.get(), int(len), sector, 0, 1000, -1, 0, &reader,
                                          bytesPerSector, name, sizeof(name), type, length);
    if ((status != 0 && status != 87 && status != 1) || length > MAX_ESTIMATE)
        fuzz::Fail("the signature lookup answered an unknown status or too long a file");
    std::set<PFN_ESTIMATE_FILE_BYTES> done;
    for (size_t i = 0; i < EXTEND_NAME_ROW_COUNT; ++i)
    {
        const PFN_ESTIMATE_FILE_BYTES estimate = szExtendNameAndType[i].pfnEstimate;
        if (!estimate || !done.insert(estimate).second)
            continue;
        judge.BeginLookup(bytesPerSector, sector);
        g_nReports = 0;
        if (estimate(buf.get(), int(len)) > MAX_ESTIMATE)
            abort();
    }
    judge.InitCallBack(nullptr, nullptr, nullptr, 0);
    return 0;
}
