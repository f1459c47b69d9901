#include "tests/cli/CliRunner.h"

#include "tests/support/TestSupport.h"

namespace tessaroo
{
namespace test
{
std::string CliCommand(const std::vector<std::string>& args, const std::vector<std::string>& env,
                       const std::string& cwd, const std::string& prefix, const std::string& binary)
{
    // env takes its options before the assignments.
    std::string command = "cd " + ShellQuote(cwd) + " && " + prefix + " env";
    for (const std::string& kv : env)
        if (kv.back() == '=')
            command += " -u " + ShellQuote(kv.substr(0, kv.size() - 1));
    for (const std::string& kv : env)
        if (kv.back() != '=')
            command += " " + ShellQuote(kv);
    command += " " + ShellQuote(binary);
    for (const std::string& a : args)
        command += " " + ShellQuote(a);
    return command;
}

CliRun RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env,
              const std::string& cwd, const std::string& prefix, const std::string& binary)
{
    TempDir io("cli-io");
    CliRun r;
    r.exitCode = RunCommand(CliCommand(args, env, cwd, prefix, binary) + " </dev/null >" +
                            ShellQuote(io.File("out")) + " 2>" + ShellQuote(io.File("err")))
                     .exitCode;
    r.out = ReadFileText(io.File("out"));
    r.err = ReadFileText(io.File("err"));
    return r;
}
} // namespace test
} // namespace tessaroo
