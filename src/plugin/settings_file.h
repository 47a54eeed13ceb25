// Reading and replacing the settings file on disk, one implementation per platform
// (settings_file_posix.cpp, settings_file_win32.cpp). Paths are in the simulator's form
// (plugin/paths.h). Main thread only.
#pragma once

#include <string>

enum class FileRead {
    done,     // `contents` holds the whole file
    missing,  // there is no such file
    failed,   // the file may exist but could not be read; `error` says why
};

FileRead readWholeFile(const std::string& path, std::string& contents, std::string& error);

// Replaces the file with `contents` so that it is never seen half-written: the text goes to
// "<path>.tmp" in the same folder, is flushed to the disk, and only then takes the file's
// place. On failure the file is as it was, the temporary file is gone, and `error` says what
// went wrong.
bool replaceFileAtomically(const std::string& path, const std::string& contents, std::string& error);
