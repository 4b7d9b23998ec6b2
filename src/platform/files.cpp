#include "platform/files.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace {

thread_local uint32_t lastError = 0;

void RecordErrno() { SetLastError(static_cast<uint32_t>(errno)); }

char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The length of the UTF-8 character starting at name[i]. A stray continuation byte counts as a
// character of its own, so that every name can be walked whatever its bytes.
size_t CharLength(std::string_view name, size_t i)
{
    size_t n = 1;
    while (i + n < name.size() && (static_cast<unsigned char>(name[i + n]) & 0xC0) == 0x80)
        ++n;
    return n;
}

// Closes a directory stream on every way out of FindFiles.
struct DirCloser {
    void operator()(DIR *dir) const { ::closedir(dir); }
};

} // namespace

uint32_t GetLastError() { return lastError; }

void SetLastError(uint32_t code) { lastError = code; }

bool MatchesWildcard(std::string_view name, std::string_view pattern)
{
    // Greedy matching that returns to the last "*" on a mismatch: only the last star ever needs
    // revisiting, so the time stays proportional to name length times pattern length.
    size_t n = 0, p = 0;
    size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            n += CharLength(name, n);
            ++p;
        } else if (p < pattern.size() && FoldAscii(pattern[p]) == FoldAscii(name[n])) {
            ++n;
            ++p;
        } else if (starP != std::string_view::npos) {
            starN += CharLength(name, starN);
            n = starN;
            p = starP + 1;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::vector<std::string> FindFiles(const std::string &dir, const std::string &pattern)
{
    std::vector<std::string> names;
    std::unique_ptr<DIR, DirCloser> stream(::opendir(dir.c_str()));
    if (!stream) {
        RecordErrno();
        return names;
    }
    const int dirFd = ::dirfd(stream.get());
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(stream.get());
        if (!entry) {
            if (errno != 0)
                RecordErrno();
            break;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == ".." || !MatchesWildcard(name, pattern))
            continue;
        // fstatat follows a symbolic link, so a link counts as the file it names and a link
        // that leads nowhere is left out.
        struct stat st;
        if (::fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode))
            names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

HFILE _lopen(const char *path, int mode)
{
    if (!path || (mode & 0x03) != OF_READ) {
        SetLastError(EINVAL);
        return HFILE_ERROR;
    }
    // O_NONBLOCK keeps the open itself from waiting for a writer on a named pipe; the file is
    // then checked to be a regular one before anybody reads from it.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        RecordErrno();
        return HFILE_ERROR;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        RecordErrno();
        ::close(fd);
        return HFILE_ERROR;
    }
    if (!S_ISREG(st.st_mode)) {
        SetLastError(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        ::close(fd);
        return HFILE_ERROR;
    }
    // O_NONBLOCK stays set: it changes nothing for a regular file, and each stamp is spared
    // the two calls that would clear it.
    return fd;
}

HFILE _lclose(HFILE file)
{
    if (::close(file) != 0) {
        RecordErrno();
        return HFILE_ERROR;
    }
    return 0;
}

HMODULE LoadLibraryA(const char *path)
{
    if (!path) {
        SetLastError(EINVAL);
        return nullptr;
    }
    HMODULE module = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        // dlopen reports only a text; the file's absence is the one cause worth telling apart.
        ::dlerror();
        if (::access(path, F_OK) != 0)
            RecordErrno();
        else
            SetLastError(ENOEXEC);
    }
    return module;
}

FARPROC GetProcAddress(HMODULE module, const char *name)
{
    if (!module || !name) {
        SetLastError(EINVAL);
        return nullptr;
    }
    ::dlerror();
    FARPROC address = ::dlsym(module, name);
    if (!address) {
        ::dlerror();
        SetLastError(ENOENT);
    }
    return address;
}

bool FreeLibrary(HMODULE module)
{
    if (!module || ::dlclose(module) != 0) {
        ::dlerror();
        SetLastError(EINVAL);
        return false;
    }
    return true;
}

void *GlobalLock(HGLOBAL block)
{
    void *address = SpiBlockLock(block);
    if (!address)
        SetLastError(EINVAL);
    return address;
}

bool GlobalUnlock(HGLOBAL block) { return SpiBlockUnlock(block) != 0; }

HGLOBAL GlobalFree(HGLOBAL block)
{
    SpiBlockFree(block);
    return nullptr;
}

size_t GlobalSize(HGLOBAL block) { return SpiBlockSize(block); }
