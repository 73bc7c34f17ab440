#include "support/support.h"

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>
#include <poll.h>
#include <fcntl.h>
#include <signal.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "mirthlode-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Make read-only directories left by a test removable again.
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

void write_file(const fs::path& path, const std::string& content) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << content;
}

unsigned mode_of(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

std::string read_file(const fs::path& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const auto rel = fs::relative(it->path(), root).string();
        if (rel.rfind(".local", 0) == 0) continue;
        if (it->is_symlink()) {
            out[rel] = "-> " + fs::read_symlink(it->path()).string();
        } else if (it->is_regular_file()) {
            out[rel] = read_file(it->path());
        } else {
            out[rel] = "dir";
        }
    }
    return out;
}

RunResult run_mirthlode(const std::vector<std::string>& args,
                        const std::map<std::string, std::string>& env, const std::string& input,
                        const fs::path& cwd) {
    return run_program(MIRTHLODE_BIN, args, env, input, cwd);
}

fs::path copy_of_binary(const fs::path& dir) {
    fs::create_directories(dir);
    const fs::path copy = dir / "mirthlode";
    fs::copy_file(MIRTHLODE_BIN, copy, fs::copy_options::overwrite_existing);
    fs::permissions(copy, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    return copy;
}

namespace {

// A program's argv and environment as execve takes them.
class ExecArgs {
public:
    ExecArgs(const fs::path& binary, const std::vector<std::string>& args,
             const std::map<std::string, std::string>& env) {
        texts_.push_back(binary.string());
        texts_.insert(texts_.end(), args.begin(), args.end());
        for (const auto& [k, v] : env) env_texts_.push_back(k + "=" + v);
        for (auto& a : texts_) argv_.push_back(a.data());
        argv_.push_back(nullptr);
        for (auto& e : env_texts_) envp_.push_back(e.data());
        envp_.push_back(nullptr);
    }
    ExecArgs(const ExecArgs&) = delete;
    ExecArgs& operator=(const ExecArgs&) = delete;
    // In the child: becomes the program, or exits with 127.
    [[noreturn]] void run() const {
        ::execve(argv_[0], argv_.data(), envp_.data());
        ::_exit(127);
    }

private:
    std::vector<std::string> texts_, env_texts_;
    std::vector<char*> argv_, envp_;
};

// Runs the program, as the user `uid` when one is given.
RunResult run_as(const fs::path& binary, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env, const std::string& input, const fs::path& cwd,
                 std::optional<uid_t> uid) {
    int out_pipe[2], err_pipe[2], in_pipe[2];
    if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0 || ::pipe(in_pipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const ExecArgs exec(binary, args, env);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in_pipe[0], 0);
        ::dup2(out_pipe[1], 1);
        ::dup2(err_pipe[1], 2);
        for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1], in_pipe[0], in_pipe[1]}) ::close(fd);
        if (uid && (::setgroups(0, nullptr) != 0 || ::setgid(*uid) != 0 || ::setuid(*uid) != 0)) ::_exit(125);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
        exec.run();
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    ::close(in_pipe[0]);
    if (!input.empty()) {
        [[maybe_unused]] auto n = ::write(in_pipe[1], input.data(), input.size());
    }
    ::close(in_pipe[1]);

    RunResult result;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    while (open_count > 0) {
        if (::poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            } else {
                sinks[i]->append(buf, static_cast<size_t>(n));
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

}  // namespace

RunResult run_program(const fs::path& binary, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, const std::string& input,
                      const fs::path& cwd) {
    return run_as(binary, args, env, input, cwd, std::nullopt);
}

RunResult run_unprivileged(const Home& h, const std::vector<std::string>& args) {
    if (::geteuid() != 0) return h.run(args);
    constexpr uid_t nobody = 65534;
    // One copy for the whole test program, where that user can reach it.
    static const TempDir bin;
    static const fs::path binary = [] {
        fs::permissions(bin.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec);
        return copy_of_binary(bin.path());
    }();
    EXPECT_EQ(::lchown(h.path().c_str(), nobody, nobody), 0);
    for (const auto& entry : fs::recursive_directory_iterator(h.path())) {
        EXPECT_EQ(::lchown(entry.path().c_str(), nobody, nobody), 0) << entry.path();
    }
    return run_as(binary, args, h.env(), "", {}, nobody);
}

Home::Home() {
    env_["HOME"] = dir_.path().string();
    env_["MIRTHLODE_TARGET_ROOT"] = dir_.path().string();
    env_["XDG_CONFIG_HOME"] = (dir_.path() / ".config").string();
    env_["XDG_STATE_HOME"] = (dir_.path() / ".local/state").string();
    env_["PATH"] = "/usr/bin:/bin";
}

bool run_mirthlode_killed(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                          std::chrono::microseconds after) {
    const ExecArgs exec(MIRTHLODE_BIN, args, env);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        for (int fd : {0, 1, 2}) ::dup2(null, fd);
        exec.run();
    }
    ::usleep(static_cast<useconds_t>(after.count()));
    const bool running = ::waitpid(pid, nullptr, WNOHANG) == 0;
    if (running) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    return running;
}

HeldLock::HeldLock(const Home& h) {
    const fs::path state = h / ".local/state/mirthlode";
    fs::create_directories(state);
    fd_ = ::open((state / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    EXPECT_EQ(::flock(fd_, LOCK_EX | LOCK_NB), 0);
}

void HeldLock::release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace testing_support
