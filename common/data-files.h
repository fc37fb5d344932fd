// Data files that a setting names by path, or by the bare name of one installed with the
// programs, so that an installed program needs no source tree.
#pragma once

#include <filesystem>
#include <string>

namespace pelko {

/// The file a setting such as PELKO_SCENE names: `value` itself when it is a path (it holds a
/// slash) or names a file that exists; otherwise `folder`/`value` plus `extension` when that
/// exists ("desktop" for /usr/share/pelko/scenes/desktop.json); else `value` unchanged, so the
/// reader's own message names what was asked for.
std::filesystem::path dataFile(const std::string& value, const std::filesystem::path& folder,
                               const std::string& extension);

}  // namespace pelko
