#pragma once
// Where the system looks for libraries the program loads while it runs.

namespace platform {

// Restricts the search for libraries loaded at run time to the system
// folder, so that a library of the same name in the current folder, the
// program's folder or a folder on PATH is never picked up. Call it first in
// main(), before anything loads a library. True when the restriction holds
// (always on systems without such a search).
bool HardenDllSearch();

}  // namespace platform
