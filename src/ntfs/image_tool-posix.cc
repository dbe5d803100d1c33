// treemeter-ntfs IMAGE [yes/no] [size] [days] [depth] [folder inside the volume]: the report that
// Treemeter.exe writes for that folder (such as \ or \Users) when the volume in IMAGE is drive X:
// and its master file table is read. For testing and measuring that reading on Linux, against the
// Linux scan of the same volume mounted; not installed.
//
// When the table cannot be read with trust, Treemeter.exe lists folders instead; this tool cannot,
// and says why on standard error with exit status 3.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/run.h"
#include "ntfs/image_listing.h"
#include "platform/interrupts.h"
#include "scan/scan.h"

namespace {

constexpr int kUsageStatus = 2;
constexpr int kTableNotReadStatus = 3;
constexpr std::size_t kFolderArgument = 5;

std::u16string bytesAsUnits(const char* text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  return std::u16string(bytes, bytes + std::strlen(text));
}

// The length of the UTF-8 sequence that starts with `lead`; 0 where none starts so.
unsigned sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 0;
}

// The UTF-8 text as UTF-16, as the volume holds names; its bytes as they are where it is not
// UTF-8.
std::u16string fromUtf8(const char* text) {
  std::u16string units;
  const auto* byte = reinterpret_cast<const unsigned char*>(text);
  while (*byte) {
    unsigned length = sequenceLength(*byte);
    if (length == 0) return bytesAsUnits(text);
    std::uint32_t point = length == 1 ? *byte : *byte & (0x7F >> length);
    // A sequence cut short meets a byte that does not continue it, the terminator at the latest.
    for (unsigned i = 1; i < length; ++i) {
      if ((byte[i] & 0xC0) != 0x80) return bytesAsUnits(text);
      point = point << 6 | (byte[i] & 0x3F);
    }
    if (point >= 0x10000) {
      units.push_back(static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(point));
    }
    byte += length;
  }
  return units;
}

// The folder inside the volume as a folder on drive X:.
std::u16string onDriveX(const char* folder) {
  std::u16string inside = fromUtf8(folder);
  std::u16string drive = {kImageDriveLetter, u':'};
  return inside.empty() || inside.front() != u'\\' ? drive + u'\\' + inside : drive + inside;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(
        "usage: treemeter-ntfs IMAGE [yes/no] [size] [days] [depth] [folder inside the "
        "volume, such as \\ or \\Users]\n",
        stderr);
    return kUsageStatus;
  }
  std::string doubt;
  ListingContextPtr listing = makeImageListingContext(bytesAsUnits(argv[1]), doubt);
  if (!listing) {
    std::fprintf(stderr, "treemeter-ntfs: the master file table of %s is not read: %s\n", argv[1],
                 doubt.c_str());
    return kTableNotReadStatus;
  }
  watchForInterrupts();
  // The image takes the place of the program's name; the folder becomes one on drive X:.
  std::vector<std::u16string> arguments = {bytesAsUnits(argv[0])};
  for (int i = 2; i < argc; ++i) {
    bool folder = static_cast<std::size_t>(i - 1) == kFolderArgument;
    arguments.push_back(folder ? onDriveX(argv[i]) : bytesAsUnits(argv[i]));
  }
  return runTreemeter(arguments, {*listing, kScanChoosesListers, std::chrono::steady_clock::now});
}
