#include "engines/ext/CFastExtRecovery.h"

#include "core/Platform.h"

#include <cerrno>
#include <unistd.h>

CFastExtRecovery::CFastExtRecovery() : m_hDevice(-1), m_llStartSector(0), m_llSectorCount(0) {}

CFastExtRecovery::~CFastExtRecovery()
{
    if (m_hDevice >= 0)
        close(m_hDevice);
    m_hDevice = -1;
}

unsigned int CFastExtRecovery::Init(int diskIndex, long long startSector, long long sectorCount, wchar_t)
{
    int fd = tessaroo::OpenDiskReadOnly(diskIndex);
    if (fd < 0)
        return unsigned(errno);
    if (m_hDevice >= 0)
        close(m_hDevice);
    m_hDevice = fd;
    m_llStartSector = startSector;
    m_llSectorCount = sectorCount;
    return 0;
}

unsigned int CFastExtRecovery::Init(wchar_t*, wchar_t)
{
    return 0;
}
