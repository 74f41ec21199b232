#pragma once
// Byte streams: the base every port and every persistence routine works on.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tovik {

class TStream {
public:
    virtual ~TStream() = default;
    // Both return the number of bytes actually moved (0 on failure).
    virtual int32_t Read(void* buffer, int32_t count) = 0;
    virtual int32_t Write(const void* buffer, int32_t count) = 0;

    // True only when exactly `count` bytes moved.
    bool ReadExact(void* buffer, int32_t count) { return count >= 0 && Read(buffer, count) == count; }
    bool WriteExact(const void* buffer, int32_t count) { return count >= 0 && Write(buffer, count) == count; }

    bool ReadI32(int32_t& value);
    bool ReadU32(uint32_t& value);
    bool ReadU8(uint8_t& value) { return ReadExact(&value, 1); }
    bool WriteI32(int32_t value);
    bool WriteU32(uint32_t value);
    bool WriteU8(uint8_t value) { return WriteExact(&value, 1); }
};

// A growable in-memory stream with a read/write position.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> data) : Data(std::move(data)) {}

    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;

    size_t Size() const { return Data.size(); }
    size_t Position() const { return Pos; }
    size_t Remaining() const { return Pos < Data.size() ? Data.size() - Pos : 0; }
    void Seek(size_t position) { Pos = position; }
    void Clear() {
        Data.clear();
        Pos = 0;
    }
    const std::vector<uint8_t>& Bytes() const { return Data; }
    std::vector<uint8_t>& Bytes() { return Data; }

private:
    std::vector<uint8_t> Data;
    size_t Pos = 0;
};

}  // namespace tovik
