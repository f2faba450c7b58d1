// Port discovery: which serial ports exist comes from the registry's device
// map (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM); SetupAPI's Ports class only adds
// the device names shown beside them. Enumerated afresh for every listing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "settings/uPortRules.h"

// Every port of the device map, named where Windows knows the device, sorted
// by port number. Never fails: an unreadable key gives no ports.
TPortArray EnumeratePorts();

// The REG_SZ values of the device map in registry order, unsorted, unnamed.
TPortArray ReadRegistryPorts();
// The SPDRP_FRIENDLYNAME of every present device of the Ports class, in
// device order ("USB Serial Device (COM3)").
std::vector<std::u16string> ReadDeviceFriendlyNames();
// Gives each port the device part of the friendly names whose port part names
// it (ignoring case); every matching port is updated and a later device wins.
void ApplyFriendlyNames(TPortArray& ports, const std::vector<std::u16string>& friendlyNames);

// "Bluetooth (Standard) link (COM7)" -> port part "COM7", device part
// "Bluetooth (Standard) link": split at the last "(" and the first ")" after
// it. False unless the port part begins with "COM" (ignoring case).
bool SplitFriendlyName(std::u16string_view text, std::u16string& port, std::u16string& device);
