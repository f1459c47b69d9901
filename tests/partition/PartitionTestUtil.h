// Small helpers for the partition tests: a temporary folder, the disk list
// environment, and sparse image files written sector by sector.
#pragma once

#include "core/ByteReader.h"
#include "partition/CPartitionManager.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace ptest
{
typedef std::map<int, std::vector<_PARTITION_ITEM_>> DiskMap;

class TempDir
{
  public:
    TempDir()
    {
        const char* base = getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tessaroo-partition-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back(0);
        if (mkdtemp(buf.data()))
            m_path = buf.data();
    }
    ~TempDir()
    {
        if (!m_path.empty())
            std::system(("rm -rf '" + m_path + "'").c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

// Points the disk-number mapping at the given images for one scope; the
// support folder goes to a temporary place so nothing lands in the user's.
class DiskEnv
{
  public:
    DiskEnv(const std::vector<std::string>& images, const std::string& supportDir)
    {
        std::string list;
        for (size_t i = 0; i < images.size(); ++i)
            list += (i ? ":" : "") + images[i];
        setenv("TESSAROO_DISKS", list.c_str(), 1);
        setenv("TESSAROO_SUPPORT_DIR", supportDir.c_str(), 1);
    }
    ~DiskEnv() { unsetenv("TESSAROO_DISKS"); }
};

inline DiskMap Enumerate(const std::vector<std::string>& images, const std::string& supportDir)
{
    DiskEnv env(images, supportDir);
    DiskMap disks;
    CPartitionManager mgr;
    EXPECT_EQ(mgr.GetPartitionItems(disks), 1);
    return disks;
}

// A sparse image file of a given size; sectors are written where asked.
class Image
{
  public:
    Image(const std::string& path, uint64_t bytes) : m_path(path)
    {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_GE(fd, 0) << path;
        if (fd >= 0)
        {
            EXPECT_EQ(ftruncate(fd, static_cast<off_t>(bytes)), 0);
            close(fd);
        }
    }
    const std::string& Path() const { return m_path; }

    void Write(uint64_t offset, const void* data, size_t len) const
    {
        int fd = open(m_path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(pwrite(fd, data, len, static_cast<off_t>(offset)), static_cast<ssize_t>(len));
        close(fd);
    }
    void WriteSector(uint64_t sector, const std::vector<uint8_t>& data) const
    {
        Write(sector * 512, data.data(), data.size());
    }

  private:
    std::string m_path;
};

// One 512-byte MBR or EBR: four entries and the 0xAA55 signature.
struct MbrEntrySpec
{
    uint8_t type;
    uint32_t start;
    uint32_t count;
};
inline std::vector<uint8_t> MbrSector(const std::vector<MbrEntrySpec>& entries, bool signature = true)
{
    std::vector<uint8_t> s(512, 0);
    for (size_t k = 0; k < entries.size() && k < 4; ++k)
    {
        uint8_t* e = &s[446 + 16 * k];
        e[4] = entries[k].type;
        tessaroo::PutU32(e + 8, entries[k].start);
        tessaroo::PutU32(e + 12, entries[k].count);
    }
    if (signature)
    {
        s[510] = 0x55;
        s[511] = 0xAA;
    }
    return s;
}

inline std::string Name(const _PARTITION_ITEM_& item)
{
    return PartitionNameToUtf8(item);
}

struct Extent
{
    uint64_t start;
    uint64_t end;
    bool operator==(const Extent& o) const { return start == o.start && end == o.end; }
    bool operator<(const Extent& o) const { return start < o.start || (start == o.start && end < o.end); }
};
inline std::ostream& operator<<(std::ostream& os, const Extent& e)
{
    return os << "[" << e.start << ", " << e.end << "]";
}
inline std::vector<Extent> Extents(const std::vector<_PARTITION_ITEM_>& items)
{
    std::vector<Extent> v;
    for (const _PARTITION_ITEM_& i : items)
        v.push_back({i.u64StartSector, i.u64EndSector});
    return v;
}
inline std::vector<std::string> Names(const std::vector<_PARTITION_ITEM_>& items)
{
    std::vector<std::string> v;
    for (const _PARTITION_ITEM_& i : items)
        v.push_back(Name(i));
    return v;
}
} // namespace ptest
