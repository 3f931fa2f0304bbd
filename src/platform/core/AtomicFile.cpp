#include "platform/core/AtomicFile.h"

#include "platform/core/Uuid.h"
#include "platform/core/WriteFailure.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <optional>
#include <system_error>

namespace fw {

namespace fs = std::filesystem;

namespace {
[[noreturn]] void throwErrno(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

// A staged name is "." <stem> ".fwpart-" <place> "-" <pid> "-" <start> "-" <tag>
// <extension>. <place> is 24 hex digits, three hashes of where the writer
// runs: its machine (the machine id), the machine's boot (the boot id), and the
// boot with the writer's pid namespace. A pid and start time only name a
// process in the same boot and pid namespace, so stagings of any other
// namespace (a sandboxed or containerised copy, another machine writing into a
// shared folder) are never judged by them; but every process of this
// machine's earlier boot has ended, so its stagings (a crash, a power cut) are
// gone whatever their namespace. <start> is the writer's start time in clock
// ticks after boot (0 when it could not be read): with the pid it tells the
// writer from a later process given the same id. Names of earlier versions
// are <bootns8>-<pid>-<start>-<tag>, judged as here only when <bootns8> is
// ours, and <pid>-<tag> and <pid>-<start>-<tag>, judged by the pid as if
// written here.
constexpr std::size_t kFileNameLimit = 255;  // bytes, as Linux file systems allow
constexpr std::string_view kMarker = ".fwpart-";
constexpr std::size_t kTagLength = 8;
constexpr std::size_t kPlaceLength = 24;              // hex digits of machine, boot, boot and namespace
constexpr std::size_t kNamespaceOnlyPlaceLength = 8;  // hex digits of boot and namespace, in earlier names
constexpr std::size_t kLongestProcessId = 10;         // digits of the largest pid_t
constexpr std::size_t kLongestStartTime = 20;         // digits of the largest 64-bit count
constexpr std::uint32_t kUnknownPlace = 0;            // a hash written when this process cannot read what it hashes
constexpr int kMostSetAside = 1000;                   // names tried beside one stored file
constexpr int kMostLinks = 40;                        // links followed, as the kernel's path walk allows
constexpr std::size_t kMostJudgedBytes = 64 << 20;    // the largest file a store reads, read to judge a link

// At most `bytes` bytes of `text`, not cutting a UTF-8 sequence in two.
std::string utf8Prefix(const std::string& text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
    return text.substr(0, bytes);
}

// The parts of the staged names of `target` around "<place>-<pid>-<start>-<tag>".
// The stem is cut for the longest process id and start time, so every process
// names a target alike.
std::pair<std::string, std::string> stagedNameEnds(const fs::path& target) {
    constexpr std::size_t fixed =
        1 + kMarker.size() + kPlaceLength + 1 + kLongestProcessId + 1 + kLongestStartTime + 1 + kTagLength;
    const std::string extension = utf8Prefix(target.extension().string(), kFileNameLimit - fixed);
    const std::string stem = utf8Prefix(target.stem().string(), kFileNameLimit - fixed - extension.size());
    return {"." + stem + std::string(kMarker), extension};
}

// Where a process runs, as hashes; kUnknownPlace where it could not be read.
struct Place {
    std::uint32_t machine = kUnknownPlace;
    std::uint32_t boot = kUnknownPlace;
    std::uint32_t bootNamespace = kUnknownPlace;  // the boot and the pid namespace together
};

// The process that staged a file, as its name tells.
struct Writer {
    std::optional<Place> place;      // absent from names of earlier versions
    bool placeNamesMachine = false;  // else only its bootNamespace is told
    pid_t process = 0;
    std::uint64_t startTicks = 0;  // 0: not told
};

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// The whole of `text` as an unsigned number in `base`; nullopt unless it is one.
std::optional<std::uint64_t> wholeNumber(std::string_view text, int base = 10) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The writer of a staged file or folder named `name`; nullopt for any other name.
std::optional<Writer> writerOf(std::string_view name) {
    const std::size_t marker = name.rfind(kMarker);
    if (!name.starts_with('.') || marker == std::string_view::npos || marker == 0) return std::nullopt;
    std::string_view rest = name.substr(marker + kMarker.size());
    const std::string_view extension = rest.substr(std::min(rest.find('.'), rest.size()));
    if (extension.find('.', 1) != std::string_view::npos) return std::nullopt;
    rest.remove_suffix(extension.size());
    // Two to four fields: [<place>-]<pid>-[<start>-]<tag>.
    std::string_view fields[5];
    std::size_t count = 0;
    for (; count < std::size(fields); ++count) {
        const std::size_t dash = rest.find('-');
        fields[count] = rest.substr(0, dash);
        if (dash == std::string_view::npos) break;
        rest.remove_prefix(dash + 1);
    }
    if (count < 1 || count > 3) return std::nullopt;
    const std::string_view tag = fields[count];
    if (tag.size() != kTagLength || !std::all_of(tag.begin(), tag.end(), isHexDigit)) return std::nullopt;
    Writer writer;
    std::size_t next = 0;
    if (count == 3) {
        const std::string_view place = fields[next++];
        if (place.size() != kPlaceLength && place.size() != kNamespaceOnlyPlaceLength) return std::nullopt;
        std::uint32_t hashes[3] = {};
        for (std::size_t at = 0; at < place.size() / 8; ++at) {
            const auto hash = wholeNumber(place.substr(at * 8, 8), 16);
            if (!hash) return std::nullopt;
            hashes[at] = static_cast<std::uint32_t>(*hash);
        }
        writer.placeNamesMachine = place.size() == kPlaceLength;
        writer.place =
            writer.placeNamesMachine ? Place{hashes[0], hashes[1], hashes[2]} : Place{.bootNamespace = hashes[0]};
    }
    const auto process = wholeNumber(fields[next++]);
    if (!process || *process == 0 || *process > std::uint64_t(std::numeric_limits<pid_t>::max())) return std::nullopt;
    writer.process = static_cast<pid_t>(*process);
    if (next < count) {
        const auto start = wholeNumber(fields[next]);
        if (!start) return std::nullopt;
        writer.startTicks = *start;
    }
    return writer;
}

// When the process `process` started, in clock ticks after boot; nullopt when
// no such process runs or /proc cannot tell.
std::optional<std::uint64_t> startTicksOf(pid_t process) {
    char path[32] = "/proc/";
    std::memcpy(std::to_chars(path + 6, path + 20, process).ptr, "/stat", 6);
    const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return std::nullopt;
    char text[1024];
    const ssize_t length = ::read(descriptor, text, sizeof text);
    ::close(descriptor);
    if (length <= 0) return std::nullopt;
    // "pid (name) state ppid ...": the name may hold anything but ends at the
    // last ')'; the start time is the 20th field after it (proc(5)).
    std::string_view fields(text, static_cast<std::size_t>(length));
    const std::size_t nameEnd = fields.rfind(')');
    if (nameEnd == std::string_view::npos) return std::nullopt;
    fields.remove_prefix(nameEnd + 1);
    for (int field = 0; field < 19; ++field) {
        const std::size_t gap = fields.find(' ', 1);
        if (gap == std::string_view::npos) return std::nullopt;
        fields.remove_prefix(gap);
    }
    fields.remove_prefix(1);
    return wholeNumber(fields.substr(0, fields.find(' ')));
}

// Up to `size` bytes of the file at `path`; 0 when it cannot be read.
std::size_t readStart(const char* path, char* bytes, std::size_t size) {
    const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return 0;
    const ssize_t length = ::read(descriptor, bytes, size);
    ::close(descriptor);
    return length > 0 ? static_cast<std::size_t>(length) : 0;
}

// FNV-1a over `size` bytes, continuing from `hash`.
std::uint32_t mixed(std::uint32_t hash, const void* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ static_cast<const unsigned char*>(bytes)[i]) * 16777619u;
    return hash;
}
constexpr std::uint32_t kHashStart = 2166136261u;
std::uint32_t known(std::uint32_t hash) { return hash == kUnknownPlace ? 1 : hash; }

// The machine's id (32 hex digits, machine-id(5)); the one D-Bus keeps where
// systemd's is missing. kUnknownPlace when neither holds one.
std::uint32_t machineOfThisProcess() {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        char id[33];
        const std::size_t length = readStart(path, id, sizeof id);
        if (length >= 32 && std::all_of(id, id + 32, isHexDigit) && (length == 32 || id[32] == '\n'))
            return known(mixed(kHashStart, id, 32));
    }
    return kUnknownPlace;
}

// This process's place. Read anew each time: a process may enter another
// namespace.
Place placeOfThisProcess() {
    Place place;
    place.machine = machineOfThisProcess();
    char boot[64];
    const std::size_t length = readStart("/proc/sys/kernel/random/boot_id", boot, sizeof boot);
    if (length == 0) return place;
    const std::uint32_t bootHash = mixed(kHashStart, boot, length);
    place.boot = known(bootHash);
    struct stat pidNamespace {};
    if (::stat("/proc/self/ns/pid", &pidNamespace) != 0) return place;
    const std::uint64_t inode = pidNamespace.st_ino;
    place.bootNamespace = known(mixed(bootHash, &inode, sizeof inode));
    return place;
}

// True only for a writer known to be gone: one of this machine's earlier
// boot, or one of this process's boot and pid namespace whose id no process
// has, or the process that has it now started at another time. A live
// writer, one of another machine or namespace, or one this process cannot
// tell about, keeps its staging.
bool hasEnded(const Writer& writer, const Place& here) {
    if (writer.place) {
        const Place& there = *writer.place;
        // This machine's earlier boot: all its processes have ended, in every
        // namespace. A machine that could not be told is never taken for this one.
        if (writer.placeNamesMachine && there.machine != kUnknownPlace && there.machine == here.machine &&
            there.boot != kUnknownPlace && here.boot != kUnknownPlace && there.boot != here.boot)
            return true;
        const bool sameMachineAndBoot =
            !writer.placeNamesMachine || (there.machine == here.machine && there.boot == here.boot);
        if (!sameMachineAndBoot || here.bootNamespace == kUnknownPlace || there.bootNamespace != here.bootNamespace)
            return false;
    }
    if (writer.startTicks != 0)
        if (const auto start = startTicksOf(writer.process)) return *start != writer.startTicks;
    return ::kill(writer.process, 0) != 0 && errno == ESRCH;
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

SetAside setAsideUnreadable(const fs::path& file) {
    // Through a link the file it names goes aside, beside itself: the link
    // stays, and the next write goes through it again. But only a file of the
    // link's own folder: one elsewhere (a user's dotfiles, /dev/zero) is not
    // this program's to rename.
    const fs::path named = writtenFile(file);
    if (named != file) {
        std::error_code error;
        const fs::path folder = fs::weakly_canonical(fs::absolute(file, error).parent_path(), error);
        const fs::path inside = named.lexically_relative(folder);
        if (error || inside.empty() || *inside.begin() == "..")
            return {std::nullopt, "it is a link to \u201c" + named.string() + "\u201d, outside its folder"};
    }
    struct stat status {};
    if (::lstat(named.c_str(), &status) != 0) return {std::nullopt, writeFailureReason(errno, named)};
    // A FIFO, a device or a socket is no file of ours: renaming a device node
    // would take it from whatever else uses it.
    if (!S_ISREG(status.st_mode)) return {std::nullopt, "it is not a regular file"};
    if (auto kept = moveAside(named, named, "unreadable")) return {std::move(kept), {}};
    return {std::nullopt, writeFailureReason(errno, named)};
}

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
    const pid_t self = ::getpid();
    char middle[kPlaceLength + 1 + kLongestProcessId + 1 + kLongestStartTime + 1];
    const Place place = placeOfThisProcess();
    char* end = middle;
    for (const std::uint32_t hash : {place.machine, place.boot, place.bootNamespace})
        for (int digit = 7; digit >= 0; --digit) *end++ = "0123456789abcdef"[(hash >> (4 * digit)) & 0xF];
    *end++ = '-';
    end = std::to_chars(end, end + kLongestProcessId, self).ptr;
    *end++ = '-';
    end = std::to_chars(end, end + kLongestStartTime, startTicksOf(self).value_or(0)).ptr;
    *end++ = '-';
    return target.parent_path() / (head + std::string(middle, end) + tag + extension);
}

void removeAbandonedStagings(const fs::path& folder) {
    const auto here = placeOfThisProcess();
    std::error_code error;
    for (fs::directory_iterator entry(folder.empty() ? fs::path(".") : folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const auto writer = writerOf(entry->path().filename().native());
        if (writer && hasEnded(*writer, here)) {
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
    // The mode of the file replaced, set while the new one is still empty.
    struct stat replaced {};
    if (::stat(target.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)) ::fchmod(fd, replaced.st_mode & 07777);
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

std::optional<std::string> storedFileHeld(const fs::path& file, StoredContent own) {
    const fs::path named = writtenFile(file);
    struct stat status {};
    // Nothing there (or a folder of the path missing, which the write tells).
    if (::lstat(named.c_str(), &status) != 0) return std::nullopt;
    if (S_ISDIR(status.st_mode)) return std::nullopt;
    if (S_ISREG(status.st_mode)) {
        if (named == file || !own) return std::nullopt;
        // Through a link: only to a file of this store's, or an empty one.
        const StoredBytes read = readStoredFile(named, kMostJudgedBytes);
        if (read.state == StoredBytes::State::read && (read.bytes.empty() || own(read.bytes))) return std::nullopt;
        if (read.state == StoredBytes::State::absent) return std::nullopt;  // gone since
        return "it is a link to \u201c" + named.string() + "\u201d, which " +
               (read.state == StoredBytes::State::failed ? "could not be read" : "holds something else");
    }
    // Still a link after every hop was followed: links that name each other.
    if (S_ISLNK(status.st_mode)) return writeFailureReason(ELOOP, file);
    if (named != file) return "it is a link to \u201c" + named.string() + "\u201d, which is not a regular file";
    return "it is not a regular file";
}

bool nothingStoredAt(const fs::path& file) {
    std::error_code error;
    return !fs::exists(file, error) && !error;
}

std::optional<std::string> removeStoredFile(const fs::path& file) {
    if (auto held = storedFileHeld(file, nullptr)) return held;
    std::error_code error;
    fs::remove(file, error);
    if (error) return writeFailureReason(error.value(), file);
    return std::nullopt;
}

std::optional<std::string> writeStoredFile(const fs::path& file, std::string_view bytes, StoredContent own) {
    if (auto held = storedFileHeld(file, own)) return held;
    std::error_code ignored;  // a folder that cannot be made fails the write below
    fs::create_directories(file.parent_path(), ignored);
    try {
        writeFileAtomically(file, bytes);
        return std::nullopt;
    } catch (const std::system_error& error) {
        return writeFailureReason(error.code().value(), file);
    }
}

StoredBytes readStoredFile(const fs::path& file, std::size_t mostBytes) {
    using State = StoredBytes::State;
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0)
        return {errno == ENOENT || errno == ENOTDIR ? State::absent : State::failed, {}};
    if (S_ISDIR(status.st_mode)) return {};
    if (!S_ISREG(status.st_mode)) return {State::notRegular, {}};
    // Without waiting, and looked at again once open: a FIFO may have taken
    // the file's place since.
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) return {State::failed, {}};
    StoredBytes result{State::read, {}};
    if (::fstat(descriptor, &status) != 0)
        result.state = State::failed;
    else if (!S_ISREG(status.st_mode))
        result.state = State::notRegular;
    else if (std::uintmax_t(status.st_size) > mostBytes)
        result.state = State::tooLarge;
    else
        result.bytes.reserve(std::size_t(status.st_size));
    char chunk[64 * 1024];
    while (result.state == State::read) {
        const ssize_t length = ::read(descriptor, chunk, sizeof chunk);
        if (length == 0) break;
        if (length < 0 && errno == EINTR) continue;
        // A file that grows past the bound while it is read is too large too.
        if (length < 0 || std::size_t(length) > mostBytes - result.bytes.size())
            result = {length < 0 ? State::failed : State::tooLarge, {}};
        else
            result.bytes.append(chunk, std::size_t(length));
    }
    ::close(descriptor);
    return result;
}

bool readWholeFile(const fs::path& path, std::string& out) {
    StoredBytes read = readStoredFile(path, std::numeric_limits<std::size_t>::max());
    if (read.state != StoredBytes::State::read) return false;
    out = std::move(read.bytes);
    return true;
}

}  // namespace fw
