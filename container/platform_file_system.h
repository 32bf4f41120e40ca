// The calls platform_file.cpp needs from the system, written once per system in
// platform_file_posix.cpp and platform_file_win.cpp. A file is a FileHandle's
// native value: a descriptor, or a HANDLE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "container/platform_file.h"

namespace resicrypt::os {

// The system's code (errno, GetLastError) of the call that failed last.
int LastError();
// At most count bytes at offset: the count moved, 0 at the end, -1 on an error.
std::int64_t Read(std::intptr_t file, std::int64_t offset, void* data, std::size_t count);
std::int64_t Write(std::intptr_t file, std::int64_t offset, const void* data, std::size_t count);
// -1 on an error.
std::int64_t Size(std::intptr_t file);
FileMode Mode(std::intptr_t file);
bool Cut(std::intptr_t file, std::int64_t length);
bool Close(std::intptr_t file);

// Written once for both (platform_file.cpp): "~rcXXXXXX.tmp" in the folder of
// path, a new draw each call, and how many draws a new file gets.
std::string TemporaryNameBeside(const std::string& path);
constexpr int kNameAttempts = 16;

}  // namespace resicrypt::os
