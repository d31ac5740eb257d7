// The few file operations whose durability the journal depends on, done the
// way each system makes them stick: a file written and flushed to the
// device, then renamed over its final name in a way that survives a crash.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Creates (or replaces) `path` with `bytes` and flushes it to the device
// (fsync; FlushFileBuffers on Windows). Empty on success, else why not.
std::string write_file_durably(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// Renames `from` to `to` and makes the rename itself durable: fsync of the
// folder on POSIX, MoveFileExA with MOVEFILE_WRITE_THROUGH on Windows.
std::string rename_durably(const std::filesystem::path& from, const std::filesystem::path& to);

// The whole content of a file; false when it cannot be read.
bool read_whole_file(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes);
