#include <gtest/gtest.h>

#include "ConfigTestUtil.h"
#include "app/UsersMod.h"
#include "base/CRC.h"
#include "panel/SettingsView.h"

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

TEST(TextField, AnyFieldReadsAndUnchangedTextKeepsItsBytes) {
    struct Case {
        const char* what;
        Bytes field;
        std::string text, bytes;
        Bytes written;  // what a save writes back
    } cases[] = {
        {"plain", {'a', 'b', 0, 0, 0}, "ab", "ab", {'a', 'b', 0, 0, 0}},
        {"no terminator", {'a', 'b', 'c', 'd', 'e'}, "abcde", "abcde", {'a', 'b', 'c', 'd', 'e'}},
        {"undefined byte", {0x98, 0xC0, 0, 0, 0}, "\uFFFD\u0410", "\x98\xC0", {0x98, 0xC0, 0, 0, 0}},
        // Nothing after the terminator means anything: it is written as zeros.
        {"junk after zero", {'a', 0, 0x98, 'z', 1}, "a", "a", {'a', 0, 0, 0, 0}},
        {"empty", {0, 0, 0, 0, 0}, "", "", {0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        const TFieldText read = ReadFieldText(c.field.data(), c.field.size());
        EXPECT_EQ(read.Text, c.text) << c.what;
        EXPECT_EQ(read.Bytes, c.bytes) << c.what;
        EXPECT_EQ(WriteFieldText(read.Text, read, c.field.size()), c.written) << c.what;
    }
    // A changed text is encoded, and refused where it does not fit.
    const Bytes full{'a', 'b', 'c', 'd', 'e'};
    const TFieldText read = ReadFieldText(full.data(), full.size());
    EXPECT_EQ(WriteFieldText("Ёж", read, 5), (Bytes{0xA8, 0xE6, 0, 0, 0}));
    EXPECT_FALSE(WriteFieldText("abcdx", read, 5));  // five characters need six bytes
    EXPECT_FALSE(WriteFieldText("\uFFFD", read, 5));
    EXPECT_FALSE(WriteFieldText(std::string("a\0b", 3), read, 5));
    EXPECT_EQ(WriteFieldText("", TFieldText{}, 3), (Bytes{0, 0, 0}));
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

TEST(Account, ShortRecordIsRefused) {
    Bytes short32 = test::AccountRecord("a", "b", 1);
    short32.pop_back();
    TMemoryStream s(short32);
    TUser u("keep", 2, "keep");
    EXPECT_FALSE(u.Load(s));
    EXPECT_EQ(u.Name, "keep");
}

// Records other versions may have written load as they are and keep every
// byte through a save.
TEST(Account, OddRecordsLoadAndAreWrittenBackUnchanged) {
    Bytes fullName = test::AccountRecord("", "pw", 1);
    std::fill(fullName.begin(), fullName.begin() + 16, 'x');  // no terminator
    Bytes fullPassword = test::AccountRecord("op", "", 2);
    std::fill(fullPassword.begin() + 16, fullPassword.begin() + 32, 'p');
    struct Case {
        const char* what;
        Bytes record;
        std::string name, password;
        uint8_t level;
        bool full;
    } cases[] = {
        {"name filling its field", fullName, std::string(16, 'x'), "pw", 1, true},
        {"password filling its field", fullPassword, "op", std::string(16, 'p'), 2, false},
        {"undefined byte", test::AccountRecord("a\x98", "\x98\xC0", 1), "a\uFFFD", "\uFFFD\u0410", 1, true},
        {"level 3", test::AccountRecord("a", "b", 3), "a", "b", 3, true},
        {"level 255", test::AccountRecord("a", "b", 255), "a", "b", 255, true},
        {"level 0", test::AccountRecord("a", "b", 0), "a", "b", 0, true},
    };
    for (const auto& c : cases) {
        TMemoryStream s(c.record);
        TUser u("", kReadOnlyAccess, "");
        ASSERT_TRUE(u.Load(s)) << c.what;
        EXPECT_EQ(u.Name, c.name) << c.what;
        EXPECT_EQ(u.Password, c.password) << c.what;
        EXPECT_EQ(u.AccessLevel, c.level) << c.what;
        EXPECT_EQ(u.HasFullRights(), c.full) << c.what;
        TMemoryStream saved;
        ASSERT_TRUE(u.Save(saved)) << c.what;
        EXPECT_EQ(saved.Bytes(), c.record) << c.what;
    }

    // A changed text is written as the new text.
    TMemoryStream s(fullName);
    TUser u("", kReadOnlyAccess, "");
    ASSERT_TRUE(u.Load(s));
    u.Name = "Иванов";
    TMemoryStream saved;
    ASSERT_TRUE(u.Save(saved));
    EXPECT_EQ(saved.Bytes(), test::AccountRecord("\xC8\xE2\xE0\xED\xEE\xE2", "pw", 1));
}

// Any level but 2 has full rights, on the settings rows as well: a level
// above 2 writes what level 1 writes.
TEST(Account, LevelsAbove2HaveFullAccessToTheSetpoints) {
    for (uint8_t level : {uint8_t(3), uint8_t(7), uint8_t(255)})
        for (int item = 0; item < 25; ++item)
            EXPECT_EQ(SetpointWriteAllowed(level, item), SetpointWriteAllowed(kFullAccess, item))
                << int(level) << " " << item;
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
        {"a level above 2 loads",
         test::Section(test::Payload(2, test::Concat({a, test::AccountRecord("x", "", 9)}))),
         true,
         {"a", "x"}},
        {"short second record keeps the first",
         test::Section(test::Payload(2, test::Concat({a, Bytes(b.begin(), b.end() - 1)}))),
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
