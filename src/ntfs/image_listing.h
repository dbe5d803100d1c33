// The listing of treemeter-ntfs: folders read from the file table of a volume image, as
// Treemeter.exe reads them from the master file table of that volume mounted as drive X:. Paths
// are in the Windows form (\\?\X:\data); error codes and their texts are the POSIX ones, as in
// the Linux scan the tool is compared with. It is linked in place of the platform's listing.
#pragma once

#include <string>

#include "platform/listing.h"

constexpr char16_t kImageDriveLetter = u'X';

// A listing over the image at `path`; null, with the reason in `doubt`, when its file table cannot
// be read with trust.
ListingContextPtr makeImageListingContext(const std::u16string& path, std::string& doubt);
