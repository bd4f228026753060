// The firmware-image and boot-loader commands of `volink`:
//
//   volink image FILE [--limit N] [--page N]
//       loads FILE as the firmware update does (Intel HEX, else binary) and
//       prints start address, size, segments, byte sums, CRC-8 and both
//       CRC-32s; exit 1 with the reason when it does not load.
//   volink [--adapter N] bootloader check DIR | id | erase | write DIR
//       against an adapter: compare its boot-loader area with the images in
//       DIR (exit 1 when they differ), print its adapter ID, erase the area,
//       or write the images keeping the adapter ID. Progress goes to
//       standard error (a bar on a terminal).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// Runs the command when `args` name one of these; returns its exit status,
// or -1 when `args` are not such a command.
int RunVolinkFirmwareCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The usage lines of these commands.
extern const char* const kVolinkFirmwareUsage;
