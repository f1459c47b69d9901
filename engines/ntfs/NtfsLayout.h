// Layout of the NTFS structures the NTFS engines read: boot-sector fields,
// file-record and attribute headers, file-name values and attribute-list
// entries, as named offsets; and the decoders that turn them into native
// values. Every decoder checks each field against the bytes it was handed,
// so a damaged or hostile record is reported as not decodable, never read
// beyond.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tessaroo
{
// --- boot sector -------------------------------------------------------------
constexpr size_t NTFS_BS_BYTES_PER_SECTOR = 0x0B; // u16, 0 taken as 512
constexpr size_t NTFS_BS_SECTORS_PER_CLUSTER = 0x0D;
constexpr size_t NTFS_BS_TOTAL_SECTORS = 0x28; // u64
constexpr size_t NTFS_BS_MFT_CLUSTER = 0x30;   // u64

// --- file record header -------------------------------------------------------
constexpr uint32_t NTFS_RECORD_SIGNATURE = 0x454C4946; // "FILE"
constexpr size_t NTFS_REC_SEQUENCE = 0x10;             // u16
constexpr size_t NTFS_REC_FIRST_ATTRIBUTE = 0x14;      // u16
constexpr size_t NTFS_REC_FLAGS = 0x16;                // u16
constexpr size_t NTFS_REC_BYTES_IN_USE = 0x18;         // u32
constexpr size_t NTFS_REC_BASE_RECORD = 0x20;          // u64 reference; 0 in a base record
constexpr size_t NTFS_REC_NUMBER = 0x2C;               // u32, NTFS 3.1
constexpr size_t NTFS_REC_UPDATE_SEQUENCE = 0x30;      // u16
constexpr size_t NTFS_REC_UPDATE_ARRAY = 0x32;         // u16 per 512-byte block
constexpr uint16_t NTFS_RECORD_IN_USE = 0x0001;
constexpr uint16_t NTFS_RECORD_DIRECTORY = 0x0002;
// The update sequence protects every 512 bytes of a record, whatever the
// sector size of the volume.
constexpr uint32_t NTFS_FIXUP_STRIDE = 512;

// --- attribute header ---------------------------------------------------------
constexpr size_t NTFS_ATTR_TYPE = 0x00;   // u32
constexpr size_t NTFS_ATTR_LENGTH = 0x04; // u32
constexpr size_t NTFS_ATTR_NON_RESIDENT = 0x08;
constexpr size_t NTFS_ATTR_NAME_LENGTH = 0x09;
constexpr size_t NTFS_ATTR_NAME_OFFSET = 0x0A;  // u16
constexpr size_t NTFS_ATTR_FLAGS = 0x0C;        // u16
constexpr size_t NTFS_ATTR_VALUE_LENGTH = 0x10; // resident: u32
constexpr size_t NTFS_ATTR_VALUE_OFFSET = 0x14; // resident: u16
constexpr size_t NTFS_ATTR_START_VCN = 0x10;    // non-resident: u64
constexpr size_t NTFS_ATTR_LAST_VCN = 0x18;     // non-resident: u64
constexpr size_t NTFS_ATTR_RUNS_OFFSET = 0x20;  // non-resident: u16
constexpr size_t NTFS_ATTR_ALLOCATED_SIZE = 0x28;
constexpr size_t NTFS_ATTR_REAL_SIZE = 0x30;        // needs a length of at least 0x38
constexpr size_t NTFS_ATTR_INITIALIZED_SIZE = 0x38; // needs a length of at least 0x40
// The smallest header of each form: a resident header ends at 0x18, a
// non-resident one holds its real size up to 0x38.
constexpr uint32_t NTFS_RESIDENT_HEADER = 0x18;
constexpr uint32_t NTFS_NON_RESIDENT_HEADER = 0x38;
constexpr uint32_t NTFS_NON_RESIDENT_FULL_HEADER = 0x40;

constexpr uint32_t NTFS_TYPE_ATTRIBUTE_LIST = 0x20;
constexpr uint32_t NTFS_TYPE_FILE_NAME = 0x30;
constexpr uint32_t NTFS_TYPE_DATA = 0x80;
constexpr uint32_t NTFS_TYPE_INDEX_ALLOCATION = 0xA0;
constexpr uint32_t NTFS_TYPE_END = 0xFFFFFFFF;
// Types from here up are fill or end markers, never an attribute.
constexpr uint32_t NTFS_TYPE_FILL = 0xFDFDFDFD;

// --- file-name value (offsets from the attribute's first byte) ----------------
constexpr size_t NTFS_FN_PARENT = 0x18; // u32: low half of the parent reference
constexpr size_t NTFS_FN_CREATE_TIME = 0x20;
constexpr size_t NTFS_FN_MODIFY_TIME = 0x28;
constexpr size_t NTFS_FN_ACCESS_TIME = 0x38;
constexpr size_t NTFS_FN_REAL_SIZE = 0x48;
constexpr size_t NTFS_FN_NAME_LENGTH = 0x58; // UTF-16 units
constexpr size_t NTFS_FN_NAMESPACE = 0x59;
constexpr size_t NTFS_FN_NAME = 0x5A;
constexpr uint8_t NTFS_NAMESPACE_WIN32 = 1;

// --- attribute-list entry ---------------------------------------------------
constexpr size_t NTFS_AL_TYPE = 0x00;        // u32
constexpr size_t NTFS_AL_LENGTH = 0x04;      // u16
constexpr size_t NTFS_AL_NAME_LENGTH = 0x06; // u8
constexpr size_t NTFS_AL_START_VCN = 0x08;   // u64
constexpr size_t NTFS_AL_REFERENCE = 0x10;   // u64, record number in the low 48 bits
constexpr uint32_t NTFS_AL_MIN_ENTRY = 0x1A;

// --- records with fixed numbers ------------------------------------------------
constexpr uint32_t NTFS_MFT_RECORD = 0;
constexpr uint32_t NTFS_ROOT_RECORD = 5;
constexpr uint32_t NTFS_BITMAP_RECORD = 6;
constexpr uint32_t NTFS_EXTEND_RECORD = 11; // the folder of the later metadata files ($ObjId, $Quota...)
// Records 0 to 11 are the volume's own metadata files.
constexpr uint32_t NTFS_FIRST_USER_RECORD = 12;

constexpr uint64_t NTFS_REFERENCE_MASK = 0x0000FFFFFFFFFFFFull;
// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t NTFS_UNIX_EPOCH = 116444736000000000ull;

// The geometry of one NTFS volume, from its boot sector. Sector numbers and
// counts are in the volume's own sector size unless a name says 512.
struct NtfsGeometry
{
    uint32_t bytesPerSector = 512;
    uint32_t sectorsPerCluster = 1;
    uint32_t bytesPerCluster = 512;
    uint64_t totalSectors = 0; // as the boot sector states it
    uint64_t mftCluster = 0;
    // A 512-byte-sector volume has records of 1024 bytes, any other one
    // record per sector (what the formatters write).
    uint32_t recordBytes = 1024;
    // 512-byte units per volume sector and per cluster: every device
    // position is a 512-byte sector number.
    uint32_t unitsPerSector = 1;
    uint32_t unitsPerCluster = 1;
};

// Decodes a boot sector (len >= 512). False for a sector size other than
// 512, 1024, 2048 or 4096 (0 counts as 512), a sectors-per-cluster value
// that is not a power of two up to 128, or an MFT cluster that lies beyond
// the volume the boot sector states.
bool DeriveNtfsGeometry(const uint8_t* boot, size_t len, NtfsGeometry& g);

// True when bytes (the boot sector's field, 0 taken as 512) is a sector
// size the fast engine reads.
bool IsNtfsSectorSizeSupported(uint32_t bytes);

// A run placed on the volume: first cluster and length; sparse runs carry
// no cluster.
struct NtfsExtent
{
    uint64_t u64Cluster = 0;
    uint64_t u64Count = 0;
    bool bSparse = false;
};

// The fixed-up header of a file record.
struct NtfsRecordHeader
{
    uint16_t flags = 0;
    uint16_t sequence = 0;
    uint32_t firstAttribute = 0;
    // min(bytes in use, record size): the end of every attribute walk.
    uint32_t end = 0;
    uint64_t baseRecord = 0; // record number of the base record; 0 for a base record
    uint32_t recordNumber = 0;
};

// Decodes the header of a record of len bytes. False without the "FILE"
// signature or when the header does not fit.
bool ParseNtfsRecordHeader(const uint8_t* rec, size_t len, NtfsRecordHeader& h);

// One attribute of a record, decoded. offset is from the record start;
// every field here lies inside [offset, offset + length).
struct NtfsAttribute
{
    size_t offset = 0;
    uint32_t type = 0;
    uint32_t length = 0;
    bool nonResident = false;
    uint8_t nameLength = 0;
    uint16_t flags = 0;
    // Resident: the value, inside the attribute.
    uint32_t valueOffset = 0;
    uint32_t valueLength = 0;
    // Non-resident: the run list from runsOffset to the attribute's end.
    uint64_t startVcn = 0;
    uint64_t lastVcn = 0;
    uint32_t runsOffset = 0;
    uint64_t allocatedSize = 0; // with the real size: clusters x cluster size
    bool hasRealSize = false;
    uint64_t realSize = 0;
    bool hasInitializedSize = false;
    uint64_t initializedSize = 0;
};

// Walks the attributes of a fixed-up record, bounded by the end the header
// gives and by forward progress: an end or fill type, a length shorter than
// the smallest header or one that runs past the end stops the walk. Attributes whose own fields do not fit
// (a value or run list outside the attribute) are still returned, marked
// unusable by a value length of 0 or a run-list offset at the end.
class CNtfsAttributeWalker
{
  public:
    CNtfsAttributeWalker(const uint8_t* rec, size_t len, const NtfsRecordHeader& h);
    // The next attribute; false at the end of the walk.
    bool Next(NtfsAttribute& a);

  private:
    const uint8_t* m_rec;
    size_t m_end;
    size_t m_pos;
};

// The value of a file-name attribute, decoded; the name as UTF-8.
struct NtfsFileName
{
    uint32_t parent = 0;
    uint64_t createTime = 0;
    uint64_t modifyTime = 0;
    uint64_t accessTime = 0;
    uint64_t realSize = 0;
    uint8_t nameSpace = 0;
    std::string name;
};

// Decodes a resident file-name attribute of rec (the name runs from 0x5A for
// 2 x its length bytes and must lie inside the attribute). False otherwise.
bool ParseNtfsFileName(const uint8_t* rec, const NtfsAttribute& a, NtfsFileName& out);

// What a file record says of its names and size.
struct NtfsRecordNames
{
    bool bNamed = false;
    NtfsFileName first;  // parent and times
    std::string strName; // the Win32 name when there is one
    bool bHasDataSize = false;
    uint64_t u64DataSize = 0;
};
// Walks the attributes of a fixed-up record for its file names (the first
// gives parent and times, a Win32 name wins over a short one met first) and
// the size of its unnamed data. False when the record holds no name.
bool ReadNtfsRecordNames(const uint8_t* rec, size_t len, const NtfsRecordHeader& h, NtfsRecordNames& out);

// One entry of an attribute list.
struct NtfsListEntry
{
    uint32_t type = 0;
    uint16_t length = 0;
    uint8_t nameLength = 0;
    uint64_t startVcn = 0;
    uint64_t record = 0; // low 48 bits of the reference
};

// Decodes the entries of an attribute-list value of len bytes, stopping at
// an entry shorter than 0x1A bytes, an end or zero type, or one that runs
// past len.
std::vector<NtfsListEntry> ParseNtfsAttributeList(const uint8_t* value, size_t len);

// Seconds since 1970 of an NTFS time (100-ns intervals since 1601, UTC);
// 0 stays 0.
int64_t NtfsTimeToUnix(uint64_t ntfsTime);
} // namespace tessaroo

// One data run, as stored: the start is relative to the previous run's
// start (the first run's is absolute). A sparse run (no offset bytes) has
// no clusters on the volume: it reads as zeros and leaves the running start
// where it was.
struct __RUNLIST__
{
    uint64_t u64ClusterCount = 0;
    int64_t i64ClusterOffset = 0;
    bool bSparse = false;
};

namespace tessaroo
{
// What a record says about the data of one attribute: resident bytes, or
// runs with the attribute's sizes (those of its first piece when the runs
// are joined from several records).
struct NtfsDataInfo
{
    bool bResident = false;
    std::vector<uint8_t> vecResident;
    std::vector<__RUNLIST__> vecRuns;
    bool bHasSize = false;
    uint64_t u64RealSize = 0;
    bool bHasValid = false;
    uint64_t u64ValidSize = 0; // bytes past this read as zeros
};
} // namespace tessaroo
