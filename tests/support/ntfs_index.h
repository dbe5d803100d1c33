// A folder's directory index read straight from a volume image and walked in order, the order in
// which Windows lists the folder. ntfs-3g lists a folder whose index has grown beyond its root in
// another order (the root's entries, then each index block in turn), so the tests take the order
// from here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The names in the index of the folder whose record number is `folderRecord`, in UTF-8, in the
// order of an in-order walk of the index's tree; DOS-only names left out. Throws
// std::runtime_error when the image cannot be read so.
std::vector<std::string> namesInIndexOrder(const std::string& image, std::uint64_t folderRecord);
