// Helpers shared by the tests: throw-away directories, files, and running the
// built binary in a throw-away home.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

namespace fs = std::filesystem;

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    fs::path operator/(const fs::path& rel) const { return path_ / rel; }

private:
    fs::path path_;
};

// Writes a file, creating its parent directories.
void write_file(const fs::path& path, const std::string& content);
// The whole file; an empty string when it cannot be read.
std::string read_file(const fs::path& path);

// The permission bits of the file at `path`; a file that cannot be looked
// at fails the test.
unsigned mode_of(const fs::path& path);

// Every path under `root` with its link text ("-> text"), its content, or
// "dir"; the state directory `.local` (which holds the lock file) left out.
std::map<std::string, std::string> snapshot(const fs::path& root);

struct RunResult {
    std::string out;
    std::string err;
    int code = -1;
};

// Runs the built mirthlode with exactly these arguments (the program path is
// added) and exactly this environment, nothing inherited; in `cwd` when given.
RunResult run_mirthlode(const std::vector<std::string>& args,
                        const std::map<std::string, std::string>& env, const std::string& input = "",
                        const fs::path& cwd = {});
// The same with another copy of the binary.
RunResult run_program(const fs::path& binary, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, const std::string& input = "",
                      const fs::path& cwd = {});
// A copy of the built binary in `dir`, runnable by every user: a test that
// runs it as an unprivileged user cannot count on reaching the build tree.
fs::path copy_of_binary(const fs::path& dir);

// Runs the built mirthlode as run_mirthlode does, output dropped, and kills
// it with SIGKILL once `after` has passed; true when it was still running.
bool run_mirthlode_killed(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                          std::chrono::microseconds after);

// A throw-away home for end-to-end runs: HOME, MIRTHLODE_TARGET_ROOT and the
// XDG directories all point inside it.
class Home {
public:
    Home();
    const fs::path& path() const { return dir_.path(); }
    fs::path operator/(const fs::path& rel) const { return dir_.path() / rel; }
    std::map<std::string, std::string>& env() { return env_; }
    const std::map<std::string, std::string>& env() const { return env_; }
    RunResult run(const std::vector<std::string>& args) const { return run_mirthlode(args, env_); }

private:
    TempDir dir_;
    std::map<std::string, std::string> env_;
};

// Runs the built mirthlode in `h` as h.run does, as an unprivileged user
// (65534) when this process is root, whom permissions do not hold back: the
// whole home is handed to that user first, and a copy of the binary that
// user can reach is run.
RunResult run_unprivileged(const Home& h, const std::vector<std::string>& args);

// Holds the lock file of `h` until destroyed; close-on-exec, so that the runs
// started meanwhile do not hold it too.
class HeldLock {
public:
    explicit HeldLock(const Home& h);
    ~HeldLock() { release(); }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;
    void release();

private:
    int fd_ = -1;
};

}  // namespace testing_support
