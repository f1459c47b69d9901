#include "tests/support/RunTool.h"

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

namespace tessaroo
{
namespace test
{
CommandResult RunCommand(const std::string& command)
{
    CommandResult r;
    // sbin holds mkfs.fat, mkntfs, sfdisk; an unprivileged PATH often lacks it.
    const std::string full = "PATH=\"$PATH:/usr/sbin:/sbin\"; export PATH; { " + command + "\n} 2>&1";
    FILE* p = popen(full.c_str(), "r");
    if (!p)
        return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
        r.output.append(buf, n);
    int status = pclose(p);
    if (status != -1 && WIFEXITED(status))
        r.exitCode = WEXITSTATUS(status);
    return r;
}

std::string ShellQuote(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool HaveTool(const std::string& program)
{
    return RunCommand("command -v " + ShellQuote(program) + " >/dev/null").exitCode == 0;
}

::testing::AssertionResult RunSucceeds(const std::string& command)
{
    CommandResult r = RunCommand(command);
    if (r.exitCode == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "command failed (status " << r.exitCode << "): " << command << "\n"
           << r.output;
}

std::string ToolsDir()
{
    const char* t = getenv("TESSAROO_TOOLS_DIR");
    const char* s = getenv("TESSAROO_SOURCE_DIR");
    return t && *t ? t : s && *s ? std::string(s) + "/tools" : "tools";
}

::testing::AssertionResult RunToolScript(const std::string& script, const std::vector<std::string>& args)
{
    std::string cmd = ShellQuote(ToolsDir() + "/" + script);
    for (const std::string& a : args)
        cmd += " " + ShellQuote(a);
    return RunSucceeds(cmd);
}
} // namespace test
} // namespace tessaroo
