// Builds folder trees for the end-to-end tests in a temporary folder that is removed afterwards.
#pragma once

#include <cstdint>
#include <string>

// A fresh, empty temporary folder readable by everyone, below `base`; removed with its contents
// by removeTree.
std::string makeTemporaryFolder(const std::string& base = "/tmp");
void removeTree(const std::string& path);

void makeFolder(const std::string& path);
// A file of `size` bytes (sparse, so any size costs nothing) whose modification time is
// `modifiedSeconds` seconds after 1970-01-01 UTC.
void makeFile(const std::string& path, std::int64_t size, std::int64_t modifiedSeconds = 0);
void makeLink(const std::string& target, const std::string& path);
void setModified(const std::string& path, std::int64_t seconds, long nanoseconds = 0);
