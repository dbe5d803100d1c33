// The lines the report is made of, after the header: a row for each folder and an error line for
// each folder that cannot be listed.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

// False until the first row is printed; the run prints the row for the folder argument itself
// when the scan printed none.
extern bool rowPrinted;

// The row's text: path, total size, size on disk, entry count and the stamp text, tab-separated,
// ending in CR LF. An empty stamp text still gets its column.
std::u16string reportRowText(const std::u16string& path, std::uint64_t totalBytes,
                             std::uint64_t bytesOnDisk, std::uint64_t entryCount,
                             const std::u16string& stampText);

// Writes the row of a folder, with the stamp text of its latest write.
void printReportRow(const std::u16string& path, std::uint64_t totalBytes, std::uint64_t bytesOnDisk,
                    std::uint64_t entryCount, FileTime latestWrite);

// "(code): " and the system's message for the code; empty when the system has none.
std::u16string systemErrorText(std::uint32_t errorCode);

// "Error accessing folder: ", the folder's display path, ": ", the error text and CR LF.
void printFolderError(const std::u16string& folderPath, std::uint32_t errorCode);
