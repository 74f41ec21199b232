#include <gtest/gtest.h>

#include "ConfigTestUtil.h"
#include "base/CRC.h"
#include "app/UsersMod.h"

namespace tovik {
namespace {

using test::Bytes;

TEST(Section, ChecksumIsTheByteSumWhateverThePosition) {
    TCRCStream s(Bytes{'a', 'b', 'c'});
    EXPECT_EQ(SectionChecksum(s), 294u);
    s.Seek(2);
    EXPECT_EQ(SectionChecksum(s), 294u);
    TCRCStream high(Bytes(0x01000000 / 0xFF + 2, 0xFF));  // wraps past 2^24 without trouble
    EXPECT_EQ(SectionChecksum(high), uint32_t(0xFF) * uint32_t(high.Size()));
}

TEST(Section, WriteThenReadGivesThePayloadAndLeavesTheBodyAfterIt) {
    TCRCStream out(Bytes{1, 2, 3, 250});
    out.Seek(3);  // the position does not matter for writing
    TMemoryStream body;
    ASSERT_TRUE(WriteSection(out, body));
    body.WriteU8(0x77);
    EXPECT_EQ(body.Bytes(), test::Concat({test::Section(Bytes{1, 2, 3, 250}), Bytes{0x77}}));

    body.Seek(0);
    TCRCStream in;
    ASSERT_TRUE(ReadSection(in, body));
    EXPECT_EQ(in.Bytes(), (Bytes{1, 2, 3, 250}));
    EXPECT_EQ(in.Position(), 0u);
    EXPECT_EQ(body.Position(), 12u);
}

TEST(Section, DamagedSectionsFail) {
    const Bytes good = test::Section(Bytes{9, 8, 7});
    struct Case {
        const char* what;
        Bytes body;
    } cases[] = {
        {"empty body", {}},
        {"short length", {3, 0}},
        {"zero length", test::Concat({Bytes{0, 0, 0, 0}, Bytes{0, 0, 0, 0}})},
        {"negative length", test::Concat({Bytes{0xFF, 0xFF, 0xFF, 0xFF}, Bytes(8, 0)})},
        {"length beyond the body", test::Concat({Bytes{0xFF, 0xFF, 0xFF, 0x7F}, Bytes(8, 0)})},
        {"payload cut short", Bytes(good.begin(), good.begin() + 6)},
        {"checksum cut short", Bytes(good.begin(), good.end() - 1)},
        {"checksum wrong", test::Section(Bytes{9, 8, 7}, 1)},
    };
    for (const auto& c : cases) {
        TMemoryStream body(c.body);
        TCRCStream section(Bytes{1});
        EXPECT_FALSE(ReadSection(section, body)) << c.what;
        EXPECT_LE(section.Size(), c.body.size()) << c.what;  // nothing allocated beyond the input
    }
}

TEST(KindRegistry, LaterEntryWins) {
    TKindRegistry<int> r;
    r.Register(5, 1);
    r.Register(6, 2);
    r.Register(5, 3);
    ASSERT_NE(r.Find(5), nullptr);
    EXPECT_EQ(*r.Find(5), 3);
    EXPECT_EQ(*r.Find(6), 2);
    EXPECT_EQ(r.Find(7), nullptr);
}

TEST(TextField, FitsExactlyOrIsRefused) {
    EXPECT_TRUE(EncodeTextField(std::string(15, 'x'), 16));
    EXPECT_FALSE(EncodeTextField(std::string(16, 'x'), 16));
    EXPECT_TRUE(EncodeTextField("Оператор_пятнад", 16));    // 15 Cyrillic letters, 30 bytes of UTF-8
    EXPECT_FALSE(EncodeTextField("Оператор_шестнад", 16));  // 16
    EXPECT_FALSE(EncodeTextField("日本", 16));
    EXPECT_FALSE(EncodeTextField(std::string("a\0b", 3), 16));
    EXPECT_FALSE(EncodeTextField("\xC3", 16));  // broken UTF-8

    const auto f = EncodeTextField("Ёж", 5);
    ASSERT_TRUE(f);
    EXPECT_EQ(*f, (Bytes{0xA8, 0xE6, 0, 0, 0}));
    EXPECT_EQ(DecodeTextField(f->data(), f->size()), "Ёж");

    const Bytes noZero(5, 'a'), undefinedByte{'a', 0x98, 0, 0, 0}, junkAfterZero{'a', 0, 0x98, 'z', 1};
    EXPECT_FALSE(DecodeTextField(noZero.data(), noZero.size()));
    EXPECT_FALSE(DecodeTextField(undefinedByte.data(), undefinedByte.size()));
    EXPECT_EQ(DecodeTextField(junkAfterZero.data(), junkAfterZero.size()), "a");
}

TEST(Account, RecordIs33BytesAndRoundTrips) {
    TUser u("Иванов", kServiceAccess, "Пароль1");
    TMemoryStream s;
    ASSERT_TRUE(u.Save(s));
    Bytes expected;
    test::PutText(expected, "\xC8\xE2\xE0\xED\xEE\xE2", 16);
    test::PutText(expected,
                  "\xCF\xE0\xF0\xEE\xEB\xFC"
                  "1",
                  16);
    expected.push_back(0);
    EXPECT_EQ(s.Bytes(), expected);

    s.Seek(0);
    TUser back("", kReadOnlyAccess, "");
    ASSERT_TRUE(back.Load(s));
    EXPECT_EQ(back.Name, "Иванов");
    EXPECT_EQ(back.Password, "Пароль1");
    EXPECT_EQ(back.AccessLevel, kServiceAccess);
}

TEST(Account, TextsThatDoNotFitAreNeverWritten) {
    for (const auto& [name, password] : std::vector<std::pair<std::string, std::string>>{
             {std::string(16, 'n'), ""}, {"ok", std::string(16, 'p')}, {"emoji😀", ""}, {"ok", "ʃ"}}) {
        TMemoryStream s;
        EXPECT_FALSE(TUser(name, 1, password).Save(s)) << name << "/" << password;
        EXPECT_EQ(s.Size(), 0u);
    }
}

TEST(Account, DamagedRecordsAreRefused) {
    Bytes noTerminator = test::AccountRecord("a", "b", 1);
    std::fill(noTerminator.begin(), noTerminator.begin() + 16, 'x');
    Bytes badLevel = test::AccountRecord("a", "b", 3);
    Bytes short32 = test::AccountRecord("a", "b", 1);
    short32.pop_back();
    for (const auto& record : {noTerminator, badLevel, short32}) {
        TMemoryStream s(record);
        TUser u("keep", 2, "keep");
        EXPECT_FALSE(u.Load(s));
        EXPECT_EQ(u.Name, "keep");
    }
}

TEST(Users, FindUserTakesTheLastExactMatch) {
    TUsers users;
    users.Add(std::make_unique<TUser>("default", 2, "a"));
    users.Add(std::make_unique<TUser>("Default", 1, "b"));
    users.Add(std::make_unique<TUser>("default", 1, "c"));
    EXPECT_EQ(users.FindUser("default"), 2);
    EXPECT_EQ(users.UserPassword(users.FindUser("default")), "c");
    EXPECT_EQ(users.FindUser("Default"), 1);
    EXPECT_EQ(users.FindUser("DEFAULT"), -1);
    EXPECT_EQ(users.FindUser(""), -1);
    users.Delete(2);
    EXPECT_EQ(users.FindUser("default"), 0);
}

TEST(Users, SectionRoundTrip) {
    TUsers users;
    users.Add(std::make_unique<TUser>("default", 1, ""));
    users.Add(std::make_unique<TUser>("service", 0, "s3cr3t"));
    users.Add(std::make_unique<TUser>("читатель", 2, "пароль"));
    TMemoryStream body;
    ASSERT_TRUE(users.SaveToStream(body));
    EXPECT_EQ(body.Size(), 4 + 4 + 3 * kAccountRecordSize + 4);
    body.Seek(0);
    TUsers back;
    ASSERT_TRUE(back.LoadFromStream(body));
    ASSERT_EQ(back.Count(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(back.Get(i)->Name, users.Get(i)->Name);
        EXPECT_EQ(back.Get(i)->Password, users.Get(i)->Password);
        EXPECT_EQ(back.Get(i)->AccessLevel, users.Get(i)->AccessLevel);
    }
}

TEST(Users, SaveWritesNothingWhenAnAccountCannotBeStored) {
    TUsers users;
    users.Add(std::make_unique<TUser>("good", 1, ""));
    users.Add(std::make_unique<TUser>(std::string(20, 'x'), 1, ""));
    TMemoryStream body;
    EXPECT_FALSE(users.SaveToStream(body));
    EXPECT_EQ(body.Size(), 0u);
}

TEST(Users, SectionLoadOutcomes) {
    const Bytes a = test::AccountRecord("a", "1", 1), b = test::AccountRecord("b", "2", 2);
    struct Case {
        const char* what;
        Bytes body;
        bool ok;
        std::vector<std::string> names;
    } cases[] = {
        {"count 0", test::Section(test::Payload(0)), true, {}},
        {"negative count", test::Section(test::Payload(-5, a)), true, {}},
        {"duplicate names", test::Section(test::Payload(2, test::Concat({a, a}))), true, {"a", "a"}},
        {"count beyond the records keeps those read",
         test::Section(test::Payload(3, test::Concat({a, b}))),
         false,
         {"a", "b"}},
        {"bad second record keeps the first",
         test::Section(test::Payload(2, test::Concat({a, test::AccountRecord("x", "", 9)}))),
         false,
         {"a"}},
        {"checksum", test::Section(test::Payload(1, a), 1), false, {}},
        {"huge count", test::Section(test::Payload(0x7FFFFFFF, a)), false, {"a"}},
    };
    for (const auto& c : cases) {
        TMemoryStream body(c.body);
        TUsers users;
        EXPECT_EQ(users.LoadFromStream(body), c.ok) << c.what;
        std::vector<std::string> names;
        for (int i = 0; i < users.Count(); ++i) names.push_back(users.Get(i)->Name);
        EXPECT_EQ(names, c.names) << c.what;
    }
}

}  // namespace
}  // namespace tovik
