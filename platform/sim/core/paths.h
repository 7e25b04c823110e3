// Name and path folding shared by the rooms: how the simulated machine compares names without
// case and turns Win32 paths into one canonical form.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/core.h"

namespace winsim::core {

// Case folding for names: ASCII, Latin-1, Greek and Cyrillic letters compare without case (the
// letters machine files use); everything else compares exactly.
QORVEX_SIM_SHARED char16_t FoldChar(char16_t c);
QORVEX_SIM_SHARED std::u16string Fold(std::u16string_view text);

// The lookup form of a registry sub-key path: case folded, empty components dropped.
QORVEX_SIM_SHARED std::u16string KeyPath(std::u16string_view subKey);

// Turns a Win32 path into its canonical form: "\\?\" dropped, '/' taken as '\', repeated
// separators collapsed, "." and ".." resolved, no trailing separator except after "X:". Returns
// nullopt for a path that is not absolute with a drive letter.
QORVEX_SIM_SHARED std::optional<std::u16string> CanonicalPath(std::u16string_view path);
// Parent of a canonical path; nullopt for a drive root.
QORVEX_SIM_SHARED std::optional<std::u16string> ParentPath(std::u16string_view canonical);

}  // namespace winsim::core
