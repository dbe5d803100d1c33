// Whole files and standard input, read as bytes. One implementation per platform (files-posix.cc,
// files-win32.cc).
#pragma once

#include <cstdint>
#include <string>

// The whole content of the named file into `bytes`; 0, or the system's error code. On POSIX
// systems each code unit of the name is one byte of the native name.
std::uint32_t readWholeFile(const std::u16string& name, std::string& bytes);

// Standard input, read to its end, into `bytes`; 0, or the system's error code.
std::uint32_t readStandardInput(std::string& bytes);
