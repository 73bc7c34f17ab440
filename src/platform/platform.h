// The one place the program talks to the operating system. Everything else
// reaches files, links, processes and clocks through these calls.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/result.h"

namespace platform {

namespace fs = std::filesystem;
using util::IoResult;
using util::IoStatus;

enum class FileKind { regular, directory, symlink, other };
// What an entry of kind `other` is.
enum class SpecialKind { none, fifo, socket, device };

struct Metadata {
    FileKind kind = FileKind::other;
    SpecialKind special = SpecialKind::none;
    std::uintmax_t size = 0;
    unsigned mode = 0;  // permission bits (the low twelve bits of st_mode)

    bool is_dir() const { return kind == FileKind::directory; }
    bool is_symlink() const { return kind == FileKind::symlink; }
    bool is_regular() const { return kind == FileKind::regular; }
};

// Metadata of the path itself, a symbolic link not followed (lstat).
IoResult<Metadata> symlink_metadata(const fs::path& path);
// Metadata of what the path designates, every link followed (stat).
IoResult<Metadata> metadata(const fs::path& path);
// True when the path designates a directory, every link followed; false
// when it does not or cannot be read.
bool is_directory(const fs::path& path);

// The stored text of a symbolic link.
IoResult<fs::path> read_link(const fs::path& path);
// A symbolic link at `link` holding exactly `target`. `directory` is a hint
// some systems need; POSIX links have no kind.
IoStatus create_symlink(const fs::path& target, const fs::path& link, bool directory);
// False where the hint is not needed, so callers need not look at the target.
inline constexpr bool symlinks_have_kind = false;
// The absolute path with every link followed (realpath).
IoResult<fs::path> final_path(const fs::path& path);

// Names in a directory, without "." and "..", in the order the system gives.
IoResult<std::vector<std::string>> list_directory(const fs::path& dir);
// Calls `each` with every name as list_directory would give it, one at a
// time, without keeping the list.
IoStatus for_each_name(const fs::path& dir, const std::function<void(const std::string&)>& each);

// A listed name with the kind the listing itself reports, when it reports one
// (some file systems leave it to a metadata read). A link is a symlink here,
// whatever it points to.
struct DirEntry {
    std::string name;
    std::optional<FileKind> kind;
};
IoResult<std::vector<DirEntry>> list_directory_entries(const fs::path& dir);

// The path as UTF-8 text; each maximal invalid byte sequence becomes U+FFFD.
std::string lossy_text(const fs::path& path);

// The refusal of a path that holds a FIFO, a device, a socket or anything
// else that is not a regular file where a file is expected: "not a regular file".
std::error_code not_a_regular_file();
// The most a whole-file read takes; a longer file is refused with
// std::errc::file_too_large.
inline constexpr std::uintmax_t read_limit = std::uintmax_t{256} << 20;

// The whole file as bytes. Opened without waiting; a directory is refused
// with std::errc::is_a_directory, anything else that is not a regular file
// with not_a_regular_file(), a file above read_limit with file_too_large.
IoResult<std::string> read_file(const fs::path& path);

// What tells one state of a file from another: a file replaced, written or
// touched since has another stamp.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modified_ns = 0;
    std::int64_t changed_ns = 0;
    bool operator==(const FileStamp&) const = default;
};
// The whole file as bytes, with the stamp of the file read.
IoResult<std::string> read_file(const fs::path& path, FileStamp& stamp);
// The stamp of the file the path designates, every link followed.
IoResult<FileStamp> file_stamp(const fs::path& path);

// Creates the directory and every missing parent; an existing directory is fine.
IoStatus create_directories(const fs::path& dir);
// Removes a file or a link (never what the link points to), or an empty directory.
IoStatus remove_file(const fs::path& path);
// Removes a directory tree without following links inside it.
IoStatus remove_tree(const fs::path& path);
// Replaces `to` by `from` in one step.
IoStatus rename_replace(const fs::path& from, const fs::path& to);

