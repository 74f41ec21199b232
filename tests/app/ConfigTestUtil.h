#pragma once
// Builders of raw section and file bytes, and a scratch directory.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/Configuration.h"
#include "support/TempDir.h"

namespace tovik::test {

using Bytes = std::vector<uint8_t>;

inline void PutI32(Bytes& b, int32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
}

inline void PutText(Bytes& b, const std::string& cp1251, size_t field) {
    Bytes f(field, 0);
    std::copy(cp1251.begin(), cp1251.end(), f.begin());
    b.insert(b.end(), f.begin(), f.end());
}

// length, payload, checksum (the checksum may be forced).
inline Bytes Section(const Bytes& payload, int64_t checksumDelta = 0) {
    Bytes b;
    PutI32(b, static_cast<int32_t>(payload.size()));
    b.insert(b.end(), payload.begin(), payload.end());
    uint32_t sum = 0;
    for (uint8_t x : payload) sum += x;
    PutI32(b, static_cast<int32_t>(sum + static_cast<uint32_t>(checksumDelta)));
    return b;
}

inline Bytes Payload(int32_t count, const Bytes& records = {}) {
    Bytes b;
    PutI32(b, count);
    b.insert(b.end(), records.begin(), records.end());
    return b;
}

inline Bytes AccountRecord(const std::string& name, const std::string& password, uint8_t level) {
    Bytes b;
    PutText(b, name, 16);
    PutText(b, password, 16);
    b.push_back(level);
    return b;
}

inline Bytes UartRecord(const std::string& name, uint8_t bus, int32_t timeout, int32_t interval) {
    Bytes b;
    PutI32(b, 193);
    b.push_back(bus);
    PutText(b, name, 10);
    PutI32(b, timeout);
    PutI32(b, interval);
    return b;
}

inline Bytes DeviceRecord(uint32_t code, const Bytes& layout, int32_t portId, uint8_t bus,
                          const std::string& name, uint8_t kind, int32_t alarmCount,
                          const Bytes& alarms = {}) {
    Bytes b;
    PutI32(b, static_cast<int32_t>(code));
    PutI32(b, static_cast<int32_t>(layout.size()));
    b.insert(b.end(), layout.begin(), layout.end());
    PutI32(b, portId);
    b.push_back(bus);
    PutText(b, name, 41);
    b.push_back(kind);
    PutI32(b, alarmCount);
    b.insert(b.end(), alarms.begin(), alarms.end());
    return b;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const auto& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}

// Header and scrambled body.
inline Bytes FileBytes(const Bytes& plainBody, uint32_t seed = 0x12345678) {
    Bytes b;
    PutI32(b, static_cast<int32_t>(kConfigMagic));
    PutI32(b, static_cast<int32_t>(seed));
    for (size_t i = 0; i < plainBody.size(); ++i)
        b.push_back(static_cast<uint8_t>(plainBody[i] + ScrambleOffset(seed, i)));
    return b;
}

inline Bytes PlainBodyOf(const Bytes& file) {
    TMemoryStream stored(Bytes(file.begin() + 8, file.end())), plain;
    const uint32_t seed =
        uint32_t(file[4]) | uint32_t(file[5]) << 8 | uint32_t(file[6]) << 16 | uint32_t(file[7]) << 24;
    UnscrambleBody(stored, plain, seed);
    return plain.Bytes();
}

inline Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct Config {
    TUsers Users;
    TProtoPortList Ports;
    TDeviceList Devices;
    TConfigLists Lists() { return {Users, Ports, Devices}; }
};

}  // namespace tovik::test
