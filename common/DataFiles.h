#pragma once
// Finding the program's installed data files (manual, icon, desktop entry) from where the
// executable lies, so that a package installed under any prefix, or a build tree, finds its own
// files without a path fixed at build time.
#include <string>

namespace tondrel {

// The folder of the running executable; "." when it cannot be told.
std::string ExecutableDir();

// The installed data file `name` (for example "manual.html") beside an executable in exeDir:
// exeDir/../share/tondrel/name for the usual layout. dataDirOverride, when not empty, is looked
// in first (the TONDREL_DATA_DIR variable: a build tree's files, or a relocated copy). Empty
// when the file is in neither place.
std::string FindDataFile(const std::string& name, const std::string& exeDir,
                         const std::string& dataDirOverride);
// The same for the running executable and the environment.
std::string FindDataFile(const std::string& name);

}  // namespace tondrel
