#pragma once
// The panel's own files (the alarm journal's text file and spreadsheet, the
// calibration entries) go through base/Files; this adds their messages.
#include <string>

#include "base/Files.h"

namespace tovik {

// A message box text for a file that could not be written or read:
// `what` ("Не удалось записать файл"), the name, and the system's reason.
std::string FileErrorText(const std::string& what, const std::string& path, const std::string& reason);

}  // namespace tovik
