// Runs tessaroo-cli as a user would: in a folder, with a chosen environment,
// its outputs captured.
#pragma once

#include <string>
#include <vector>

namespace tessaroo
{
namespace test
{
struct CliRun
{
    int exitCode = -1;
    std::string out, err;
};

// The shell command that runs the command line with args in cwd. env lists
// NAME=value to set (NAME= with nothing after it unsets); prefix may drop
// the user first.
std::string CliCommand(const std::vector<std::string>& args, const std::vector<std::string>& env,
                       const std::string& cwd, const std::string& prefix = "",
                       const std::string& binary = TESSAROO_CLI_PATH);

// Runs it with no input and returns its exit status and outputs.
CliRun RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env,
              const std::string& cwd, const std::string& prefix = "",
              const std::string& binary = TESSAROO_CLI_PATH);
} // namespace test
} // namespace tessaroo
