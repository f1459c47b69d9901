#include "core/FileIo.h"
#include "store/CScanResultFileManager.h"

#include "core/ByteReader.h"
#include "core/Log.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "store/CLogFileManager.h"
#include "store/FileTypeLists.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

using tessaroo::ErrnoOr;
using tessaroo::ReadFullAt;
using tessaroo::WriteFullAt;

namespace
{
constexpr size_t NODE = FILE_NODE_SIZE;
// Longest search key, in 8-bit bytes.
constexpr int SEARCH_KEY_SIZE = 4096;
// A relation file is about ten bytes per node; one this large was not
// written by a store and is not loaded.
constexpr unsigned long long MAX_RELATION_FILE = 1ULL << 31;
constexpr unsigned long long MAX_DIR_INFO_FILE = 1ULL << 31;
// Relation text is written in pieces of about this size.
constexpr size_t RELATION_CHUNK = 1 << 16;
// The search remembers the verdict for this many distinct extensions.
constexpr size_t EXTENSION_CACHE_LIMIT = 65536;

// Name of a record read back from the node file, never longer than its field.
void TerminateName(_FILE_NODE_& node)
{
    node.szFileName[FILE_NAME_SIZE - 1] = 0;
}

// Every stored record carries its own index, which is at least 1; a record
// of zeros is a block that was never written (a lost write left a hole).
inline bool IsHole(const _FILE_NODE_& node)
{
    return node.uFileIndex == 0;
}

inline char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The text after the last '.' of name, ASCII lower-cased; hasDot tells
// whether there was a '.' at all.
std::string LowerExtension(const char* name, bool& hasDot)
{
    const char* dot = strrchr(name, '.');
    hasDot = dot != nullptr;
    std::string ext;
    if (dot)
        for (const char* p = dot + 1; *p; ++p)
            ext += LowerAscii(*p);
    return ext;
}

// A picture whose data is known to be overwritten is not worth listing; an
// empty extension (a name ending in '.') occurs in every list.
bool IsDamagedPicture(const _FILE_NODE_& node)
{
    if (node.bDataHealth != 0)
        return false;
    bool hasDot = false;
    std::string ext = LowerExtension(node.szFileName, hasDot);
    return hasDot && strstr(tessaroo::PICTURE_TYPE_LIST, ext.c_str()) != nullptr;
}

// strcasecmp in the C locale, bounded by the name field.
int CompareNamesIgnoringCase(const char* a, const char* b)
{
    for (size_t i = 0; i < FILE_NAME_SIZE; ++i)
    {
        unsigned char ca = static_cast<unsigned char>(LowerAscii(a[i]));
        unsigned char cb = static_cast<unsigned char>(LowerAscii(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
    return 0;
}

// Files before folders, then names compared as strcasecmp does in the C
// locale. Records are 344 bytes, so the sort moves small keys holding the
// first 24 lower-cased name bytes (which decide almost every comparison)
// and then places every record once.
void SortNodes(std::vector<_FILE_NODE_>& nodes)
{
    const size_t n = nodes.size();
    if (n < 2)
        return;
    constexpr size_t PREFIX_WORDS = 3;
    struct Key
    {
        uint64_t prefix[PREFIX_WORDS]; // big-endian, so integer order is byte order
        uint32_t pos;
        uint32_t isDir;
    };
    std::vector<Key> keys(n);
    for (size_t i = 0; i < n; ++i)
    {
        const char* s = nodes[i].szFileName;
        Key& k = keys[i];
        k.pos = static_cast<uint32_t>(i);
        k.isDir = nodes[i].bIsDir != 0;
        bool ended = false;
        for (size_t w = 0; w < PREFIX_WORDS; ++w)
        {
            uint64_t v = 0;
            for (size_t j = 0; j < 8; ++j)
            {
                unsigned char c = 0;
                if (!ended)
                {
                    c = static_cast<unsigned char>(LowerAscii(s[w * 8 + j]));
                    ended = c == 0;
                }
                v = (v << 8) | c;
            }
            k.prefix[w] = v;
        }
    }
    const _FILE_NODE_* base = nodes.data();
    std::sort(keys.begin(), keys.end(),
              [base](const Key& a, const Key& b)
              {
                  if (a.isDir != b.isDir)
                      return a.isDir < b.isDir;
                  for (size_t w = 0; w < PREFIX_WORDS; ++w)
                      if (a.prefix[w] != b.prefix[w])
                          return a.prefix[w] < b.prefix[w];
                  int c = CompareNamesIgnoringCase(base[a.pos].szFileName, base[b.pos].szFileName);
                  if (c != 0)
                      return c < 0;
                  return a.pos < b.pos; // equal names keep the order they were found in
              });
    // Place the records by following the permutation's cycles.
    std::vector<bool> placed(n, false);
    for (size_t start = 0; start < n; ++start)
    {
        if (placed[start] || keys[start].pos == start)
            continue;
        _FILE_NODE_ held = nodes[start];
        size_t k = start;
        while (true)
        {
            placed[k] = true;
            size_t from = keys[k].pos;
            if (from == start)
            {
                nodes[k] = held;
                break;
            }
            nodes[k] = nodes[from];
            k = from;
        }
    }
}

void EncodeDirInfo(const _DIR_FILE_INFO_& info, uint8_t* p)
{
    tessaroo::PutU32(p, info.uClusterNO);
    tessaroo::PutU32(p + 4, info.uFileIndex);
    memcpy(p + 8, info.szFileName, sizeof(info.szFileName));
}

// Leading decimal digits of [p, end) as a value; false when there are none
// or the value does not fit in 64 bits.
bool ParseDecimal(const char* p, const char* end, unsigned long long& value)
{
    if (p >= end || *p < '0' || *p > '9')
        return false;
    auto r = std::from_chars(p, end, value);
    return r.ec == std::errc();
}
} // namespace

CScanResultFileManager::CScanResultFileManager()
    : m_nBufLen(0), m_nBufSize(BUFFER_SIZE), m_nFileIndex(0), m_pBuf(nullptr), m_hFileNode(-1),
      m_hRelation(-1), m_hDirInfo(-1), m_pSearchFunc(nullptr), m_pSearchParam(nullptr), m_nBufFirstIndex(1),
      m_nLostWriteStatus(0), m_bRelationClean(true), m_nDirInfoWritten(0), m_nLastKey(0),
      m_pLastList(nullptr), m_bParentIndexValid(false), m_nFolderIndexRecords(0), m_bFolderIndexValid(false)
{
    m_strKnownExtList = std::string(tessaroo::PICTURE_TYPE_LIST) + "|" + tessaroo::MUSIC_TYPE_LIST + "|" +
                        tessaroo::OFFICE_TYPE_LIST + "|" + tessaroo::VIDEO_TYPE_LIST + "|" +
                        tessaroo::ARCHIVE_TYPE_LIST;
}

CScanResultFileManager::~CScanResultFileManager()
{
    if (m_hFileNode >= 0)
        FlushBufToFile();
    CloseAll();
    delete[] m_pBuf;
    m_pBuf = nullptr;
}

void CScanResultFileManager::CloseAll()
{
    for (int* fd : {&m_hFileNode, &m_hRelation, &m_hDirInfo})
    {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

unsigned int CScanResultFileManager::Init(const wchar_t* name)
{
    // A store opened again starts over; what the old files still wait for
    // goes out first.
    if (m_hFileNode >= 0)
        FlushBufToFile();
    CloseAll();
    delete[] m_pBuf;
    m_pBuf = nullptr;
    m_nBufLen = 0;
    m_nFileIndex = 0;
    m_nBufFirstIndex = 1;
    m_nLostWriteStatus = 0;
    m_bRelationClean = true;
    m_nDirInfoWritten = 0;
    m_pLastList = nullptr;
    m_dirRelationMap.clear();
    m_dirFileInfoVec.clear();
    m_dirInfoByCluster.clear();
    m_parentIndex.clear();
    m_bParentIndexValid = false;
    m_folderIndex.clear();
    m_bFolderIndexValid = false;
    m_strFileNodePath.clear();
    m_strRelationPath.clear();
    m_strDirInfoPath.clear();

    if (!name)
        return tessaroo::STATUS_INVALID_PARAMETER;
    const std::string fileName = tessaroo::WideToUtf8(name);
    // The name becomes a file of the scan-log folder and nothing else.
    if (fileName.empty() || fileName == "." || fileName == ".." || fileName.find('/') != std::string::npos ||
        fileName.size() > 255)
        return tessaroo::STATUS_INVALID_PARAMETER;

    char dir[CLogFileManager::PATH_SIZE];
    if (CLogFileManager::GetInstance()->GetLogFileDirPath(dir) != 0)
        return tessaroo::STATUS_INVALID_PARAMETER;
    // Searchable by its owner at least: files are created in it below.
    tessaroo::MakeDirs(dir, 0755);

    const std::string nodePath = std::string(dir) + fileName;
    const std::string relationPath = nodePath + "_Relation";
    const std::string dirInfoPath = nodePath + "_DirInfo";

    unsigned int status = 0;
    std::vector<char> text;
    struct stat st;
    m_hFileNode = open(nodePath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_hFileNode < 0)
    {
        status = ErrnoOr(EIO);
        tessaroo::CoreLog("open %s failed %u\n", nodePath.c_str(), status);
        return status;
    }
    if (fstat(m_hFileNode, &st) != 0)
    {
        status = ErrnoOr(EIO);
        CloseAll();
        return status;
    }
    // A reopened store (a deep scan resuming its sweep) goes on after the
    // records it already holds: starting again at index 1 would put new
    // records where the loaded relations expect the old ones.
    const unsigned long long existing =
        std::min<unsigned long long>(static_cast<unsigned long long>(st.st_size) / NODE, 0xFFFFFFFEULL);

    m_hRelation = open(relationPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_hRelation < 0)
    {
        status = ErrnoOr(EIO);
        tessaroo::CoreLog("open %s failed %u\n", relationPath.c_str(), status);
        CloseAll();
        return status;
    }
    if (fstat(m_hRelation, &st) != 0)
    {
        status = ErrnoOr(EIO);
        CloseAll();
        return status;
    }
    if (st.st_size > 0 && static_cast<unsigned long long>(st.st_size) <= MAX_RELATION_FILE)
    {
        size_t len = static_cast<size_t>(st.st_size);
        size_t got = 0;
        try
        {
            text.resize(len);
        }
        catch (const std::bad_alloc&)
        {
            CloseAll();
            return tessaroo::STATUS_NOT_ENOUGH_MEMORY;
        }
        if (ReadFullAt(m_hRelation, text.data(), len, 0, got) == 0)
            ParseRelationText(text.data(), len);
        else
            tessaroo::CoreLog("read %s failed\n", relationPath.c_str());
        std::vector<char>().swap(text);
    }
    else if (st.st_size > 0)
        tessaroo::CoreLog("relation file %s too large, not loaded\n", relationPath.c_str());

    m_pBuf = new (std::nothrow) _FILE_NODE_[RECORDS_PER_BLOCK];
    try
    {
        m_readBlock.assign(RECORDS_PER_BLOCK, _FILE_NODE_());
    }
    catch (const std::bad_alloc&)
    {
        delete[] m_pBuf;
        m_pBuf = nullptr;
    }
    if (!m_pBuf)
    {
        CloseAll();
        return tessaroo::STATUS_NOT_ENOUGH_MEMORY;
    }

    m_hDirInfo = open(dirInfoPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_hDirInfo < 0)
        tessaroo::CoreLog("open %s failed %d; folder names come from the node file\n", dirInfoPath.c_str(),
                          errno);
    else
    {
        if (fstat(m_hDirInfo, &st) != 0)
        {
            status = ErrnoOr(EIO);
            CloseAll();
            delete[] m_pBuf;
            m_pBuf = nullptr;
            return status;
        }
        if (st.st_size > 0 && static_cast<unsigned long long>(st.st_size) <= MAX_DIR_INFO_FILE)
        {
            size_t len = static_cast<size_t>(st.st_size);
            std::vector<uint8_t> data;
            size_t got = 0;
            try
            {
                data.resize(len);
            }
            catch (const std::bad_alloc&)
            {
                CloseAll();
                delete[] m_pBuf;
                m_pBuf = nullptr;
                return tessaroo::STATUS_NOT_ENOUGH_MEMORY;
            }
            if (ReadFullAt(m_hDirInfo, data.data(), len, 0, got) == 0)
                LoadDirInfo(data.data(), len);
            else
            {
                // Rewriting a file we could not read would destroy it.
                tessaroo::CoreLog("read %s failed; folder names come from the node file\n",
                                  dirInfoPath.c_str());
                close(m_hDirInfo);
                m_hDirInfo = -1;
            }
        }
        else if (st.st_size > 0)
        {
            tessaroo::CoreLog("folder-name file %s too large, not loaded\n", dirInfoPath.c_str());
            close(m_hDirInfo);
            m_hDirInfo = -1;
        }
    }

    m_nFileIndex = static_cast<unsigned int>(existing);
    m_nBufFirstIndex = m_nFileIndex + 1;
    m_strFileNodePath = nodePath;
    m_strRelationPath = relationPath;
    m_strDirInfoPath = dirInfoPath;
    return 0;
}

void CScanResultFileManager::ParseRelationText(const char* text, size_t len)
{
    // " | key - [i,j,...]" pieces back to back. A damaged text yields the
    // pieces that are sound; a piece cut at the end keeps the numbers that
    // were completed by a ','. Every step moves forward within [text, end).
    static const char BAR[] = " | ";
    static const char OPEN[] = "- [";
    const char* const end = text + len;
    const char* p = text;
    std::vector<uint32_t> list;
    while (p < end)
    {
        const char* bar = std::search(p, end, BAR, BAR + 3);
        if (bar == end)
            break;
        const char* keyStart = bar + 3;
        unsigned long long key = 0;
        bool keyOk = ParseDecimal(keyStart, end, key);
        const char* bracket = std::search(keyStart, end, OPEN, OPEN + 3);
        if (bracket == end)
            break;
        list.clear();
        const char* numStart = bracket + 3;
        const char* q = numStart;
        bool closed = false;
        for (; q < end; ++q)
        {
            if (*q != ',' && *q != ']')
                continue;
            unsigned long long v = 0;
            // Index 0 and values past 32 bits name no record.
            if (ParseDecimal(numStart, q, v) && v != 0 && v <= 0xFFFFFFFFULL)
                list.push_back(static_cast<uint32_t>(v));
            numStart = q + 1;
            if (*q == ']')
            {
                closed = true;
                break;
            }
        }
        if (keyOk && !list.empty())
        {
            try
            {
                m_dirRelationMap[key] = list; // a later piece for the same key wins
            }
            catch (const std::bad_alloc&)
            {
                tessaroo::CoreLog("relation text too large for memory\n");
                return;
            }
        }
        if (!closed)
            break;
        p = q; // the next piece starts after the ']'
    }
}

void CScanResultFileManager::LoadDirInfo(const uint8_t* data, size_t len)
{
    tessaroo::ByteReader r(data, len);
    size_t count = len / DIR_FILE_INFO_SIZE; // a cut last record is left out
    try
    {
        m_dirFileInfoVec.reserve(count);
        for (size_t i = 0; i < count; ++i)
        {
            size_t off = i * DIR_FILE_INFO_SIZE;
            _DIR_FILE_INFO_ info;
            info.uClusterNO = r.U32(off);
            info.uFileIndex = r.U32(off + 4);
            r.ReadBytes(off + 8, info.szFileName, sizeof(info.szFileName));
            info.szFileName[sizeof(info.szFileName) - 1] = 0;
            m_dirFileInfoVec.push_back(info);
            m_dirInfoByCluster.emplace(info.uClusterNO, i);
        }
    }
    catch (const std::bad_alloc&)
    {
        tessaroo::CoreLog("folder-name file too large for memory\n");
    }
    m_nDirInfoWritten = m_dirFileInfoVec.size();
}

unsigned int CScanResultFileManager::WriteBlock(const void* data, size_t len, unsigned long long offset)
{
    if (m_hFileNode < 0)
        return EBADF;
    return WriteFullAt(m_hFileNode, data, len, offset);
}

_FILE_NODE_* CScanResultFileManager::CreateFileNode(int size)
{
    if (size != static_cast<int>(NODE) || !m_pBuf || m_hFileNode < 0 || m_nFileIndex == 0xFFFFFFFFu)
        return nullptr;
    if (m_nBufLen + size > m_nBufSize)
    {
        unsigned int st = FlushFileNodeToFileQuiet();
        if (st != 0 && m_nLostWriteStatus == 0)
            m_nLostWriteStatus = st;
    }
    _FILE_NODE_* slot = &m_pBuf[m_nBufLen / static_cast<int>(NODE)];
    memset(slot, 0, NODE);
    m_nBufLen += size;
    ++m_nFileIndex;
    return slot;
}

unsigned int CScanResultFileManager::FlushFileNodeToFileQuiet()
{
    if (m_nBufLen <= 0)
        return 0;
    unsigned int records = static_cast<unsigned int>(m_nBufLen) / NODE;
    m_bFolderIndexValid = false;
    // Each block goes to its own records' place, so a block that is lost
    // leaves a hole instead of shifting every later record onto the wrong
    // index.
    unsigned long long offset = static_cast<unsigned long long>(m_nBufFirstIndex - 1) * NODE;
    unsigned int st = WriteBlock(m_pBuf, static_cast<size_t>(m_nBufLen), offset);
    if (st != 0)
        tessaroo::CoreLog("write node records %u to %u failed %u\n", m_nBufFirstIndex,
                          m_nBufFirstIndex + records - 1, st);
    m_nBufFirstIndex += records;
    m_nBufLen = 0;
    return st;
}

unsigned int CScanResultFileManager::FlushFileNodeToFile()
{
    unsigned int st = FlushFileNodeToFileQuiet();
    unsigned int lost = m_nLostWriteStatus;
    m_nLostWriteStatus = 0;
    return lost ? lost : st;
}

unsigned int CScanResultFileManager::FlushBufToFile()
{
    unsigned int nodes = FlushFileNodeToFile();
    // The relation and the names of the records that did reach the node
    // file are still worth keeping when a block was lost.
    unsigned int relation = FlushRelationToFile();
    unsigned int names = FlushDirFileInfoVec();
    if (nodes)
        return nodes;
    return relation ? relation : names;
}

unsigned int CScanResultFileManager::FlushRelationToFile()
{
    if (m_bRelationClean)
        return 0;
    if (m_hRelation < 0)
        return EBADF;
    std::string chunk;
    chunk.reserve(RELATION_CHUNK + 64);
    unsigned long long written = 0;
    char num[24];
    auto put = [&](unsigned long long v)
    {
        auto r = std::to_chars(num, num + sizeof(num), v);
        chunk.append(num, static_cast<size_t>(r.ptr - num));
    };
    auto drain = [&]() -> unsigned int
    {
        unsigned int st = WriteFullAt(m_hRelation, chunk.data(), chunk.size(), written);
        written += chunk.size();
        chunk.clear();
        return st;
    };
    for (const auto& entry : m_dirRelationMap)
    {
        chunk += " | ";
        put(entry.first);
        chunk += " - [";
        bool first = true;
        for (uint32_t index : entry.second)
        {
            if (!first)
                chunk += ',';
            first = false;
            put(index);
            if (chunk.size() >= RELATION_CHUNK)
                if (unsigned int st = drain())
                    return st;
        }
        chunk += ']';
    }
    if (unsigned int st = drain())
        return st;
    // Damaged or repeated pieces loaded from an older text make the new text
    // shorter; what lies past it must not be read back as relations.
    if (ftruncate(m_hRelation, static_cast<off_t>(written)) != 0)
        return ErrnoOr(EIO);
    m_bRelationClean = true;
    return 0;
}

unsigned int CScanResultFileManager::FlushDirFileInfoVec()
{
    if (m_hDirInfo < 0)
        return 0;                // the folder names are a convenience; the node file has them too
    const size_t perChunk = 248; // about 64 KiB of records per write
    std::vector<uint8_t> bytes;
    while (m_nDirInfoWritten < m_dirFileInfoVec.size())
    {
        size_t count = std::min(perChunk, m_dirFileInfoVec.size() - m_nDirInfoWritten);
        bytes.resize(count * DIR_FILE_INFO_SIZE);
        for (size_t i = 0; i < count; ++i)
            EncodeDirInfo(m_dirFileInfoVec[m_nDirInfoWritten + i], bytes.data() + i * DIR_FILE_INFO_SIZE);
        unsigned int st =
            WriteFullAt(m_hDirInfo, bytes.data(), bytes.size(),
                        static_cast<unsigned long long>(m_nDirInfoWritten) * DIR_FILE_INFO_SIZE);
        if (st != 0)
        {
            tessaroo::CoreLog("write %s failed %u\n", m_strDirInfoPath.c_str(), st);
            return st;
        }
        m_nDirInfoWritten += count;
    }
    // A cut record left by an earlier, interrupted store is dropped.
    if (ftruncate(m_hDirInfo, static_cast<off_t>(m_dirFileInfoVec.size() * DIR_FILE_INFO_SIZE)) != 0)
        return ErrnoOr(EIO);
    return 0;
}

unsigned int CScanResultFileManager::AddChildren(unsigned int parentCluster, unsigned int parentLevel,
                                                 unsigned int childIndex, unsigned int childCluster,
                                                 const char* dirName)
{
    unsigned long long key = (static_cast<unsigned long long>(parentLevel) << 32) | parentCluster;
    try
    {
        // Engines file the files of one folder in a row.
        if (!m_pLastList || m_nLastKey != key)
        {
            m_pLastList = &m_dirRelationMap[key];
            m_nLastKey = key;
        }
        m_pLastList->push_back(childIndex);
        m_bRelationClean = false;
        m_bParentIndexValid = false;
        if (dirName)
        {
            _DIR_FILE_INFO_ info;
            memset(&info, 0, sizeof(info));
            info.uClusterNO = childCluster;
            info.uFileIndex = childIndex;
            tessaroo::CopyUtf8(info.szFileName, sizeof(info.szFileName), dirName);
            m_dirFileInfoVec.push_back(info);
            m_dirInfoByCluster.emplace(childCluster, m_dirFileInfoVec.size() - 1);
        }
    }
    catch (const std::bad_alloc&)
    {
        return tessaroo::STATUS_NOT_ENOUGH_MEMORY;
    }
    return 0;
}

const CScanResultFileManager::RelationMap::value_type*
CScanResultFileManager::SelectEntry(unsigned long long key) const
{
    if (m_dirRelationMap.empty())
        return nullptr;
    if (key == 0)
        return &*m_dirRelationMap.begin(); // the top of the tree
    auto it = m_dirRelationMap.find(key);
    return it == m_dirRelationMap.end() ? nullptr : &*it;
}

template <typename Visit>
unsigned int CScanResultFileManager::ReadRecords(const std::vector<uint32_t>& indices, Visit visit)
{
    if (m_hFileNode < 0 || m_readBlock.size() < static_cast<size_t>(RECORDS_PER_BLOCK))
        return EBADF;
    struct stat st;
    if (fstat(m_hFileNode, &st) != 0)
        return ErrnoOr(EIO);
    const unsigned long long records = static_cast<unsigned long long>(st.st_size) / NODE;
    const size_t n = indices.size();
    size_t i = 0;
    while (i < n)
    {
        const uint32_t first = indices[i];
        if (first == 0 || first > records)
        {
            ++i; // names no record of the node file
            continue;
        }
        // Children are usually created in a row: read a run in one go.
        size_t j = i + 1;
        while (j < n && j - i < static_cast<size_t>(RECORDS_PER_BLOCK) && indices[j] == indices[j - 1] + 1 &&
               indices[j] <= records)
            ++j;
        const size_t count = j - i;
        size_t got = 0;
        unsigned int status = ReadFullAt(m_hFileNode, m_readBlock.data(), count * NODE,
                                         static_cast<unsigned long long>(first - 1) * NODE, got);
        const size_t whole = got / NODE;
        for (size_t k = 0; k < whole; ++k)
        {
            if (IsHole(m_readBlock[k]))
                continue;
            TerminateName(m_readBlock[k]);
            if (!visit(m_readBlock[k]))
                return 0;
        }
        if (status != 0)
            return status;
        i = j;
    }
    return 0;
}

template <typename Visit, typename Progress>
unsigned int CScanResultFileManager::SweepNodeFile(int fd, Visit visit, Progress progress)
{
    if (fd < 0 || m_readBlock.size() < static_cast<size_t>(RECORDS_PER_BLOCK))
        return EBADF;
    unsigned long long offset = 0, index = 1;
    while (true)
    {
        size_t got = 0;
        const unsigned int rs = ReadFullAt(fd, m_readBlock.data(), BUFFER_SIZE, offset, got);
        const size_t whole = got / NODE;
        for (size_t k = 0; k < whole; ++k, ++index)
        {
            _FILE_NODE_& rec = m_readBlock[k];
            if (IsHole(rec))
                continue;
            TerminateName(rec);
            if (!visit(rec, index))
                return 0;
        }
        offset += got;
        if (got > 0 && !progress(offset))
            return 0;
        if (rs != 0)
            return rs; // end of the file, or a failed read
    }
}

unsigned int CScanResultFileManager::GetChildrenFileNode(unsigned long long key,
                                                         std::vector<_FILE_NODE_>& children)
{
    const RelationMap::value_type* entry = SelectEntry(key);
    if (!entry)
        return 0;
    unsigned int status = 0;
    try
    {
        children.reserve(children.size() + entry->second.size());
        status = ReadRecords(entry->second,
                             [&children](const _FILE_NODE_& node)
                             {
                                 if (!IsDamagedPicture(node))
                                     children.push_back(node);
                                 return true;
                             });
        SortNodes(children);
    }
    catch (const std::bad_alloc&)
    {
        return tessaroo::STATUS_NOT_ENOUGH_MEMORY;
    }
    return status;
}

unsigned int CScanResultFileManager::GetChildrenFileCount(unsigned long long key, unsigned int& count)
{
    count = 0;
    unsigned int status = 0;
    try
    {
        std::deque<unsigned long long> queue{key};
        // A folder key is expanded once, so relations damaged into a cycle
        // (a folder filed below its own descendant) end.
        std::unordered_set<unsigned long long> expanded;
        while (!queue.empty())
        {
            const unsigned long long k = queue.front();
            queue.pop_front();
            const RelationMap::value_type* entry = SelectEntry(k);
            if (!entry || !expanded.insert(entry->first).second)
                continue;
            const unsigned long long childLevel = ((k >> 32) + 1) << 32;
            unsigned int st = ReadRecords(entry->second,
                                          [&](const _FILE_NODE_& node)
                                          {
                                              if (node.bIsDir)
                                                  queue.push_back(childLevel | node.uClusterNO);
                                              else
                                                  ++count;
                                              return true;
                                          });
            if (st != 0)
                status = st;
        }
    }
    catch (const std::bad_alloc&)
    {
        return tessaroo::STATUS_NOT_ENOUGH_MEMORY;
    }
    return status;
}

void CScanResultFileManager::BuildParentIndex()
{
    m_parentIndex.clear();
    size_t total = 0;
    for (const auto& entry : m_dirRelationMap)
        total += entry.second.size();
    m_parentIndex.reserve(total);
    for (const auto& entry : m_dirRelationMap)
        for (uint32_t index : entry.second)
            m_parentIndex.emplace_back(index, entry.first);
    // Keys were visited in ascending order, so after a stable sort by index
    // the first pair of each index carries the first key that holds it.
    std::stable_sort(m_parentIndex.begin(), m_parentIndex.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    m_parentIndex.erase(std::unique(m_parentIndex.begin(), m_parentIndex.end(),
                                    [](const auto& a, const auto& b) { return a.first == b.first; }),
                        m_parentIndex.end());
    m_bParentIndexValid = true;
}

bool CScanResultFileManager::FindParentKey(uint32_t index, unsigned long long& key)
{
    if (!m_bParentIndexValid)
        BuildParentIndex();
    auto it = std::lower_bound(m_parentIndex.begin(), m_parentIndex.end(), index,
                               [](const auto& a, uint32_t v) { return a.first < v; });
    if (it == m_parentIndex.end() || it->first != index)
        return false;
    key = it->second;
    return true;
}

unsigned int CScanResultFileManager::FindFolderByCluster(uint32_t cluster, _FILE_NODE_& node)
{
    if (m_hFileNode < 0 || m_readBlock.size() < static_cast<size_t>(RECORDS_PER_BLOCK))
        return EBADF;
    struct stat st;
    if (fstat(m_hFileNode, &st) != 0)
        return ErrnoOr(EIO);
    // Record indices are 32 bits wide.
    const unsigned long long records =
        std::min<unsigned long long>(static_cast<unsigned long long>(st.st_size) / NODE, 0xFFFFFFFFULL);
    if (!m_bFolderIndexValid || records != m_nFolderIndexRecords)
    {
        m_folderIndex.clear();
        // A short file: the folders read so far are all there are.
        SweepNodeFile(
            m_hFileNode,
            [&](const _FILE_NODE_& rec, unsigned long long index)
            {
                if (index > records)
                    return false;
                if (rec.bIsDir)
                    m_folderIndex.emplace_back(rec.uClusterNO, static_cast<uint32_t>(index));
                return true;
            },
            [](unsigned long long) { return true; });
        // Sorted by cluster, then by index, so the first of a cluster is the
        // record a front-to-back scan meets first.
        std::sort(m_folderIndex.begin(), m_folderIndex.end());
        m_folderIndex.erase(std::unique(m_folderIndex.begin(), m_folderIndex.end(),
                                        [](const auto& a, const auto& b) { return a.first == b.first; }),
                            m_folderIndex.end());
        m_nFolderIndexRecords = records;
        m_bFolderIndexValid = true;
    }
    auto it = std::lower_bound(m_folderIndex.begin(), m_folderIndex.end(), cluster,
                               [](const auto& a, uint32_t v) { return a.first < v; });
    if (it == m_folderIndex.end() || it->first != cluster)
        return tessaroo::STATUS_INVALID_PARAMETER;
    size_t got = 0;
    unsigned int rs =
        ReadFullAt(m_hFileNode, &node, NODE, static_cast<unsigned long long>(it->second - 1) * NODE, got);
    if (rs != 0)
        return rs;
    TerminateName(node);
    return 0;
}

unsigned int CScanResultFileManager::GetParentFileNode(const _FILE_NODE_* node,
                                                       std::vector<_FILE_NODE_>& parents)
{
    if (!node)
        return tessaroo::STATUS_INVALID_PARAMETER;
    if (m_dirRelationMap.empty())
        return 0;
    try
    {
        const unsigned long long topKey = m_dirRelationMap.begin()->first;
        uint32_t current = node->uFileIndex;
        // Every folder of a sound chain is met once; meeting one again
        // means the relations were damaged into a cycle.
        std::unordered_set<uint32_t> visited{current};
        while (true)
        {
            unsigned long long key = 0;
            if (!FindParentKey(current, key) || key == topKey)
                return 0;
            const uint32_t cluster = static_cast<uint32_t>(key);
            _FILE_NODE_ parent;
            memset(&parent, 0, sizeof(parent));
            auto found = m_dirInfoByCluster.find(cluster);
            if (found != m_dirInfoByCluster.end())
            {
                const _DIR_FILE_INFO_& info = m_dirFileInfoVec[found->second];
                memcpy(parent.szFileName, info.szFileName, sizeof(parent.szFileName));
                parent.uFileIndex = info.uFileIndex;
                parent.uClusterNO = cluster;
                parent.bIsDir = 1;
            }
            else if (unsigned int st = FindFolderByCluster(cluster, parent))
                return st;
            if (parent.uFileIndex == current)
                return 0; // a folder that names itself as its parent
            if (!visited.insert(parent.uFileIndex).second)
            {
                tessaroo::CoreLog("folder chain of node %u loops at node %u\n", node->uFileIndex,
                                  parent.uFileIndex);
                return 0;
            }
            parents.push_back(parent);
            current = parent.uFileIndex;
        }
    }
    catch (const std::bad_alloc&)
    {
        return tessaroo::STATUS_NOT_ENOUGH_MEMORY;
    }
}

unsigned int CScanResultFileManager::GetParentDirPath(const _FILE_NODE_* node, wchar_t* path, int pathLen)
{
    if (!node || !path || pathLen <= 0)
        return tessaroo::STATUS_INVALID_PARAMETER;
    std::string text;
    try
    {
        std::vector<_FILE_NODE_> parents;
        GetParentFileNode(node, parents);
        for (auto it = parents.rbegin(); it != parents.rend(); ++it)
        {
            text.append(it->szFileName, strnlen(it->szFileName, FILE_NAME_SIZE));
            text += '/';
        }
    }
    catch (const std::bad_alloc&)
    {
        return tessaroo::STATUS_NOT_ENOUGH_MEMORY;
    }
    return static_cast<unsigned int>(Ansi2Unicode(text.c_str(), path, pathLen));
}

int CScanResultFileManager::DupNodeFile() const
{
    // The node file this store wrote, never a file found again by its name:
    // another scan may have put one of the same name in its place.
    return m_hFileNode >= 0 ? fcntl(m_hFileNode, F_DUPFD_CLOEXEC, 0) : -1;
}

unsigned int CScanResultFileManager::GetFileNodeByClusterNO(unsigned int cluster, _FILE_NODE_* node)
{
    if (!node)
        return tessaroo::STATUS_INVALID_PARAMETER;
    int fd = DupNodeFile();
    if (fd < 0)
        return ErrnoOr(ENOENT);
    // The last record of the cluster is kept, but only a folder is an answer.
    bool found = false;
    SweepNodeFile(
        fd,
        [&](const _FILE_NODE_& rec, unsigned long long)
        {
            if (rec.uClusterNO != cluster)
                return true;
            *node = rec;
            found = rec.bIsDir != 0;
            return !found;
        },
        [](unsigned long long) { return true; });
    close(fd);
    return found ? 0 : tessaroo::STATUS_INVALID_PARAMETER;
}

unsigned int CScanResultFileManager::InitSearchCallBack(SEARCH_CALLBACK search, void* param)
{
    m_pSearchFunc = search;
    m_pSearchParam = param;
    return 0;
}

int CScanResultFileManager::SearchFileNodeInfo(const wchar_t* typeKey,
                                               std::vector<__SEARCH_FILE_INFO__>& hits)
{
    char keyBuf[SEARCH_KEY_SIZE];
    keyBuf[0] = 0;
    if (typeKey)
        Unicode2Ansi(typeKey, keyBuf, static_cast<int>(sizeof(keyBuf)));
    const std::string key = keyBuf;
    FlushBufToFile();

    int status = 0;
    bool otherFiles = key.find(".other") != std::string::npos;
    int fd = DupNodeFile();
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && m_readBlock.size() >= static_cast<size_t>(RECORDS_PER_BLOCK))
    {
        const unsigned long long size = static_cast<unsigned long long>(st.st_size);
        // Listing every file of no known kind in a very large store would
        // flood the browser.
        if (size > OTHER_FILES_SIZE_LIMIT)
            otherFiles = false;
        try
        {
            // One allocation for the worst case: pages are only committed as
            // hits fill them, and a growing vector would copy every hit
            // again at each doubling.
            const size_t records = static_cast<size_t>(size / NODE);
            if (hits.capacity() - hits.size() < records)
            {
                try
                {
                    hits.reserve(hits.size() + records);
                }
                catch (const std::bad_alloc&)
                {
                }
            }
            enum : uint8_t
            {
                IN_KEY = 1,
                IN_KNOWN = 2,
                IN_PICTURES = 4,
            };
            // A volume holds few distinct extensions; each is judged once.
            std::unordered_map<std::string, uint8_t> verdicts;
            std::string dotExt;
            SweepNodeFile(
                fd,
                [&](const _FILE_NODE_& rec, unsigned long long)
                {
                    if (rec.bIsDir)
                        return true;
                    bool hasDot = false;
                    const std::string ext = LowerExtension(rec.szFileName, hasDot);
                    uint8_t verdict = 0;
                    auto cached = verdicts.find(ext);
                    if (cached != verdicts.end())
                        verdict = cached->second;
                    else
                    {
                        if (strstr(tessaroo::PICTURE_TYPE_LIST, ext.c_str()))
                            verdict |= IN_PICTURES;
                        if (!ext.empty())
                        {
                            dotExt = "." + ext;
                            if (key.find(dotExt) != std::string::npos)
                                verdict |= IN_KEY;
                            if (m_strKnownExtList.find(dotExt) != std::string::npos)
                                verdict |= IN_KNOWN;
                        }
                        if (verdicts.size() < EXTENSION_CACHE_LIMIT)
                            verdicts.emplace(ext, verdict);
                    }
                    if (rec.bDataHealth == 0 && hasDot && (verdict & IN_PICTURES))
                        return true;
                    bool keep = ext.empty() ? otherFiles
                                            : ((verdict & IN_KEY) || (otherFiles && !(verdict & IN_KNOWN)));
                    if (keep)
                        hits.push_back(rec);
                    return true;
                },
                [&](unsigned long long done)
                {
                    return !(m_pSearchFunc && size > 0 &&
                             m_pSearchFunc(m_pSearchParam,
                                           static_cast<int>(std::min(done, size) * 100 / size),
                                           nullptr) != 0);
                });
            status = 1;
        }
        catch (const std::bad_alloc&)
        {
            tessaroo::CoreLog("search ran out of memory after %zu hits\n", hits.size());
            status = 1;
        }
    }
    if (fd >= 0)
        close(fd);
    try
    {
        SortNodes(hits);
    }
    catch (const std::bad_alloc&)
    {
        tessaroo::CoreLog("search hits left unsorted: out of memory\n");
    }
    return status;
}

bool CScanResultFileManager::IsDirFileNodeExist(long long cluster, unsigned int level) const
{
    // A folder number is 32 bits wide; wider values would spill into the level.
    unsigned long long key = (static_cast<unsigned long long>(level) << 32) | static_cast<uint32_t>(cluster);
    return m_dirRelationMap.count(key) != 0;
}

namespace
{
// The key of a folder, or of the root when dir is null; false for a null
// folder asked at a level other than 0.
bool FolderKey(const _FILE_NODE_* dir, unsigned int level, uint32_t rootFolder, unsigned long long& key)
{
    if (!dir && level != 0)
        return false;
    const uint32_t folder = (dir && dir->uClusterNO) ? dir->uClusterNO : rootFolder;
    key = (static_cast<unsigned long long>(level) << 32) | folder;
    return true;
}
} // namespace

unsigned int CScanResultFileManager::ChildrenOf(CScanResultFileManager* store, const _FILE_NODE_* dir,
                                                unsigned int level, uint32_t rootFolder,
                                                std::vector<_FILE_NODE_>& children)
{
    unsigned long long key = 0;
    if (!FolderKey(dir, level, rootFolder, key))
        return tessaroo::STATUS_INVALID_PARAMETER;
    if (!store)
        return 0;
    store->FlushBufToFile();
    return store->GetChildrenFileNode(key, children);
}

unsigned int CScanResultFileManager::ChildCountOf(CScanResultFileManager* store, const _FILE_NODE_* dir,
                                                  unsigned int level, uint32_t rootFolder,
                                                  unsigned int& count)
{
    unsigned long long key = 0;
    if (!FolderKey(dir, level, rootFolder, key))
        return tessaroo::STATUS_INVALID_PARAMETER;
    if (!store)
    {
        count = 0;
        return 0;
    }
    store->FlushBufToFile();
    return store->GetChildrenFileCount(key, count);
}

unsigned int CScanResultFileManager::ParentPathOf(CScanResultFileManager* store, const _FILE_NODE_* node,
                                                  wchar_t* path, int pathLen)
{
    if (store)
        return store->GetParentDirPath(node, path, pathLen);
    if (path && pathLen > 0)
        path[0] = 0;
    return tessaroo::STATUS_SUCCESS;
}

unsigned int CScanResultFileManager::SearchIn(CScanResultFileManager* store, wchar_t* typeKey,
                                              std::vector<__SEARCH_FILE_INFO__>& hits)
{
    return store ? static_cast<unsigned int>(store->SearchFileNodeInfo(typeKey, hits)) : 0;
}

unsigned int CScanResultFileManager::InitNew(const char* prefix, unsigned long long startSector)
{
    const std::string name = CLogFileManager::MakeStoreName(prefix, startSector);
    char dir[CLogFileManager::PATH_SIZE] = {0};
    if (CLogFileManager::GetInstance()->GetLogFileDirPath(dir) == tessaroo::STATUS_SUCCESS && dir[0])
    {
        const std::string base = std::string(dir) + name;
        for (const char* suffix : {"", "_Relation", "_DirInfo"})
            unlink((base + suffix).c_str());
    }
    const std::wstring wide = tessaroo::Utf8ToWide(name.c_str());
    return Init(wide.c_str());
}

unsigned int CScanResultFileManager::InitNamedOrNew(const wchar_t* name, const char* prefix,
                                                    unsigned long long startSector)
{
    return name && name[0] ? Init(name) : InitNew(prefix, startSector);
}
