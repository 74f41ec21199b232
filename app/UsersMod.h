#pragma once
// Operator accounts: name, password and access level, and the users
// section of the configuration.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/CRC.h"

namespace tovik {

// 0: service level (only from the configuration file), 1: full access,
// 2: read-only. Every level but 2 has full rights.
inline constexpr uint8_t kServiceAccess = 0;
inline constexpr uint8_t kFullAccess = 1;
inline constexpr uint8_t kReadOnlyAccess = 2;
inline constexpr size_t kMaxAccountTextLength = 15;
inline constexpr size_t kAccountTextField = 16;
inline constexpr size_t kAccountRecordSize = 33;

class TUser {
public:
    TUser(std::string name, uint8_t accessLevel, std::string password);

    // The 33-byte record. Load refuses a field without terminator, the byte
    // Windows-1251 leaves undefined, and a level other than 0, 1 or 2.
    bool Load(TStream& stream);
    // False, with nothing written, when a text does not fit its field.
    bool Save(TStream& stream) const;

    bool HasFullRights() const { return AccessLevel != kReadOnlyAccess; }

    std::string Name;      // UTF-8
    std::string Password;  // UTF-8, plain text
    uint8_t AccessLevel = kReadOnlyAccess;
};

class TUsers {
public:
    TUsers() = default;
    TUsers(const TUsers&) = delete;
    TUsers& operator=(const TUsers&) = delete;

    int Add(std::unique_ptr<TUser> user);
    // The last account with exactly this name, or -1.
    int FindUser(const std::string& name) const;
    TUser* Get(int index) const;
    std::string UserPassword(int index) const;
    void Delete(int index);
    void Clear();
    int Count() const { return static_cast<int>(Users.size()); }

    // Accounts read before a failure stay in the list.
    bool LoadFromStream(TMemoryStream& stream);
    bool SaveToStream(TStream& stream) const;

private:
    std::vector<std::unique_ptr<TUser>> Users;
};

}  // namespace tovik
