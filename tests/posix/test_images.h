// Generated images for the Linux tests: made with mkimage in a scratch
// directory that lives as long as the test program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Runs mkimage KIND DIR/NAME ARGS; returns the path (empty on failure).
std::string MakeImage(const std::string &kind, const std::string &name,
                      const std::string &args = "");
std::string ScratchDir();
std::vector<uint8_t> ReadWholeFile(const std::string &path);
// Offsets at which two byte strings differ (and the length difference).
std::vector<uint64_t> Differences(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b);
