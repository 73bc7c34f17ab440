#include "core/fsutil.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace core {

namespace {

// The file that becomes the new content; removed unless it was moved into place.
class TempFileGuard {
public:
    explicit TempFileGuard(fs::path path) : path_(std::move(path)) {}
    ~TempFileGuard() {
        if (!moved_) (void)platform::remove_file(path_);
    }
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;

    void disarm() { moved_ = true; }

private:
    fs::path path_;
    bool moved_ = false;
};

// Where the bytes go: the file a link points to (its resolved target when it
// dangles), else the path itself. The link is never replaced. With it, the
// permission bits of the regular file found there, which a rewrite keeps,
// or whether what is there is no regular file at all.
struct Destination {
    fs::path path;
    std::optional<unsigned> kept_mode;
    bool not_a_file = false;
};

Destination destination_of(const fs::path& path) {
    auto meta = platform::symlink_metadata(path);
    if (!meta) return {path, std::nullopt};
    if (!meta->is_symlink()) {
        if (!meta->is_regular()) return {path, std::nullopt, true};
        return {path, meta->mode};
    }
    Destination result{path, std::nullopt};
    if (auto final = platform::final_path(path)) {
        result.path = std::move(final).value();
    } else {
        // A dangling link, perhaps to another link: the file the last one
        // names, so that no link on the way is replaced. Links that go round
        // in a circle lead to no file at all.
        constexpr int most_links = 40;
        int links = 0;
        for (; links < most_links; ++links) {
            auto text = platform::read_link(result.path);
            if (!text) break;
            result.path = resolve_link_target(result.path, *text);
        }
        if (links == most_links) return {path, std::nullopt, true};
    }
    if (auto target = platform::metadata(result.path); target && target->is_regular()) {
        result.kept_mode = target->mode;
    } else if (target) {
        result.not_a_file = true;
    }
    return result;
}

std::string temporary_prefix(const fs::path& destination) { return hidden_prefix(destination); }

fs::path temporary_beside(const fs::path& destination) {
    fs::path result = destination;
    result.replace_filename(temporary_prefix(destination) + std::to_string(platform::process_id()));
    return result;
}

// Whether `digits`, what follows a temporary's prefix, names a run that can
// write it no more: this one (it writes each temporary once), or a process
// that is gone. Anything but decimal digits is no temporary of ours.
bool left_by_a_finished_run(std::string_view digits) {
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    constexpr std::uint64_t highest = std::numeric_limits<int>::max();
    std::uint64_t pid = 0;
    for (char c : digits) {
        pid = pid * 10 + static_cast<std::uint64_t>(c - '0');
        if (pid > highest) return true;  // beyond any process id
    }
    return pid == platform::process_id() || !platform::process_alive(static_cast<int>(pid));
}

// Removes the temporary files of `destination` that runs killed between
// writing and renaming left behind: full copies, secrets included. Each
// directory is listed once per run, and only regular files named as a write
// of `destination` names them go, and only when the process named there is
// gone: a run on another home may be writing its own beside a shared file.
void remove_leftover_temporaries(const fs::path& destination) {
    static std::map<fs::path, std::vector<std::string>> candidates;  // by directory
    const fs::path dir = destination.parent_path();
    auto [known, added] = candidates.try_emplace(dir);
    if (added) {
        if (auto entries = platform::list_directory(dir.empty() ? fs::path(".") : dir)) {
            for (auto& name : *entries) {
                if (name.starts_with(".") && name.find(".mirthlode-") != std::string::npos) {
                    known->second.push_back(std::move(name));
                }
            }
        }
    }
    const std::string prefix = temporary_prefix(destination);
    for (const std::string& name : known->second) {
        if (!name.starts_with(prefix)) continue;
        if (!left_by_a_finished_run(std::string_view(name).substr(prefix.size()))) continue;
        const fs::path leftover = dir / name;
        auto meta = platform::symlink_metadata(leftover);
        if (meta && meta->is_regular()) (void)platform::remove_file(leftover);
    }
}

}  // namespace

