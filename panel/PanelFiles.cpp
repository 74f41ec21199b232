#include "panel/PanelFiles.h"

namespace tovik {

std::string FileErrorText(const std::string& what, const std::string& path, const std::string& reason) {
    return what + " \"" + path + "\": " + reason + ".";
}

}  // namespace tovik
