// Name and path folding shared by the rooms: how the simulated machine compares names without
// case, and how it reads a Win32 path the way Windows does before any file system sees it.
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

// ---- Win32 names -----------------------------------------------------------------------------

// How a name was written, by its beginning (Windows tells these apart before anything else).
enum class NameForm {
    DriveAbsolute,  // C:\x, C:/x
    DriveRelative,  // C:x, C: (relative to the current folder of that drive)
    Rooted,         // \x (relative to the current folder's drive)
    Relative,       // x, .\x, ..\x
    Unc,            // \\server\share\x
    LocalDevice,    // \\.\x, //?/x: read like any path, then handed to the object manager
    Literal,        // \\?\x (and, for the file calls, \??\x): handed over as written
};

// What a name names once it has been read.
enum class NameTarget {
    Drive,   // a path on a drive letter's volume (also \\?\C:\x, \\.\C:\x)
    Unc,     // a path on a network share
    Device,  // a device: \\.\NAME, or a reserved DOS name (NUL, CON, COM1, ...) as the last part
    Volume,  // \\?\Volume{...}: a volume by its GUID name
    Object,  // any other name of the object manager's \?? folder (\\?\GLOBALROOT\..., \\?\x)
};

// How the calls differ in reading "\??\": the file calls hand it to the object manager as
// written, as they do "\\?\"; GetVolumePathNameW first makes a full path, for which it is just a
// folder named "??" on the current drive.
enum class NameReader { FileCall, FullPath };

struct Win32Name {
    NameForm form = NameForm::Relative;
    NameTarget target = NameTarget::Object;
    // The prefix the name was written with: "", "\\?\", "\\.\", "\??\" or "\\?\UNC\".
    std::u16string prefix;
    // Drive: the letter as written (any character before the colon; only letters can exist).
    char16_t drive = 0;
    // Drive: what follows "X:": "\a\b", "\a\" (written with a final separator), "\" for the
    // root, "" for the volume itself (\\?\C:, \\.\C:). Unc: what follows the share, the same way.
    // Literal names keep it exactly as written: '.', '..', '/' and empty parts included.
    std::u16string path;
    std::u16string server;  // Unc
    std::u16string share;   // Unc
    // Device, Volume, Object: the first part after the prefix; `more` when parts follow it.
    std::u16string object;
    bool more = false;
    // The full path as Windows measures it against MAX_PATH (for non-literal names).
    std::size_t fullLength = 0;

    bool Literal() const { return form == NameForm::Literal; }
};

// Reads a Win32 name as Windows does: names not written in the \\?\ form take '/' for '\', lose
// empty parts and ".", resolve ".." (never above the drive, share or device root), and lose the
// trailing dots and spaces of their last part and one trailing dot of every other part; relative
// forms resolve against `currentDirectory` (an absolute path with a drive letter; a drive other
// than its own resolves against that drive's root). The name must not be empty.
QORVEX_SIM_SHARED Win32Name ReadWin32Name(std::u16string_view name,
                                          std::u16string_view currentDirectory, NameReader reader);

// Whether the last part of a path names a reserved DOS device: CON, PRN, AUX, NUL, COM1-9,
// LPT1-9 (an extension, trailing dots and spaces, and anything after a colon do not change it),
// CONIN$ and CONOUT$.
QORVEX_SIM_SHARED bool IsDosDeviceName(std::u16string_view part);

// Turns a Win32 path into the canonical form the controls and machine descriptions name places
// by: absolute with a drive letter, read as above, drive letter in upper case, no trailing
// separator except after "X:". Names in the \\?\ form are taken as written, so one holding "."
// or ".." parts, empty parts or '/' is refused. Returns nullopt for a name that is not absolute
// with a drive letter.
QORVEX_SIM_SHARED std::optional<std::u16string> CanonicalPath(std::u16string_view path);
// Parent of a canonical path; nullopt for a drive root.
QORVEX_SIM_SHARED std::optional<std::u16string> ParentPath(std::u16string_view canonical);

}  // namespace winsim::core
