// The file kinds a user ticks, the extension pattern list a listing is run
// with, and the recovery subfolder each file lands in. The command line and
// the desktop application share these, so a kind means the same in both.
#pragma once

#include "store/FileTypeLists.h"

#include <cstddef>
#include <string>

namespace tessaroo
{
// The pattern list for a set of kinds: the texts of the ticked kinds joined
// with nothing between them, in the order Photo, Music, Document, Video,
// Archive (both texts), Other. Where a text ends without a bar (Music,
// Document) its last pattern runs into the next kind's first one, as the
// listing has always received it.
std::string BuildPatternList(unsigned kinds);

// Parses "photo,music,..." (case-insensitive; "all" for every kind) into a
// kind set. False, with the offending word in bad, for an unknown word or an
// empty list.
bool ParseKindList(const std::string& text, unsigned& kinds, std::string& bad);

// The recovery subfolder of a file name (GB2312 or UTF-8; only the ASCII
// extension is looked at): "photo", "audio", "video", "document",
// "archive", or "others" for any other extension, a one-letter extension or
// none. The extension is matched as "." + extension in lower case, by
// substring, against the kind texts in the order Photo, Music, Video,
// Document, Archive.
const char* GetDirTypeByFileName(const char* fileName);
// The same into folder (folderSize bytes, NUL-terminated).
void GetDirTypeByFileName(const char* fileName, char* folder, size_t folderSize);

// The kind word (as --kinds takes it) of a recovery subfolder: "photo",
// "music", "video", "document", "archive", "other".
const char* KindWordOfFolder(const char* folder);
} // namespace tessaroo
