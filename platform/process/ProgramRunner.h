#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform::process {

// Output larger than this is not the few lines a caller waits for; the run counts as failed.
inline constexpr std::size_t kMaxProgramOutput = 16 * 1024 * 1024;

// Runs a program (absolute path) with an argument list, never through a shell, and waits for
// it. Its standard input is a fresh pipe that nothing is written to and that stays open until
// it has ended; its standard output is collected to the end; its standard error is ours.
// Returns the output, or nullopt when the program could not be started or wrote more than
// kMaxProgramOutput.
//
// A program that leaves a child of its own behind holding its output open does not make the
// call hang: once the program has ended, what it wrote is taken and the rest is not waited for.
std::optional<std::string> runProgram(const std::string& program,
                                      const std::vector<std::string>& arguments);

} // namespace platform::process
