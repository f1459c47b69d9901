#include "core/FileIo.h"
#include "app/StartUp.h"

#include "app/CAdminAuthorization.h"
#include "app/DRUI.h"
#include "core/Log.h"
#include "core/Platform.h"
#include "core/Portability.h"

#include <QApplication>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
// The elevated instance runs as root in a folder it does not choose: a
// symbolic link planted under a log name must not redirect the write.
constexpr int LOG_OPEN_FLAGS = O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC;

// The core logs 8-bit text, which is UTF-8 here (node names included).
void CoreLogToDebug(const char* szMessage)
{
    qDebug().noquote().nospace() << QString::fromUtf8(szMessage ? szMessage : "");
}
} // namespace

void customMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    (void)context;
    if (type != QtDebugMsg)
        return;
    // One write per line: appends from several threads do not interleave.
    const QByteArray line = QStringLiteral("Debug: %1\n").arg(msg).toUtf8();
    const int fd = open("Log.txt", LOG_OPEN_FLAGS, 0644);
    if (fd < 0)
        return;
    tessaroo::WriteFull(fd, line.constData(), size_t(line.size()));
    close(fd);
}

int DeleteTmpFile(const char* path)
{
    if (!path || !*path)
        return 0;
    // A trailing '/' would make the open follow a link in the last place.
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    // Work through a descriptor of the folder rather than a change of the
    // current directory: other threads may be using relative paths, and the
    // folder itself must not be a link somewhere else.
    const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    DIR* dir = fdopendir(dirFd);
    if (!dir)
    {
        close(dirFd);
        qDebug("open dir failed\n");
        return 0;
    }
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir))
    {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        if (strstr(entry->d_name, "tmp."))
            names.push_back(entry->d_name);
    }
    // Plain unlink: it removes a link, never what it points at, and refuses
    // folders, which are left alone.
    for (const std::string& name : names)
        unlinkat(dirfd(dir), name.c_str(), 0);
    closedir(dir);
    return 1;
}

namespace tessaroo::app
{
void InstallDiagnostics()
{
    qInstallMessageHandler(customMessageHandler);
    tessaroo::SetLogSink(CoreLogToDebug);
}

bool OpenOutFile(OUT_FILE& out, const char* szName)
{
    out = OUT_FILE();
    // Appended to, so that what an earlier run left after a crash is not
    // overwritten piecemeal.
    const int fd = open(szName, O_RDWR | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    {
        close(fd);
        return false;
    }
    std::vector<char> cwd(4096);
    if (szName[0] == '/')
        out.strPath = szName;
    else if (getcwd(cwd.data(), cwd.size()))
        out.strPath = std::string(cwd.data()) + "/" + szName;
    else
        out.strPath = szName;
    out.nSavedStderr = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    fflush(stderr);
    if (dup2(fd, STDERR_FILENO) < 0)
    {
        if (out.nSavedStderr >= 0)
            close(out.nSavedStderr);
        close(fd);
        out = OUT_FILE();
        return false;
    }
    out.fd = fd;
    out.uDevice = st.st_dev;
    out.uInode = st.st_ino;
    return true;
}

void CloseOutFile(OUT_FILE& out)
{
    if (out.fd < 0)
        return;
    fflush(stderr);
    if (out.nSavedStderr >= 0)
    {
        dup2(out.nSavedStderr, STDERR_FILENO);
        close(out.nSavedStderr);
    }
    close(out.fd);
    struct stat st;
    if (lstat(out.strPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == out.uDevice &&
        st.st_ino == out.uInode)
        unlink(out.strPath.c_str());
    out = OUT_FILE();
}

void ChooseSupportDir(bool bPrivileged)
{
    tessaroo::SelectSupportDir(bPrivileged);
}

int RunLauncher(const QString& selfPath)
{
    const char* const args[] = {"start", nullptr};
    const QByteArray path = QFile::encodeName(selfPath);
    CAdminAuthorization auth;
    if (auth.Create() != 0)
        return 0;
    // A refused or cancelled request ends here, or inside pkexec once the
    // launcher is gone: either way quietly and without a window.
    if (auth.CopyRights() == 0)
        auth.ExecuteWithPrivileges(path.constData(), args);
    auth.Free();
    return 0;
}

int RunElevatedInstance()
{
    OUT_FILE out;
    OpenOutFile(out);

    if (inner_initUnicodeMap("UTF-8") != 0)
        qDebug("inner_initUnicodeMap failed\n");
    ChooseSupportDir(geteuid() == 0);

    DRUI* pMainWindow = new DRUI(nullptr, Qt::WindowFlags());
    pMainWindow->Init();
    pMainWindow->show();
    QApplication::exec();

    // Preview files are temporary; the scan logs beside them stay.
    DeleteTmpFile(tessaroo::GetScanLogRoot().c_str());

    CloseOutFile(out);
    delete pMainWindow;
    return 0;
}
} // namespace tessaroo::app
