#include "app/provision_record.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string_view>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/sha256.h"
#include "formats/config_block.h"

namespace {

// Both layouts carry the logger clock in this record; it changes every second
// and says nothing about the settings.
constexpr uint8_t kClockCommand = 0x03;

std::string Quoted(std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(field);
  std::string out = "\"";
  for (char c : field) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string UtcText(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm tm{};
  char text[32] = "";
  if (gmtime_r(&t, &tm) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm) == 0)
    return "";
  return text;
}

RecordWrite Failed(const std::string& what, const std::string& path, int error) {
  return {false, what + " " + path + ": " + std::strerror(error)};
}

// The whole buffer in one write; retried only when a signal came before
// anything was written, so the bytes never land in two pieces.
ssize_t WriteOnce(int fd, const std::string& bytes) {
  for (;;) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n >= 0 || errno != EINTR) return n;
  }
}

// The new file's name is on disk only once its folder is: 0, or the error.
int SyncDirectoryOf(const std::string& path) {
  std::filesystem::path dir = std::filesystem::path(path).parent_path();
  if (dir.empty()) dir = ".";
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int error = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return error;
}

// Closes the descriptor (which also drops the lock) on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::string SettingsDigest(std::span<const uint8_t> block) {
  Sha256 sha;
  std::size_t offset = 0;
  while (offset < block.size()) {
    const RecordView r = ReadRecord(block, offset);
    if (r.status != RecordStatus::Ok) {
      sha.update(block.subspan(offset));
      break;
    }
    if (r.command != kClockCommand) sha.update(block.subspan(offset, r.length));
    offset += r.length;
  }
  return ToHex(sha.finish());
}

std::string ProvisionHeader() {
  return "utc_time,zone,device_id,firmware_before,firmware_after,profile,settings_sha256,result\n";
}

std::string ProvisionLine(const ProvisionEntry& e) {
  std::string line;
  bool first = true;
  for (const std::string& field :
       {UtcText(e.when), e.zone, e.deviceId, e.firmwareBefore, e.firmwareAfter, e.profileName,
        e.settingsSha256, e.result}) {
    if (!first) line.push_back(',');
    first = false;
    line += Quoted(field);
  }
  line.push_back('\n');
  return line;
}

RecordWrite AppendProvisionRecord(const std::string& path, const ProvisionEntry& entry) {
  const Descriptor file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  const int fd = file.get();
  if (fd < 0) return Failed("Cannot open the record", path, errno);
  // Appenders that take the lock see each other's header and never cut a
  // line they did not write when taking back a short write.
  while (::flock(fd, LOCK_EX) != 0)
    if (errno != EINTR) return Failed("Cannot lock the record", path, errno);

  struct stat st {};
  if (::fstat(fd, &st) != 0) return Failed("Cannot read the record", path, errno);
  const off_t before = st.st_size;
  std::string bytes;
  if (before == 0) {
    bytes = ProvisionHeader();
  } else {
    // A file that does not end a line (edited by hand) must not swallow ours.
    char last = '\n';
    const int rfd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (rfd >= 0) {
      if (::pread(rfd, &last, 1, before - 1) != 1) last = '\n';
      ::close(rfd);
    }
    if (last != '\n') bytes.push_back('\n');
  }
  bytes += ProvisionLine(entry);

  const ssize_t n = WriteOnce(fd, bytes);
  if (n < 0 || static_cast<std::size_t>(n) != bytes.size()) {
    const int error = n < 0 ? errno : ENOSPC;
    if (n > 0 && ::ftruncate(fd, before) == 0) ::fsync(fd);
    return Failed("Cannot write the record", path, error);
  }
  if (::fsync(fd) != 0) return Failed("Cannot flush the record", path, errno);
  if (before == 0) {
    if (const int error = SyncDirectoryOf(path); error != 0)
      return Failed("Cannot flush the folder of the record", path, error);
  }
  return {true, {}};
}
