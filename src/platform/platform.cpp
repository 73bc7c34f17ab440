#include "platform/platform.h"

#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdlib>
#include <memory>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/utf8.h"

namespace platform {

namespace {

std::error_code last_error() { return std::error_code(errno, std::generic_category()); }

Metadata from_stat(const struct stat& st) {
    Metadata m;
    if (S_ISREG(st.st_mode)) {
        m.kind = FileKind::regular;
    } else if (S_ISDIR(st.st_mode)) {
        m.kind = FileKind::directory;
    } else if (S_ISLNK(st.st_mode)) {
        m.kind = FileKind::symlink;
    }
    m.size = static_cast<std::uintmax_t>(st.st_size);
    m.mode = st.st_mode & 07777;
    return m;
}

// Opens with the given flags, close-on-exec, retrying an interrupted open.
int open_retrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

IoResult<Metadata> symlink_metadata(const fs::path& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return last_error();
    return from_stat(st);
}

IoResult<Metadata> metadata(const fs::path& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return last_error();
    return from_stat(st);
}

bool is_directory(const fs::path& path) {
    auto meta = metadata(path);
    return meta && meta->is_dir();
}

IoResult<fs::path> read_link(const fs::path& path) {
    std::string buf(256, '\0');
    for (;;) {
        ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
        if (n < 0) return last_error();
        if (static_cast<size_t>(n) < buf.size()) {
            buf.resize(static_cast<size_t>(n));
            return fs::path(buf);
        }
        buf.resize(buf.size() * 2);
    }
}

IoStatus create_symlink(const fs::path& target, const fs::path& link, bool /*directory*/) {
    if (::symlink(target.c_str(), link.c_str()) != 0) return last_error();
    return {};
}

IoResult<fs::path> final_path(const fs::path& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return last_error();
    fs::path result(resolved);
    std::free(resolved);
    return result;
}

IoResult<std::vector<DirEntry>> list_directory_entries(const fs::path& dir) {
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return last_error();
    std::vector<DirEntry> entries;
    for (;;) {
        errno = 0;
        struct dirent* e = ::readdir(d);
        if (e == nullptr) break;  // the end, or an entry the listing cannot deliver
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::optional<FileKind> kind;
        switch (e->d_type) {
            case DT_REG: kind = FileKind::regular; break;
            case DT_DIR: kind = FileKind::directory; break;
            case DT_LNK: kind = FileKind::symlink; break;
            case DT_UNKNOWN: break;
            default: kind = FileKind::other; break;
        }
        entries.push_back(DirEntry{std::move(name), kind});
    }
    ::closedir(d);
    return entries;
}

IoStatus for_each_name(const fs::path& dir, const std::function<void(const std::string&)>& each) {
    const std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
    if (!d) return last_error();
    std::string name;
    for (;;) {
        errno = 0;
        struct dirent* e = ::readdir(d.get());
        if (e == nullptr) break;  // the end, or an entry the listing cannot deliver
        name = e->d_name;
        if (name == "." || name == "..") continue;
        each(name);
    }
    return {};
}

IoResult<std::vector<std::string>> list_directory(const fs::path& dir) {
    auto entries = list_directory_entries(dir);
    if (!entries) return entries.error();
    std::vector<std::string> names;
    names.reserve(entries->size());
    for (auto& entry : *entries) names.push_back(std::move(entry.name));
    return names;
}

std::string lossy_text(const fs::path& path) { return util::lossy_utf8(path.native()); }

IoResult<std::string> read_file(const fs::path& path) {
    int fd = open_retrying(path.c_str(), O_RDONLY);
    if (fd < 0) return last_error();
    File file(fd);
    std::string data;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return last_error();
        }
        if (n == 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    return data;
}

namespace {

FileStamp stamp_of(const struct stat& st) {
    return FileStamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                     static_cast<std::uint64_t>(st.st_size),
                     static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                     static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

}  // namespace

IoResult<std::string> read_file(const fs::path& path, FileStamp& stamp) {
    int fd = open_retrying(path.c_str(), O_RDONLY);
    if (fd < 0) return last_error();
    File file(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0) return last_error();
    stamp = stamp_of(st);
    std::string data;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return last_error();
        }
        if (n == 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    return data;
}

IoResult<FileStamp> file_stamp(const fs::path& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return last_error();
    return stamp_of(st);
}

IoStatus create_directories(const fs::path& dir) {
    if (dir.empty()) return {};
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return ec;
    return {};
}

IoStatus remove_file(const fs::path& path) {
    if (::unlink(path.c_str()) == 0) return {};
    const std::error_code unlink_error = last_error();
    if (errno != EISDIR && errno != EPERM) return unlink_error;
    if (::rmdir(path.c_str()) == 0) return {};
    // Not a directory after all: the refusal to unlink is the answer.
    return errno == ENOTDIR ? unlink_error : last_error();
}

IoStatus remove_tree(const fs::path& path) {
    std::error_code ec;
    fs::remove_all(path, ec);  // never follows links inside the tree
    if (ec) return ec;
    return {};
}

IoStatus rename_replace(const fs::path& from, const fs::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) return last_error();
    return {};
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

File::~File() {
    if (fd_ >= 0) ::close(fd_);
}

IoStatus File::write_all(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return last_error();
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return {};
}

IoStatus File::sync() {
    if (::fsync(fd_) != 0) return last_error();
    return {};
}

IoStatus File::set_mode(unsigned mode) {
    if (::fchmod(fd_, static_cast<mode_t>(mode)) != 0) return last_error();
    return {};
}

IoStatus File::close() {
    int fd = fd_;
    fd_ = -1;
    if (fd >= 0 && ::close(fd) != 0) return last_error();
    return {};
}

IoResult<File> create_new_file(const fs::path& path, unsigned mode) {
    int fd = open_retrying(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, static_cast<mode_t>(mode));
    if (fd < 0) return last_error();
    return File(fd);
}

IoResult<File> open_for_writing(const fs::path& path) {
    int fd = open_retrying(path.c_str(), O_WRONLY | O_CREAT, 0666);
    if (fd < 0) return last_error();
    return File(fd);
}

IoStatus write_file(const fs::path& path, std::string_view bytes) {
    int fd = open_retrying(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) return last_error();
    File file(fd);
    if (auto st = file.write_all(bytes); !st) return st;
    return file.close();
}

IoStatus sync_directory(const fs::path& dir) {
    int fd = open_retrying(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return last_error();
    File file(fd);
    return file.sync();
}

IoResult<Directory> open_directory(const fs::path& dir) {
    int fd = open_retrying(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return last_error();
    return Directory(File(fd));
}

IoResult<std::string> read_link_in(const Directory& dir, const std::string& name) {
    char buf[PATH_MAX];
    ssize_t n = ::readlinkat(dir.fd(), name.c_str(), buf, sizeof buf);
    if (n < 0) return last_error();
    if (static_cast<size_t>(n) < sizeof buf) return std::string(buf, static_cast<size_t>(n));
    return std::make_error_code(std::errc::filename_too_long);
}

IoResult<bool> try_lock_exclusive(const File& file) {
    for (;;) {
        if (::flock(file.fd(), LOCK_EX | LOCK_NB) == 0) return true;
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK) return false;
        return last_error();
    }
}

std::uint64_t process_id() { return static_cast<std::uint64_t>(::getpid()); }

std::vector<std::pair<std::string, std::string>> environment() {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        std::string_view text = *entry;
        auto eq = text.find('=');
        if (eq == std::string_view::npos) continue;
        pairs.emplace_back(text.substr(0, eq), text.substr(eq + 1));
    }
    return pairs;
}

void ignore_broken_pipe() { ::signal(SIGPIPE, SIG_IGN); }

IoResult<fs::path> current_directory() {
    std::error_code ec;
    fs::path p = fs::current_path(ec);
    if (ec) return ec;
    return p;
}

void sleep_for(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

}  // namespace platform
