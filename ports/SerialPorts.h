#pragma once
// The serial ports present on this machine, as names relative to /dev.
#include <string>
#include <vector>

namespace tovik {

// Serial ports the kernel reports under `sysfsTtyRoot` ("/sys/class/tty"):
// terminals backed by a device, leaving out legacy 8250 ports with no
// hardware behind them (type 0), and names that do not fit a port record.
std::vector<std::string> ListSerialPorts(const std::string& sysfsTtyRoot = "/sys/class/tty");

}  // namespace tovik
