// The parts of base/Files.h that are the same on every platform.
#include "base/Files.h"

#include <system_error>

namespace tovik {

std::string SystemReason(int error) {
    return std::generic_category().message(error);
}

std::string NotRegularFileReason(TFileKind kind) {
    switch (kind) {
        case TFileKind::Missing:
        case TFileKind::Regular:
            return {};
        case TFileKind::Folder:
            return "это не обычный файл, а папка";
        case TFileKind::Device:
            return "это не обычный файл, а устройство";
        case TFileKind::Fifo:
            return "это не обычный файл, а канал (FIFO)";
        case TFileKind::Socket:
            return "это не обычный файл, а сокет";
        case TFileKind::Other:
            break;
    }
    return "это не обычный файл";
}

bool ReplaceFileBytes(const std::string& path, std::string_view bytes, std::string& reason) {
    return ReplaceFile(
        path,
        [bytes](const std::string& newFile, std::string& why) { return WriteNewFile(newFile, bytes, why); },
        reason);
}

}  // namespace tovik
