#include "drive/volume_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// A new file's directory entry lives in the directory: without flushing it the
// file may be missing on the device even though its data are there.
bool SyncDirectoryOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = ::fsync(fd) == 0;
  if (::close(fd) != 0) synced = false;
  return synced;
}

// Opens one of the logger's files. A device that only claims to be a logger
// may hold a FIFO or a device node under the name, whose open or read would
// block the poll pass: such a name counts as a file that cannot be opened.
int OpenRegularFile(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int CreateVolumeFile(const std::string& path) {
  return OpenRegularFile(path, O_WRONLY | O_CREAT | O_TRUNC);
}

bool AppendVolumeFile(int fd, const uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done == size;
}

VolumeWrite FinishVolumeFile(int fd, const std::string& path) {
  bool complete = ::fsync(fd) == 0;
  // The data are on the device now; drop the cached copy so that the
  // read-back has to fetch them from there. Advice that is refused leaves
  // only the cache in place, not the data in doubt.
  if (complete && ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) != 0) {
  }
  // Some filesystems report a failed delayed write only at close.
  if (::close(fd) != 0) complete = false;
  if (!SyncDirectoryOf(path)) complete = false;
  return complete ? VolumeWrite::Written : VolumeWrite::Incomplete;
}

void AbandonVolumeFile(int fd) {
  // Nothing of the file is relied on any more.
  if (::close(fd) != 0) {
  }
}

VolumeWrite WriteVolumeFileChecked(const std::string& path, const uint8_t* data,
                                   std::size_t size) {
  const int fd = CreateVolumeFile(path);
  if (fd < 0) return VolumeWrite::NotCreated;
  const bool complete = AppendVolumeFile(fd, data, size);
  const VolumeWrite finished = FinishVolumeFile(fd, path);
  return complete ? finished : VolumeWrite::Incomplete;
}

bool WriteVolumeFile(const std::string& path, const uint8_t* data, std::size_t size) {
  return WriteVolumeFileChecked(path, data, size) != VolumeWrite::NotCreated;
}

std::optional<std::size_t> ReadVolumeFile(const std::string& path, uint8_t* buffer,
                                          std::size_t capacity) {
  const int fd = OpenRegularFile(path, O_RDONLY);
  if (fd < 0) return std::nullopt;
  // Refused advice means the bytes may come from the cache, which after a
  // flushed write holds what the device holds.
  if (::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) != 0) {
  }
  std::size_t done = 0;
  while (done < capacity) {
    ssize_t n = ::read(fd, buffer + done, capacity - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  // The bytes are in the buffer; a failing close of a read-only descriptor
  // cannot take them back.
  if (::close(fd) != 0) {
  }
  return done;
}
