// A host file held for one command: locked for the whole read-change-write, read once, and
// replaced atomically. The one place that knows the platform's file locking and renaming.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace hvcfg {

class HostFile {
 public:
  enum class Failure {
    none,
    missing,    // no such file
    denied,     // the file cannot be read
    directory,  // a folder, not a file
    readOnly,   // a change was asked for, and the file may not be written
    other,
  };

  HostFile();
  ~HostFile();
  HostFile(const HostFile&) = delete;
  HostFile& operator=(const HostFile&) = delete;

  // Opens `path` (through symbolic links, to the file they end at), locks it, exclusively when
  // `forChange`, and reads it; a file being replaced meanwhile is opened again. For a change it
  // also makes sure that the replacement can be written, before anything runs.
  Failure Open(const std::string& path, bool forChange);
  const std::string& text() const { return text_; }
  const std::string& detail() const { return detail_; }  // what the system said, for `other`

  // Replaces the file's content: a new file in the same folder, flushed to disk, with the old
  // file's permissions, renamed over it. The lock is held until this object goes. On failure the
  // old file stays and the text says why.
  std::optional<std::string> Replace(const std::string& text);

 private:
  struct Platform;
  std::unique_ptr<Platform> platform_;
  std::string text_;
  std::string detail_;
};

}  // namespace hvcfg
