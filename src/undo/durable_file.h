// The few file operations whose durability the journal depends on, done the
// way each system makes them stick: a file created new under its final
// name, written, and flushed to the device with its folder entry. There is
// no temporary name and no rename: a journal cut short by a crash is told
// from a complete one by its checksums.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Paths are plain strings: std::filesystem would bring into the Windows
// programs functions that Windows 98 SE and Me do not export, and they would
// not start there.

enum class CreateOutcome { created, name_taken, failed };

// Creates `path` as a new file holding `bytes`, readable and writable by its
// owner alone, and flushes it to the device (fsync of the file and of its
// folder; FlushFileBuffers on Windows). The name is taken by creating it:
// an existing file or link of that name is never opened, followed or
// replaced (O_CREAT|O_EXCL|O_NOFOLLOW; CREATE_NEW on Windows), and two
// programs creating the same name at once cannot both succeed. name_taken
// when the name exists; failed with `problem` saying why, and no file left
// behind, on anything else.
CreateOutcome create_file_durably(const std::string& path, const std::vector<std::uint8_t>& bytes,
                                  std::string& problem);

// The whole content of a file; false when it cannot be read.
bool read_whole_file(const std::string& path, std::vector<std::uint8_t>& bytes);

// `folder` and `name` joined by the system's separator.
std::string path_in(const std::string& folder, const std::string& name);

// Makes `folder` and any missing folder above it. Empty on success, else why
// not.
std::string make_folders(const std::string& folder);

// Removes a file, if it is there.
void remove_file(const std::string& path);
