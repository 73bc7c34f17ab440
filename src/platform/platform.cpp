#include "platform/platform.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdlib>
#include <memory>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <stdio.h>
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
    } else if (S_ISFIFO(st.st_mode)) {
        m.special = SpecialKind::fifo;
    } else if (S_ISSOCK(st.st_mode)) {
        m.special = SpecialKind::socket;
    } else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
        m.special = SpecialKind::device;
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

class FileKindCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "file kind"; }
    std::string message(int) const override { return "not a regular file"; }
};

// Keeps `fd` when it is a regular file, its status in `st`; otherwise
// closes it and says why.
IoResult<File> regular_only(int fd, struct stat& st) {
    File file(fd);
    if (::fstat(fd, &st) != 0) return last_error();
    if (S_ISDIR(st.st_mode)) return std::make_error_code(std::errc::is_a_directory);
    if (!S_ISREG(st.st_mode)) return not_a_regular_file();
    return file;
}

// Opens for reading without waiting on a FIFO or a device.
IoResult<File> open_regular_for_reading(const fs::path& path, struct stat& st) {
    int fd = open_retrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return last_error();
    return regular_only(fd, st);
}

// Opens for writing without waiting for a FIFO's reader or a device; a FIFO
// without a reader, or a socket, answers ENXIO.
IoResult<File> open_regular_for_writing(const fs::path& path, int flags) {
    int fd = open_retrying(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | flags, 0666);
    if (fd < 0) return errno == ENXIO ? not_a_regular_file() : last_error();
    struct stat st;
    return regular_only(fd, st);
}

}  // namespace

std::error_code not_a_regular_file() {
    static const FileKindCategory category;
    return std::error_code(1, category);
}

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

IoResult<File> open_for_reading(const fs::path& path) {
    struct stat st;
    return open_regular_for_reading(path, st);
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
    struct stat st;
    auto file = open_regular_for_reading(path, st);
    if (!file) return file.error();
    stamp = stamp_of(st);
    const auto size = static_cast<std::uintmax_t>(st.st_size);
    if (size > read_limit) return std::make_error_code(std::errc::file_too_large);

    // One read of the size the system reports, plus a byte to see the end; a
    // file that grew meanwhile is read on in chunks.
    std::string data(static_cast<std::size_t>(size) + 1, '\0');
    std::size_t filled = 0;
    for (;;) {
        if (filled == data.size()) {
            if (data.size() > read_limit) return std::make_error_code(std::errc::file_too_large);
            data.resize(data.size() + 65536);
        }
        auto n = file->read_some(data.data() + filled, data.size() - filled);
        if (!n) return n.error();
        if (*n == 0) break;
        filled += *n;
        // The whole reported size in a read that asked for more is the end.
        if (filled == size && filled < data.size()) break;
    }
    data.resize(filled);
    return data;
}

IoResult<std::string> read_file(const fs::path& path) {
    FileStamp stamp;
    return read_file(path, stamp);
}

IoResult<FileStamp> file_stamp(const fs::path& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return last_error();
    return stamp_of(st);
}

IoResult<FileStamp> file_stamp(const File& file) {
    struct stat st;
    if (::fstat(file.fd(), &st) != 0) return last_error();
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

IoStatus create_directory(const fs::path& dir, unsigned mode) {
    if (::mkdir(dir.c_str(), static_cast<mode_t>(mode)) != 0) return last_error();
    return {};
}

IoStatus set_permissions(const fs::path& path, unsigned mode) {
    if (::chmod(path.c_str(), static_cast<mode_t>(mode)) != 0) return last_error();
    return {};
}

namespace {
std::error_code forced_rename_error;
}  // namespace

void fail_next_rename_for_testing(std::error_code error) { forced_rename_error = error; }

IoStatus rename_no_replace(const fs::path& from, const fs::path& to) {
    if (forced_rename_error) return std::exchange(forced_rename_error, std::error_code());
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS) return last_error();
    // A file system without the no-replace flag: look first, then rename.
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) return std::make_error_code(std::errc::file_exists);
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

IoResult<std::uintmax_t> File::size() const {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return last_error();
    return static_cast<std::uintmax_t>(st.st_size);
}

IoResult<std::size_t> File::read_some(char* buffer, std::size_t size) {
    for (;;) {
        ssize_t n = ::read(fd_, buffer, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) return last_error();
    }
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

IoResult<File> open_for_writing(const fs::path& path) { return open_regular_for_writing(path, 0); }

IoStatus write_file(const fs::path& path, std::string_view bytes) {
    auto file = open_regular_for_writing(path, O_TRUNC);
    if (!file) return file.error();
    if (auto st = file->write_all(bytes); !st) return st;
    return file->close();
}

IoStatus copy_file(const fs::path& from, const fs::path& to) {
    // Non-blocking, so that a FIFO put in the file's place cannot stall the copy.
    struct stat st;
    auto in = open_regular_for_reading(from, st);
    if (!in) {
        const bool not_regular = in.error() == not_a_regular_file() || in.error() == std::errc::is_a_directory;
        return not_regular ? std::make_error_code(std::errc::not_supported) : in.error();
    }

    auto out = create_new_file(to, 0600);
    if (!out) return out.error();
    auto copied = [&]() -> IoStatus {
        char buf[65536];
        for (;;) {
            auto n = in->read_some(buf, sizeof buf);
            if (!n) return n.error();
            if (*n == 0) break;
            if (auto st_write = out->write_all(std::string_view(buf, *n)); !st_write) return st_write;
        }
        if (auto st_mode = out->set_mode(st.st_mode & 07777); !st_mode) return st_mode;
        if (auto st_sync = out->sync(); !st_sync) return st_sync;
        return out->close();
    }();
    if (!copied) {
        (void)out->close();
        (void)remove_file(to);
    }
    return copied;
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

namespace {
// Asked once per process: a child made by fork asks again.
std::atomic<std::uint64_t> known_process_id{0};
}  // namespace

std::uint64_t process_id() {
    std::uint64_t id = known_process_id.load(std::memory_order_relaxed);
    if (id != 0) return id;
    static const int forgotten_in_children =
        ::pthread_atfork(nullptr, nullptr, [] { known_process_id.store(0, std::memory_order_relaxed); });
    (void)forgotten_in_children;
    id = static_cast<std::uint64_t>(::getpid());
    known_process_id.store(id, std::memory_order_relaxed);
    return id;
}

bool process_alive(int pid) {
    if (pid <= 0) return false;  // 0 and below name process groups, not one process
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

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
