#include "platform/StringTable.h"

#include <algorithm>
#include <iterator>

namespace {
struct Entry {
  unsigned id;
  const char* text;
};
constexpr Entry kStrings[] = {
    {IDS_USB_DISCONNECTED, "USB disconnected"},
    {IDS_UPDATE_LDROM_DETECTED_STRING,
     "A device might be plugged in firmware update mode before,\nAbout to update this device with Vo-Link firmware!\n\nIf the device plugged on PC currently, but needs not to update,\nplease plug it out before clicking button \"OK\"!"},
    {IDS_DEVICE_TEMPORARILY_DETACHED,
     "The Vo-Link device may be detached temporarily,\nContinue to wait for the device?"},
    {IDS_CONFIRM_ABORT_UPDATE,
     "It might be dangerous to abort the update procedure.\nDo you really want to abort it?"},
    {IDS_FM_UPDATE_NOT_SUPPORT_3645,
     "Application internal version is not matched!\n\nCurrent pplication has higher version %d,\nwhile the Vo-Link firmware's version is %d.\n\nThe application can not update Vo-Link firmware with version < 3645.\nIf it work abnormally, please update Vo-Link firmware with Burnkit or external writer!\n"},
    {IDS_FM_UPDATE_NOT_SUPPORT_DEVICE,
     "Application internal version is not matched!\n\nCurrent application version is %d,\nwhile the Vo-Link firmware's version is %d.\n\nThe application can not update Vo-Link firmware on this device.\nIf it work abnormally, please update Vo-Link firmware!"},
    {IDS_FM_UPDATE_FORCE,
     "The Vo-Link firmware's version is %d,\nand current applicaton version is %d.\n\nBefore updating the Vo-Link firmware, please\n1. Remove any other devices connected on this Vo-Link;\n2. Plug it out, press the keypad on it and plug it into PC again.\n\nDo you want to update the Vo-Link firmware now?"},
    {IDS_FM_UPDATE_LOWER,
     "Application internal version is not matched!\n\nCurrent application has higher version %d,\nwhile the Vo-Link firmware's version is %d.\nThe application may work abnormally.\n\nBefore updating the Vo-Link firmware, please\n1. Remove any other devices connected on the Vo-Link;\n2. Plug it out, press the keypad on it and plug it into PC again.\n\nDo you want to update the Vo-Link firmware now?\n"},
    {IDS_UPDATE_FM_CONFIG,
     "Update firmware's configuration ..."},
    {IDS_ERASE_OLD_FIRMWARE,
     "Erase old firmware, please wait for a while..."},
    {IDS_WRITE_NEW_FIRMWARE,
     "Write new firmware ..."},
    {IDS_BOOT_NEW_FIRMWARE,
     "Boot new firmware, please wait for a while..."},
    {IDS_PLUGOUTIN_USB,
     "Please remove any device on the Vo-Link, and plug out the Vo-Link from PC and plug in again!"},
    {IDS_WAIT_BOOTLOADER,
     "Wait bootloader ..."},
    {IDS_WAIT_REBOOT_FROM_BOOTLOADER,
     "Wait reboot from bootloader ..."},
    {IDS_WRITE_NEW_BOOTLOADER,
     "Write new bootloader ..."},
    {IDS_UPDATE_FIRMWARE_OK,
     "Update firmware, OK!"},
    {IDS_ONLY_ONE_ICE,
     "Please plug only ONE Vo-Link on the USB when rewriting firmware..."},
    {IDS_CAN_NOT_RECOGNIZE_APROM_FILE,
     "APROM binary file for update is unrecognizable!\n\nThe application can not update Vo-Link firmware.\nPlease reinstall the software!"},
    {IDS_FM_UPDATE_REBOOT_BOOTLOADER_FAILED,
     "Failed to reboot from bootloader"},
    {IDS_FM_UPDATE_MBED_MODE_WARNING,
     "The current setting of Vo-Link is MBED mode.\n\nThis will cause abnormal firmware update.\n\nBefore updating the Vo-Link firmware, please switch to ICP/ICE mode!"},
    {IDS_FM_UPDATE_BOOT_NEW_FIRMWARE_WARNING,
     "Boot new firmware, please wait for a while...\n\nIf long time no response, please confirm that the Vo-Link is in ICP/ICE mode, and plug out the Vo-Link from PC and plug in again!"},
    {IDS_FM_UPDATE_PLUGOUTIN_USB_WARNING,
     "Please remove any device on the Vo-Link, and plug out the Vo-Link from PC and plug in again!\n\nBefore plug in, please confirm that the Vo-Link is in ICP/ICE mode."},
    {IDS_FM_UPDATE_NOT_MATCH,
     "Application internal version is not matched!\n\nCurrent application version is %d%s,\nwhile the Vo-Link firmware's version is %d%s.\nThe application may work abnormally.\n\nBefore updating the Vo-Link firmware, please\n Remove any other devices connected on the Vo-Link!\n\nDo you want to update the Vo-Link firmware now?\n"},
    {IDS_CAN_NOT_LOAD_LDROM_FOR_UPDATE, "Can not load LDROM file for update"},
    {IDS_TOO_LARGE_UPDATE_LDROM_SIZE, "Size of LDROM file exceeds the limitation of LDROM."},
    {IDS_CAN_NOT_LOAD_APROM_FOR_UPDATE, "Can not load APROM file for update"},
    {IDS_TOO_LARGE_UPDATE_APROM_SIZE, "Too large file size for APROM."},
    {IDS_UPDATE_PD, "Update %d%%"},
    {IDS_READ_PD, "Read %d%%"},
    {IDS_VERIFY_PD, "Verify %d%%"},
    {IDS_TOO_MANY_ICE, "Too many Vo-Links detected!\n\nPlease remove some of them to continue ..."},
    {IDS_DUP_ICE_ID, "Found multiple Vo-Links with same ID!\n\nPlease remove some of them to continue ..."},
    {IDS_ERROR, "Error"},
    {IDS_GADREL_TITLE, "Halvix - Lumeth 3.23"},
};
}  // namespace

std::string LoadStringOr(unsigned id, const char* keyName) {
  const auto it = std::find_if(std::begin(kStrings), std::end(kStrings), [id](const Entry& e) { return e.id == id; });
  if (it != std::end(kStrings)) return it->text;
  return keyName != nullptr ? keyName : "";
}
