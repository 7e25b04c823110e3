// Reparse points of the simulated file system: folders (junctions, mount points) and files
// (symbolic links) whose GetFileAttributesW answer carries FILE_ATTRIBUTE_REPARSE_POINT.
#pragma once

#include <string_view>

namespace winsim {

// Marks or unmarks a folder or file. Marking a path that names nothing creates it as a folder.
// Throws std::invalid_argument for a path that is not absolute with a drive letter.
void SetReparsePoint(std::u16string_view path, bool reparsePoint);
bool IsReparsePoint(std::u16string_view path);

}  // namespace winsim
