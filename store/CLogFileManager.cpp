#include "core/FileIo.h"
#include "store/CLogFileManager.h"

#include "core/ByteReader.h"
#include "core/Log.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using tessaroo::ErrnoOr;
using tessaroo::ReadFull;
using tessaroo::WriteFull;

namespace
{
const char CONFIG_NAME[] = "config";
const char CONFIG_TMP_NAME[] = "config.tmp";
// Beside the index: every change of the index is made under its lock.
const char LOCK_NAME[] = "config.lock";
// In each scan-log folder: held by the run that writes into the folder.
const char RUN_LOCK_NAME[] = ".lock";
// Folders a run passes over when others hold them, before it gives up.
constexpr unsigned int MAX_FOLDER_ATTEMPTS = 10000;
// Folder numbers a run takes stay below this: a folder index has 20 digits
// at most, and an index past this is not one this program wrote.
constexpr unsigned long long MAX_DIR_INDEX = 1ULL << 62;
// A scan index holds one record per scanned volume; anything past this is
// not an index this program wrote, and reading on would only burn time.
constexpr size_t MAX_LOG_RECORDS = 65536;
// File descriptors nftw may hold open while it walks a scan-log folder.
constexpr int NFTW_OPEN_FDS = 16;

// Copies src into a fixed field of dstSize bytes, always NUL-terminated.
void CopyField(char* dst, size_t dstSize, const char* src)
{
    size_t n = src ? strnlen(src, dstSize - 1) : 0;
    if (n)
        memcpy(dst, src, n);
    memset(dst + n, 0, dstSize - n);
}

_LOG_FILE_INFO_ DecodeRecord(const uint8_t* p)
{
    tessaroo::ByteReader r(p, LOG_FILE_INFO_SIZE);
    _LOG_FILE_INFO_ info;
    memset(&info, 0, sizeof(info));
    info.nDiskIndex = static_cast<int32_t>(r.U32(0));
    info.uReserved0 = r.U32(4);
    info.u64StartSector = r.U64(8);
    info.u64SectorCount = r.U64(16);
    info.u64RunStart = r.U64(24);
    info.u64RunLength = r.U64(32);
    info.u64RunOffset = r.U64(40);
    info.u64ScannedSectors = r.U64(48);
    info.u64FileCount = r.U64(56);
    info.u64FreeSpace = r.U64(64);
    info.u64Reserved72 = r.U64(72);
    r.ReadBytes(80, info.szDevicePath, sizeof(info.szDevicePath));
    r.ReadBytes(336, info.szLogDirPath, sizeof(info.szLogDirPath));
    // A damaged index must not hand out unterminated paths.
    info.szDevicePath[sizeof(info.szDevicePath) - 1] = 0;
    info.szLogDirPath[sizeof(info.szLogDirPath) - 1] = 0;
    return info;
}

void EncodeRecord(const _LOG_FILE_INFO_& info, uint8_t* p)
{
    memset(p, 0, LOG_FILE_INFO_SIZE);
    tessaroo::PutU32(p + 0, static_cast<uint32_t>(info.nDiskIndex));
    tessaroo::PutU32(p + 4, CLogFileManager::LOG_FORMAT_UTF8);
    tessaroo::PutU64(p + 8, info.u64StartSector);
    tessaroo::PutU64(p + 16, info.u64SectorCount);
    tessaroo::PutU64(p + 24, info.u64RunStart);
    tessaroo::PutU64(p + 32, info.u64RunLength);
    tessaroo::PutU64(p + 40, info.u64RunOffset);
    tessaroo::PutU64(p + 48, info.u64ScannedSectors);
    tessaroo::PutU64(p + 56, info.u64FileCount);
    tessaroo::PutU64(p + 64, info.u64FreeSpace);
    tessaroo::PutU64(p + 72, info.u64Reserved72);
    memcpy(p + 80, info.szDevicePath, sizeof(info.szDevicePath));
    memcpy(p + 336, info.szLogDirPath, sizeof(info.szLogDirPath));
}

// What tells whether a volume changed between two scans: for a device,
// the free bytes of the file system holding its node, 0 when unknown; for
// an image file, its modification time (the file system holding an image
// fills and empties with everything else, scan logs included).
unsigned long long FreeSpaceOf(const char* deviceName)
{
    if (!deviceName)
        return 0;
    struct stat st;
    if (stat(deviceName, &st) == 0 && S_ISREG(st.st_mode))
        return static_cast<unsigned long long>(st.st_mtime);
    char path[CLogFileManager::PATH_SIZE];
    CopyField(path, sizeof(path), deviceName);
    unsigned int high = 0, low = 0;
    if (rsb_getFreeSpace(path, static_cast<int>(sizeof(path)), &high, &low) != 0)
        return 0;
    return (static_cast<unsigned long long>(high) << 32) | low;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    if (remove(path) != 0)
        tessaroo::CoreLog("remove %s failed %d\n", path, errno);
    return 0; // go on: remove what can be removed
}
} // namespace