std::string hidden_prefix(const fs::path& destination) {
    std::string name = destination.has_filename() ? platform::lossy_text(destination.filename()) : "mirthlode";
    // A file name holds at most 255 bytes; a process id has at most 10 digits.
    constexpr std::size_t longest_name = 255 - 1 - std::string_view(".mirthlode-").size() - 10;
    if (name.size() > longest_name) {
        std::size_t cut = longest_name;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
        name.resize(cut);
    }
    return "." + name + ".mirthlode-";
}

fs::path normalize_path(const fs::path& path) {
    fs::path anchor = path.root_name();
    if (path.has_root_directory()) anchor /= path.root_directory();
    std::vector<fs::path> parts;
    for (const fs::path& part : path.relative_path()) {
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..") {
                parts.pop_back();
            } else if (anchor.empty()) {
                parts.push_back(part);
            }
            continue;
        }
        parts.push_back(part);
    }
    fs::path result = anchor;
    for (const fs::path& part : parts) result /= part;
    return result;
}

fs::path resolve_link_target(const fs::path& link, const fs::path& text) {
    if (text.is_absolute()) return normalize_path(text);
    return normalize_path(link.parent_path() / text);
}

namespace {

// Writes `bytes` to a new temporary file beside `destination`, flushed, and
// moves it into place: over what is there, or with `replace` false only
// where nothing is (`appeared` is then set when something was). The
// directory is created only when the temporary cannot be, so a write into
// an existing directory never looks at it first.
util::IoStatus write_through_temporary(const fs::path& destination, std::string_view bytes,
                                       unsigned create_mode, std::optional<unsigned> kept_mode, bool replace,
                                       bool& appeared) {
    remove_leftover_temporaries(destination);
    fs::path temp = temporary_beside(destination);
    auto file = platform::create_new_file(temp, create_mode);
    if (!file) {
        if (auto st = platform::create_directories(destination.parent_path()); !st) return st.error();
        file = platform::create_new_file(temp, create_mode);
        if (!file) return file.error();
    }
    // Only a temporary this run made is removed on failure: whatever already
    // stood at its name (which the create refused) is not ours to remove.
    TempFileGuard guard(temp);
    if (kept_mode) {
        if (auto st = file->set_mode(*kept_mode); !st) return st.error();
    }
    if (auto st = file->write_all(bytes); !st) return st.error();
    if (auto st = file->sync(); !st) return st.error();
    if (auto st = file->close(); !st) return st.error();
    if (replace) {
        if (auto st = platform::rename_replace(temp, destination); !st) return st.error();
    } else if (auto st = platform::rename_no_replace(temp, destination); !st) {
        appeared = st.error() == std::errc::file_exists;
        return st.error();
    }
    guard.disarm();
    return {};
}

}  // namespace

util::IoResult<fs::path> write_atomic(const fs::path& path, std::string_view bytes, WriteOptions options) {
    bool appeared = false;
    if (options.expect_absent) {
        // Nothing to follow and no mode to keep; the rename refuses should
        // anything have come since, and the write is then done as for a
        // file that is there.
        auto written = write_through_temporary(path, bytes, options.new_file_mode, std::nullopt, false, appeared);
        if (written) {
            if (options.sync_directory) (void)platform::sync_directory(path.parent_path());
            return path;
        }
        if (!appeared) return written.error();
    }

    // A replaced file keeps its permission bits: agents' files may hold
    // credentials and must not become readable by others through a rewrite.
    Destination destination = destination_of(path);
    // A FIFO, a socket, a device or a directory is never replaced by a file.
    if (destination.not_a_file) return platform::not_a_regular_file();
    const unsigned create_mode = destination.kept_mode ? 0600 : options.new_file_mode;
    if (auto written = write_through_temporary(destination.path, bytes, create_mode, destination.kept_mode, true,
                                               appeared);
        !written) {
        return written.error();
    }
    if (options.sync_directory) (void)platform::sync_directory(destination.path.parent_path());
    return std::move(destination.path);
}

}  // namespace core
