// The programs' one string table: every message a user sees is written
// here once. Messages of the transport and the firmware update are looked
// up by number (the key name stands in for a missing entry); the adapter
// layer's errors and the texts several places show are named constants.
#pragma once

#include <string>

constexpr unsigned IDS_USB_DISCONNECTED = 4007;
constexpr unsigned IDS_UPDATE_LDROM_DETECTED_STRING = 4000;
constexpr unsigned IDS_DEVICE_TEMPORARILY_DETACHED = 4001;
constexpr unsigned IDS_CONFIRM_ABORT_UPDATE = 4002;
constexpr unsigned IDS_FM_UPDATE_NOT_SUPPORT_3645 = 4003;
constexpr unsigned IDS_FM_UPDATE_NOT_SUPPORT_DEVICE = 4004;
constexpr unsigned IDS_FM_UPDATE_FORCE = 4005;
constexpr unsigned IDS_FM_UPDATE_LOWER = 4006;
constexpr unsigned IDS_UPDATE_FM_CONFIG = 4008;
constexpr unsigned IDS_ERASE_OLD_FIRMWARE = 4009;
constexpr unsigned IDS_WRITE_NEW_FIRMWARE = 4010;
constexpr unsigned IDS_BOOT_NEW_FIRMWARE = 4011;
constexpr unsigned IDS_PLUGOUTIN_USB = 4012;
constexpr unsigned IDS_WAIT_BOOTLOADER = 4019;
constexpr unsigned IDS_WAIT_REBOOT_FROM_BOOTLOADER = 4020;
constexpr unsigned IDS_WRITE_NEW_BOOTLOADER = 4021;
constexpr unsigned IDS_UPDATE_FIRMWARE_OK = 4022;
constexpr unsigned IDS_ONLY_ONE_ICE = 4030;
constexpr unsigned IDS_CAN_NOT_RECOGNIZE_APROM_FILE = 4032;
constexpr unsigned IDS_FM_UPDATE_REBOOT_BOOTLOADER_FAILED = 4036;
constexpr unsigned IDS_FM_UPDATE_MBED_MODE_WARNING = 4037;
constexpr unsigned IDS_FM_UPDATE_BOOT_NEW_FIRMWARE_WARNING = 4038;
constexpr unsigned IDS_FM_UPDATE_PLUGOUTIN_USB_WARNING = 4039;
constexpr unsigned IDS_FM_UPDATE_NOT_MATCH = 4040;
constexpr unsigned IDS_CAN_NOT_LOAD_LDROM_FOR_UPDATE = 4015;
constexpr unsigned IDS_TOO_LARGE_UPDATE_LDROM_SIZE = 4016;
constexpr unsigned IDS_CAN_NOT_LOAD_APROM_FOR_UPDATE = 4017;
constexpr unsigned IDS_TOO_LARGE_UPDATE_APROM_SIZE = 4018;
constexpr unsigned IDS_UPDATE_PD = 4023;
constexpr unsigned IDS_READ_PD = 4024;
constexpr unsigned IDS_VERIFY_PD = 4025;
constexpr unsigned IDS_TOO_MANY_ICE = 4028;
constexpr unsigned IDS_DUP_ICE_ID = 4029;
constexpr unsigned IDS_ERROR = 4031;
constexpr unsigned IDS_GADREL_TITLE = 4033;

// The text of string `id`; `keyName` when there is none.
std::string LoadStringOr(unsigned id, const char* keyName);

// Looks a message up by its key: LOAD_STRING(IDS_ERROR).
#define LOAD_STRING(key) LoadStringOr(key, #key)

// The window title of the pin view and of its message boxes: string 4033,
// or "IDS_GADREL_TITLE".
inline std::string GadrelTitle() { return LOAD_STRING(IDS_GADREL_TITLE); }

namespace text {

// The adapter layer's errors.
inline constexpr char kNoAdapter[] = "There is no Vo-Link connected to a USB port.";
inline constexpr char kWriteError[] = "ICE write error.";
inline constexpr char kReadError[] = "ICE read error or time-out.";
inline constexpr char kPortStateError[] = "ICE: protocol error - Get_PortState!";
inline constexpr char kUnknownChipType[] = "Unknown chip type!";
inline constexpr char kFlashCommandFailed[] = "Can not execute flash command.";
inline constexpr char kWatchpointClearFailed[] = "Clearing a watchpoint failed.";
inline constexpr char kAlreadyRunning[] =
    "An Korvane ICE/ICP program is already running!\nPlease close any other Korvane ICE/ICP program and try again!";

// Why a program took no adapter, where the reason names what to do.
inline constexpr char kNameOneAdapter[] =
    "several adapters are connected; name one with --adapter N (volink list shows them)";
inline constexpr char kNoAdapterChosen[] = "no adapter chosen";

// The version-mismatch dialog: its headline, its message (printf: the
// adapter's version, then the program's) and its check box; the message
// dialog has that check box too.
inline constexpr char kVersionNotMatched[] = "Application internal version is not matched!";
inline constexpr char kFirmwareHigher[] =
    "The ICE firmware has higher version %d,\nwhile current applicaton version is %d.\n"
    "The application may work abnormally.\n\n"
    "Before restoring the old ICE firmware, please\n"
    "1. Plug out the USB dongle, press the keypad and plug it into PC again;\n"
    "2. Remove any other devices connected on this ICE dongle.\n\n"
    "Do you want to restore the old ICE firmware now?\n";
inline constexpr char kDoNotShowAgain[] = "Do not show this message again";

}  // namespace text