CLogFileManager* CLogFileManager::GetInstance()
{
    static CLogFileManager instance;
    return &instance;
}

CLogFileManager::CLogFileManager()
{
    Init();
}

std::string CLogFileManager::DirPathOfIndex(unsigned long long n) const
{
    return m_strLogRootPath + std::to_string(n) + "/";
}

unsigned int CLogFileManager::Init()
{
    ReleaseRunFolder();
    m_bIsFindLog = 0;
    m_strFindLogDirPath.clear();
    m_strLogRootPath = tessaroo::GetScanLogRoot();
    unsigned long long index = 0;
    unsigned int status = LoadIndex(index);
    if (!m_staleDirs.empty())
    {
        // Logs of an older build: their stores hold names in another
        // encoding. They are removed once, under the index's lock.
        CIndexLock lock(m_strLogRootPath);
        status = LoadIndex(index);
        std::vector<std::string> stale;
        stale.swap(m_staleDirs);
        for (const std::string& dir : stale)
            DeleteLogFileDir(dir.c_str());
        m_nConfigIndex = index;
        SaveLogConfigFile();
    }
    m_nDirIndex = index;
    m_nConfigIndex = index;
    return status;
}

unsigned int CLogFileManager::LoadIndex(unsigned long long& configIndex)
{
    m_logFileInfoVec.clear();
    m_staleDirs.clear();
    configIndex = 0;

    const std::string config = m_strLogRootPath + CONFIG_NAME;
    const std::string tmp = m_strLogRootPath + CONFIG_TMP_NAME;
    // A save that was cut off between its unlink and its rename left the
    // whole new index in "config.tmp".
    struct stat st;
    if (stat(config.c_str(), &st) != 0 && errno == ENOENT && stat(tmp.c_str(), &st) == 0)
        rename(tmp.c_str(), config.c_str());

    int fd = open(config.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return tessaroo::STATUS_INVALID_PARAMETER;
    if (fstat(fd, &st) != 0)
    {
        unsigned int err = ErrnoOr(EIO);
        close(fd);
        return err;
    }
    if (st.st_size <= 0)
    {
        close(fd);
        return tessaroo::STATUS_INVALID_PARAMETER;
    }

    uint8_t header[LOG_CONFIG_HEADER_SIZE];
    size_t got = 0;
    if (ReadFull(fd, header, sizeof(header), got) != 0)
    {
        close(fd);
        return tessaroo::STATUS_READ_FAULT;
    }
    unsigned long long dirIndex = tessaroo::ByteReader(header, sizeof(header)).U64(0);

    // Records are read in blocks; a cut last record is left out.
    unsigned int status = 0;
    const size_t blockRecords = 64;
    std::vector<uint8_t> block(blockRecords * LOG_FILE_INFO_SIZE);
    unsigned long long remaining = static_cast<unsigned long long>(st.st_size) - LOG_CONFIG_HEADER_SIZE;
    while (remaining >= LOG_FILE_INFO_SIZE && m_logFileInfoVec.size() < MAX_LOG_RECORDS)
    {
        size_t want = block.size();
        if (remaining < want)
            want = static_cast<size_t>(remaining);
        bool complete = ReadFull(fd, block.data(), want, got) == 0;
        for (size_t off = 0; off <= got && got - off >= LOG_FILE_INFO_SIZE; off += LOG_FILE_INFO_SIZE)
        {
            _LOG_FILE_INFO_ rec = DecodeRecord(block.data() + off);
            if (rec.uReserved0 == LOG_FORMAT_UTF8)
                m_logFileInfoVec.push_back(rec);
            else
                m_staleDirs.push_back(rec.szLogDirPath);
        }
        if (!complete)
        {
            status = tessaroo::STATUS_READ_FAULT;
            break;
        }
        remaining -= want;
    }
    if (m_logFileInfoVec.size() >= MAX_LOG_RECORDS)
        tessaroo::CoreLog("scan index %s holds more than %zu records; the rest is ignored\n", config.c_str(),
                          MAX_LOG_RECORDS);
    close(fd);
    configIndex = dirIndex;
    return status;
}

unsigned int CLogFileManager::GetLogFileDirPath(char* path)
{
    if (!path)
        return tessaroo::STATUS_INVALID_PARAMETER;
    std::string dir = m_bIsFindLog ? m_strFindLogDirPath : DirPathOfIndex(m_nDirIndex);
    if (dir.size() >= PATH_SIZE)
    {
        path[0] = 0;
        return tessaroo::STATUS_INVALID_PARAMETER;
    }
    memcpy(path, dir.c_str(), dir.size() + 1);
    return 0;
}

CLogFileManager::CIndexLock::CIndexLock(const std::string& root) : m_fd(-1)
{
    tessaroo::MakeDirs(root, 0755);
    m_fd = open((root + LOCK_NAME).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (m_fd < 0)
    {
        tessaroo::CoreLog("open %s%s failed %d\n", root.c_str(), LOCK_NAME, errno);
        return;
    }
    while (flock(m_fd, LOCK_EX) != 0 && errno == EINTR)
    {
    }
}

CLogFileManager::CIndexLock::~CIndexLock()
{
    if (m_fd >= 0)
        close(m_fd); // releases the lock
}

int CLogFileManager::TryHoldFolder(const std::string& dir)
{
    int fd = open((dir + RUN_LOCK_NAME).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
    {
        close(fd);
        return -1;
    }
    return fd;
}

void CLogFileManager::ReleaseRunFolder()
{
    if (m_hRunLock >= 0)
        close(m_hRunLock);
    m_hRunLock = -1;
    m_strRunDir.clear();
}

void CLogFileManager::AddDirIndex()
{
    CIndexLock lock(m_strLogRootPath);
    unsigned long long configIndex = 0;
    LoadIndex(configIndex);
    ReleaseRunFolder();
    m_bIsFindLog = 0;
    m_strFindLogDirPath.clear();
    unsigned long long n = std::max(configIndex, m_nDirIndex);
    // A damaged index may hold any number: numbering starts again below it
    // rather than wrapping (taken folders are passed over by mkdir anyway).
    if (n >= MAX_DIR_INDEX)
        n = 0;
    for (unsigned int attempt = 0; attempt < MAX_FOLDER_ATTEMPTS; ++attempt)
    {
        ++n;
        const std::string dir = DirPathOfIndex(n);
        if (mkdir(dir.c_str(), 0755) != 0)
        {
            if (errno != EEXIST)
            {
                tessaroo::CoreLog("mkdir %s failed %d\n", dir.c_str(), errno);
                break;
            }
            // A folder left by an earlier run is emptied and taken; one a
            // live run holds is passed over.
            int held = TryHoldFolder(dir);
            if (held < 0)
                continue;
            close(held);
            DeleteLogFileDir(dir.c_str());
            if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
                continue;
        }
        m_hRunLock = TryHoldFolder(dir);
        if (m_hRunLock < 0)
            continue;
        m_strRunDir = dir;
        break;
    }
    m_nDirIndex = n;
    m_nConfigIndex = configIndex >= MAX_DIR_INDEX ? n : std::max(configIndex, n);
    SaveLogConfigFile();
}

void CLogFileManager::ReduceDirIndex()
{
    CIndexLock lock(m_strLogRootPath);
    unsigned long long configIndex = 0;
    LoadIndex(configIndex);
    ReleaseRunFolder();
    // Only the last folder handed out can be handed back.
    if (configIndex == m_nDirIndex && m_nDirIndex > 0)
    {
        m_nConfigIndex = configIndex - 1;
        SaveLogConfigFile();
    }
    else
        m_nConfigIndex = configIndex;
    --m_nDirIndex;
}

bool CLogFileManager::IsNumberedLogDir(const char* dirPath) const
{
    if (!dirPath || m_strLogRootPath.empty())
        return false;
    size_t rootLen = m_strLogRootPath.size();
    if (strncmp(dirPath, m_strLogRootPath.c_str(), rootLen) != 0)
        return false;
    const char* p = dirPath + rootLen;
    size_t digits = 0;
    while (p[digits] >= '0' && p[digits] <= '9')
        ++digits;
    // The decimal form of a 64-bit index: 1 to 20 digits, no leading zero.
    if (digits == 0 || digits > 20 || (digits > 1 && p[0] == '0'))
        return false;
    return p[digits] == '/' && p[digits + 1] == 0;
}

bool CLogFileManager::EraseRecordByDir(const char* dirPath)
{
    for (auto it = m_logFileInfoVec.begin(); it != m_logFileInfoVec.end(); ++it)
    {
        if (strcasecmp(it->szLogDirPath, dirPath) == 0)
        {
            m_logFileInfoVec.erase(it);
            return true;
        }
    }
    return false;
}

void CLogFileManager::RemoveLogDirTree(const char* dirPath)
{
    // Without its trailing '/' the path names the entry itself, so a folder
    // replaced by a symbolic link loses the link, not the link's target.
    std::string path = dirPath;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return; // nothing there: a fresh folder index
    // nftw without FTW_CHDIR keeps the working directory, which the
    // user-interface thread shares.
    if (nftw(path.c_str(), RemoveEntry, NFTW_OPEN_FDS, FTW_PHYS | FTW_DEPTH) != 0)
        tessaroo::CoreLog("remove dir %s failed %d\n", path.c_str(), errno);
}

unsigned int CLogFileManager::DeleteLogFileDir(const char* dirPath)
{
    if (!dirPath)
        return tessaroo::STATUS_INVALID_PARAMETER;
    std::string path = dirPath; // dirPath may point into the record erased next
    EraseRecordByDir(path.c_str());
    if (!IsNumberedLogDir(path.c_str()))
    {
        tessaroo::CoreLog("not a scan-log folder, left alone: %s\n", path.c_str());
        return 0;
    }
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    {
        const int held = TryHoldFolder(path);
        if (held < 0)
        {
            tessaroo::CoreLog("scan-log folder in use by a running scan, left alone: %s\n", path.c_str());
            return 0;
        }
        RemoveLogDirTree(path.c_str());
        close(held);
        return 0;
    }
    RemoveLogDirTree(path.c_str());
    return 0;
}

int CLogFileManager::LoadRecoveryLogInfo(const char* deviceName, int diskIndex,
                                         unsigned long long startSector, unsigned long long sectorCount,
                                         _LOG_FILE_INFO_* info)
{
    unsigned long long freeSpace = FreeSpaceOf(deviceName);
    CIndexLock lock(m_strLogRootPath);
    LoadIndex(m_nConfigIndex);
    m_bIsFindLog = 0;
    m_strFindLogDirPath.clear();
    for (auto it = m_logFileInfoVec.begin(); it != m_logFileInfoVec.end(); ++it)
    {
        if (it->nDiskIndex != diskIndex || it->u64StartSector != startSector ||
            it->u64SectorCount != sectorCount)
            continue;
        std::string dir = it->szLogDirPath;
        if (!IsNumberedLogDir(dir.c_str()))
        {
            // Stores opened there would write outside the scan-log root.
            tessaroo::CoreLog("scan index record names no scan-log folder, dropped: %s\n", dir.c_str());
            m_logFileInfoVec.erase(it);
            SaveLogConfigFile();
            return 0;
        }
        if (it->u64FreeSpace == freeSpace)
        {
            // A log that another live run is writing cannot be reused; the
            // folder this run already holds (an earlier scan of this
            // process) can.
            if (m_hRunLock < 0 || dir != m_strRunDir)
            {
                const int held = TryHoldFolder(dir);
                if (held < 0)
                    return 0;
                ReleaseRunFolder();
                m_hRunLock = held;
                m_strRunDir = dir;
            }
            m_bIsFindLog = 1;
            m_strFindLogDirPath = dir;
            if (info)
                *info = *it;
            return 1;
        }
        // The volume changed since that scan: its stores describe another volume.
        DeleteLogFileDir(dir.c_str());
        SaveLogConfigFile();
        return 0;
    }
    return 0;
}

void CLogFileManager::DropFoundLog()
{
    if (!m_bIsFindLog)
        return;
    const std::string dir = m_strFindLogDirPath;
    CIndexLock lock(m_strLogRootPath);
    LoadIndex(m_nConfigIndex);
    ReleaseRunFolder();
    m_bIsFindLog = 0;
    m_strFindLogDirPath.clear();
    DeleteLogFileDir(dir.c_str());
    SaveLogConfigFile();
}

unsigned int CLogFileManager::SaveLogFileInfo(const char* deviceName, int diskIndex,
                                              unsigned long long startSector, unsigned long long sectorCount,
                                              unsigned long long runStart, unsigned long long runLength,
                                              unsigned long long runOffset, unsigned long long scanned,
                                              unsigned long long files, const char* logDirPath,
                                              const char* devicePath)
{
    bool isDisk = !devicePath || !devicePath[0];
    unsigned long long freeSpace = 0;
    CIndexLock lock(m_strLogRootPath);
    LoadIndex(m_nConfigIndex);
    if (isDisk)
    {
        freeSpace = FreeSpaceOf(deviceName);
        for (auto it = m_logFileInfoVec.begin(); it != m_logFileInfoVec.end(); ++it)
        {
            if (it->nDiskIndex != diskIndex || it->u64StartSector != startSector ||
                it->u64SectorCount != sectorCount)
                continue;
            // The record keeps its place when it describes the folder this
            // scan wrote. One of an earlier scan's folder would send a later
            // resume to that folder's stores with this scan's position, and
            // so list files twice: it is replaced, as a stale one is.
            const bool sameFolder = logDirPath && strcasecmp(it->szLogDirPath, logDirPath) == 0;
            if (it->u64FreeSpace == freeSpace && sameFolder)
            {
                it->u64RunStart = runStart;
                it->u64RunLength = runLength;
                it->u64RunOffset = runOffset;
                it->u64ScannedSectors = scanned;
                it->u64FileCount = files;
                return SaveLogConfigFile();
            }
            std::string dir = it->szLogDirPath;
            m_logFileInfoVec.erase(it);
            // The stale record may name the very folder this scan just
            // filled (a reused log); that folder holds the new results.
            if (!logDirPath || strcasecmp(dir.c_str(), logDirPath) != 0)
                DeleteLogFileDir(dir.c_str());
            break;
        }
    }

    _LOG_FILE_INFO_ info;
    memset(&info, 0, sizeof(info));
    info.nDiskIndex = diskIndex;
    info.u64StartSector = startSector;
    info.u64SectorCount = sectorCount;
    info.u64RunStart = runStart;
    info.u64RunLength = runLength;
    info.u64RunOffset = runOffset;
    info.u64ScannedSectors = scanned;
    info.u64FileCount = files;
    info.u64FreeSpace = freeSpace;
    CopyField(info.szLogDirPath, sizeof(info.szLogDirPath), logDirPath);
    CopyField(info.szDevicePath, sizeof(info.szDevicePath), isDisk ? "" : devicePath);
    m_logFileInfoVec.push_back(info);
    return SaveLogConfigFile();
}

int CLogFileManager::FindUnchanged(const std::function<bool(const _LOG_FILE_INFO_&)>& sameVolume,
                                   const std::function<bool(const _LOG_FILE_INFO_&)>& unchanged,
                                   _LOG_FILE_INFO_** info)
{
    for (auto it = m_logFileInfoVec.begin(); it != m_logFileInfoVec.end(); ++it)
    {
        if (!sameVolume(*it))
            continue;
        if (unchanged(*it))
        {
            if (info)
                *info = &*it;
            return 1;
        }
        std::string dir = it->szLogDirPath;
        m_logFileInfoVec.erase(it);
        DeleteLogFileDir(dir.c_str());
        return 0;
    }
    return 0;
}

int CLogFileManager::GetFileInfo(const char* devicePath, unsigned long long value, _LOG_FILE_INFO_** info)
{
    if (!devicePath)
        return 0;
    return FindUnchanged([&](const _LOG_FILE_INFO_& r) { return strcmp(r.szDevicePath, devicePath) == 0; },
                         [&](const _LOG_FILE_INFO_& r) { return r.u64Reserved72 == value; }, info);
}

int CLogFileManager::GetFileInfo(int diskIndex, unsigned long long startSector,
                                 unsigned long long sectorCount, unsigned long long freeSpace,
                                 _LOG_FILE_INFO_** info)
{
    return FindUnchanged(
        [&](const _LOG_FILE_INFO_& r) {
            return r.nDiskIndex == diskIndex && r.u64StartSector == startSector &&
                   r.u64SectorCount == sectorCount;
        },
        [&](const _LOG_FILE_INFO_& r) { return r.u64FreeSpace == freeSpace; }, info);
}

unsigned int CLogFileManager::GetLogFileNameByFileType(const char* dirPath, const char* prefix, char* name)
{
    if (!dirPath || !prefix || !name)
        return tessaroo::STATUS_INVALID_PARAMETER;
    DIR* dir = opendir(dirPath);
    if (!dir)
    {
        tessaroo::CoreLog("open dir failed\n");
        return 0;
    }
    static const char* const COMPANION_SUFFIXES[] = {"_Relation", "_DirInfo"};
    while (struct dirent* e = readdir(dir))
    {
        const char* n = e->d_name;
        if (strcmp(n, ".") == 0 || strcmp(n, "..") == 0 || !strstr(n, prefix))
            continue;
        // The coordinator reopens a store by its node file's name; the
        // companions share the prefix but are not stores.
        size_t len = strlen(n);
        bool companion = false;
        for (const char* suffix : COMPANION_SUFFIXES)
        {
            size_t sl = strlen(suffix);
            if (len >= sl && strcmp(n + len - sl, suffix) == 0)
                companion = true;
        }
        if (companion || len >= PATH_SIZE)
            continue;
        memcpy(name, n, len + 1);
        break;
    }
    closedir(dir);
    return 0;
}

std::string CLogFileManager::MakeStoreName(const char* prefix, unsigned long long startSector)
{
    SYSTEMTIME t = {};
    rsb_getSystemTime(&t);
    char name[128];
    snprintf(name, sizeof(name), "%s%llu_%04u%02u%02u%02u%02u", prefix ? prefix : "", startSector,
             unsigned(t.wYear), unsigned(t.wMonth), unsigned(t.wDay), unsigned(t.wHour), unsigned(t.wMinute));
    return name;
}

unsigned int CLogFileManager::SaveLogConfigFile()
{
    const std::string config = m_strLogRootPath + CONFIG_NAME;
    const std::string tmp = m_strLogRootPath + CONFIG_TMP_NAME;
    int fd = open(tmp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
    {
        unsigned int err = ErrnoOr(EIO);
        tessaroo::CoreLog("open %s failed %u\n", tmp.c_str(), err);
        return err;
    }
    std::vector<uint8_t> bytes(LOG_CONFIG_HEADER_SIZE + m_logFileInfoVec.size() * LOG_FILE_INFO_SIZE);
    tessaroo::PutU64(bytes.data(), m_nConfigIndex);
    for (size_t i = 0; i < m_logFileInfoVec.size(); ++i)
        EncodeRecord(m_logFileInfoVec[i], bytes.data() + LOG_CONFIG_HEADER_SIZE + i * LOG_FILE_INFO_SIZE);

    unsigned int status = WriteFull(fd, bytes.data(), bytes.size());
    // The old index is replaced only by a new one that is wholly on disk.
    if (status == 0 && fsync(fd) != 0)
        status = ErrnoOr(EIO);
    if (close(fd) != 0 && status == 0)
        status = ErrnoOr(EIO);
    if (status == 0 && rename(tmp.c_str(), config.c_str()) != 0)
        status = ErrnoOr(EIO);
    if (status != 0)
    {
        tessaroo::CoreLog("save scan index failed %u\n", status);
        unlink(tmp.c_str());
        return status;
    }
    int dirFd = open(m_strLogRootPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0)
    {
        fsync(dirFd); // make the rename itself durable; best effort
        close(dirFd);
    }
    return 0;
}
