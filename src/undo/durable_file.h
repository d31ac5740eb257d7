// The few file operations whose durability the journal depends on, done the
// way each system makes them stick: a file written and flushed to the
// device, then renamed over its final name in a way that survives a crash.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Paths are plain strings: std::filesystem would bring into the Windows
// programs functions that Windows 98 SE and Me do not export, and they would
// not start there.

// Creates (or replaces) `path` with `bytes` and flushes it to the device
// (fsync; FlushFileBuffers on Windows). Empty on success, else why not.
std::string write_file_durably(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Renames `from` to `to` and makes the rename itself durable: fsync of the
// folder on POSIX, MoveFileExA with MOVEFILE_WRITE_THROUGH on Windows.
std::string rename_durably(const std::string& from, const std::string& to);

// The whole content of a file; false when it cannot be read.
bool read_whole_file(const std::string& path, std::vector<std::uint8_t>& bytes);

// `folder` and `name` joined by the system's separator.
std::string path_in(const std::string& folder, const std::string& name);

// Whether anything exists at `path`.
bool path_exists(const std::string& path);

// Makes `folder` and any missing folder above it. Empty on success, else why
// not.
std::string make_folders(const std::string& folder);

// Removes a file, if it is there.
void remove_file(const std::string& path);
