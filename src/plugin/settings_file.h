// Reading and replacing the settings file on disk, one implementation per platform
// (settings_file_posix.cpp, settings_file_win32.cpp). Paths are in the simulator's form
// (plugin/paths.h). Main thread only.
#pragma once

#include <cstdint>
#include <new>
#include <optional>
#include <string>

enum class FileRead {
    done,     // `contents` holds the whole file
    missing,  // there is no such file
    failed,   // the file may exist but could not be read; `error` says why
    refused,  // not read on purpose; `error` says what was found ("a folder, not a file")
};

// Settings are a few hundred bytes; a larger file is nobody's settings, and reading it whole
// would hold up the simulator's start for as long as the disk takes.
inline constexpr std::uint64_t largestFileRead = 1024 * 1024;

// What readWholeFile says of a file larger than largestFileRead.
inline std::string tooLargeToRead(std::uint64_t size) {
    return "a file of " + std::to_string(size) + " bytes, more than the 1 MiB a settings file may have";
}

// Reads the file whole if it is a file on a disk of at most largestFileRead bytes, and refuses
// anything else (a FIFO, a device, a folder) without waiting on it: the simulator's start runs
// this, and a FIFO nobody writes to would hold it for ever.
FileRead readWholeFile(const std::string& path, std::string& contents, std::string& error);

// The read loop both implementations share: appends what `readSome(buffer, size)` reads until it
// reads 0 bytes (the end). It gives nothing after it has set `error`; that, or running out of
// memory, leaves `contents` empty.
template <class ReadSome>
FileRead readToEnd(std::string& contents, std::string& error, ReadSome readSome) {
    try {
        char buffer[16384];
        while (const std::optional<std::size_t> n = readSome(buffer, sizeof buffer)) {
            if (*n == 0) return FileRead::done;
            contents.append(buffer, *n);
        }
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    }
    contents.clear();
    return FileRead::failed;
}

enum class FileReplace {
    done,
    readOnly,  // the file is marked read-only: the pilot's way of keeping it as it is
    failed,    // `error` says why
};

// Replaces the file with `contents` so that it is never seen half-written: the text goes to a
// temporary file made afresh beside it ("<file>.tmp"; whatever was left under that name is
// removed first, never written through), is flushed to the disk, and only then takes the
// file's place. A file that is a link is replaced where the link points, so the link stays.
// A read-only file is not touched. On failure the file is as it was and the temporary file
// is gone.
FileReplace replaceFileAtomically(const std::string& path, const std::string& contents, std::string& error);
