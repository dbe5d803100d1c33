#include "support/ntfs_report.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <stdexcept>

#include "support/ntfs_index.h"

const std::string kReportHeader = "path\ttotal size\tsize on disk\tfile count\tlatest file stamp";
const std::string kErrorLineStart = "Error accessing folder: ";

namespace {

// A name as Treemeter.exe writes it: UTF-8 decoded into UTF-16 units, each written as its byte
// when below 256 and as "?" otherwise.
std::string asWindowsWrites(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    auto lead = static_cast<unsigned char>(utf8[i]);
    unsigned length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    std::uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (unsigned k = 1; k < length; ++k) point = point << 6 | (utf8[i + k] & 0x3F);
    if (point < 0x100) {
      out.push_back(static_cast<char>(point));
    } else {
      out += point >= 0x10000 ? "??" : "?";
    }
    i += length;
  }
  return out;
}

// The path of a Linux row below the mount in the form treemeter-ntfs shows it.
std::string onDriveX(const std::string& path, const std::string& mount) {
  if (path.compare(0, mount.size(), mount) != 0) return "outside the mount: " + path;
  std::string inside = path.substr(mount.size());
  std::replace(inside.begin(), inside.end(), '/', '\\');
  return "X:" + asWindowsWrites(inside);
}

// Where the path of a report line (a row or an error line) starts and ends.
void findLinePath(const std::string& line, std::size_t& start, std::size_t& end) {
  bool error = line.rfind(kErrorLineStart, 0) == 0;
  start = error ? kErrorLineStart.size() : 0;
  end = error ? line.find(": (", start) : line.find('\t');
  if (end == std::string::npos) end = line.size();
}

std::vector<std::string> pathNames(const std::string& path) {
  std::vector<std::string> names;
  for (std::size_t start = 0, end; start < path.size(); start = end + 1) {
    end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) names.push_back(path.substr(start, end - start));
  }
  return names;
}

// The order in which Windows lists each folder of a mounted image: its index's, by the folder's
// record number, which ntfs-3g gives as the inode number.
struct IndexOrders {
  std::string image;
  std::map<ino_t, std::map<std::string, std::size_t>> places;
};

std::size_t placeInIndex(IndexOrders& orders, const std::string& folder, const std::string& name) {
  struct stat status;
  if (stat(folder.c_str(), &status) != 0) throw std::runtime_error("cannot stat " + folder);
  auto known = orders.places.find(status.st_ino);
  if (known == orders.places.end()) {
    std::map<std::string, std::size_t> places;
    std::vector<std::string> names = namesInIndexOrder(orders.image, status.st_ino);
    for (std::size_t place = 0; place < names.size(); ++place) places[names[place]] = place;
    known = orders.places.emplace(status.st_ino, std::move(places)).first;
  }
  auto found = known->second.find(name);
  if (found == known->second.end())
    throw std::runtime_error(name + " is not in its folder's index");
  return found->second;
}

}  // namespace

std::vector<std::string> linesAfterHeader(const std::string& out) {
  std::vector<std::string> lines;
  std::size_t start = out.find(kReportHeader + "\r\n");
  if (start == std::string::npos) return {"no header in: " + out};
  start += kReportHeader.size() + 2;
  for (std::size_t end; (end = out.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(out.substr(start, end - start));
  }
  return lines;
}

std::string linePath(const std::string& line) {
  std::size_t start, end;
  findLinePath(line, start, end);
  return line.substr(start, end - start);
}

void putInIndexOrder(std::vector<std::string>& lines, const std::string& image) {
  IndexOrders orders{image, {}};
  std::stable_sort(lines.begin(), lines.end(), [&](const std::string& a, const std::string& b) {
    std::vector<std::string> namesA = pathNames(linePath(a)), namesB = pathNames(linePath(b));
    std::size_t common = 0;
    while (common < namesA.size() && common < namesB.size() && namesA[common] == namesB[common]) {
      ++common;
    }
    if (common == namesA.size() || common == namesB.size()) return namesA.size() > namesB.size();
    std::string parent;
    for (std::size_t i = 0; i < common; ++i) parent += "/" + namesA[i];
    return placeInIndex(orders, parent, namesA[common]) <
           placeInIndex(orders, parent, namesB[common]);
  });
}

void mapToDriveX(std::vector<std::string>& lines, const std::string& mount) {
  for (std::string& line : lines) {
    std::size_t start, end;
    findLinePath(line, start, end);
    line =
        line.substr(0, start) + onDriveX(line.substr(start, end - start), mount) + line.substr(end);
  }
}
