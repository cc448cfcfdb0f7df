#pragma once
// Where the program's own files lie: the helper programs ("tool", "extract") and the data
// files (config.ini, Languages/, template/). A build keeps all of them beside the
// executables; an install keeps the helpers in <prefix>/libexec/backvault and the data in
// <prefix>/share/backvault. Both install folders are found relative to the running
// executable, so an installed tree that is moved elsewhere as a whole keeps working.
// Every part of the program that runs a helper or reads a data file asks here.
#include <filesystem>
#include <string_view>

namespace bv::platform {

namespace fs = std::filesystem;

// The helper program `name`: beside the executable when it is there (a build), else in the
// install's helper folder. When neither holds it, the path beside the executable, so that
// a caller's error names the place a build would have it.
fs::path HelperProgram(std::string_view name);
// The folder of config.ini, Languages/ and template/: beside the executable when it holds
// any of them, else the install's data folder when that exists, else the executable's
// folder.
fs::path DataFolder();

// The same lookups for an executable in `exeFolder`.
fs::path HelperProgramFor(const fs::path& exeFolder, std::string_view name);
fs::path DataFolderFor(const fs::path& exeFolder);

// The install folders relative to the folder of the installed executables, as the build
// was configured (e.g. "../libexec/backvault" and "../share/backvault").
fs::path InstalledHelperFolder();
fs::path InstalledDataFolder();

}  // namespace bv::platform
