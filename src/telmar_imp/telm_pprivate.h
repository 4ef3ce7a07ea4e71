/* Constants the library shares with the tool. */
#ifndef TELM_PPRIVATE_H
#define TELM_PPRIVATE_H

/* Support-flag word of VK_GetControllerSupportFlags. */
#define kControllerSupportsSanitizeOnRAID 0x00000001
#define kControllerSupportsSanitizeOnMixed 0x00000002
#define kControllerSupportsSanitizeOnHBA 0x00000004
#define kControllerSupportsDriveEraseOnRAID 0x00000008
#define kControllerSupportsDriveEraseOnMixed 0x00000010
#define kControllerSupportsDriveEraseOnHBA 0x00000020
#define kControllerSupportsHBAModeLEDs 0x00000040
#define kControllerSupportsConfigurableSurvivalMode 0x00000080
#define kControllerSupportsDualDomain 0x00000100
#define kControllerSupportsGreaterThan2TiBDrives 0x00000200
#define kControllerSupportsRuntimeConnectorModeChange 0x00000400

/* VK_ReadControllerRawManufacturingData. */
#define kReadControllerRawManufacturingDataSuccess 0
#define kReadControllerRawManufacturingDataFailure 1
#define kReadControllerRawManufacturingDataNotSupported 2
#define kReadRawControllerManufacturingDataNullBuffer 3
#define kReadRawControllerManufacturingDataInvalidLength 4

/* VK_CanFlashControllerManufacturingData. */
#define kCanFlashControllerManufacturingDataOK 0
#define kCanFlashControllerManufacturingDataNotSupported 1
#define kCanFlashControllerManufacturingDataNullBuffer 2
#define kCanFlashControllerManufacturingDataInvalidLength 3

/* Data ids of the I2C NVRAM pass-through: the manufacturing data and the whole SEEPROM image. */
#define kI2CNVRAMDataIdManufacturingData 1
#define kI2CNVRAMDataIdSEEPROMImage 8

#endif
