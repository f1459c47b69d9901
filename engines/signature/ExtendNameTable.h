// The format table: one row per extension, tying it to a file-type code, the
// recogniser of the format's first sector and the estimator of the file's
// length. The order of the rows is behaviour: a content lookup takes the first
// row whose recogniser answers, a lookup by code or by extension the first row
// with that code or extension.
#pragma once

#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/ExtendNameType.h"
#include "engines/signature/FileRecognisers.h"

#include <cstddef>
#include <cstdint>

struct EXTEND_NAME_AND_TYPE
{
    const char* szExtendName;                     // without the point; null in the end row
    EXTEND_NAME_TYPE type;                        // the code the row stands for
    const tessaroo::FILE_RECOGNISER* pRecogniser; // null in the end row
    PFN_ESTIMATE_FILE_BYTES pfnEstimate;          // null: no length is known, the file is not carved
};

// 87 format rows and the end row (code EXT_UNKNOWN, no text).
constexpr size_t EXTEND_NAME_ROW_COUNT = 87;
extern const EXTEND_NAME_AND_TYPE szExtendNameAndType[EXTEND_NAME_ROW_COUNT + 1];

namespace tessaroo
{
// For each first byte, the rows a content lookup runs, in table order: every
// row whose recogniser can accept that first byte, except rows whose
// recogniser an earlier listed row already ran (it would answer the same).
constexpr size_t MAX_ROWS_PER_LEAD_BYTE = 16;
struct LEAD_BYTE_ROWS
{
    uint8_t nCount[256];
    uint8_t nRow[256][MAX_ROWS_PER_LEAD_BYTE];
};
extern const LEAD_BYTE_ROWS g_leadByteRows;

} // namespace tessaroo
