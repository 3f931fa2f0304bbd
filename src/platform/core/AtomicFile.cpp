#include "platform/core/AtomicFile.h"

#include "platform/core/Uuid.h"
#include "platform/core/WriteFailure.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <sstream>
#include <system_error>

namespace fw {

namespace fs = std::filesystem;

namespace {
[[noreturn]] void throwErrno(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

// A staged name is "." <stem> ".fwpart-" <pid> "-" <tag> <extension>.
constexpr std::size_t kFileNameLimit = 255;  // bytes, as Linux file systems allow
constexpr std::string_view kMarker = ".fwpart-";
constexpr std::size_t kTagLength = 8;
constexpr std::size_t kLongestProcessId = 10;  // digits of the largest pid_t
constexpr int kMostSetAside = 1000;            // names tried beside one stored file
constexpr int kMostLinks = 40;                 // links followed, as the kernel's path walk allows

// At most `bytes` bytes of `text`, not cutting a UTF-8 sequence in two.
std::string utf8Prefix(const std::string& text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
    return text.substr(0, bytes);
}

// The parts of the staged names of `target` around "<pid>-<tag>". The stem is
// cut for the longest process id, so every process names a target alike.
std::pair<std::string, std::string> stagedNameEnds(const fs::path& target) {
    constexpr std::size_t fixed = 1 + kMarker.size() + kLongestProcessId + 1 + kTagLength;
    const std::string extension = utf8Prefix(target.extension().string(), kFileNameLimit - fixed);
    const std::string stem = utf8Prefix(target.stem().string(), kFileNameLimit - fixed - extension.size());
    return {"." + stem + std::string(kMarker), extension};
}

// The writer's process id in a staged name's middle "<pid>-<tag>"; 0 when it has none.
pid_t processIdOf(std::string_view middle) {
    pid_t id = 0;
    const auto [end, error] = std::from_chars(middle.data(), middle.data() + middle.size(), id);
    const char* const last = middle.data() + middle.size();
    const bool wellFormed = error == std::errc() && end != middle.data() && end < last && *end == '-' &&
                            static_cast<std::size_t>(last - end) == 1 + kTagLength;
    return wellFormed && id > 0 ? id : 0;
}

// Renames without replacing an existing `to`; errno EEXIST when it exists.
// File systems that cannot rename so get a hard link and an unlink instead.
bool moveWithoutReplacing(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

// The file a write to `target` replaces: through symbolic links, relative
// ones read from the link's folder, to the file they name (which need not
// exist yet); `target` itself when it is no link.
fs::path writtenFile(const fs::path& target) {
    std::error_code error;
    fs::path file = target;
    for (int hop = 0; hop < kMostLinks && fs::is_symlink(fs::symlink_status(file, error)); ++hop) {
        const fs::path next = fs::read_symlink(file, error);
        if (error) return target;
        file = next.is_absolute() ? next : file.parent_path() / next;
    }
    if (file == target) return target;
    const fs::path resolved = fs::weakly_canonical(file, error);
    return error ? file : resolved;
}
}  // namespace

std::optional<fs::path> setAsideUnreadable(const fs::path& file) { return moveAside(file, file, "unreadable"); }

std::optional<fs::path> moveAside(const fs::path& from, const fs::path& namedAfter, std::string_view label) {
    const std::string stem = namedAfter.stem().string() + "." + std::string(label);
    for (int copy = 1; copy <= kMostSetAside; ++copy) {
        std::string name = stem;
        if (copy > 1) {
            char number[16];
            name += "-" + std::string(number, std::to_chars(number, number + sizeof number, copy).ptr);
        }
        const fs::path kept = namedAfter.parent_path() / (name + namedAfter.extension().string());
        if (moveWithoutReplacing(from, kept)) return kept;
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

fs::path temporarySibling(const fs::path& target) {
    const auto [head, extension] = stagedNameEnds(target);
    const std::string tag = Uuid::random().string().substr(0, kTagLength);
    char id[kLongestProcessId + 1];
    const auto idEnd = std::to_chars(id, id + sizeof id, ::getpid()).ptr;
    return target.parent_path() / (head + std::string(id, idEnd) + "-" + tag + extension);
}

void removeAbandonedSiblings(const fs::path& target) {
    const auto [head, extension] = stagedNameEnds(target);
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (name.size() <= head.size() + extension.size() || !name.starts_with(head) || !name.ends_with(extension))
            continue;
        const pid_t writer =
            processIdOf(std::string_view(name).substr(head.size(), name.size() - head.size() - extension.size()));
        // Only a writer known to be gone; a live one (or one we may not signal) keeps its file.
        if (writer != 0 && ::kill(writer, 0) != 0 && errno == ESRCH) {
            std::error_code ignored;
            fs::remove_all(entry->path(), ignored);  // a staged folder too
        }
    }
}

void writeFileAtomically(const fs::path& link, std::string_view bytes) {
    const fs::path target = writtenFile(link);
    const fs::path temp = temporarySibling(target);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) throwErrno("cannot create " + temp.string());
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            int saved = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            errno = saved;
            throwErrno("cannot write " + temp.string());
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        throwErrno("cannot flush " + temp.string());
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        throwErrno("cannot replace " + target.string());
    }
    // Make the rename itself durable.
    int dir =
        ::open(target.parent_path().empty() ? "." : target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

std::optional<std::string> writeStoredFile(const fs::path& file, std::string_view bytes) {
    std::error_code ignored;  // a folder that cannot be made fails the write below
    fs::create_directories(file.parent_path(), ignored);
    try {
        writeFileAtomically(file, bytes);
        return std::nullopt;
    } catch (const std::system_error& error) {
        return writeFailureReason(error.code().value(), file);
    }
}

bool readWholeFile(const fs::path& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) return false;
    out = std::move(buffer).str();
    return true;
}

}  // namespace fw
