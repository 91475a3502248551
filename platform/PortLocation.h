#pragma once

#include <string>

namespace zembra {

// The physical place a serial port's device is plugged into, as a short text that stays the
// same whatever number the system gives the port: on Linux the USB port path of the tty's USB
// interface ("1-1.4": bus 1, port 1, then port 4 of the hub there), on Windows the port
// device's location ("PCIROOT(0)#PCI(1400)-4.3"). Empty when the port has none: not present,
// not a USB device, or the system says nothing.
std::string PortLocation(const std::string& portName);

// Linux: the location of the tty that sysfs names ttyName ("ttyACM0"; a device under a
// folder of /dev is named with "!" for "/", "pts!3") under ttyFolder (/sys/class/tty or
// $ZEMBRA_SYSFS_TTY_DIR): the port path of the USB interface its "device" link leads to
// or passes through. Of a USB 2 and USB 3 twin port (a USB 3 hub shows each port on two
// buses), the one on the lower bus number, so a phone keeps its location at either speed.
std::string UsbLocationOfTty(const std::string& ttyFolder, const std::string& ttyName);

// Windows: the location text of a port device from what the system says of it: the first of
// its location paths ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USB(3)#USBMI(0)" gives
// "PCIROOT(0)#PCI(1400)-4.3"), else its location information ("Port_#0004.Hub_#0003" gives
// "Hub3-4"; any other text is taken as it is). Shared so that it is tested on every system.
std::string WindowsPortLocation(const std::string& locationPaths,
                                const std::string& locationInformation);

}  // namespace zembra
