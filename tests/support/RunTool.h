// Running the real tools (mkfs.fat, mtools, mkntfs, sfdisk...) and the
// committed scripts under tools/ from a test, with their output kept for the
// failure message.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessaroo
{
namespace test
{
struct CommandResult
{
    int exitCode = -1;  // the command's exit status; -1 when it could not run or was killed
    std::string output; // standard output and standard error together
};

// Runs command through /bin/sh -c.
CommandResult RunCommand(const std::string& command);

// Single-quotes text for the shell.
std::string ShellQuote(const std::string& text);

// True when the program is on PATH (or in /sbin, /usr/sbin, where the
// file-system makers live and an unprivileged PATH may not look).
bool HaveTool(const std::string& program);

// Runs command and succeeds when it exits with 0; otherwise the failure
// names the command, its status and its output. For ASSERT_TRUE.
::testing::AssertionResult RunSucceeds(const std::string& command);

// The tools/ folder of the source tree: TESSAROO_TOOLS_DIR, else
// TESSAROO_SOURCE_DIR + "/tools".
std::string ToolsDir();

// Runs tools/<script> with the arguments (each quoted); as Run.
::testing::AssertionResult RunToolScript(const std::string& script, const std::vector<std::string>& args);
} // namespace test
} // namespace tessaroo
