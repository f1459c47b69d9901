#include "recovery/CTargetFile.h"

#include "core/FileIo.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaroo
{
namespace
{
// Folders a root keeps open. A folder copy of a big tree opens one handle
// per folder; past this many they are opened per file and closed again.
constexpr size_t MAX_OPEN_FOLDERS = 256;
// Names a folder can hold of one file before "(n)" gives up.
constexpr unsigned int MAX_NAME_NUMBER = 1000000;
// Longest name a file system of the destination takes.
constexpr size_t MAX_NAME_BYTES = 255;

thread_local CTargetRoot* t_pTopRoot = nullptr;

bool IsPlainComponent(const std::string& c)
{
    return !c.empty() && c != "." && c != ".." && c.find('/') == std::string::npos &&
           c.find('\0') == std::string::npos && c.size() <= MAX_NAME_BYTES;
}

int OpenFolderNoFollow(int dirFd, const char* name)
{
    return openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// name with "(n)" before its extension (the text from the last '.'), cut
// at a character boundary so the result fits one path component.
std::string NumberedName(const std::string& name, unsigned int n)
{
    if (n == 0)
        return name;
    const size_t dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    std::string stem = name.substr(0, name.size() - ext.size());
    const std::string tag = "(" + std::to_string(n) + ")";
    if (stem.size() + tag.size() + ext.size() > MAX_NAME_BYTES)
        stem.resize(Utf8PrefixBytes(stem.c_str(), MAX_NAME_BYTES - tag.size() - std::min(ext.size(), size_t(32))));
    return stem + tag + ext;
}

// Renames from to to within dirFd unless to exists (EEXIST then).
int RenameNoReplace(int dirFd, const char* from, const char* to)
{
    if (renameat2(dirFd, from, dirFd, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // File systems without the flag: a hard link fails on an existing name.
    if (linkat(dirFd, from, dirFd, to, 0) != 0)
        return errno;
    unlinkat(dirFd, from, 0);
    return 0;
}

void SplitLast(const std::string& path, std::string& folder, std::string& name)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
    {
        folder.clear();
        name = path;
        return;
    }
    folder = path.substr(0, slash);
    name = path.substr(slash + 1);
}
} // namespace

// ---------------------------------------------------------------------------

CTargetRoot::CTargetRoot() : m_fd(-1), m_pOuter(nullptr) {}

CTargetRoot::~CTargetRoot()
{
    for (auto& f : m_folders)
        close(f.second);
    if (m_fd >= 0)
    {
        close(m_fd);
        // Roots end in the order they were opened; unlink this one wherever
        // it sits so a stray order cannot leave a dangling entry.
        for (CTargetRoot** p = &t_pTopRoot; *p; p = &(*p)->m_pOuter)
            if (*p == this)
            {
                *p = m_pOuter;
                break;
            }
    }
}

unsigned int CTargetRoot::Open(const std::string& path, const std::wstring& label, std::string& message)
{
    message.clear();
    if (m_fd >= 0 || path.empty())
        return STATUS_INVALID_PARAMETER;
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (!MakeDirs(p, 0755))
    {
        const int e = errno;
        message = "cannot create the destination folder " + p + ": " + strerror(e);
        return DestinationStatus(e);
    }
    m_fd = open(p.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (m_fd < 0)
    {
        const int e = errno;
        message = e == ELOOP ? "the destination " + p + " is a symbolic link; give the folder it leads to"
                             : "cannot open the destination folder " + p + ": " + strerror(e);
        return DestinationStatus(e);
    }
    m_strLabel = label;
    while (!m_strLabel.empty() && m_strLabel.back() == L'/')
        m_strLabel.pop_back();
    m_pOuter = t_pTopRoot;
    t_pTopRoot = this;
    return STATUS_SUCCESS;
}

CTargetRoot* CTargetRoot::Find(const wchar_t* targetPath, std::string& relative)
{
    if (!targetPath)
        return nullptr;
    const std::wstring t = targetPath;
    for (CTargetRoot* r = t_pTopRoot; r; r = r->m_pOuter)
    {
        const std::wstring& l = r->m_strLabel;
        if (t.size() > l.size() + 1 && t.compare(0, l.size(), l) == 0 && t[l.size()] == L'/')
        {
            relative = WideToUtf8(t.c_str() + l.size() + 1);
            return r;
        }
    }
    return nullptr;
}

unsigned int CTargetRoot::OpenFolder(const std::string& relative, int& fd)
{
    fd = -1;
    if (m_fd < 0)
        return DestinationStatus(EBADF);
    if (relative.empty())
    {
        fd = m_fd;
        return STATUS_SUCCESS;
    }
    auto hit = m_folders.find(relative);
    if (hit != m_folders.end())
    {
        fd = hit->second;
        return STATUS_SUCCESS;
    }
    int parent = m_fd;
    bool parentOwned = false; // not in the cache: closed once the next is open
    std::string prefix;
    size_t pos = 0;
    while (true)
    {
        size_t slash = relative.find('/', pos);
        if (slash == std::string::npos)
            slash = relative.size();
        const std::string comp = relative.substr(pos, slash - pos);
        if (!IsPlainComponent(comp))
        {
            if (parentOwned)
                close(parent);
            return STATUS_INVALID_PARAMETER;
        }
        prefix = prefix.empty() ? comp : prefix + "/" + comp;
        int next = -1;
        bool nextOwned = false;
        auto it = m_folders.find(prefix);
        if (it != m_folders.end())
            next = it->second;
        else
        {
            int e = 0;
            if (mkdirat(parent, comp.c_str(), 0755) != 0 && errno != EEXIST)
                e = errno;
            if (e == 0)
            {
                next = OpenFolderNoFollow(parent, comp.c_str());
                if (next < 0)
                    e = errno == ELOOP ? ENOTDIR : errno;
            }
            if (e != 0)
            {
                if (parentOwned)
                    close(parent);
                return DestinationStatus(e);
            }
            if (m_folders.size() < MAX_OPEN_FOLDERS)
                m_folders.emplace(prefix, next);
            else
                nextOwned = true;
        }
        if (parentOwned)
            close(parent);
        parent = next;
        parentOwned = nextOwned;
        if (slash == relative.size())
            break;
        pos = slash + 1;
    }
    if (parentOwned)
    {
        // Past the cache bound the caller still needs a handle for a while:
        // keep the last one under a key of its own, replacing the previous.
        auto spare = m_folders.find(std::string(1, '\0'));
        if (spare != m_folders.end())
        {
            close(spare->second);
            spare->second = parent;
        }
        else
            m_folders.emplace(std::string(1, '\0'), parent);
    }
    fd = parent;
    return STATUS_SUCCESS;
}

unsigned int& CTargetRoot::NextFreeNumber(const std::string& folder, const std::string& name)
{
    return m_nextNumber[std::make_pair(folder, name)];
}

// ---------------------------------------------------------------------------

CTargetFile::CTargetFile()
    : m_fd(-1), m_dirFd(-1), m_bOwnDirFd(false), m_bPreview(false), m_pRoot(nullptr), m_nAccessTime(0),
      m_nModifyTime(0)
{
}

CTargetFile::~CTargetFile()
{
    Remove();
}

void CTargetFile::Remove()
{
    if (m_fd >= 0)
    {
        close(m_fd);
        m_fd = -1;
        unlinkat(m_dirFd, m_strTemp.c_str(), 0);
    }
    if (m_dirFd >= 0 && m_bOwnDirFd)
        close(m_dirFd);
    m_dirFd = -1;
    m_bOwnDirFd = false;
}

unsigned int CTargetFile::CreateIn(int dirFd, const std::string& name)
{
    m_strName = name;
    m_dirFd = fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    if (m_dirFd < 0)
        return DestinationStatus(errno);
    m_bOwnDirFd = true;
    static unsigned int s_nSequence = 0;
    for (int attempt = 0; attempt < 1000; ++attempt)
    {
        m_strTemp = ".tessaroo-" + std::to_string(getpid()) + "-" +
                    std::to_string(__atomic_add_fetch(&s_nSequence, 1, __ATOMIC_RELAXED)) + ".part";
        // A preview lies in the scan-log folder and is no one else's to read.
        m_fd = openat(m_dirFd, m_strTemp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      m_bPreview ? 0600 : 0644);
        if (m_fd >= 0)
            return STATUS_SUCCESS;
        if (errno != EEXIST)
            break;
    }
    const unsigned int st = DestinationStatus(errno);
    Remove();
    return st;
}

unsigned int CTargetFile::Create(const wchar_t* targetPath)
{
    Remove();
    m_bPreview = false;
    m_pRoot = nullptr;
    m_strPath = targetPath ? targetPath : L"";
    if (!targetPath || !*targetPath)
        return STATUS_INVALID_PARAMETER;
    std::string relative, name;
    m_pRoot = CTargetRoot::Find(targetPath, relative);
    if (m_pRoot)
    {
        SplitLast(relative, m_strFolder, name);
        if (!IsPlainComponent(name))
            return STATUS_INVALID_PARAMETER;
        int fd = -1;
        const unsigned int st = m_pRoot->OpenFolder(m_strFolder, fd);
        if (st != STATUS_SUCCESS)
            return st;
        return CreateIn(fd, name);
    }
    // No run holds this destination: the folder is opened once by its path.
    std::string folder;
    SplitLast(WideToUtf8(targetPath), folder, name);
    if (!IsPlainComponent(name))
        return STATUS_INVALID_PARAMETER;
    if (folder.empty() && targetPath[0] == L'/')
        folder = "/";
    else if (folder.empty())
        folder = ".";
    m_strFolder = folder;
    return CreateInFolderPath(folder, name);
}

unsigned int CTargetFile::CreateInFolderPath(const std::string& folder, const std::string& name)
{
    if (!MakeDirs(folder, 0755))
        return DestinationStatus(errno);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return DestinationStatus(errno == ELOOP ? ENOTDIR : errno);
    const unsigned int st = CreateIn(fd, name);
    close(fd);
    return st;
}

unsigned int CTargetFile::CreatePreview(const char* ext)
{
    Remove();
    m_bPreview = true;
    m_pRoot = nullptr;
    const std::string folder = GetScanLogRoot();
    const std::string name = "tmp." + MakeSafeTargetName(ext);
    m_strPath = Utf8ToWide((folder + name).c_str());
    m_strFolder = folder;
    if (!IsPlainComponent(name))
        return STATUS_INVALID_PARAMETER;
    return CreateInFolderPath(folder, name);
}

unsigned int CTargetFile::Write(const void* data, size_t len)
{
    if (m_fd < 0)
        return DestinationStatus(EBADF);
    const unsigned int st = WriteFull(m_fd, data, len);
    return st == STATUS_SUCCESS ? st : DestinationStatus(int(st));
}

void CTargetFile::SetTimes(int64_t accessTime, int64_t modifyTime)
{
    m_nAccessTime = accessTime;
    m_nModifyTime = modifyTime;
}

unsigned int CTargetFile::Finish(unsigned int status)
{
    if (m_fd < 0)
    {
        Remove();
        return status;
    }
    // A preview shows a picture whole or not at all.
    bool keep = status == STATUS_SUCCESS || (status == STATUS_READ_FAULT && !m_bPreview);
    if (keep && (m_nAccessTime || m_nModifyTime))
    {
        struct timespec ts[2];
        ts[0].tv_sec = time_t(m_nAccessTime);
        ts[0].tv_nsec = m_nAccessTime ? 0 : UTIME_OMIT;
        ts[1].tv_sec = time_t(m_nModifyTime);
        ts[1].tv_nsec = m_nModifyTime ? 0 : UTIME_OMIT;
        futimens(m_fd, ts); // a destination that keeps no times is no failure
    }
    const int fd = m_fd;
    m_fd = -1;
    if (close(fd) != 0 && keep)
    {
        status = DestinationStatus(errno);
        keep = false;
    }
    if (!keep)
    {
        unlinkat(m_dirFd, m_strTemp.c_str(), 0);
        Remove();
        return status;
    }
    int err = 0;
    std::string kept;
    if (m_bPreview)
    {
        // The previous preview is ours to replace; a link planted under its
        // name is replaced, never followed.
        if (renameat(m_dirFd, m_strTemp.c_str(), m_dirFd, m_strName.c_str()) != 0)
            err = errno;
        kept = m_strName;
    }
    else
    {
        unsigned int localNext = 0;
        unsigned int& next = m_pRoot ? m_pRoot->NextFreeNumber(m_strFolder, m_strName) : localNext;
        err = EEXIST;
        for (unsigned int n = next; n < MAX_NAME_NUMBER && err == EEXIST; ++n)
        {
            kept = NumberedName(m_strName, n);
            err = RenameNoReplace(m_dirFd, m_strTemp.c_str(), kept.c_str());
            if (err == 0)
                next = n + 1;
        }
    }
    if (err != 0)
    {
        unlinkat(m_dirFd, m_strTemp.c_str(), 0);
        Remove();
        return DestinationStatus(err);
    }
    const size_t slash = m_strPath.rfind(L'/');
    m_strPath = (slash == std::wstring::npos ? std::wstring() : m_strPath.substr(0, slash + 1)) +
                Utf8ToWide(kept.c_str());
    Remove();
    return status;
}

unsigned int MakeTargetFolder(const wchar_t* targetPath)
{
    if (!targetPath || !*targetPath)
        return STATUS_INVALID_PARAMETER;
    std::string relative;
    if (CTargetRoot* root = CTargetRoot::Find(targetPath, relative))
    {
        int fd = -1;
        return root->OpenFolder(relative, fd);
    }
    const std::string path = WideToUtf8(targetPath);
    if (!MakeDirs(path, 0755))
        return DestinationStatus(errno);
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return DestinationStatus(errno);
    return S_ISDIR(st.st_mode) ? STATUS_SUCCESS : DestinationStatus(ENOTDIR);
}
} // namespace tessaroo
