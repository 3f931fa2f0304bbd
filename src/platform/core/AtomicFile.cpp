#include "platform/core/AtomicFile.h"

#include "platform/core/Uuid.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>

namespace fw {

namespace fs = std::filesystem;

namespace {
[[noreturn]] void throwErrno(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }
}  // namespace

fs::path temporarySibling(const fs::path& target) {
    auto tag = Uuid::random().string().substr(0, 8);
    auto name = "." + target.stem().string() + ".fwpart-" + tag + target.extension().string();
    return target.parent_path() / name;
}

void writeFileAtomically(const fs::path& target, std::string_view bytes) {
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
