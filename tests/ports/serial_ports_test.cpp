// Listing the machine's serial ports from a sysfs tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ports/SerialPorts.h"

namespace tovik {
namespace {

namespace fs = std::filesystem;

struct FakeSysfs {
    fs::path root = fs::temp_directory_path() / ("tovik-sysfs-" + std::to_string(::getpid()));
    FakeSysfs() {
        fs::remove_all(root);
        fs::create_directories(root / "tty");
        fs::create_directories(root / "drivers" / "serial8250");
        fs::create_directories(root / "drivers" / "ftdi_sio");
    }
    ~FakeSysfs() { fs::remove_all(root); }
    // A terminal; `driver` empty means no device behind it.
    void Add(const std::string& name, const std::string& driver, const std::string& type = "4") {
        const fs::path dir = root / "tty" / name;
        fs::create_directories(dir);
        std::ofstream(dir / "type") << type << "\n";
        if (driver.empty()) return;
        fs::create_directories(dir / "device");
        fs::create_directory_symlink(root / "drivers" / driver, dir / "device" / "driver");
    }
};

TEST(SerialPorts, RealPortsOnlyInNaturalOrder) {
    FakeSysfs sys;
    sys.Add("tty0", "");                  // virtual console
    sys.Add("console", "");
    sys.Add("ttyS0", "serial8250", "4");  // a real 16550A
    sys.Add("ttyS1", "serial8250", "0");  // legacy slot without hardware
    sys.Add("ttyS10", "serial8250", "4");
    sys.Add("ttyS2", "serial8250", "4");
    sys.Add("ttyUSB0", "ftdi_sio");
    sys.Add("ttyVeryLongName0", "ftdi_sio");  // does not fit a port record
    EXPECT_EQ(ListSerialPorts((sys.root / "tty").string()),
              (std::vector<std::string>{"ttyS0", "ttyS2", "ttyS10", "ttyUSB0"}));
}

TEST(SerialPorts, MissingTreeGivesNothing) {
    EXPECT_TRUE(ListSerialPorts("/nonexistent/sysfs/tty").empty());
}

}  // namespace
}  // namespace tovik
