// polkit behind the four steps of CAdminAuthorization.
//
// pkexec clears the environment of the program it runs, so the launcher asks
// it to run env, which sets the variables the elevated window needs and then
// runs this executable with "start". pkexec takes its own parent process as
// the subject polkit authorises and refuses to work for a parent that has
// already ended; the launcher must end at once, so a small keeper child (a
// new session, not tied to the terminal) starts pkexec and waits for it.
#include "app/CAdminAuthorization.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

const char* const CAdminAuthorization::PASSED_VARIABLES[] = {
    "DISPLAY",        "XAUTHORITY",           "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR",
    "TESSAROO_DISKS", "TESSAROO_SUPPORT_DIR", nullptr,
};

namespace
{
bool IsExecutableFile(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Searches name in the ':'-separated folders of dirs. Empty and relative
// entries are skipped: a program that asks for administrator rights must not
// run whatever happens to lie in the current directory.
std::string FindInPath(const char* name, const char* dirs)
{
    std::string list = dirs ? dirs : "";
    size_t pos = 0;
    while (pos <= list.size())
    {
        size_t end = list.find(':', pos);
        if (end == std::string::npos)
            end = list.size();
        const std::string dir = list.substr(pos, end - pos);
        if (!dir.empty() && dir[0] == '/')
        {
            const std::string candidate = dir + "/" + name;
            if (IsExecutableFile(candidate))
                return candidate;
        }
        pos = end + 1;
    }
    return std::string();
}

std::string CurrentDir()
{
    std::vector<char> buf(4096);
    if (!getcwd(buf.data(), buf.size()))
        return std::string();
    return std::string(buf.data());
}

// The elevated copy starts in a folder of pkexec's choosing, so relative
// image and folder paths are made absolute against the launcher's folder.
std::string AbsolutePaths(const std::string& list, const std::string& cwd)
{
    if (cwd.empty())
        return list;
    std::string out;
    size_t pos = 0;
    while (pos <= list.size())
    {
        size_t end = list.find(':', pos);
        if (end == std::string::npos)
            end = list.size();
        const std::string entry = list.substr(pos, end - pos);
        if (pos > 0)
            out += ':';
        out += (entry.empty() || entry[0] == '/') ? entry : cwd + "/" + entry;
        pos = end + 1;
    }
    return out;
}
} // namespace

CAdminAuthorization::CAdminAuthorization() : m_bCreated(false) {}

CAdminAuthorization::~CAdminAuthorization()
{
    Free();
}

int CAdminAuthorization::Create()
{
    const char* path = getenv("PATH");
    m_strService = FindInPath("pkexec", path ? path : "/usr/bin:/bin");
    if (m_strService.empty())
        return ENOENT;
    m_bCreated = true;
    return 0;
}

int CAdminAuthorization::CopyRights()
{
    return m_bCreated ? 0 : EINVAL;
}

int CAdminAuthorization::ExecuteWithPrivileges(const char* szPath, const char* const* args, pid_t* pKeeper)
{
    if (!m_bCreated || !szPath || !*szPath)
        return EINVAL;

    // env from the system folders only: it runs as root.
    std::string envTool = FindInPath("env", "/usr/bin:/bin");
    if (envTool.empty())
        return ENOENT;

    const std::string cwd = CurrentDir();
    std::vector<std::string> words;
    words.push_back(m_strService);
    words.push_back(envTool);
    for (int i = 0; PASSED_VARIABLES[i]; ++i)
    {
        const std::string name = PASSED_VARIABLES[i];
        const char* value = getenv(name.c_str());
        if (value && *value)
        {
            const bool isPathList = name == "TESSAROO_DISKS" || name == "TESSAROO_SUPPORT_DIR";
            words.push_back(name + "=" + (isPathList ? AbsolutePaths(value, cwd) : std::string(value)));
        }
        else if (name == "XAUTHORITY" && getenv("DISPLAY"))
        {
            // Without XAUTHORITY an X client reads ~/.Xauthority, and the
            // elevated copy's home is root's, not the user's.
            const char* home = getenv("HOME");
            if (home && *home && access((std::string(home) + "/.Xauthority").c_str(), R_OK) == 0)
                words.push_back(name + "=" + home + "/.Xauthority");
        }
    }
    words.push_back(szPath);
    for (int i = 0; args && args[i]; ++i)
        words.push_back(args[i]);

    // Everything the children use is built before fork: between fork and
    // exec only async-signal-safe calls are allowed in a threaded process.
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    const pid_t keeper = fork();
    if (keeper < 0)
        return errno;
    if (keeper == 0)
    {
        setsid();
        const pid_t child = fork();
        if (child == 0)
        {
            execv(argv[0], argv.data());
            _exit(127);
        }
        if (child > 0)
        {
            int status = 0;
            while (waitpid(child, &status, 0) < 0 && errno == EINTR)
            {
            }
        }
        _exit(0);
    }
    if (pKeeper)
        *pKeeper = keeper;
    return 0;
}

void CAdminAuthorization::Free()
{
    m_bCreated = false;
    m_strService.clear();
}
