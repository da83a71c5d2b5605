// Opening and removing files by name, the names being UTF-8 strings. Internal.
//
// Windows hosts pass paths as char strings: these are read as UTF-8 and
// opened through the wide-character calls, so that any file name the file
// system holds can be reached; a string that is not valid UTF-8 is read in
// the process's ANSI code page instead, as the narrow calls would. Elsewhere
// the bytes go to the C library unchanged.
//
// libkelmo compiles this unit too (each module keeps its copy hidden), so that
// both libraries name files the same way.
#pragma once

#include <cstdio>
#include <string>

namespace tavoimage {

// fopen with `mode`; null when the file cannot be opened.
std::FILE *openNamedFile(const std::string &path, const char *mode);

// Deletes the file; false when it could not.
bool removeNamedFile(const std::string &path);

// Renames `from` to `to`, replacing a file of that name in one step; false
// when it could not (`to` a folder, no permission, another file system).
bool renameNamedFile(const std::string &from, const std::string &to);

// False when a file of that name exists and may not be written (read-only).
bool isReplaceable(const std::string &path);

// A name beside `path`, in its folder, that no other writer uses: the hidden
// ".NAME.tavo-tmp-PROCESS".
std::string temporaryNameBeside(const std::string &path);

}  // namespace tavoimage
