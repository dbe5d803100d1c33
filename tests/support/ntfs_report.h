// Reports of an NTFS volume's Linux scan (of its ntfs-3g mount) made comparable with those of the
// master file table reading: the lines put in the order a scan that lists each folder in its
// index's order gives, and the paths written as on drive X:.
#pragma once

#include <string>
#include <vector>

extern const std::string kReportHeader;
extern const std::string kErrorLineStart;

// The lines after the header, without their CR LF.
std::vector<std::string> linesAfterHeader(const std::string& out);

// The path of a report line: a row's first column, or the folder of an error line.
std::string linePath(const std::string& line);

// Puts a Linux report's lines in the order of a scan that lists each folder in its index's order
// (as Windows does; ntfs-3g lists a grown index in another order): a folder's line after those
// below it, and sibling folders in their parent's index order, read from `image`.
void putInIndexOrder(std::vector<std::string>& lines, const std::string& image);

// The lines' paths below `mount` as Treemeter.exe writes them on drive X:, backslashes between
// names and each UTF-16 unit of a name as one byte ("?" above U+00FF).
void mapToDriveX(std::vector<std::string>& lines, const std::string& mount);
