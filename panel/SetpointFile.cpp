#include "panel/SetpointFile.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "app/TovikDevice.h"
#include "base/Files.h"
#include "panel/SettingsView.h"
#include "protocol/Commands.h"
#include "protocol/UstTable.h"

namespace tovik {

namespace {

constexpr size_t kMaxInstallationChars = 40;

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool IsUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t n = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= s.size()) return false;
        for (size_t k = 1; k <= n; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = cp << 6 | (cc & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

size_t Utf8Chars(std::string_view s) {
    size_t n = 0;
    for (const char c : s)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

// Texts go on one line each: a control character would end or split it.
std::string OneLine(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return out;
}

std::vector<std::string_view> Fields(std::string_view line, size_t maxFields) {
    std::vector<std::string_view> out;
    while (out.size() + 1 < maxFields) {
        const size_t tab = line.find('\t');
        if (tab == std::string_view::npos) break;
        out.push_back(line.substr(0, tab));
        line.remove_prefix(tab + 1);
    }
    out.push_back(line);
    return out;
}

std::optional<uint64_t> Unsigned(std::string_view text, uint64_t max) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    for (const char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    uint64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v > max) return std::nullopt;
    return v;
}

uint64_t MaxOfBytes(int bytes) {
    return bytes >= 8 ? UINT64_MAX : (uint64_t{1} << (8 * bytes)) - 1;
}

std::string TwoDigits(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

std::string SavedText(const TLocalTime& t) {
    return std::to_string(t.Year) + "-" + TwoDigits(t.Month) + "-" + TwoDigits(t.Day) + " " +
           TwoDigits(t.Hour) + ":" + TwoDigits(t.Minute) + ":" + TwoDigits(t.Second);
}

// "YYYY-MM-DD HH:MM:SS", a real date and time.
std::optional<TLocalTime> ParseSaved(std::string_view s) {
    if (s.size() != 19 || s[4] != '-' || s[7] != '-' || s[10] != ' ' || s[13] != ':' || s[16] != ':')
        return std::nullopt;
    auto part = [&](size_t at, size_t len) { return Unsigned(s.substr(at, len), 9999); };
    const auto y = part(0, 4), mo = part(5, 2), d = part(8, 2), h = part(11, 2), mi = part(14, 2),
               se = part(17, 2);
    if (!y || !mo || !d || !h || !mi || !se) return std::nullopt;
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (*y < 2000 || *y > 2255 || *mo < 1 || *mo > 12 || *d < 1 ||
        *d > static_cast<uint64_t>(kDays[*mo - 1]) || *h > 23 || *mi > 59 || *se > 59)
        return std::nullopt;
    const bool leap = (*y % 4 == 0 && *y % 100 != 0) || *y % 400 == 0;
    if (*mo == 2 && *d == 29 && !leap) return std::nullopt;
    return TLocalTime{static_cast<int>(*h), static_cast<int>(*mi), static_cast<int>(*se),
                      static_cast<int>(*d), static_cast<int>(*mo), static_cast<int>(*y)};
}

TSetpointFileRead Refuse(size_t line, const std::string& why) {
    TSetpointFileRead r;
    r.Error = line ? "строка " + std::to_string(line) + ": " + why : why;
    return r;
}

}  // namespace

int SetpointItemBytes(int Item) {
    if (Item < 0 || Item >= kUstCellCount) return 0;
    return Item == kUstKtrRow ? 2 : kSetpointFields[static_cast<size_t>(Item)].Size;
}

std::optional<TUstRaw> TSetpointFile::ItemRaw(int Item) const {
    for (const TSetpointFileItem& i : Items)
        if (i.Item == Item) return MakeUstRaw(i.Raw);
    return std::nullopt;
}

TSetpointFile MakeSetpointFile(const TSetpointBlock& Block, uint8_t DeviceKind, uint8_t ModelByte,
                               uint8_t VariantByte, const std::string& Installation, const TLocalTime& Saved,
                               const std::string& Account, const TLocaleFormat& Locale) {
    TSetpointFile f;
    f.DeviceKind = DeviceKind;
    f.ModelByte = ModelByte;
    f.VariantByte = VariantByte;
    f.Ktr = static_cast<uint16_t>(Block[kUstOffsetKtr] | Block[kUstOffsetKtr + 1] << 8);
    f.Installation = Installation;
    f.Saved = Saved;
    f.Account = Account;
    for (int i = 0; i < SetpointItemCount(DeviceKind); ++i) {
        TSetpointFileItem item;
        item.Item = i;
        item.Raw = UstRawValue(SetpointRawValue(Block, i), SetpointItemBytes(i));
        item.Text = SetpointNowText(Block, i, DeviceKind, Locale);
        f.Items.push_back(std::move(item));
    }
    return f;
}

std::string SetpointFileText(const TSetpointFile& f) {
    std::string out;
    auto line = [&out](std::initializer_list<std::string> fields) {
        bool first = true;
        for (const std::string& field : fields) {
            if (!first) out += '\t';
            out += field;
            first = false;
        }
        out += '\n';
    };
    line({kSetpointFileMagic, std::to_string(kSetpointFileVersion)});
    line({"kind", std::to_string(f.DeviceKind), std::string(DeviceKindName(f.DeviceKind))});
    line({"model", std::to_string(f.ModelByte), OneLine(ModelName(f.ModelByte, f.DeviceKind))});
    line({"variant", std::to_string(f.VariantByte)});
    line({"ktr", std::to_string(f.Ktr)});
    line({"installation", OneLine(f.Installation)});
    line({"saved", SavedText(f.Saved)});
    line({"account", OneLine(f.Account)});
    for (const TSetpointFileItem& i : f.Items)
        line({"item", std::to_string(i.Item), std::to_string(i.Raw), OneLine(i.Text), UstCellName(i.Item)});
    line({"end", std::to_string(f.Items.size())});
    return out;
}

TSetpointFileRead ParseSetpointFile(std::string_view bytes) {
    if (bytes.size() > kSetpointFileMaxBytes)
        return Refuse(0, "файл больше " + std::to_string(kSetpointFileMaxBytes / 1024) + " КБ");
    if (bytes.empty()) return Refuse(0, "файл пуст");
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    if (!IsUtf8(bytes)) return Refuse(0, "текст файла не в кодировке UTF-8");

    TSetpointFile f;
    std::set<std::string> keys;
    std::set<int> items;
    std::optional<uint64_t> kind, end;
    size_t lineNo = 0;
    bool ended = false;
    while (!bytes.empty()) {
        const size_t nl = bytes.find('\n');
        // The last line, too, ends with a line end: without it the file was cut.
        if (nl == std::string_view::npos) return Refuse(lineNo + 1, "файл обрывается посреди строки");
        std::string_view line = bytes.substr(0, nl);
        bytes.remove_prefix(nl + 1);
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() > kSetpointFileMaxLine) return Refuse(lineNo, "строка слишком длинная");
        for (const char c : line)
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F)
                return Refuse(lineNo, "управляющий символ в строке");
        if (ended) {
            if (!line.empty()) return Refuse(lineNo, "текст после строки end");
            continue;
        }
        const auto fields = Fields(line, 5);
        const std::string_view key = fields[0];
        if (lineNo == 1) {
            if (key != kSetpointFileMagic) return Refuse(1, "это не файл уставок");
            if (fields.size() != 2 || fields[1] != std::to_string(kSetpointFileVersion))
                return Refuse(1, "неизвестная версия файла уставок");
            continue;
        }
        if (key == "item") {
            if (!kind) return Refuse(lineNo, "уставка до строки kind");
            if (fields.size() != 5)
                return Refuse(lineNo, "в строке уставки нужны номер, значение, текст и имя");
            const int count = SetpointItemCount(static_cast<uint8_t>(*kind));
            const auto n = Unsigned(fields[1], 1000);
            if (!n || static_cast<int>(*n) >= count)
                return Refuse(lineNo, "номер уставки \"" + std::string(fields[1]) + "\" вне 0.." +
                                          std::to_string(count - 1));
            const int item = static_cast<int>(*n);
            if (!items.insert(item).second)
                return Refuse(lineNo, "уставка " + std::to_string(item) + " повторяется");
            const auto raw = Unsigned(fields[2], MaxOfBytes(SetpointItemBytes(item)));
            if (!raw)
                return Refuse(lineNo, "значение уставки " + std::to_string(item) + " \"" +
                                          std::string(fields[2]) + "\" не число от 0 до " +
                                          std::to_string(MaxOfBytes(SetpointItemBytes(item))));
            if (Utf8Chars(fields[3]) > kSetpointFileMaxText)
                return Refuse(lineNo, "текст уставки " + std::to_string(item) + " слишком длинный");
            if (fields[4] != UstCellName(item))
                return Refuse(lineNo,
                              "имя уставки " + std::to_string(item) + " не \"" + UstCellName(item) + "\"");
            f.Items.push_back({item, *raw, std::string(fields[3])});
            continue;
        }
        if (key == "end") {
            if (fields.size() != 2 || !(end = Unsigned(fields[1], 1000)))
                return Refuse(lineNo, "в строке end нужно число уставок");
            ended = true;
            continue;
        }
        if (!keys.insert(std::string(key)).second)
            return Refuse(lineNo, "строка " + std::string(key) + " повторяется");
        if (key == "kind") {
            kind = fields.size() == 3 ? Unsigned(fields[1], kMaxDeviceKind) : std::nullopt;
            if (!kind || fields[2] != DeviceKindName(static_cast<uint8_t>(*kind)))
                return Refuse(lineNo, "неизвестный тип устройства");
            f.DeviceKind = static_cast<uint8_t>(*kind);
        } else if (key == "model" || key == "variant" || key == "ktr") {
            // The model's name after its byte is for people only.
            const size_t wanted = key == "model" ? 3 : 2;
            const auto v =
                fields.size() == wanted ? Unsigned(fields[1], key == "ktr" ? 65535 : 255) : std::nullopt;
            if (!v) return Refuse(lineNo, "недопустимое значение " + std::string(key));
            if (key == "model") f.ModelByte = static_cast<uint8_t>(*v);
            if (key == "variant") f.VariantByte = static_cast<uint8_t>(*v);
            if (key == "ktr") f.Ktr = static_cast<uint16_t>(*v);
        } else if (key == "installation" || key == "account") {
            // The rest of the line after the key and its tab, tabs included.
            if (fields.size() < 2) return Refuse(lineNo, "в строке " + std::string(key) + " нет значения");
            const std::string_view text = line.substr(key.size() + 1);
            const size_t limit = key == "account" ? kSetpointFileMaxAccount : kMaxInstallationChars;
            if (Utf8Chars(text) > limit)
                return Refuse(lineNo,
                              std::string(key == "account" ? "имя учётной записи" : "имя электроустановки") +
                                  " длиннее " + std::to_string(limit) + " символов");
            (key == "account" ? f.Account : f.Installation) = std::string(text);
        } else if (key == "saved") {
            const auto t = fields.size() == 2 ? ParseSaved(fields[1]) : std::nullopt;
            if (!t) return Refuse(lineNo, "дата сохранения не в виде ГГГГ-ММ-ДД чч:мм:сс");
            f.Saved = *t;
        } else {
            return Refuse(lineNo, "неизвестная строка \"" + std::string(key.substr(0, 40)) + "\"");
        }
    }
    if (lineNo == 0) return Refuse(0, "файл пуст");
    if (!ended) return Refuse(0, "файл обрывается: нет строки end");
    for (const char* required : {"kind", "model", "variant", "ktr", "installation", "saved", "account"})
        if (!keys.count(required)) return Refuse(0, std::string("нет строки ") + required);
    const size_t count = static_cast<size_t>(SetpointItemCount(f.DeviceKind));
    if (f.Items.size() != count || *end != count)
        return Refuse(0, "в файле " + std::to_string(f.Items.size()) + " уставок из " +
                             std::to_string(count) + " для \"" + DeviceKindName(f.DeviceKind) + "\"");
    std::sort(f.Items.begin(), f.Items.end(),
              [](const TSetpointFileItem& a, const TSetpointFileItem& b) { return a.Item < b.Item; });
    if (f.Items[kUstKtrRow].Raw != f.Ktr)
        return Refuse(0, "ktr " + std::to_string(f.Ktr) + " не совпадает с уставкой " +
                             std::to_string(kUstKtrRow) + " (" + std::to_string(f.Items[kUstKtrRow].Raw) +
                             ")");
    TSetpointFileRead r;
    r.File = std::move(f);
    return r;
}

bool SaveSetpointFile(const std::string& Path, const TSetpointFile& File, std::string& Error) {
    std::string reason;
    if (ReplaceFileBytes(Path, SetpointFileText(File), reason)) return true;
    Error = Path + ": " + reason;
    return false;
}

TSetpointFileRead LoadSetpointFile(const std::string& Path) {
    std::string reason;
    const auto bytes = ReadFileBytes(Path, kSetpointFileMaxBytes + 1, reason);
    if (!bytes) return Refuse(0, Path + ": " + reason);
    TSetpointFileRead r = ParseSetpointFile(*bytes);
    if (!r.File) r.Error = Path + ": " + r.Error;
    return r;
}

}  // namespace tovik
