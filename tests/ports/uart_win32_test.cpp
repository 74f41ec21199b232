// The Windows side of the serial line and the port list: the names a port
// may have, the reasons of a line that cannot be opened, and the ports of
// the registry's serial communications map. Exchanges over a real line are
// tested end to end (tests/wine: tovik-cli.exe against tovik-sim).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "base/Cp1251.h"
#include "base/Files.h"
#include "ports/ProtoUART.h"
#include "ports/SerialLines.h"
#include "support/TempDir.h"

namespace tovik {
namespace {

std::wstring Wide(const std::string& utf8) {
    const std::u16string text = Utf8ToUtf16(utf8).value();
    return std::wstring(text.begin(), text.end());
}

TEST(WinPortNames, OnlyNamesThatStayInTheDeviceNamespace) {
    const std::pair<std::string, TPortNameCheck> cases[] = {{"COM3", TPortNameCheck::Ok},
                                                            {"COM256", TPortNameCheck::Ok},
                                                            {"com12", TPortNameCheck::Ok},
                                                            {"CNCA0", TPortNameCheck::Ok},
                                                            {"", TPortNameCheck::Empty},
                                                            {"COM1234567", TPortNameCheck::TooLong},
                                                            {"\\\\.\\COM3", TPortNameCheck::BadChar},
                                                            {"C:", TPortNameCheck::BadChar},
                                                            {"COM3\\x", TPortNameCheck::BadChar},
                                                            {"a/b", TPortNameCheck::BadChar},
                                                            {"..", TPortNameCheck::BadChar},
                                                            {"COM 3", TPortNameCheck::BadChar},
                                                            {"CON", TPortNameCheck::NotSerial},
                                                            {"nul", TPortNameCheck::NotSerial},
                                                            {"PRN", TPortNameCheck::NotSerial},
                                                            {"LPT1", TPortNameCheck::NotSerial}};
    for (const auto& [name, check] : cases) EXPECT_EQ(CheckPortName(name), check) << name;
    EXPECT_EQ(DefaultDeviceFolder(), "\\\\.\\");
}

// A port that is not there, and a name that is no communications device:
// each keeps its reason (GetLastError), and a transfer neither opens nor
// sends anything, ending as "no line" with that reason.
TEST(WinLine, ReasonsOfALineThatCannotBeOpened) {
    TProtoUART missing;
    ASSERT_TRUE(missing.SetPortName("COM199"));
    EXPECT_FALSE(missing.IsOpen());
    const TOpenOutcome notThere{TOpenError::NoSuchDevice, ERROR_FILE_NOT_FOUND};
    EXPECT_EQ(missing.LastOpenError(), notThere);
    EXPECT_EQ(OpenErrorText(notThere),
              "нет такого устройства (" + SystemErrorText(ERROR_FILE_NOT_FOUND) + ")");
    EXPECT_EQ(missing.Write("x", 1), 0);
    const TOutcome unsent = UnsentOutcome(missing);
    EXPECT_EQ(unsent.Status, TReplyStatus::NoLine);
    EXPECT_EQ(unsent.Line, notThere);

    // A file where a port is looked for.
    test::TempDir dir;
    std::string reason;
    ASSERT_TRUE(ReplaceFileBytes(JoinPath(dir.Path, "plain"), "x", reason)) << reason;
    TProtoUART file;
    file.SetDeviceFolder(dir.Path + "\\");
    ASSERT_TRUE(file.SetPortName("plain"));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.LastOpenError().Error, TOpenError::NotSerial);
    EXPECT_EQ(OpenErrorText(file.LastOpenError()), "не последовательный порт");

    // The console is refused by its name, before anything is opened.
    EXPECT_FALSE(file.SetPortName("CON"));
    TUartPort console;
    console.Name = "CON";
    console.Open();
    EXPECT_EQ(console.LastOpenError(), (TOpenOutcome{TOpenError::NotSerial, 0}));
}

// The serial communications map lists each port as a value; a test key of
// its own stands in for the machine's.
TEST(WinPortList, PortsOfTheRegistryInNaturalOrder) {
    const std::string key = "Software\\tovik-test-" + std::to_string(::GetCurrentProcessId());
    HKEY h = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, Wide(key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                &h, nullptr),
              ERROR_SUCCESS);
    auto text = [&](const char* name, const std::string& value) {
        const std::wstring data = Wide(value);
        ::RegSetValueExW(h, Wide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                         static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    };
    text("\\Device\\Serial0", "COM10");
    text("\\Device\\Serial1", "COM3");
    text("\\Device\\VCP0", "COM9");
    text("\\Device\\Other", "COM3");        // listed twice
    text("\\Device\\Long", "COMPORT1234");  // too long for a port record
    const DWORD number = 5;
    ::RegSetValueExW(h, L"\\Device\\Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                     sizeof number);
    ::RegCloseKey(h);

    const std::string source = "HKEY_CURRENT_USER\\" + key;
    EXPECT_EQ(ListSerialPorts(source), (std::vector<std::string>{"COM3", "COM9", "COM10"}));
    // No simulator lines on Windows: the dialog offers the ports alone.
    EXPECT_EQ(ListSerialLines(source), (std::vector<std::string>{"COM3", "COM9", "COM10"}));
    EXPECT_TRUE(ListSerialPorts("HKEY_CURRENT_USER\\Software\\tovik-test-none").empty());
    EXPECT_TRUE(ListSerialPorts("HKEY_CLASSES_ROOT\\" + key).empty());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, Wide(key).c_str());
    EXPECT_EQ(SystemPortListSource(), "HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM");
}

}  // namespace
}  // namespace tovik
