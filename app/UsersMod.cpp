#include "app/UsersMod.h"

namespace tovik {

TUser::TUser(std::string name, uint8_t accessLevel, std::string password)
    : Name(std::move(name)), Password(std::move(password)), AccessLevel(accessLevel) {}

bool TUser::Load(TStream& stream) {
    uint8_t record[kAccountRecordSize];
    if (!stream.ReadExact(record, sizeof record)) return false;
    NameRead = ReadFieldText(record, kAccountTextField);
    PasswordRead = ReadFieldText(record + kAccountTextField, kAccountTextField);
    Name = NameRead.Text;
    Password = PasswordRead.Text;
    AccessLevel = record[2 * kAccountTextField];
    return true;
}

bool TUser::Save(TStream& stream) const {
    const auto name = WriteFieldText(Name, NameRead, kAccountTextField);
    const auto password = WriteFieldText(Password, PasswordRead, kAccountTextField);
    if (!name || !password) return false;
    std::vector<uint8_t> record(*name);
    record.insert(record.end(), password->begin(), password->end());
    record.push_back(AccessLevel);
    return stream.WriteExact(record.data(), static_cast<int32_t>(record.size()));
}

int TUsers::Add(std::unique_ptr<TUser> user) {
    Users.push_back(std::move(user));
    return Count() - 1;
}

int TUsers::FindUser(const std::string& name) const {
    for (int i = Count() - 1; i >= 0; --i)
        if (Users[static_cast<size_t>(i)]->Name == name) return i;
    return -1;
}

TUser* TUsers::Get(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return Users[static_cast<size_t>(index)].get();
}

std::string TUsers::UserPassword(int index) const {
    const TUser* user = Get(index);
    return user ? user->Password : std::string();
}

void TUsers::Delete(int index) {
    if (index < 0 || index >= Count()) return;
    Users.erase(Users.begin() + index);
}

void TUsers::Clear() {
    while (!Users.empty()) Delete(0);
}

bool TUsers::LoadFromStream(TMemoryStream& stream) {
    TCRCStream section;
    if (!ReadSection(section, stream)) return false;
    int32_t count = 0;
    if (!section.ReadI32(count)) return false;
    while (count > 0) {
        --count;
        auto user = std::make_unique<TUser>(std::string(), kReadOnlyAccess, std::string());
        if (!user->Load(section)) return false;
        Add(std::move(user));
    }
    return true;
}

bool TUsers::SaveToStream(TStream& stream) const {
    TCRCStream section;
    if (!section.WriteI32(static_cast<int32_t>(Users.size()))) return false;
    for (const auto& user : Users)
        if (!user->Save(section)) return false;
    return WriteSection(section, stream);
}

}  // namespace tovik
