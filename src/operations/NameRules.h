#pragma once
// Rules for the names and paths an installation document hands to the file system and to
// helper programs. Each check returns the empty text for a safe value, otherwise why it is not.
#include <string>

// A file name or a sub-folder path below a base folder (FileOperation and ExecuteOperation names
// and sources): relative, no drive, stream or device syntax (":"), no characters Windows forbids
// in names ("<>|?* and control characters), and no ".." that climbs above the base.
std::wstring CheckRelativeName(const std::wstring& text);

// A folder path that may be absolute ("C:\...", "$INSTALL_PATH\...", "\\server\share\..."):
// the same characters forbidden (":" only as a drive's), and no ".." that climbs above the first
// segment (the drive, the variable or the share).
std::wstring CheckPathText(const std::wstring& text);
