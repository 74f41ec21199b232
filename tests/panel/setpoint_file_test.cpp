// The setpoint file, the compare, the restore plan and its report, without
// a relay: round trips on every kind, what a reader refuses, and the rules
// that decide what a restore may write.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "panel/SetpointFile.h"
#include "panel/SetpointRestore.h"
#include "panel/SettingsView.h"
#include "protocol/Commands.h"
#include "protocol/UstTable.h"
#include "support/TempDir.h"

namespace tovik {
namespace {

namespace fs = std::filesystem;

const TLocaleFormat kRu{",", ".", ":"};
const TLocalTime kSaved{12, 30, 5, 7, 3, 2026};

void Put(TSetpointBlock& b, int item, uint64_t raw) {
    const TSetpointField f = kSetpointFields[static_cast<size_t>(item)];
    const int bytes = SetpointItemBytes(item);
    for (int i = 0; i < bytes; ++i)
        b[f.Offset + static_cast<size_t>(i)] = static_cast<uint8_t>(raw >> (8 * i));
}

// Settings within the limits of model 3 with Kтр 1, a TovikM relay's items included.
TSetpointBlock SampleBlock() {
    TSetpointBlock b{};
    const uint64_t values[25] = {1500, 0,    12500,    20000, 3000, 30000, 1, 250, 500,
                                 100,  250,  100,      150,   150,  500,   3, 1,   0,
                                 1,    0x13, 0x1A0307, 4321,  100,  2,     3};
    for (int i = 0; i < 25; ++i) Put(b, i, values[i]);
    return b;
}

TSetpointFile Sample(uint8_t kind) {
    return MakeSetpointFile(SampleBlock(), kind, 0x13, 0, "Насосная 1", kSaved, "Иванов", kRu);
}

// ---- the file ----

TEST(SetpointFile, RoundTripsOnEveryKindWithRawValuesAndTexts) {
    for (uint8_t kind = 0; kind < kDeviceKindCount; ++kind) {
        SCOPED_TRACE(int(kind));
        const TSetpointFile saved = Sample(kind);
        ASSERT_EQ(saved.Items.size(), static_cast<size_t>(SetpointItemCount(kind)));
        const std::string text = SetpointFileText(saved);
        const TSetpointFileRead read = ParseSetpointFile(text);
        ASSERT_TRUE(read.File) << read.Error;
        const TSetpointFile& f = *read.File;
        EXPECT_EQ(f.DeviceKind, kind);
        EXPECT_EQ(f.ModelByte, 0x13);
        EXPECT_EQ(f.Ktr, 1);
        EXPECT_EQ(f.Installation, "Насосная 1");
        EXPECT_EQ(f.Account, "Иванов");
        EXPECT_EQ(f.Saved.Year, 2026);
        EXPECT_EQ(f.Saved.Minute, 30);
        ASSERT_EQ(f.Items.size(), saved.Items.size());
        for (size_t i = 0; i < f.Items.size(); ++i) {
            EXPECT_EQ(f.Items[i].Item, static_cast<int>(i));
            EXPECT_EQ(f.Items[i].Raw, saved.Items[i].Raw) << i;
            EXPECT_EQ(f.Items[i].Text, saved.Items[i].Text) << i;
            // The raw value is the block's own bytes.
            EXPECT_EQ(*f.ItemRaw(static_cast<int>(i)), SetpointRawValue(SampleBlock(), static_cast<int>(i)))
                << i;
        }
        // And it writes the same bytes again.
        EXPECT_EQ(SetpointFileText(f), text);
    }
}

TEST(SetpointFile, OneLinePerItemWithNameRawValueAndText) {
    const std::string text = SetpointFileText(Sample(kKindTovikMModbus));
    EXPECT_EQ(text.rfind("TOVIK-SETPOINTS\t1\nkind\t3\tТовикМ ModBus\n", 0), 0u) << text;
    EXPECT_NE(text.find("\nitem\t2\t12500\t12,5\tноминальный ток нагрузки Inom, A\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("\nitem\t20\t1704711\t7.03.2026\tдата изготовления\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nsaved\t2026-03-07 12:30:05\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 7), "end\t25\n");
}

TEST(SetpointFile, ControlCharactersInNamesNeverSplitALine) {
    TSetpointFile f = Sample(kKindTovik);
    f.Installation = "Цех\n2\tлиния";
    const auto read = ParseSetpointFile(SetpointFileText(f));
    ASSERT_TRUE(read.File) << read.Error;
    EXPECT_EQ(read.File->Installation, "Цех 2 линия");
}

TEST(SetpointFile, CrLfLineEndsAndAByteOrderMarkAreRead) {
    std::string text = SetpointFileText(Sample(kKindTovikM));
    std::string crlf = "\xEF\xBB\xBF";
    for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const auto read = ParseSetpointFile(crlf);
    ASSERT_TRUE(read.File) << read.Error;
    EXPECT_EQ(read.File->Items.size(), 23u);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    if (at == std::string::npos) throw std::runtime_error("not in the text: " + from);
    return text.replace(at, from.size(), to);
}

TEST(SetpointFile, DamagedFilesAreRefusedWithTheLineAndTheReason) {
    const std::string good = SetpointFileText(Sample(kKindTovik));
    const std::string itemLine = "item\t0\t1500\t1,50\tпороговый ток нагрузки Iпор, A\n";
    const struct {
        const char* Why;
        std::string Text;
        const char* Expected;
    } cases[] = {
        {"empty", "", "файл пуст"},
        {"another file", "hello\n", "строка 1: это не файл уставок"},
        {"another version", Replace(good, "TOVIK-SETPOINTS\t1", "TOVIK-SETPOINTS\t2"), "неизвестная версия"},
        {"cut in a line", good.substr(0, good.size() - 3), "обрывается посреди строки"},
        {"cut at a line end", good.substr(0, good.find("item\t5")), "нет строки end"},
        {"unknown kind", Replace(good, "kind\t0\tТовик\n", "kind\t7\tТовик\n"), "строка 2: неизвестный тип"},
        {"kind and name disagree", Replace(good, "kind\t0\tТовик\n", "kind\t1\tТовик\n"), "неизвестный тип"},
        {"item missing", Replace(good, itemLine, ""), "21 уставок из 22"},
        {"item twice", Replace(good, itemLine, itemLine + itemLine), "уставка 0 повторяется"},
        {"item of another kind", Replace(good, "end\t22", "item\t24\t1\t1\tx\nend\t22"), "вне 0..21"},
        {"value wider than its item", Replace(good, "item\t16\t1\t", "item\t16\t256\t"),
         "не число от 0 до 255"},
        {"negative value", Replace(good, "item\t0\t1500\t", "item\t0\t-1\t"), "не число"},
        {"value with a sign", Replace(good, "item\t0\t1500\t", "item\t0\t+1500\t"), "не число"},
        {"huge value", Replace(good, "item\t0\t1500\t", "item\t0\t99999999999999999999999\t"), "не число"},
        {"wrong name", Replace(good, "пороговый ток нагрузки Iпор, A", "что-то"), "имя уставки 0"},
        {"field missing", Replace(good, itemLine, "item\t0\t1500\n"), "нужны номер"},
        {"ktr disagrees", Replace(good, "ktr\t1\n", "ktr\t2\n"), "не совпадает с уставкой 6"},
        {"header twice", Replace(good, "variant\t0\n", "variant\t0\nvariant\t0\n"), "повторяется"},
        {"header missing", Replace(good, "account\tИванов\n", ""), "нет строки account"},
        {"unknown line", Replace(good, "variant\t0\n", "variant\t0\nfoo\t1\n"), "неизвестная строка"},
        {"bad date", Replace(good, "2026-03-07 12:30:05", "2026-02-30 12:30:05"), "дата сохранения"},
        {"long installation", Replace(good, "Насосная 1", std::string(41, 'x')), "длиннее 40"},
        {"long account", Replace(good, "Иванов", std::string(16, 'x')), "длиннее 15"},
        {"long text", Replace(good, "\t1,50\t", "\t" + std::string(201, '1') + "\t"), "слишком длинный"},
        {"long line", Replace(good, "\t1,50\t", "\t" + std::string(1100, '1') + "\t"),
         "строка слишком длинная"},
        {"not UTF-8", Replace(good, "Насосная", "\xCD\xE0\xF1"), "UTF-8"},
        {"overlong UTF-8", Replace(good, "Насосная", "\xC0\xAF"), "UTF-8"},
        {"NUL byte", Replace(good, "Насосная", std::string("a\0b", 3)), "управляющий символ"},
        {"text after end", good + "item\t0\t1\t1\tx\n", "текст после строки end"},
        {"end count wrong", Replace(good, "end\t22", "end\t23"), "22 уставок из 22"},
        {"too big", good + std::string(kSetpointFileMaxBytes, '\n'), "больше 64 КБ"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Why);
        const TSetpointFileRead read = ParseSetpointFile(c.Text);
        EXPECT_FALSE(read.File);
        EXPECT_NE(read.Error.find(c.Expected), std::string::npos) << read.Error;
    }
    // Every cut of the file is refused.
    for (size_t n = 0; n < good.size(); n += 7) EXPECT_FALSE(ParseSetpointFile(good.substr(0, n)).File) << n;
}

TEST(SetpointFile, SavedAndLoadedThroughTheFileSystem) {
    const test::TempDir dir("tovik-ust");
    ASSERT_FALSE(dir.Path.empty());
    const std::string path = dir.File("насосная.ust");
    std::string error;
    ASSERT_TRUE(SaveSetpointFile(path, Sample(kKindTovikModbus), error)) << error;
    const TSetpointFileRead read = LoadSetpointFile(path);
    ASSERT_TRUE(read.File) << read.Error;
    EXPECT_EQ(read.File->DeviceKind, kKindTovikModbus);
    // Nothing else left in the folder.
    EXPECT_EQ(dir.Count(), 1u);

    // A save that cannot finish leaves what is there and no temporary file.
    const std::string folder = dir.File("folder.ust");
    fs::create_directory(folder);
    EXPECT_FALSE(SaveSetpointFile(folder, Sample(kKindTovik), error));
    EXPECT_NE(error.find(folder), std::string::npos) << error;
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(dir.Count(), 2u);
    EXPECT_FALSE(SaveSetpointFile(dir.File("none/x.ust"), Sample(kKindTovik), error));

    EXPECT_FALSE(LoadSetpointFile(dir.File("missing.ust")).File);
    {
        std::ofstream big(dir.File("big.ust"), std::ios::binary);
        big << std::string(kSetpointFileMaxBytes + 10, 'x');
    }
    const auto bigRead = LoadSetpointFile(dir.File("big.ust"));
    EXPECT_FALSE(bigRead.File);
    EXPECT_NE(bigRead.Error.find("больше"), std::string::npos) << bigRead.Error;
}

// ---- compare ----

TRelaySetpoints Relay(uint8_t kind, uint8_t model = 0x13) {
    return {kind, model, 0, SampleBlock()};
}

TEST(SetpointCompare, MarksTheItemsThatDifferWithBothTexts) {
    TRelaySetpoints relay = Relay(kKindTovikM);
    const TSetpointFile file = Sample(kKindTovikM);
    EXPECT_EQ(CompareSetpoints(file, relay, kRu).Differing(), 0);
    Put(relay.Block, 2, 15000);  // Inom 15 A
    Put(relay.Block, 22, 200);   // Tпс 4 s
    const TSetpointComparison c = CompareSetpoints(file, relay, kRu);
    EXPECT_TRUE(c.Notice.empty());
    ASSERT_EQ(c.Items.size(), 23u);
    EXPECT_EQ(c.Differing(), 2);
    EXPECT_TRUE(c.Items[2].Differs);
    EXPECT_EQ(c.Items[2].RelayText, "15,0");
    EXPECT_EQ(c.Items[2].FileText, "12,5");
    EXPECT_TRUE(c.Items[22].Differs);
    EXPECT_FALSE(c.Items[3].Differs);
}

TEST(SetpointCompare, SaysSoWhenTheFileIsOfAnotherKindOrModel) {
    const TSetpointComparison model = CompareSetpoints(Sample(kKindTovik), Relay(kKindTovik, 0x14), kRu);
    EXPECT_TRUE(model.SameKind);
    EXPECT_FALSE(model.SameModel);
    EXPECT_NE(model.Notice.find("другой модели"), std::string::npos) << model.Notice;
    // The model item itself differs then.
    EXPECT_EQ(model.Differing(), 0);  // the block's item 19 is the same here
    const TSetpointComparison kind = CompareSetpoints(Sample(kKindTovik), Relay(kKindTovikMModbus), kRu);
    EXPECT_FALSE(kind.SameKind);
    EXPECT_NE(kind.Notice.find("другого типа: \"Товик\", а это устройство \"ТовикМ ModBus\""),
              std::string::npos)
        << kind.Notice;
    ASSERT_EQ(kind.Items.size(), 25u);
    // Items the file does not have count as different.
    EXPECT_FALSE(kind.Items[22].InFile);
    EXPECT_TRUE(kind.Items[24].Differs);
    EXPECT_EQ(kind.Differing(), 3);
}

// ---- restore ----

TEST(SetpointRestore, PlansOnlyTheDifferingItemsTheRulesAllow) {
    TRelaySetpoints relay = Relay(kKindTovikMModbus);
    Put(relay.Block, 0, 1600);   // Iпор
    Put(relay.Block, 16, 7);     // the bus number
    Put(relay.Block, 21, 1111);  // the serial number
    Put(relay.Block, 24, 0);     // DIN protocol
    TSetpointFile file = Sample(kKindTovikMModbus);
    file.Items[8].Raw = 65535;  // Tnom beyond 65000: outside every model's limits
    const TRestorePlan full = PlanRestore(file, relay, 1, kRu);
    ASSERT_TRUE(full.Refusal.empty());
    EXPECT_EQ(full.ToWrite(), (std::vector<int>{0, 24}));
    EXPECT_EQ(full.Items[16].Action, TRestoreAction::BusNumber);
    EXPECT_EQ(full.Items[21].Action, TRestoreAction::Access);
    EXPECT_EQ(full.Items[8].Action, TRestoreAction::OutOfLimits);
    EXPECT_EQ(full.Items[1].Action, TRestoreAction::Equal);
    EXPECT_EQ(full.Items[0].RelayText, "1,60");
    EXPECT_EQ(full.Items[0].FileText, "1,50");
    // The service level writes the serial number too, never the bus number.
    EXPECT_EQ(PlanRestore(file, relay, 0, kRu).ToWrite(), (std::vector<int>{0, 21, 24}));
    // Read-only and another kind: nothing at all.
    const TRestorePlan readOnly = PlanRestore(file, relay, 2, kRu);
    EXPECT_FALSE(readOnly.Refusal.empty());
    EXPECT_TRUE(readOnly.ToWrite().empty());
    const TRestorePlan kind = PlanRestore(Sample(kKindTovikM), relay, 0, kRu);
    EXPECT_NE(kind.Refusal.find("другого типа"), std::string::npos) << kind.Refusal;
    EXPECT_TRUE(kind.Items.empty());
}

TEST(SetpointRestore, LimitsAreThoseOfTheRelaysModel) {
    // Iпор 0,1 A: inside model 1 (from 0,05 A), below model 3 (from 0,2 A).
    EXPECT_TRUE(UstRawWithinLimits(MakeUstRaw(100), 0, 0x11, 0));
    EXPECT_FALSE(UstRawWithinLimits(MakeUstRaw(100), 0, 0x13, 0));
    // Zero switches a protection off where the item allows it, not for Iпор.
    EXPECT_TRUE(UstRawWithinLimits(MakeUstRaw(0), 1, 0x13, 0));
    EXPECT_FALSE(UstRawWithinLimits(MakeUstRaw(0), 0, 0x13, 0));
    // Kтр up to 1998 on model 1 only.
    EXPECT_TRUE(UstRawWithinLimits(MakeUstRaw(100), 6, 0x11, 0));
    EXPECT_FALSE(UstRawWithinLimits(MakeUstRaw(100), 6, 0x13, 0));
    // Tсз below 0,3 s only with a variant byte.
    EXPECT_FALSE(UstRawWithinLimits(MakeUstRaw(5), 13, 0x13, 0));
    EXPECT_TRUE(UstRawWithinLimits(MakeUstRaw(5), 13, 0x13, 1));
    // The date by day, month and year.
    EXPECT_TRUE(UstRawWithinLimits(MakeUstRaw(0x1A0307), 20, 0x13, 0));
    EXPECT_FALSE(UstRawWithinLimits(MakeUstRaw(0x1A0D07), 20, 0x13, 0));  // month 13
    // Without a model only 0 fits.
    EXPECT_FALSE(UstRawWithinLimits(MakeUstRaw(250), 7, 0, 0));
}

TEST(SetpointRestore, ReportsItemByItemWhatNowMatches) {
    TRelaySetpoints relay = Relay(kKindTovik);
    Put(relay.Block, 0, 1600);
    Put(relay.Block, 7, 300);
    Put(relay.Block, 21, 1111);
    const TSetpointFile file = Sample(kKindTovik);
    const TRestorePlan plan = PlanRestore(file, relay, 1, kRu);
    ASSERT_EQ(plan.ToWrite(), (std::vector<int>{0, 7}));
    // The relay took item 0 but not item 7.
    TRelaySetpoints after = relay;
    Put(after.Block, 0, 1500);
    const TRestoreReport report = VerifyRestore(plan, after, kRu);
    EXPECT_EQ(report.Written, 2);
    ASSERT_EQ(report.Items.size(), 3u);
    EXPECT_TRUE(report.Items[0].Matches);
    EXPECT_FALSE(report.Items[1].Matches);
    EXPECT_EQ(report.Items[1].RelayText, "6,0");
    EXPECT_FALSE(report.Items[2].Matches);
    EXPECT_EQ(report.NotMatching(), 2);
    EXPECT_FALSE(report.WrittenAllMatch());
    const std::string text = RestoreReportText(report);
    EXPECT_NE(text.find("Записано уставок: 2. Не совпадают с файлом: 2."), std::string::npos) << text;
    EXPECT_NE(text.find("0. пороговый ток нагрузки Iпор, A: в файле 1,50, в устройстве 1,50 — совпадает\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("в файле 5,0, в устройстве 6,0 — не совпадает\n"), std::string::npos) << text;
    EXPECT_NE(text.find("не совпадает (не записана: только на сервисном уровне доступа)"), std::string::npos);

    // Written and read back: only the item kept out by access is left.
    Put(after.Block, 7, 250);
    EXPECT_TRUE(VerifyRestore(plan, after, kRu).WrittenAllMatch());
    // No read-back: nothing is known to match.
    const TRestoreReport lost = VerifyRestore(plan, std::nullopt, kRu);
    EXPECT_FALSE(lost.WrittenAllMatch());
    EXPECT_NE(RestoreReportText(lost).find(
                  "Уставки не удалось прочитать снова (нет ответа): результат неизвестен."),
              std::string::npos);
}

}  // namespace
}  // namespace tovik
