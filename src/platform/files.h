// Files, modules and memory blocks: the operating-system services the image loader and the
// plug-in wrapper use, under the names their code calls them by.
//
// Every function that can fail records a code in the calling thread's last-error value, which
// GetLastError reads. The codes are errno values:
//   - a directory that cannot be searched, a file that cannot be opened: the errno of the
//     failed call (ENOENT, EACCES, ...); a file that is not a regular file: EISDIR for a
//     directory, EINVAL for anything else;
//   - a module that does not load: ENOENT when the file is missing, otherwise ENOEXEC;
//   - an export that a module lacks: ENOENT;
//   - a handle that is not a memory block: EINVAL.
// A call that succeeds leaves the code as it was, so a caller can make several calls and then
// read the code of the one that failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "spi_plugin.h"

using HFILE = int;
using HMODULE = void *;
using FARPROC = void *;
using HGLOBAL = SpiHandle;

inline constexpr HFILE HFILE_ERROR = -1;
// Open modes of _lopen. Only reading is offered; other openers are never locked out on Linux.
inline constexpr int OF_READ = 0x00;
inline constexpr int OF_SHARE_DENY_NONE = 0x40;

uint32_t GetLastError();
void SetLastError(uint32_t code);

// The names (without the directory) of the regular files in dir, and of the symbolic links to
// regular files, that match the wildcard pattern: "*" stands for any run of characters, "?" for
// exactly one character, and ASCII letters match in either case. The names come sorted in byte
// order, so that the order does not depend on the file system. A directory that cannot be read
// gives an empty list and records the error.
std::vector<std::string> FindFiles(const std::string &dir, const std::string &pattern);
// The matching rule of FindFiles on its own.
bool MatchesWildcard(std::string_view name, std::string_view pattern);

// Opens a regular file for reading at its start; mode must allow reading (OF_READ, with any
// sharing flag). Returns a descriptor, or HFILE_ERROR with the error recorded. Named pipes and
// devices are refused rather than opened, since opening or reading them can wait for ever.
HFILE _lopen(const char *path, int mode);
// Closes the descriptor; returns 0, or HFILE_ERROR when it was not open.
HFILE _lclose(HFILE file);

// Loads a shared object by path, resolving all its symbols now and keeping them to itself.
// Returns null on failure.
HMODULE LoadLibraryA(const char *path);
// The address of an export, or null when the module lacks it.
FARPROC GetProcAddress(HMODULE module, const char *name);
bool FreeLibrary(HMODULE module);

// Memory blocks made by SpiBlockAlloc, as plug-ins hand them over. A null handle, or one that is
// not a block, locks to null, has size 0 and is freed as a no-op.
void *GlobalLock(HGLOBAL block);
// True while the block is still locked by someone else.
bool GlobalUnlock(HGLOBAL block);
// Returns null, meaning the handle is now gone.
HGLOBAL GlobalFree(HGLOBAL block);
size_t GlobalSize(HGLOBAL block);
