#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// File access on a logger's volume. What is written must really reach the
// logger before the next step, and what is read back must come from the
// device, not from the page cache, or a failed write would look verified.

enum class VolumeWrite : uint8_t {
  Written,     // every byte was written and flushed, with the directory entry
  Incomplete,  // created, but a write, flush or close failed: the device may hold less
  NotCreated,  // the file could not be created or opened for writing
};

// Creates or replaces the file and writes the bytes, then flushes file and
// directory to the device and drops the cached copy.
VolumeWrite WriteVolumeFileChecked(const std::string& path, const uint8_t* data,
                                   std::size_t size);

// The same, in steps: a file written over several passes. Create returns
// the open descriptor, or -1 when the file cannot be created; append is
// false when fewer bytes went out; finish flushes file and directory to the
// device, drops the cached copy and closes; abandon only closes.
int CreateVolumeFile(const std::string& path);
bool AppendVolumeFile(int fd, const uint8_t* data, std::size_t size);
VolumeWrite FinishVolumeFile(int fd, const std::string& path);
void AbandonVolumeFile(int fd);

// The same, for callers that leave a short write for a read-back to find:
// false only when the file cannot be created.
bool WriteVolumeFile(const std::string& path, const uint8_t* data, std::size_t size);

// Reads at most `capacity` bytes from the device. nullopt when the file
// cannot be opened.
std::optional<std::size_t> ReadVolumeFile(const std::string& path, uint8_t* buffer,
                                          std::size_t capacity);