// Creates one directory; fails when anything exists at the path. `mode` is
// handed to the system, which applies the umask.
IoStatus create_directory(const fs::path& dir, unsigned mode = 0777);
// Sets the permission bits of what the path designates.
IoStatus set_permissions(const fs::path& path, unsigned mode);
// Moves `from` to `to` in one step; fails when anything exists at `to`, and
// with std::errc::cross_device_link when the two lie on different file systems.
IoStatus rename_no_replace(const fs::path& from, const fs::path& to);
// For tests: the next rename_no_replace fails with `error` before it
// touches anything, as a move between two file systems does.
void fail_next_rename_for_testing(std::error_code error);

// An open file; closed when the handle goes away.
class File {
public:
    File() = default;
    explicit File(int fd) : fd_(fd) {}
    File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // The file's size in bytes.
    IoResult<std::uintmax_t> size() const;
    // Up to `size` bytes into `buffer`, retrying an interrupted read; 0 at the end.
    IoResult<std::size_t> read_some(char* buffer, std::size_t size);
    // Writes every byte, retrying interrupted and short writes.
    IoStatus write_all(std::string_view bytes);
    // Flushes the file's data to disk.
    IoStatus sync();
    // Sets the permission bits.
    IoStatus set_mode(unsigned mode);
    IoStatus close();

private:
    int fd_ = -1;
};

// A regular file opened for reading, without waiting on a FIFO or a device;
// refused as read_file refuses what is not a regular file.
IoResult<File> open_for_reading(const fs::path& path);
// Creates a new file for writing; fails when anything exists at the path.
// `mode` is handed to the system, which applies the umask.
IoResult<File> create_new_file(const fs::path& path, unsigned mode = 0666);
// Opens a file for writing, creating it when missing, never truncating.
// Anything there that is not a regular file is refused, without waiting.
IoResult<File> open_for_writing(const fs::path& path);
// Writes the whole file in place: created when missing, else truncated.
// Anything there that is not a regular file is refused, without waiting.
IoStatus write_file(const fs::path& path, std::string_view bytes);
// Copies the bytes and permission bits of the regular file `from` (a link
// followed) to a new file at `to`, flushed to disk. Fails when anything
// exists at `to`, and with std::errc::not_supported when `from` is not a
// regular file; a failed copy leaves nothing at `to`.
IoStatus copy_file(const fs::path& from, const fs::path& to);
// Flushes a directory's entries to disk; best effort, errors are returned.
IoStatus sync_directory(const fs::path& dir);

// An open directory, for looking up many names in it: each look-up walks one
// name instead of the whole path. Closed when the handle goes away.
class Directory {
public:
    explicit Directory(File file) : file_(std::move(file)) {}
    int fd() const { return file_.fd(); }
    const File& file() const { return file_; }

private:
    File file_;
};

IoResult<Directory> open_directory(const fs::path& dir);
// The stamp of an open file or directory.
IoResult<FileStamp> file_stamp(const File& file);
// The stored text of the symbolic link `name` in the open directory.
IoResult<std::string> read_link_in(const Directory& dir, const std::string& name);

// An exclusive advisory lock on an open file or directory, without waiting.
// Returns true when taken, false when another holder has it.
IoResult<bool> try_lock_exclusive(const File& file);

// The current process id.
std::uint64_t process_id();
// False only when the system says no process has this id; a process of
// another user counts as alive.
bool process_alive(int pid);
// The process environment as (name, value) pairs, in the order of the
// environment block; an entry without "=" is left out.
std::vector<std::pair<std::string, std::string>> environment();
// A write to a closed pipe fails with an error instead of ending the process.
void ignore_broken_pipe();
// The current working directory.
IoResult<fs::path> current_directory();
// A clock that never goes backwards.
using Clock = std::chrono::steady_clock;
void sleep_for(std::chrono::milliseconds duration);

}  // namespace platform
