#pragma once
// The names of the new files ReplaceFile writes beside the file they replace
// (base/Files.h): "." + name + "." + process id + "-" + number. The rule of
// both platforms' parts, which make them and remove those of writers that
// ended half-way.
#include <string>

namespace tovik {

std::string NewFileName(const std::string& name, long pid, unsigned number);

// The writer's process id of such a name (of the file `name`, or of any
// file when `name` is empty); 0 for any other name.
long NewFileWriter(const std::string& entry, const std::string& name);

}  // namespace tovik
