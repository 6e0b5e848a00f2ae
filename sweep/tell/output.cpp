#include "tell/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace sweep {

namespace {

std::string reason(const std::string &path, int code) {
  return "cannot write " + path + ": " + strerror(code);
}

} // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
  struct stat info {};
  if (stat(path_.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    throw OutputError("cannot write " + path_ + ": not a regular file");
  }
  const auto slash = path_.rfind('/');
  const std::string directory =
      slash == std::string::npos ? "." : path_.substr(0, slash + 1);
  std::string name = directory + (slash == std::string::npos ? "/" : "") + "." +
                     path_.substr(slash + 1) + ".XXXXXX";
  std::vector<char> pattern(name.begin(), name.end());
  pattern.push_back('\0');
  fd_ = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) {
    throw OutputError(reason(path_, errno));
  }
  temporary_ = pattern.data();
  // As an ordinary new file would be made: 0666 less the umask.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd_, 0666 & ~mask);
}

OutputFile::OutputFile(OutputFile &&other) noexcept
    : path_(std::move(other.path_)), temporary_(std::move(other.temporary_)),
      fd_(std::exchange(other.fd_, -1)) {}

OutputFile &OutputFile::operator=(OutputFile &&other) noexcept {
  if (this != &other) {
    discard();
    path_ = std::move(other.path_);
    temporary_ = std::move(other.temporary_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
    unlink(temporary_.c_str());
  }
}

void OutputFile::commit(std::string_view text) {
  if (fd_ < 0) {
    throw OutputError("cannot write " + path_ + ": already written");
  }
  while (!text.empty()) {
    const ssize_t wrote = write(fd_, text.data(), text.size());
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      const int code = wrote < 0 ? errno : ENOSPC;
      discard();
      throw OutputError(reason(path_, code));
    }
    text.remove_prefix(static_cast<std::size_t>(wrote));
  }
  if (fsync(fd_) != 0 || close(fd_) != 0) {
    const int code = errno;
    fd_ = -1;
    unlink(temporary_.c_str());
    throw OutputError(reason(path_, code));
  }
  fd_ = -1;
  if (rename(temporary_.c_str(), path_.c_str()) != 0) {
    const int code = errno;
    unlink(temporary_.c_str());
    throw OutputError(reason(path_, code));
  }
}

} // namespace sweep
