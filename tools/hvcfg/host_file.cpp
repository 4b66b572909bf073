#include "host_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace hvcfg {

namespace fs = std::filesystem;

namespace {

// Where the content lives: a symbolic link is written through, never replaced by a file.
HostFile::Failure Target(const std::string& path, fs::path& target, std::string& detail) {
  std::error_code error;
  target = fs::canonical(fs::path(path), error);
  if (!error)
    return HostFile::Failure::none;
  if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory)
    return HostFile::Failure::missing;
  if (error == std::errc::permission_denied)
    return HostFile::Failure::denied;
  detail = error.message();
  return HostFile::Failure::other;
}

// A name no other writer picks: a planted file of that name is never followed or reused.
std::string UniqueSuffix() {
  std::random_device random;
  static const char kDigits[] = "0123456789abcdef";
  std::string suffix;
  for (int i = 0; i < 16; ++i)
    suffix += kDigits[random() % 16];
  return suffix;
}

}  // namespace

#if defined(_WIN32)

// Windows cannot rename a file over one that any process holds open, and a process waiting for
// the host file's lock would hold it open. So the lock is taken on a companion file beside it,
// "<host file>.lock", which is never replaced, and the host file is open only to be read.
struct HostFile::Platform {
  HANDLE lock = INVALID_HANDLE_VALUE;
  HANDLE temp = INVALID_HANDLE_VALUE;
  std::wstring target;
  std::wstring tempName;

  ~Platform() {
    if (temp != INVALID_HANDLE_VALUE) {
      CloseHandle(temp);
      DeleteFileW(tempName.c_str());
    }
    if (lock != INVALID_HANDLE_VALUE)
      CloseHandle(lock);  // releases the lock
  }
};

namespace {

std::string SystemText(DWORD code) {
  return std::system_category().message(static_cast<int>(code));
}

}  // namespace

HostFile::Failure HostFile::Open(const std::string& path, bool forChange) {
  platform_ = std::make_unique<Platform>();
  fs::path target;
  if (const Failure f = Target(path, target, detail_); f != Failure::none)
    return f;
  Platform& p = *platform_;
  p.target = target.wstring();
  const DWORD attributes = GetFileAttributesW(p.target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return Failure::directory;
  if (forChange && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    return Failure::readOnly;
  p.lock = CreateFileW((p.target + L".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  if (p.lock == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED) {
      detail_ = SystemText(error);
      return Failure::other;
    }
    if (forChange)
      return Failure::readOnly;  // a folder others may not write: nobody changes the file either
  } else {
    OVERLAPPED whole{};
    if (!LockFileEx(p.lock, forChange ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, 1, 0, &whole)) {
      detail_ = SystemText(GetLastError());
      return Failure::other;
    }
  }
  const HANDLE file =
      CreateFileW(p.target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      return Failure::missing;
    if (error == ERROR_ACCESS_DENIED)
      return Failure::denied;
    detail_ = SystemText(error);
    return Failure::other;
  }
  text_.clear();
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read != 0)
    text_.append(buffer, read);
  CloseHandle(file);
  if (!forChange)
    return Failure::none;
  p.tempName = p.target + L"." + fs::path(UniqueSuffix()).wstring() + L".tmp";
  p.temp = CreateFileW(p.tempName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (p.temp == INVALID_HANDLE_VALUE) {
    detail_ = SystemText(GetLastError());
    return Failure::readOnly;
  }
  return Failure::none;
}

std::optional<std::string> HostFile::Replace(const std::string& text) {
  Platform& p = *platform_;
  DWORD written = 0;
  const bool ok = WriteFile(p.temp, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                  written == text.size() && FlushFileBuffers(p.temp);
  DWORD error = GetLastError();
  CloseHandle(p.temp);
  p.temp = INVALID_HANDLE_VALUE;
  bool moved = false;
  // A reader outside hvcfg may hold the file open for a moment; the rename waits for it, briefly.
  for (int attempt = 0; ok && !moved && attempt < 200; ++attempt) {
    moved = MoveFileExW(p.tempName.c_str(), p.target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    error = GetLastError();
    if (!moved && error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
      break;
    if (!moved)
      Sleep(10);
  }
  if (!moved) {
    DeleteFileW(p.tempName.c_str());
    return SystemText(error);
  }
  return std::nullopt;
}

#else

struct HostFile::Platform {
  int fd = -1;
  int temp = -1;
  std::string target;
  std::string tempName;
  mode_t mode = 0600;

  ~Platform() {
    if (temp >= 0) {
      close(temp);
      unlink(tempName.c_str());
    }
    if (fd >= 0)
      close(fd);  // releases the lock
  }
};

HostFile::Failure HostFile::Open(const std::string& path, bool forChange) {
  platform_ = std::make_unique<Platform>();
  fs::path target;
  if (const Failure f = Target(path, target, detail_); f != Failure::none)
    return f;
  Platform& p = *platform_;
  p.target = target.string();
  struct stat opened {};
  for (;;) {
    p.fd = open(p.target.c_str(), O_RDONLY | O_CLOEXEC);
    if (p.fd < 0) {
      const int error = errno;
      if (error == ENOENT)
        return Failure::missing;
      if (error == EACCES)
        return Failure::denied;
      detail_ = std::strerror(error);
      return Failure::other;
    }
    if (fstat(p.fd, &opened) != 0) {
      detail_ = std::strerror(errno);
      return Failure::other;
    }
    if (S_ISDIR(opened.st_mode))
      return Failure::directory;
    // A file without write permission is refused even where the system would allow it (root).
    if (forChange && (access(p.target.c_str(), W_OK) != 0 || (opened.st_mode & 0222) == 0))
      return Failure::readOnly;
    int locked;
    do
      locked = flock(p.fd, forChange ? LOCK_EX : LOCK_SH);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
      detail_ = std::strerror(errno);
      return Failure::other;
    }
    struct stat named {};
    if (stat(p.target.c_str(), &named) == 0 && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino)
      break;
    close(p.fd);  // replaced while waiting: the new file is the host now
    p.fd = -1;
  }
  text_.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(p.fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      detail_ = std::strerror(errno);
      return Failure::other;
    }
    if (got == 0)
      break;
    text_.append(buffer, static_cast<std::size_t>(got));
  }
  if (!forChange)
    return Failure::none;
  p.mode = opened.st_mode & 07777;
  p.tempName = p.target + "." + UniqueSuffix() + ".tmp";
  p.temp = open(p.tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (p.temp < 0) {
    detail_ = std::strerror(errno);
    return Failure::readOnly;
  }
  return Failure::none;
}

std::optional<std::string> HostFile::Replace(const std::string& text) {
  Platform& p = *platform_;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(p.temp, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR)
      continue;
    if (wrote < 0)
      return std::string(std::strerror(errno));
    done += static_cast<std::size_t>(wrote);
  }
  if (fchmod(p.temp, p.mode) != 0 || fsync(p.temp) != 0)
    return std::string(std::strerror(errno));
  const int closed = close(p.temp);
  p.temp = -1;
  if (closed != 0 || rename(p.tempName.c_str(), p.target.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    unlink(p.tempName.c_str());
    return why;
  }
  // The rename itself is durable once the folder is.
  const int folder = open(fs::path(p.target).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return std::nullopt;
}

#endif

HostFile::HostFile() = default;
HostFile::~HostFile() = default;

}  // namespace hvcfg
