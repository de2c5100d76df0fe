#pragma once
// The MP3 description that search results carry: bit rate, duration and channel mode, worked out
// from the first frame header found in the first 4096 bytes of the file.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace zorvex {

// Bytes of a file the description looks at.
inline constexpr std::size_t kMp3HeadSize = 4096;

// Describes a file from its leading bytes and its full length, e.g. "128 Kbit 00:03:45 Stereo"
// or "192 Kbit (VBR) 00:04:12 Joint Stereo". Bytes past the end of `head` but within the first
// 4096 read as zero (a short file); only the first 4096 bytes of `head` are used. Empty when no
// frame header is found or its bit rate is 0.
std::string DescribeMp3(std::string_view head, std::int64_t file_length);

// The description of the file at the path; empty when it cannot be opened or read.
std::string GetMp3Info(const std::filesystem::path& path);

}  // namespace zorvex
