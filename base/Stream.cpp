#include "base/Stream.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tovik {

namespace {
void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
}  // namespace

bool TStream::ReadU32(uint32_t& value) {
    uint8_t b[4];
    if (!ReadExact(b, 4)) return false;
    value = GetLe32(b);
    return true;
}

bool TStream::ReadI32(int32_t& value) {
    uint32_t u = 0;
    if (!ReadU32(u)) return false;
    value = static_cast<int32_t>(u);
    return true;
}

bool TStream::WriteU32(uint32_t value) {
    uint8_t b[4];
    PutLe32(b, value);
    return WriteExact(b, 4);
}

bool TStream::WriteI32(int32_t value) {
    return WriteU32(static_cast<uint32_t>(value));
}

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
    if (count <= 0 || Pos >= Data.size()) return 0;
    const size_t n = std::min(static_cast<size_t>(count), Data.size() - Pos);
    std::memcpy(buffer, Data.data() + Pos, n);
    Pos += n;
    return static_cast<int32_t>(n);
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
    if (count <= 0) return 0;
    const size_t n = static_cast<size_t>(count);
    if (Pos > Data.size()) Data.resize(Pos);
    if (Pos + n > Data.size()) Data.resize(Pos + n);
    std::memcpy(Data.data() + Pos, buffer, n);
    Pos += n;
    return count;
}

}  // namespace tovik
